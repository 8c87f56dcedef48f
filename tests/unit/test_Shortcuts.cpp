// Shortcuts made through the shell's link object and read back through it,
// and the check of an installation about to be upgraded, over the shared
// machine states (a real installed package among them). The whole runs check
// that a complete installation has its desktop shortcut.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CMSI.h"
#include "CMainUI.h"
#include "CResource.h"
#include "LogCapture.h"
#include "MachineStates.h"
#include "PreviousInstallation.h"
#include "RunState.h"
#include "Shortcuts.h"
#include "TestSupport.h"
#include "WideAPI.h"

using namespace fwtest;

namespace
{
const char SETTINGS[] = "[Settings]\r\nIniVersion=6.2\r\n[Components]\r\nx\r\n[CheckSums]\r\nx=0\r\n"
                        "[Additional]\r\nx\r\n[Labels_EN]\r\nNoInstallation=No installation in %hs\r\n"
                        "UninstallFail=Removal failed\r\nErrorOccurred=Error: %s\r\n";

struct Link
{
    bool loaded = false;
    std::string target, workingFolder, description;
};

// A shortcut as the shell reads it.
Link ReadLink(const std::string& path)
{
    Link link;
    IShellLinkA* shell = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void**)&shell)))
        return link;
    IPersistFile* file = NULL;
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, (void**)&file)) && SUCCEEDED(file->Load(wide, STGM_READ)))
    {
        char text[MAX_PATH] = "";
        link.loaded = true;
        shell->GetPath(text, MAX_PATH, NULL, SLGP_RAWPATH);
        link.target = text;
        shell->GetWorkingDirectory(text, MAX_PATH);
        link.workingFolder = text;
        shell->GetDescription(text, MAX_PATH);
        link.description = text;
    }
    if (file)
        file->Release();
    shell->Release();
    return link;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class Shortcuts : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CoInitialize(NULL);
        ASSERT_TRUE(WriteBytes(dir.File("Zaph.ini"), SETTINGS));
        ASSERT_TRUE(settings.Load(dir.File("Zaph.ini").c_str()));
        ASSERT_TRUE(settings.ChooseLanguage("EN"));
        g_resource = &settings;
        g_mainUI = &ui;
        g_msi = &msi;
        RunState.Reset();
        // The shell resolves its desktop once per process, on first use, and
        // writes the user's folder values back then: before they are redirected.
        IShellFolder* desktop = NULL;
        if (SUCCEEDED(SHGetDesktopFolder(&desktop)))
            desktop->Release();
        shell = machine.RedirectShellFolders();
    }
    void TearDown() override
    {
        g_resource = NULL;
        g_mainUI = NULL;
        g_msi = NULL;
        RunState.Reset();
        CoUninitialize();
    }

    TempDir dir{ "fwsetup" };
    CResource settings;
    CMainUI ui{ GetModuleHandleA(NULL) };
    CMSI msi;
    MachineState machine;
    std::string shell;
    LogCapture log;
};
} // namespace

// Making the product's shortcuts is every whole run's; these read them back
// and take the other editions and Windows 9x. Stale shortcuts of ours and the
// older line's go, also when there is no program to point at.
TEST_F(Shortcuts, ProductShortcutsReplaceTheOldOnes)
{
    struct Row
    {
        const StateRow* state;
        bool client, nt;
        bool made;
    };
    const Row rows[] = {
        { &STATE_QRT_OLDER, false, true, true },
        { &STATE_DOTNET_CLIENT, true, true, true }, // no Login.exe
        { &STATE_DOTNET_CLIENT, false, true, false },
        { &STATE_QRT_OLDER, false, false, true },   // Windows 9x: the user's own folders
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(std::string(row.state->name) + (row.client ? " client" : "") + (row.nt ? "" : " 9x"));
        const std::string folder = machine.Apply(*row.state);
        const std::string desktop = shell + (row.nt ? "\\CommonDesktop" : "\\Desktop");
        const std::string programs = shell + (row.nt ? "\\CommonPrograms" : "\\Programs");
        const std::string ours[] = { desktop + "\\GESTION BALVORA.lnk", programs + "\\MORV OSKE\\GESTION BALVORA.lnk" };
        const std::string older[] = { desktop + "\\Zaph.lnk", desktop + "\\Login.lnk",
                                      programs + "\\ZAPH QVL\\ZAPH QVL.lnk" };
        CreateDirectoryA((programs + "\\ZAPH QVL").c_str(), NULL);
        CreateDirectoryA((programs + "\\MORV OSKE").c_str(), NULL);
        for (const std::string& old : older)
            ASSERT_TRUE(WriteBytes(old, "old"));
        for (const std::string& old : ours)
            ASSERT_TRUE(WriteBytes(old, "old"));

        isWinNT = row.nt;
        CreateProductShortcuts(folder.c_str(), row.client);
        isWinNT = true;

        for (const std::string& made : ours)
        {
            SCOPED_TRACE(made);
            Link read = ReadLink(made);
            EXPECT_EQ(row.made, read.loaded);
            EXPECT_EQ(row.made, Exists(made));
            if (row.made)
            {
                EXPECT_EQ(folder + "\\Login.exe", read.target);
                EXPECT_EQ(folder + "\\", read.workingFolder);
                EXPECT_EQ("Login MORV/TELA por Windows", read.description);
            }
        }
        for (const std::string& old : older)
            EXPECT_FALSE(Exists(old)) << old;
    }
}

// A new installation and a sound one are the whole runs' (".NET upgrade keeps
// its languages" logs "VerifyInstallation deemed OK."); these are the broken
// ones: the folder gone, and a file of the installed package missing.
TEST_F(Shortcuts, VerifyInstallationForgetsABrokenInstallation)
{
    BoxAnswerer boxes;
    struct Row
    {
        const StateRow* state;
        const char* removeFile; // made missing before the check; "*" removes the folder
        bool packageRemoved;
        std::vector<std::string> lines; // <f>: the folder
    };
    const Row rows[] = {
        { &STATE_QRT_OLDER, "*", false,
          { "W\tVerifyInstallation Failed because '<f>' has gone missing.", "\tRegistry entry 'InstallPath' deleted.",
            "\tRegistry entry 'SetupType' deleted.", "\t=== Verify Installation: No matching product code found" } },
        { &STATE_QRT_PACKAGE, "bin\\dunzip32.dll", true,
          { "W\tVerifyInstallation Failed because '<f>\\bin\\dunzip32.dll' has gone missing.",
            "\t**> Uninstallation returned '0' '<>'." } },
    };
    const char* const PRODUCT_KEY = "SOFTWARE\\Ombrant\\ZAPH QRT";
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.state->name);
        MachineState state;
        const std::string folder = state.Apply(*row.state);
        state.SetValue(HKEY_LOCAL_MACHINE, PRODUCT_KEY, "MultiMSVersion", "V6.1");
        if (std::string(row.removeFile) == "*")
            DeleteTree(folder);
        else
            DeleteFileA((folder + "\\" + row.removeFile).c_str());
        log.Clear();
        RunState.Reset();
        RunState.targetDir = folder.c_str();

        DWORD result = 1;
        EXPECT_TRUE(VerifyInstallation(result));
        EXPECT_EQ(0u, result);
        EXPECT_STREQ("", RunState.targetDir.GetNarrow());
        EXPECT_EQ(row.packageRemoved, RunState.oldPackageRemoved);
        for (const char* value : { "InstallPath", "SetupType", "MultiMSVersion" })
            EXPECT_EQ(REG_ABSENT, RegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, value)) << value;
        EXPECT_EQ(row.packageRemoved, row.state->packageRelease != 0 &&
                                          RegString(HKEY_LOCAL_MACHINE, std::string(UNINSTALL_KEY) + "\\" +
                                                    PACKAGE_RELEASE1_CODE, "DisplayVersion") == REG_ABSENT);
        std::vector<std::string> lines;
        for (const std::string& line : row.lines)
            lines.push_back(Expand(line, "<f>", folder));
        EXPECT_TRUE(log.Has(lines));
        ASSERT_FALSE(boxes.Texts().empty());
        EXPECT_EQ("No installation in " + folder, boxes.Texts().back());
    }
    EXPECT_EQ(2u, boxes.Texts().size());
}
