// CMSI against Wine's real msi.dll: its refusals, limits and fallbacks.
// Installing, recording and removing a real package through it is done by
// every whole run of e2e_install; the installer's version by its engine rows.
#include <gtest/gtest.h>

#include <string>

#include "CMSI.h"
#include "LogCapture.h"
#include "MachineStates.h"
#include "TestSupport.h"

namespace
{
const char RELEASE1_CODE[] = "{12345678-5A1E-4B7D-8C20-91F3C6A0D4E8}";

std::string SystemFolder()
{
    char folder[MAX_PATH] = "";
    GetSystemDirectoryA(folder, sizeof(folder));
    return folder;
}
} // namespace

// A value with spaces is every whole run's DEFAULTDIR; a quote can neither
// end the value early nor start a property of its own.
TEST(CMSI, PropertiesCannotBreakOutOfTheCommandLine)
{
    CMSI msi;
    ASSERT_TRUE(msi.SetProperty("TARGETDIR", "C:\\a\" EVIL=1"));
    ASSERT_EQ(1, msi.GetPropertyCount());
    EXPECT_STREQ("\"C:\\a\"\" EVIL=1\"", msi.GetPropertyValue(0));
    // No value is no property; a property needs a name.
    EXPECT_TRUE(msi.SetProperty("DEFAULTDIR", NULL));
    EXPECT_FALSE(msi.SetProperty(NULL, "x"));
    EXPECT_EQ(1, msi.GetPropertyCount());
}

TEST(CMSI, PacksOnlyWellFormedProductCodes)
{
    const char* rows[][2] = { // code, packed (null: refused)
        { "{12345678}", "87654321E1A5D7B4C802193F6C0A4D8E" },
        { "12345678-5A1E-4B7D-8C20-91F3C6A0D4E8", NULL },
        { "{1234567G-5A1E-4B7D-8C20-91F3C6A0D4E8}", NULL },
        { "", NULL },
    };
    for (const auto& row : rows)
    {
        char packed[MSI_PACKED_CODE_SIZE] = "junk";
        EXPECT_EQ(row[1] != NULL, PackProductCode(row[0], packed)) << row[0];
        EXPECT_STREQ(row[1] ? row[1] : "", packed) << row[0];
    }
}

// The installer's folder from the registry; a value that names no installer,
// or none at all, falls back to the system folder.
TEST(CMSI, LoadsTheLibraryNamedByTheRegistryOrFallsBack)
{
    const std::string saved = fwtest::RegString(HKEY_LOCAL_MACHINE, INSTALLER_REGISTRY_KEY, INSTALLER_LOCATION_VALUE);
    fwtest::TempDir empty("nomsi");
    for (const std::string& location : { empty.Path(), std::string(fwtest::REG_ABSENT) })
    {
        fwtest::SetRegString(HKEY_LOCAL_MACHINE, INSTALLER_REGISTRY_KEY, INSTALLER_LOCATION_VALUE, location);
        CMSI msi;
        EXPECT_TRUE(msi.LoadInstaller()) << location; // no ASSERT: the location is put back below
        EXPECT_STREQ((SystemFolder() + "\\msi.dll").c_str(), msi.GetLibraryPath());
    }
    fwtest::SetRegString(HKEY_LOCAL_MACHINE, INSTALLER_REGISTRY_KEY, INSTALLER_LOCATION_VALUE, saved);
}

TEST(CMSI, OperationsRefuseToRunWithoutTheirPreconditions)
{
    fwtest::LogCapture log;
    CMSI msi;
    // Before the library is loaded there is no text source: never this
    // program's own string table (string 11 is its caption).
    EXPECT_STREQ(MSI_NO_ERROR_TEXT, msi.GetErrorText(11));
    EXPECT_FALSE(msi.InstallProduct());
    EXPECT_EQ((DWORD)ERROR_INVALID_STATE, msi.GetLastResult());
    EXPECT_FALSE(msi.UninstallProduct(RELEASE1_CODE));

    ASSERT_TRUE(msi.LoadInstaller());
    EXPECT_FALSE(msi.InstallProduct()) << "no package set";
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, msi.GetLastResult());
    // A removal follows a successful load only; and needs a product code.
    EXPECT_FALSE(msi.UninstallProduct(RELEASE1_CODE));
    CMSI fresh;
    ASSERT_TRUE(fresh.LoadInstaller());
    EXPECT_FALSE(fresh.UninstallProduct(""));
    EXPECT_FALSE(fresh.UninstallProduct(NULL));

    // A package is a file or an address that fits.
    const std::string url = "http://server.example/zaph/Sys_EN.msi";
    const std::string longUrl = "http://server.example/" + std::string(240, 'x') + ".msi";
    EXPECT_FALSE(msi.SetPackage(""));
    EXPECT_FALSE(msi.SetPackage(longUrl.c_str()));
    EXPECT_STREQ("", msi.GetPackagePath());
    EXPECT_TRUE(msi.SetPackage(url.c_str()));
    EXPECT_STREQ(url.c_str(), msi.GetPackagePath());
    EXPECT_TRUE(log.Has({ "E\tMSI too long '" + longUrl + "'.", "\tInstalling using working file '" + url + "'." }));

    // Wine's msi.dll holds no message strings: a code that needs a text gets
    // the fixed one; success and the user's own decisions none.
    for (DWORD code : { 0, 1602, 3010 })
        EXPECT_EQ(NULL, msi.GetErrorText(code)) << code;
    EXPECT_STREQ(MSI_NO_ERROR_TEXT, msi.GetErrorText(2));

    // Unloaded after its installation: nothing calls into the freed library,
    // and a later need loads it again.
    msi.UnloadInstaller();
    EXPECT_FALSE(msi.InstallProduct());
    EXPECT_EQ((DWORD)ERROR_INVALID_STATE, msi.GetLastResult());
    fresh.UnloadInstaller();
    EXPECT_FALSE(fresh.UninstallProduct(RELEASE1_CODE));
    EXPECT_STREQ(MSI_NO_ERROR_TEXT, fresh.GetErrorText(11));
    EXPECT_TRUE(msi.LoadInstaller());
}
