#include "TestPackages.h"

#include "MachineStates.h"
#include "PreviousInstallation.h"
#include "TestSupport.h"

namespace fwtest
{
const TestRelease RELEASE_610 = { "6.1.0", "{12345678-5A1E-4B7D-8C20-91F3C6A0D4E8}", "87654321E1A5D7B4C802193F6C0A4D8E" };
const TestRelease RELEASE_620 = { "6.2.0", "{23456789-5A1E-4B7D-8C20-91F3C6A0D4E8}", "98765432E1A5D7B4C802193F6C0A4D8E" };
const TestRelease RELEASE_620_MOVED = { "6.2.0-moved", "{3456789A-5A1E-4B7D-8C20-91F3C6A0D4E8}",
                                        "A9876543E1A5D7B4C802193F6C0A4D8E" };
const TestRelease RELEASE_620_CLIENT = { "6.2.0-client", "{456789AB-5A1E-4B7D-8C20-91F3C6A0D4E8}",
                                         "BA987654E1A5D7B4C802193F6C0A4D8E" };
const TestRelease RELEASE_620_DOTNET = { "6.2.0-dotnet", "{56789ABC-5A1E-4B7D-8C20-91F3C6A0D4E8}",
                                         "CBA98765E1A5D7B4C802193F6C0A4D8E" };
const TestRelease RELEASE_620_FAILING = { "6.2.0-failing", "{6789ABCD-5A1E-4B7D-8C20-91F3C6A0D4E8}",
                                          "DCBA9876E1A5D7B4C802193F6C0A4D8E" };
const TestRelease RELEASE_620_RESTART = { "6.2.0-restart", "{789ABCDE-5A1E-4B7D-8C20-91F3C6A0D4E8}",
                                          "EDCBA987E1A5D7B4C802193F6C0A4D8E" };
static const TestRelease* const ALL_RELEASES[] = { &RELEASE_610, &RELEASE_620, &RELEASE_620_MOVED,
                                                   &RELEASE_620_CLIENT, &RELEASE_620_DOTNET,
                                                   &RELEASE_620_FAILING, &RELEASE_620_RESTART };

// The packages' test input: the answer to the folder prompt.
static const char* const TEST_PACKAGE_KEY = "SOFTWARE\\Fernwick\\TestPackage";

typedef int(WINAPI* SetInternalUIFn)(int level, HWND* window);
typedef UINT(WINAPI* InstallProductFn)(const char* package, const char* commandLine);
typedef UINT(WINAPI* ConfigureProductExFn)(const char* product, int level, int state, const char* commandLine);
static const int UI_LEVEL_NONE = 2;
static const int STATE_ABSENT = 2;

std::string PackagesDir()
{
    return BinDir() + "\\packages";
}

std::string MovedFolder()
{
    return RegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir") +
           "\\Ombrant\\ZAPH\\";
}

bool IsInstalled(const TestRelease& release)
{
    HKEY key = NULL;
    std::string path = std::string(::UNINSTALL_KEY) + "\\" + release.code;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TestPackageSetup::TestPackageSetup(const std::vector<std::string>& folders) : m_folders(folders)
{
    RemoveAll();
}

TestPackageSetup::~TestPackageSetup()
{
    RemoveAll();
}

// Straight through msi.dll, not through the program's wrapper: the set-up must
// work when the code under test does not.
UINT TestPackageSetup::Install(const TestRelease& release, const std::string& commandLine)
{
    HMODULE msi = LoadLibraryA("msi.dll");
    if (msi == NULL)
        return GetLastError();
    SetInternalUIFn setUI = (SetInternalUIFn)(void*)GetProcAddress(msi, "MsiSetInternalUI");
    InstallProductFn install = (InstallProductFn)(void*)GetProcAddress(msi, "MsiInstallProductA");
    UINT result = ERROR_PROC_NOT_FOUND;
    if (setUI && install)
    {
        setUI(UI_LEVEL_NONE, NULL);
        std::string package = PackagesDir() + "\\" + release.folder + "\\Sys_EN.msi";
        result = install(package.c_str(), commandLine.c_str());
    }
    FreeLibrary(msi);
    return result;
}

void TestPackageSetup::RemoveAll()
{
    HMODULE msi = LoadLibraryA("msi.dll");
    if (msi != NULL)
    {
        SetInternalUIFn setUI = (SetInternalUIFn)(void*)GetProcAddress(msi, "MsiSetInternalUI");
        ConfigureProductExFn configure = (ConfigureProductExFn)(void*)GetProcAddress(msi, "MsiConfigureProductExA");
        if (setUI && configure)
        {
            setUI(UI_LEVEL_NONE, NULL);
            for (const TestRelease* release : ALL_RELEASES)
                if (IsInstalled(*release))
                    configure(release->code, 0, STATE_ABSENT, "");
        }
        FreeLibrary(msi);
    }
    SetRegString(HKEY_LOCAL_MACHINE, TEST_PACKAGE_KEY, "FolderPromptAnswer", REG_ABSENT);
    for (size_t i = 0; i < m_folders.size(); ++i)
        DeleteTree(m_folders[i]);
}
} // namespace fwtest
