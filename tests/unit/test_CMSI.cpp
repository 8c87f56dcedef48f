// CMSI against Wine's real msi.dll. Installing, recording and removing a real
// package through it is done by the product package table (test_ProductPackage),
// the moves of test_Migration and every whole run; the installer's version by
// the engine rows of e2e_prerequisites.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CMSI.h"
#include "Log.h"
#include "LogCapture.h"
#include "MachineStates.h"
#include "TestPackages.h"
#include "TestSupport.h"

namespace
{
using fwtest::LogCapture;

const char RELEASE1_CODE[] = "{12345678-5A1E-4B7D-8C20-91F3C6A0D4E8}";
const std::string ABSENT = fwtest::REG_ABSENT;

// A string value of HKLM, or ABSENT.
std::string Value(const std::string& keyPath, const char* name)
{
    return fwtest::RegString(HKEY_LOCAL_MACHINE, keyPath, name);
}

std::string SystemFolder()
{
    char folder[MAX_PATH] = "";
    GetSystemDirectoryA(folder, sizeof(folder));
    return folder;
}

// Restores the system's InstallerLocation, present or not, whatever the test did.
class InstallerLocationGuard
{
public:
    ~InstallerLocationGuard() { fwtest::SetRegString(HKEY_LOCAL_MACHINE, INSTALLER_REGISTRY_KEY, INSTALLER_LOCATION_VALUE, m_value); }

private:
    std::string m_value = Value(INSTALLER_REGISTRY_KEY, INSTALLER_LOCATION_VALUE);
};

} // namespace

// ---------------------------------------------------------------------------
// Properties and product codes

TEST(CMSI, StoresPropertyValuesReadyForTheCommandLine)
{
    const char* rows[][2] = {
        { "2", "2" },
        { "C:\\Program Files\\ZAPH", "\"C:\\Program Files\\ZAPH\"" },
        { "tab\there", "\"tab\there\"" },
        // A quote can neither end the value early nor start a property of its own.
        { "C:\\a\" EVIL=1", "\"C:\\a\"\" EVIL=1\"" },
        { "x\"y", "\"x\"\"y\"" },
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row[0]);
        CMSI msi;
        ASSERT_TRUE(msi.SetProperty("TARGETDIR", row[0]));
        ASSERT_EQ(1, msi.GetPropertyCount());
        EXPECT_STREQ("TARGETDIR", msi.GetPropertyName(0));
        EXPECT_STREQ(row[1], msi.GetPropertyValue(0));
    }

    CMSI msi;
    EXPECT_TRUE(msi.SetProperty("DEFAULTDIR", ""));
    EXPECT_TRUE(msi.SetProperty("DEFAULTDIR", NULL));
    EXPECT_FALSE(msi.SetProperty("", "x"));
    EXPECT_FALSE(msi.SetProperty(NULL, "x"));
    EXPECT_EQ(0, msi.GetPropertyCount());
}

TEST(CMSI, HoldsTenPropertiesAndRefusesAnEleventh)
{
    CMSI msi;
    for (int i = 0; i < MSI_MAX_PROPERTIES; ++i)
        ASSERT_TRUE(msi.SetProperty(("P" + std::to_string(i)).c_str(), "v")) << i;
    EXPECT_FALSE(msi.SetProperty("ELEVENTH", "v"));
    // A known name, in any case, still gets its new value when all places are taken.
    EXPECT_TRUE(msi.SetProperty("p3", "new value"));
    EXPECT_EQ(MSI_MAX_PROPERTIES, msi.GetPropertyCount());
    EXPECT_STREQ("p3", msi.GetPropertyName(3));
    EXPECT_STREQ("\"new value\"", msi.GetPropertyValue(3));
}

TEST(CMSI, PacksProductCodesOfThisProduct)
{
    const char* rows[][2] = { // code, packed (null: refused)
        { "{12345678-5A1E-4B7D-8C20-91F3C6A0D4E8}", "87654321E1A5D7B4C802193F6C0A4D8E" },
        { "{abcdef01-5A1E-4B7D-8C20-91F3C6A0D4E8}", "10fedcbaE1A5D7B4C802193F6C0A4D8E" },
        { "{12345678}", "87654321E1A5D7B4C802193F6C0A4D8E" },
        { "12345678-5A1E-4B7D-8C20-91F3C6A0D4E8", NULL },
        { "{1234567}", NULL },
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

// ---------------------------------------------------------------------------
// Loading the library

TEST(CMSI, LoadsTheLibraryNamedByTheRegistryOrFallsBack)
{
    InstallerLocationGuard location;
    fwtest::TempDir empty("nomsi");
    const std::string system = SystemFolder() + "\\msi.dll";
    const std::string fromRegistry = "\tMSI Location according to Registry '", loaded = "\tLoaded '" + system + "'",
                      fallback = "\tTrying fallback '" + system + "'";
    struct Row
    {
        std::string location; // ABSENT: value absent
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        { SystemFolder(), { fromRegistry + system + "'", loaded } },
        { SystemFolder() + "\\", { fromRegistry + system + "'", loaded } },
        { empty.Path(), { fromRegistry + empty.Path() + "\\msi.dll'",
                          "\tMSI '" + empty.Path() + "\\msi.dll' not found.", fallback, loaded } },
        { ABSENT, { "\tMSI '' not found.", fallback, loaded } },
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.location);
        fwtest::SetRegString(HKEY_LOCAL_MACHINE, INSTALLER_REGISTRY_KEY, INSTALLER_LOCATION_VALUE, row.location);
        LogCapture log;
        CMSI msi;
        ASSERT_TRUE(msi.LoadInstaller());
        EXPECT_EQ(0u, msi.GetLastResult());
        EXPECT_STREQ(system.c_str(), msi.GetLibraryPath());
        std::vector<std::string> lines = log.Lines();
        EXPECT_EQ(row.lines, lines) << log.Text();
        // A second call finds the library loaded and logs nothing more.
        EXPECT_TRUE(msi.LoadInstaller());
        EXPECT_EQ(lines.size(), log.Lines().size());
    }
}

TEST(CMSI, OperationsRefuseToRunWithoutTheirPreconditions)
{
    LogCapture log;
    CMSI msi;
    EXPECT_EQ((DWORD)ERROR_INVALID_STATE, msi.GetLastResult());
    // Nothing loaded yet.
    EXPECT_FALSE(msi.InstallProduct());
    EXPECT_EQ((DWORD)ERROR_INVALID_STATE, msi.GetLastResult());
    EXPECT_FALSE(msi.UninstallProduct(RELEASE1_CODE));

    ASSERT_TRUE(msi.LoadInstaller());
    // No package set.
    EXPECT_FALSE(msi.InstallProduct());
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, msi.GetLastResult());
    // A removal follows a successful load only; and needs a product code.
    EXPECT_FALSE(msi.UninstallProduct(RELEASE1_CODE));
    CMSI fresh;
    ASSERT_TRUE(fresh.LoadInstaller());
    EXPECT_FALSE(fresh.UninstallProduct(""));
    EXPECT_FALSE(fresh.UninstallProduct(NULL));
}

TEST(CMSI, AcceptsAnExistingPackageOrAnAddress)
{
    LogCapture log;
    fwtest::TempDir dir("cmsipkg");
    const std::string missing = dir.File("Sys_EN.msi");
    const std::string url = "http://server.example/zaph/Sys_EN.msi";
    const std::string longUrl = "http://server.example/" + std::string(240, 'x') + ".msi";

    CMSI msi;
    EXPECT_FALSE(msi.SetPackage(missing.c_str()));
    EXPECT_FALSE(msi.SetPackage(""));
    EXPECT_FALSE(msi.SetPackage(longUrl.c_str()));
    EXPECT_STREQ("", msi.GetPackagePath());
    EXPECT_TRUE(msi.SetPackage(url.c_str()));
    EXPECT_STREQ(url.c_str(), msi.GetPackagePath());
    EXPECT_TRUE(msi.SetPackage(fwtest::PackagePath(fwtest::RELEASE_610).c_str()));
    EXPECT_TRUE(log.Has({ "E	*local* MSI file doesn't exist '" + missing + "'.", "	Installing using working file ''.",
                          "E	MSI too long '" + longUrl + "'.", "	Installing using working file '" + url + "'." }));
}

// ---------------------------------------------------------------------------
// Result texts and the library version

TEST(CMSI, GivesTextsOnlyForCodesThatNeedOne)
{
    CMSI msi;
    // Before the library is loaded there is no text source: never this
    // program's own string table (string 11 is its caption).
    EXPECT_STREQ(MSI_NO_ERROR_TEXT, msi.GetErrorText(11));

    ASSERT_TRUE(msi.LoadInstaller());
    for (DWORD code : { 0, 1259, 1602, 1603, 1604, 1641, 3010 })
        EXPECT_EQ(NULL, msi.GetErrorText(code)) << code;
    // Wine's msi.dll holds no message strings: every other code gets the
    // fixed text (2, 3 and 123 asking for 1619's).
    for (DWORD code : { 2, 3, 123, 1619, 1605, 1638 })
        EXPECT_STREQ(MSI_NO_ERROR_TEXT, msi.GetErrorText(code)) << code;
}
