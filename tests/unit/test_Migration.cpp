// Moving an installation. The move itself, the key paths msi.dll reports
// after it and the removal of the moved product are the whole run "upgrade
// that moves the product" of e2e_install; the roll-back of a move refused by
// an open file is its row "move refused by a file held open", a main program
// held open "product in use", and Vista's protected folder "protected folder
// on Vista" (the other protected folders are the same test). Here: only this
// product's records are rewritten, and the in-use test with a main program
// that is read-only, missing or cannot be renamed back.
#include <gtest/gtest.h>

#include <string>

#include "AppObjects.h"
#include "CMSI.h"
#include "LogCapture.h"
#include "MachineStates.h"
#include "Migration.h"
#include "RunState.h"
#include "TestSupport.h"

using namespace fwtest;

namespace
{
// The installer keeps its component records in the 64-bit registry view, for
// 32-bit packages and programs too (32-bit Windows has one view and ignores
// the flag): a 32-bit test reads and plants them there, as the system does.
const REGSAM RECORDS_VIEW = KEY_WOW64_64KEY;

std::string Record(const std::string& key, const std::string& name)
{
    HKEY handle;
    std::string data = REG_ABSENT;
    DWORD type;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | RECORDS_VIEW, &handle) != ERROR_SUCCESS)
        return data;
    if (ReadRegValue(handle, name, type, data))
        data = data.c_str();
    RegCloseKey(handle);
    return data;
}

class Migration : public ::testing::Test
{
protected:
    void SetUp() override { RunState.Reset(); }
    void TearDown() override { RunState.Reset(); }

    MachineState machine;
    LogCapture log;
};
} // namespace

TEST_F(Migration, OnlyThisProductsKeyPathsAreRewritten)
{
    // Installed through the wrapper, as the product package step does, so
    // that it knows the packed product code.
    const std::string oldFolder = machine.Root() + "\\old", newFolder = machine.Root() + "\\moved";
    machine.OwnFolder(oldFolder);
    CMSI msi;
    ASSERT_TRUE(msi.LoadInstaller());
    ASSERT_TRUE(msi.SetPackage((BinDir() + "\\packages\\6.1.0\\Sys_EN.msi").c_str()));
    ASSERT_TRUE(msi.SetProperty("TARGETDIR", oldFolder.c_str()));
    ASSERT_TRUE(msi.SetProperty("AUTOUPGRADE", "true"));
    ASSERT_TRUE(msi.InstallProduct()) << msi.GetLastResult();
    const std::string ours = std::string(COMPONENTS_KEY_NT) + "\\" + KEY_PATH_FILES[0].packedComponent;
    const char* product = msi.GetPackedProductCode();
    ASSERT_EQ(oldFolder + "\\Login.exe", Record(ours, product));

    // A component this product does not use is left alone, and so is
    // everything when the run knows no product code.
    const std::string foreign = std::string(COMPONENTS_KEY_NT) + "\\00000000000000000000000000000001";
    HKEY planted;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, foreign.c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS | RECORDS_VIEW, NULL, &planted, NULL));
    RegSetValueExA(planted, "11111111111111111111111111111111", 0, REG_SZ, (const BYTE*)"C:\\other\\x.exe", 15);
    RegCloseKey(planted);
    g_msi = &msi;
    UpdateComponentKeyPath(C_String(newFolder.c_str()), "00000000000000000000000000000001", "x.exe");
    EXPECT_EQ("C:\\other\\x.exe", Record(foreign, "11111111111111111111111111111111"));
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, foreign.c_str(), RECORDS_VIEW, 0);
    CMSI fresh;
    g_msi = &fresh;
    UpdateComponentKeyPath(C_String(newFolder.c_str()), KEY_PATH_FILES[0].packedComponent, "Login.exe");
    g_msi = NULL;
    EXPECT_EQ(oldFolder + "\\Login.exe", Record(ours, product));
    ASSERT_TRUE(msi.UninstallProduct(PACKAGE_RELEASE1_CODE)) << msi.GetLastResult();
}

TEST_F(Migration, InUseTestNeverLosesTheMainProgram)
{
    enum Hold { READ_ONLY, SPARE_UNRENAMABLE, NO_PROGRAM };
    std::string folder = machine.Apply(STATE_QRT_OLDER);
    const std::string main = folder + "\\Login.exe", spare = folder + "\\__Login.exe";
    std::string bytes;
    ASSERT_TRUE(ReadBytes(main, bytes));
    for (Hold hold : { READ_ONLY, SPARE_UNRENAMABLE, NO_PROGRAM })
    {
        SCOPED_TRACE(hold);
        RunState.targetDir = folder.c_str();
        RunState.mainExeName = hold == NO_PROGRAM ? "Zaph.exe" : "Login.exe";
        HANDLE held = INVALID_HANDLE_VALUE;
        if (hold == READ_ONLY)
            SetFileAttributesA(main.c_str(), FILE_ATTRIBUTE_READONLY);
        if (hold == SPARE_UNRENAMABLE)
        {
            // A stale spare held open without delete sharing: the copy over
            // it works, the rename back does not.
            ASSERT_TRUE(WriteBytes(spare, "stale"));
            held = CreateFileA(spare.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                               0, NULL);
        }
        EXPECT_EQ(hold == SPARE_UNRENAMABLE, IsProductInUse());
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        std::string after;
        EXPECT_TRUE(ReadBytes(main, after));
        EXPECT_EQ(bytes, after);
        // Only a spare that cannot be removed is left behind.
        EXPECT_EQ(hold == SPARE_UNRENAMABLE, GetFileAttributesA(spare.c_str()) != INVALID_FILE_ATTRIBUTES);
        SetFileAttributesA(main.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(spare.c_str());
    }
    EXPECT_TRUE(log.Has({ "W\tCould not rename '" + spare + "' to '" + main + "', returned '32'." }));
}
