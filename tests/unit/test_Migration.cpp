// Moving an installation. The move itself, the key paths msi.dll reports
// after it and the removal of the moved product are the whole run "upgrade
// that moves the product" of e2e_install; the roll-back of a move refused by
// an open file is its row "move refused by a file held open", and Vista's
// protected folder "protected folder on Vista". Here: only this product's
// records are rewritten, the in-use test with a main program that is open,
// read-only or cannot be renamed back, and the other protected folders.
#include <gtest/gtest.h>

#include <string>

#include "AppObjects.h"
#include "CMSI.h"
#include "FileUtil.h"
#include "LogCapture.h"
#include "MachineStates.h"
#include "Migration.h"
#include "RunState.h"
#include "TestSupport.h"

using namespace fwtest;

namespace
{
// The component codes of the key files, in the order of KEY_PATH_FILES.
const char* const COMPONENT_CODES[KEY_PATH_FILE_COUNT] = {
    "{F7B1E49C-80A3-5D62-1E7B-0FA4C9D3E682}", "{6A3D80F5-1E2C-97B4-0A6D-3F81B2C79E54}",
    "{C9402B7E-F6A1-8D35-C8F0-B2E7D4913A06}", "{B70E1C3A-29D5-6F84-1B0E-4CD7928F6A51}" };

typedef int(WINAPI* GetComponentPathFn)(const char*, const char*, char*, DWORD*);

// Where msi.dll says each key file of release 1 is, with its state.
std::vector<std::string> InstallerPaths()
{
    std::vector<std::string> paths;
    HMODULE msi = LoadLibraryA("msi.dll");
    GetComponentPathFn get = (GetComponentPathFn)(void*)GetProcAddress(msi, "MsiGetComponentPathA");
    for (const char* component : COMPONENT_CODES)
    {
        char path[MAX_PATH] = "";
        DWORD size = sizeof(path);
        int state = get ? get(PACKAGE_RELEASE1_CODE, component, path, &size) : -99;
        paths.push_back(std::to_string(state) + " " + path);
    }
    FreeLibrary(msi);
    return paths;
}

std::vector<std::string> Expected(const std::string& folder)
{
    std::vector<std::string> paths;
    for (const KeyPathFile& file : KEY_PATH_FILES)
        paths.push_back("3 " + folder + "\\" + file.relativePath); // 3: INSTALLSTATE_LOCAL
    return paths;
}

class Migration : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RunState.Reset();
        g_msi = &msi;
    }
    void TearDown() override
    {
        g_msi = NULL;
        RunState.Reset();
    }
    // Installs release 1 through the wrapper, as the product package step
    // does, so that it knows the packed product code.
    void InstallInto(const std::string& folder)
    {
        machine.OwnFolder(folder);
        ASSERT_TRUE(msi.LoadInstaller());
        ASSERT_TRUE(msi.SetPackage((BinDir() + "\\packages\\6.1.0\\Sys_EN.msi").c_str()));
        ASSERT_TRUE(msi.SetProperty("TARGETDIR", folder.c_str()));
        ASSERT_TRUE(msi.SetProperty("AUTOUPGRADE", "true"));
        ASSERT_TRUE(msi.InstallProduct()) << msi.GetLastResult();
        ASSERT_EQ(Expected(folder), InstallerPaths());
    }

    CMSI msi;
    MachineState machine;
    LogCapture log;
};
} // namespace

TEST_F(Migration, OnlyThisProductsKeyPathsAreRewritten)
{
    const std::string oldFolder = machine.Root() + "\\old", newFolder = machine.Root() + "\\moved";
    InstallInto(oldFolder);
    // A component this product does not use is left alone, and so is
    // everything when the run knows no product code.
    const std::string foreignKey = std::string(COMPONENTS_KEY_NT) + "\\00000000000000000000000000000001";
    machine.SetValue(HKEY_LOCAL_MACHINE, foreignKey, "11111111111111111111111111111111", "C:\\other\\x.exe");
    UpdateComponentKeyPath(C_String(newFolder.c_str()), "00000000000000000000000000000001", "x.exe");
    EXPECT_EQ("C:\\other\\x.exe", RegString(HKEY_LOCAL_MACHINE, foreignKey, "11111111111111111111111111111111"));
    CMSI fresh;
    g_msi = &fresh;
    UpdateComponentKeyPath(C_String(newFolder.c_str()), KEY_PATH_FILES[0].packedComponent, "Login.exe");
    g_msi = &msi;
    EXPECT_EQ(Expected(oldFolder), InstallerPaths());
    ASSERT_TRUE(msi.UninstallProduct(PACKAGE_RELEASE1_CODE)) << msi.GetLastResult();
}

TEST_F(Migration, InUseTestNeverLosesTheMainProgram)
{
    enum Hold { NONE, MAIN_OPEN, READ_ONLY, SPARE_UNRENAMABLE, NO_PROGRAM };
    struct Row
    {
        Hold hold;
        bool inUse;
        const char* line; // <m>: the main program, <s>: its spare
    };
    const Row rows[] = {
        { NONE, false, NULL },
        { NO_PROGRAM, false, NULL },
        { MAIN_OPEN, true, "\tCould not open exclusively '<m>', returned '32'." },
        { READ_ONLY, false, NULL },
        // A stale spare held open without delete sharing: the copy over it
        // works, the rename back does not.
        { SPARE_UNRENAMABLE, true, "W\tCould not rename '<s>' to '<m>', returned '32'." },
    };
    std::string folder = machine.Apply(STATE_QRT_OLDER);
    const std::string main = folder + "\\Login.exe", spare = folder + "\\__Login.exe";
    std::string bytes;
    ASSERT_TRUE(ReadBytes(main, bytes));
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.hold);
        RunState.targetDir = folder.c_str();
        RunState.mainExeName = row.hold == NO_PROGRAM ? "Zaph.exe" : "Login.exe";
        HANDLE held = INVALID_HANDLE_VALUE;
        if (row.hold == MAIN_OPEN)
            held = CreateFileA(main.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        if (row.hold == READ_ONLY)
            SetFileAttributesA(main.c_str(), FILE_ATTRIBUTE_READONLY);
        if (row.hold == SPARE_UNRENAMABLE)
        {
            ASSERT_TRUE(WriteBytes(spare, "stale"));
            held = CreateFileA(spare.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                               0, NULL);
        }
        EXPECT_EQ(row.inUse, IsProductInUse());
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        std::string after;
        EXPECT_TRUE(ReadBytes(main, after));
        EXPECT_EQ(bytes, after);
        // Only a spare that cannot be removed is left behind.
        EXPECT_EQ(row.hold == SPARE_UNRENAMABLE, GetFileAttributesA(spare.c_str()) != INVALID_FILE_ATTRIBUTES);
        if (row.line != NULL)
        {
            EXPECT_TRUE(log.Has({ Expand(Expand(row.line, "<m>", main), "<s>", spare) }));
        }
        SetFileAttributesA(main.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(spare.c_str());
    }
}

TEST_F(Migration, ProtectedFolders)
{
    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string programFiles = RegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                               "ProgramFilesDir");
    struct Row
    {
        std::string target;
        bool programFilesReadable;
        bool isProtected;
    };
    const Row rows[] = {
        { "", true, false },
        { std::string(windows) + "\\ZAPH", true, true },
        { "C:\\ProgramData\\ZAPH", true, true },
        { machine.Root() + "\\ZAPH", true, false },
        // Without the Program Files entry the list ends there: Common AppData is not looked at.
        { "C:\\ProgramData\\ZAPH", false, false },
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.target + (row.programFilesReadable ? "" : " without ProgramFilesDir"));
        machine.SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                         row.programFilesReadable ? programFiles : REG_ABSENT);
        RunState.targetDir = row.target.c_str();
        EXPECT_EQ(row.isProtected, CheckProtectedDirectory());
    }
}
