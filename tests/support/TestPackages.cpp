#include "TestPackages.h"

#include "MachineStates.h"
#include "PreviousInstallation.h"
#include "TestSupport.h"

namespace fwtest
{
const TestRelease RELEASE_610 = { "6.1.0", "{12345678-5A1E-4B7D-8C20-91F3C6A0D4E8}" };
const TestRelease RELEASE_620 = { "6.2.0", "{23456789-5A1E-4B7D-8C20-91F3C6A0D4E8}" };
const TestRelease RELEASE_620_MOVED = { "6.2.0-moved", "{3456789A-5A1E-4B7D-8C20-91F3C6A0D4E8}" };
const TestRelease RELEASE_620_CLIENT = { "6.2.0-client", "{456789AB-5A1E-4B7D-8C20-91F3C6A0D4E8}" };
const TestRelease RELEASE_620_DOTNET = { "6.2.0-dotnet", "{56789ABC-5A1E-4B7D-8C20-91F3C6A0D4E8}" };
const TestRelease RELEASE_620_RESTART = { "6.2.0-restart", "{789ABCDE-5A1E-4B7D-8C20-91F3C6A0D4E8}" };
// The failing release never stays installed: it fails before changing anything.
static const TestRelease* const ALL_RELEASES[] = { &RELEASE_610, &RELEASE_620, &RELEASE_620_MOVED,
                                                   &RELEASE_620_CLIENT, &RELEASE_620_DOTNET, &RELEASE_620_RESTART };

typedef int(WINAPI* SetInternalUIFn)(int level, HWND* window);
typedef UINT(WINAPI* InstallProductFn)(const char* package, const char* commandLine);
typedef UINT(WINAPI* ConfigureProductExFn)(const char* product, int level, int state, const char* commandLine);
static const int UI_LEVEL_NONE = 2;
static const int STATE_ABSENT = 2;

// msi.dll with its own interface switched off (null when it cannot be loaded).
// Straight through msi.dll, not through the program's wrapper: the set-up must
// work when the code under test does not.
static HMODULE QuietInstaller()
{
    HMODULE msi = LoadLibraryA("msi.dll");
    SetInternalUIFn setUI = msi ? (SetInternalUIFn)(void*)GetProcAddress(msi, "MsiSetInternalUI") : NULL;
    if (setUI)
        setUI(UI_LEVEL_NONE, NULL);
    return msi;
}

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

UINT TestPackageSetup::Install(const TestRelease& release, const std::string& commandLine)
{
    HMODULE msi = QuietInstaller();
    InstallProductFn install = msi ? (InstallProductFn)(void*)GetProcAddress(msi, "MsiInstallProductA") : NULL;
    std::string package = PackagesDir() + "\\" + release.folder + "\\Sys_EN.msi";
    UINT result = install ? install(package.c_str(), commandLine.c_str()) : ERROR_PROC_NOT_FOUND;
    if (msi)
        FreeLibrary(msi);
    return result;
}

void TestPackageSetup::RemoveAll()
{
    HMODULE msi = QuietInstaller();
    ConfigureProductExFn configure =
        msi ? (ConfigureProductExFn)(void*)GetProcAddress(msi, "MsiConfigureProductExA") : NULL;
    for (const TestRelease* release : ALL_RELEASES)
        if (configure && IsInstalled(*release))
            configure(release->code, 0, STATE_ABSENT, "");
    if (msi)
        FreeLibrary(msi);
    for (size_t i = 0; i < m_folders.size(); ++i)
        DeleteTree(m_folders[i]);
}
} // namespace fwtest
