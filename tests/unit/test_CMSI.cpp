// CMSI against Wine's real msi.dll and the stand-in system packages built from
// tests/fixtures/packages (bin/packages/<version>/Sys_<lang>.msi).
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
const char RELEASE1_PACKED[] = "87654321E1A5D7B4C802193F6C0A4D8E";
const std::string COMPONENTS_KEY =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\";
const std::string UNINSTALL_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// The stand-in package's record of the properties it received.
const char RECEIVED_KEY[] = "SOFTWARE\\Fernwick\\TestPackage\\Received";
const std::string ABSENT = fwtest::REG_ABSENT;

struct KeyFile
{
    const char* packedComponent;
    const char* relative;
};
const KeyFile KEY_FILES[] = {
    { "C94E1B7F3A0826D5E1B7F04A9C3D6E28", "Login.exe" },
    { "5F08D3A6C2E14B79A0D6F3182B7CE945", "Bin\\VBC.dll" },
    { "E7B2049C1A6F53D88C0F2B7E4D19A360", "Bin\\dunzip32.dll" },
    { "A3C1E07B5D9248F6B1E0C47D29F8A615", "Zaph.exe" },
};

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

// Loads the library, sets the package and the properties (name, value pairs)
// and installs.
void Install(CMSI& msi, const std::string& package, std::initializer_list<std::pair<const char*, std::string>> properties)
{
    ASSERT_TRUE(msi.LoadInstaller());
    ASSERT_TRUE(msi.SetPackage(package.c_str()));
    for (const auto& property : properties)
        ASSERT_TRUE(msi.SetProperty(property.first, property.second.c_str())) << property.first;
    ASSERT_TRUE(msi.InstallProduct()) << "result " << msi.GetLastResult();
}

// Each key file of the product is recorded under its component for the given
// release, and is on disk, or neither.
void ExpectKeyFiles(const std::string& folder, const char* packedProduct, bool installed)
{
    for (const KeyFile& file : KEY_FILES)
    {
        SCOPED_TRACE(file.relative);
        std::string path = folder + "\\" + file.relative;
        EXPECT_EQ(installed ? path : ABSENT, Value(COMPONENTS_KEY + file.packedComponent, packedProduct));
        EXPECT_EQ(installed, GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES);
    }
}
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

TEST(CMSI, SwitchesOnTheInstallerLogWhenAsked)
{
    LogCapture log;
    CMSI msi;
    char day[16], temp[MAX_PATH];
    FormatTimestamp(day, true);
    GetTempPathA(sizeof(temp), temp);
    EXPECT_EQ(std::string(temp) + "MSI_" + day + ".log", msi.GetLogPath());

    msi.SetLogEnabled(true);
    ASSERT_TRUE(msi.LoadInstaller());
    EXPECT_TRUE(log.Has({ "\tMSI Log file '" + std::string(msi.GetLogPath()) + "'" }));
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

TEST(CMSI, ReportsTheInstallerVersionAsMajorTimesHundredPlusMinor)
{
    InstallerLocationGuard location;
    const std::string system = SystemFolder() + "\\msi.dll";
    const DWORD expected = 405; // Wine's msi.dll is 4.5
    {
        LogCapture log;
        EXPECT_EQ(expected, GetInstallerVersion());
        EXPECT_TRUE(log.Has({ "\tMSI = " + system, "\thas version " + std::to_string(expected) }));
    }
    // No existence fallback here: a folder without the library gives 0.
    fwtest::TempDir empty("nomsi");
    fwtest::SetRegString(HKEY_LOCAL_MACHINE, INSTALLER_REGISTRY_KEY, INSTALLER_LOCATION_VALUE, empty.Path());
    LogCapture log;
    EXPECT_EQ(0u, GetInstallerVersion());
    EXPECT_TRUE(log.Has({ "W\tMSI does not exist!" }));
}

// ---------------------------------------------------------------------------
// Installing and removing the product's package

TEST(CMSI, InstallsThePackageAndReadsBackWhatItRecorded)
{
    const std::string folder = "C:\\Fernwick Test\\ZAPH One";
    fwtest::TestPackageSetup cleanup({ "C:\\Fernwick Test" });
    LogCapture log;

    CMSI msi;
    msi.SetLogEnabled(true);
    Install(msi, fwtest::PackagePath(fwtest::RELEASE_610), { { "LNS", "2" }, { "TARGETDIR", folder }, { "FORCEFOLDER", "false" },
                                         { "AUTOUPGRADE", "false" }, { "SETUPTYPE", "Client" }, { "DOTNET", "true" } });
    EXPECT_EQ(0u, msi.GetLastResult());
    EXPECT_STREQ((folder + "\\").c_str(), msi.GetIntendedPath());
    EXPECT_STREQ(RELEASE1_PACKED, msi.GetPackedProductCode());
    EXPECT_TRUE(log.Has({ "\tMSI InstallProduct (" + fwtest::PackagePath(fwtest::RELEASE_610) + ", LNS=2 TARGETDIR=\"" + folder +
                     "\" FORCEFOLDER=false AUTOUPGRADE=false SETUPTYPE=Client DOTNET=true )",
                 "\tMSI InstallProduct returns '0'", "\t\tIntendedPath = " + folder + "\\",
                 std::string("\t\tProductCode = ") + RELEASE1_CODE + ", " + RELEASE1_PACKED }));

    // What the package made of the properties.
    struct Row
    {
        std::string key;
        const char* name;
        std::string value;
    };
    const Row rows[] = {
        { ProductRegistryKey, PRODUCT_VALUE_INSTALL_PATH, folder + "\\" },
        { ProductRegistryKey, PRODUCT_VALUE_SETUP_TYPE, "Client" },
        { ProductRegistryKey, PRODUCT_VALUE_DOTNET, "Yes" },
        { RECEIVED_KEY, "LNS", "2" },
        { RECEIVED_KEY, "AUTOUPGRADE", "false" },
        { UNINSTALL_KEY + RELEASE1_CODE, "DisplayVersion", "6.1.0" },
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.value, Value(row.key, row.name)) << row.key << " " << row.name;
    // The installer records each key file under the packed codes that the
    // relocation rewrites.
    ExpectKeyFiles(folder, RELEASE1_PACKED, true);

    // The installer wrote its own log, property dump included. (Wine's msi
    // starts the file afresh for each installer session instead of appending.)
    std::string installerLog;
    ASSERT_TRUE(fwtest::ReadBytes(msi.GetLogPath(), installerLog));
    EXPECT_NE(std::string::npos, installerLog.find("Property(S): DOTNET = true"));
    EXPECT_NE(std::string::npos, installerLog.find("Property(S): TARGETDIR = " + folder + "\\"));

    // Removal takes it all away again.
    EXPECT_TRUE(msi.UninstallProduct(RELEASE1_CODE)) << "result " << msi.GetLastResult();
    EXPECT_EQ(0u, msi.GetLastResult());
    EXPECT_TRUE(log.Has({ std::string("\tMSI Uninstall '") + RELEASE1_CODE + "'", "\tMSI ConfigureProduct returns '0'" }));
    EXPECT_EQ(ABSENT, Value(ProductRegistryKey, PRODUCT_VALUE_INSTALL_PATH));
    EXPECT_FALSE(fwtest::IsInstalled(fwtest::RELEASE_610));
    ExpectKeyFiles(folder, RELEASE1_PACKED, false);
}

TEST(CMSI, ReportsTheInstallerResultOfABrokenPackage)
{
    // A file that is not a package: the installer's failure code (Windows says
    // 1620, Wine 1627), and nothing read back.
    fwtest::TestPackageSetup cleanup;
    fwtest::TempDir dir("cmsibad");
    const std::string bad = dir.File("Sys_EN.msi");
    ASSERT_TRUE(fwtest::WriteBytes(bad, "not a package"));
    CMSI msi;
    ASSERT_TRUE(msi.LoadInstaller());
    ASSERT_TRUE(msi.SetPackage(bad.c_str()));
    EXPECT_FALSE(msi.InstallProduct());
    EXPECT_NE(0u, msi.GetLastResult());
    EXPECT_NE((DWORD)ERROR_INVALID_STATE, msi.GetLastResult());
    EXPECT_STREQ("", msi.GetIntendedPath());
    EXPECT_STREQ("", msi.GetPackedProductCode());
}
