#include "MachineStates.h"

#include <sstream>

#include "TestSupport.h"

namespace fwtest
{
namespace
{
const char PRODUCT_KEY[] = "SOFTWARE\\Ombrant\\ZAPH QRT";
const char* const PRODUCT_VALUES[] = { "InstallPath", "SetupType", "DotNet", "MultiMSVersion", "IntendedPath",
                                       "ProductCode" };
const char OLDER_LINE_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZAPH QVL";

std::vector<std::string> Words(const char* text)
{
    std::vector<std::string> words;
    std::istringstream in(text ? text : "");
    std::string word;
    while (in >> word)
        words.push_back(word);
    return words;
}

// The settings file an earlier release leaves in <ms>\setup.
std::string InstalledSettings(const StateRow& row)
{
    std::string text = "[Settings]\r\nIniVersion=" + std::string(row.iniVersion) +
                       "\r\nDotNet=" + (row.dotNet ? "Yes" : "No") +
                       "\r\n[Components]\r\nx\r\n[CheckSums]\r\nx=00000000\r\n[Additional]\r\nx\r\n";
    for (const std::string& language : Words(row.languages))
        text += "[Labels_" + language + "]\r\nCaption=ZAPH\r\n";
    return text;
}

} // namespace

const StateRow STATE_NOTHING = { "nothing", KIND_NOTHING, NULL, false, NULL, "", "", 0, false, false };
const StateRow STATE_OLDER_LINE = { "qvl", KIND_OLDER_LINE, NULL, false, NULL, "", "", 0, false, false };
const StateRow STATE_QRT_OLDER = { "qrt61", KIND_PRODUCT, "6.1", false, "Server", "EN", "LU", 0, true, false };
const StateRow STATE_QRT_EQUAL = { "qrt62", KIND_PRODUCT, "6.2", false, "Server", "EN", "LU", 0, true, false };
const StateRow STATE_QRT_NEWER = { "qrt63", KIND_PRODUCT, "6.3", false, "Server", "EN FR DE", "LU BE", 0, true,
                                   false };
const StateRow STATE_QRT_PACKAGE = { "qrtpkg", KIND_PRODUCT, "6.1", false, "Server", "EN", "LU", 1, true, false };
const StateRow STATE_DOTNET_SERVER = { "net62", KIND_PRODUCT, "6.2", true, "Server", "EN", "LU", 0, true, false };
const StateRow STATE_PROTECTED = { "ZAPH_fwstate", KIND_PRODUCT, "6.1", false, "Server", "EN", "LU", 0, true,
                                   true };

MachineState::MachineState()
{
    for (const char* name : PRODUCT_VALUES)
        SetValue(HKEY_LOCAL_MACHINE, PRODUCT_KEY, name, REG_ABSENT);
    SetValue(HKEY_LOCAL_MACHINE, OLDER_LINE_KEY, "UninstallString", REG_ABSENT);
}

MachineState::~MachineState()
{
    // First: removing a package takes the product key's values with it.
    m_packages.RemoveAll();
    for (size_t i = m_folders.size(); i > 0; --i)
        DeleteTree(m_folders[i - 1]);
    m_registry.Restore();
}

void MachineState::OwnFolder(const std::string& folder)
{
    m_folders.push_back(folder);
}

void MachineState::SetValue(HKEY root, const std::string& key, const std::string& name, const std::string& value)
{
    m_registry.GuardValue((root == HKEY_LOCAL_MACHINE ? "HKLM\\" : "HKCU\\") + key, name);
    SetRegString(root, key, name, value);
}

std::string MachineState::RedirectShellFolders()
{
    const std::string shell = Root() + "\\shell";
    const char key[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    SetValue(HKEY_LOCAL_MACHINE, key, "Common Desktop", shell + "\\CommonDesktop");
    SetValue(HKEY_LOCAL_MACHINE, key, "Common Programs", shell + "\\CommonPrograms");
    SetValue(HKEY_CURRENT_USER, key, "Desktop", shell + "\\Desktop");
    SetValue(HKEY_CURRENT_USER, key, "Programs", shell + "\\Programs");
    for (const char* folder : { "CommonDesktop", "CommonPrograms", "Desktop", "Programs" })
        MakeFolders(shell + "\\" + folder);
    return shell;
}

std::string MachineState::Apply(const StateRow& row, const std::string& given)
{
    if (row.kind == KIND_NOTHING)
        return "";
    std::string folder = given;
    if (folder.empty() && row.protectedFolder)
        folder = RegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir") +
                 "\\" + row.name;
    if (folder.empty())
        folder = Root() + "\\" + row.name;
    DeleteTree(folder);
    MakeFolders(folder);
    OwnFolder(folder);

    if (row.kind == KIND_OLDER_LINE)
    {
        SetRegString(HKEY_LOCAL_MACHINE, OLDER_LINE_KEY, "UninstallString",
                     "C:\\WINDOWS\\IsUninst.exe -f\"" + folder + "\\Uninst.isu\"");
        MakeFolders(folder + "\\qvldata");
        MakeFolders(folder + "\\bin");
        WriteBytes(folder + "\\login.exe", "older line login");
        WriteBytes(folder + "\\Uninst.isu", "older line uninstall script");
        return folder;
    }
    if (row.packageRelease != 0)
        m_packages.Install(row.packageRelease == 1 ? RELEASE_610 : RELEASE_620,
                           "AUTOUPGRADE=true TARGETDIR=\"" + folder + "\" SETUPTYPE=" +
                               (row.setupType ? row.setupType : "Server") + (row.dotNet ? " DOTNET=true" : ""));
    else
    {
        WriteBytes(folder + (row.dotNet ? "\\Zaph.exe" : "\\Login.exe"), std::string("main program ") + row.name);
        WriteBytes(folder + "\\bin\\dunzip32.dll", "unzip library");
    }
    std::vector<std::string> members = Words(row.memberStates);
    for (size_t i = 0; i < members.size(); ++i)
    {
        std::string member = folder + "\\" + members[i];
        WriteBytes(member + "\\PSI\\data.mdb", "data of " + members[i]);
        if (row.iniVersion != NULL)
            WriteBytes(member + "\\setup\\Zaph.ini", InstalledSettings(row));
        if (row.dotNet)
            WriteBytes(member + "\\ms.xml", "<ms/>");
        if (i == 0)
            for (const std::string& language : Words(row.languages))
                MakeFolders(member + "\\" + language);
    }
    if (row.registered)
    {
        SetRegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, "InstallPath", folder + "\\");
        if (row.setupType != NULL)
            SetRegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, "SetupType", row.setupType);
        SetRegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, "DotNet", row.dotNet ? "Yes" : "No");
    }
    return folder;
}
} // namespace fwtest
