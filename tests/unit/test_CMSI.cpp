// CMSI against Wine's real msi.dll and the stand-in system packages built from
// tests/fixtures/packages (bin/packages/<version>/Sys_<lang>.msi).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "CMSI.h"
#include "Log.h"
#include "TestSupport.h"

namespace
{
const char RELEASE1_CODE[] = "{12345678-5A1E-4B7D-8C20-91F3C6A0D4E8}";
const char RELEASE1_PACKED[] = "87654321E1A5D7B4C802193F6C0A4D8E";
const char RELEASE2_CODE[] = "{23456789-5A1E-4B7D-8C20-91F3C6A0D4E8}";
const char RELEASE2_PACKED[] = "98765432E1A5D7B4C802193F6C0A4D8E";
const char COMPONENTS_KEY[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";
const char UNINSTALL_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// The package's test inputs and its record of the properties it received.
const char TEST_PACKAGE_KEY[] = "SOFTWARE\\Fernwick\\TestPackage";
const char RECEIVED_KEY[] = "SOFTWARE\\Fernwick\\TestPackage\\Received";

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

std::string PackagePath(const char* version, const char* language = "EN")
{
    return fwtest::BinDir() + "\\packages\\" + version + "\\Sys_" + language + ".msi";
}

bool ReadString(const char* keyPath, const char* name, std::string& out)
{
    out.clear();
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char data[1024] = "";
    DWORD size = sizeof(data) - 1;
    DWORD type = 0;
    LONG rc = RegQueryValueExA(key, name, NULL, &type, (BYTE*)data, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return false;
    data[size] = 0;
    out = data;
    return true;
}

bool KeyExists(const std::string& keyPath)
{
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void SetString(const char* keyPath, const char* name, const char* value)
{
    HKEY key = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, NULL, 0,
                                             KEY_SET_VALUE, NULL, &key, NULL));
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)value, (DWORD)strlen(value) + 1);
    RegCloseKey(key);
}

void DeleteValue(const char* keyPath, const char* name)
{
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

std::string SystemLibraryPath()
{
    char folder[MAX_PATH] = "";
    GetSystemDirectoryA(folder, sizeof(folder));
    return std::string(folder) + "\\msi.dll";
}

bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string Dump(const std::vector<std::string>& lines)
{
    std::string all;
    for (size_t i = 0; i < lines.size(); ++i)
        all += lines[i] + "\n";
    return all;
}

// Sends the program's log to a file of its own for one test.
class LogCapture
{
public:
    LogCapture() : m_dir("cmsilog")
    {
        m_path = m_dir.File("test.log");
        SetLogFile(m_path.c_str());
        SetLogVerbosity(DEFAULT_LOG_VERBOSITY);
    }
    ~LogCapture() { SetLogFile(""); }
    std::vector<std::string> Lines() const { return fwtest::ReadLines(m_path); }

private:
    fwtest::TempDir m_dir;
    std::string m_path;
};

// Restores the system's InstallerLocation, present or not, whatever the test did.
class InstallerLocationGuard
{
public:
    InstallerLocationGuard()
    {
        m_present = ReadString(INSTALLER_REGISTRY_KEY, INSTALLER_LOCATION_VALUE, m_value);
    }
    ~InstallerLocationGuard()
    {
        if (m_present)
            SetString(INSTALLER_REGISTRY_KEY, INSTALLER_LOCATION_VALUE, m_value.c_str());
        else
            DeleteValue(INSTALLER_REGISTRY_KEY, INSTALLER_LOCATION_VALUE);
    }
    const std::string& Original() const { return m_value; }

private:
    bool m_present;
    std::string m_value;
};

// Removes every release of the test product and what the tests left around
// it, through msi.dll directly (not through the class under test), so that a
// failing test leaves a clean machine.
class ProductCleanup
{
public:
    explicit ProductCleanup(const std::vector<std::string>& folders = std::vector<std::string>())
        : m_folders(folders)
    {
        RemoveAll();
    }
    ~ProductCleanup() { RemoveAll(); }

private:
    std::vector<std::string> m_folders;

    void RemoveAll()
    {
        HMODULE msi = LoadLibraryA("msi.dll");
        if (msi != NULL)
        {
            MsiSetInternalUIFn setUI = (MsiSetInternalUIFn)(void*)GetProcAddress(msi, "MsiSetInternalUI");
            MsiConfigureProductExAFn configure =
                (MsiConfigureProductExAFn)(void*)GetProcAddress(msi, "MsiConfigureProductExA");
            if (setUI && configure)
            {
                setUI(MSI_UI_LEVEL_NONE, NULL);
                const char* codes[] = { RELEASE1_CODE, RELEASE2_CODE };
                for (const char* code : codes)
                    if (KeyExists(std::string(UNINSTALL_KEY) + "\\" + code))
                        configure(code, 0, MSI_INSTALL_STATE_ABSENT, "");
            }
            FreeLibrary(msi);
        }
        DeleteValue(TEST_PACKAGE_KEY, "FolderPromptAnswer");
        for (size_t i = 0; i < m_folders.size(); ++i)
            fwtest::DeleteTree(m_folders[i]);
    }
};

bool ReadBack(const char* keyPath, const char* name, std::string& out)
{
    return ReadString(keyPath, name, out);
}
} // namespace

// ---------------------------------------------------------------------------
// Properties and product codes

TEST(CMSI, StoresPropertyValuesReadyForTheCommandLine)
{
    struct Row
    {
        const char* value;
        const char* stored;
    };
    const Row rows[] = {
        { "2", "2" },
        { "C:\\Program Files\\ZAPH", "\"C:\\Program Files\\ZAPH\"" },
        { "tab\there", "\"tab\there\"" },
        // A quote can neither end the value early nor start a property of its own.
        { "C:\\a\" EVIL=1", "\"C:\\a\"\" EVIL=1\"" },
        { "x\"y", "\"x\"\"y\"" },
    };
    for (const Row& row : rows)
    {
        CMSI msi;
        ASSERT_TRUE(msi.SetProperty("TARGETDIR", row.value)) << row.value;
        ASSERT_EQ(1, msi.GetPropertyCount());
        EXPECT_STREQ("TARGETDIR", msi.GetPropertyName(0));
        EXPECT_STREQ(row.stored, msi.GetPropertyValue(0)) << row.value;
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
    {
        std::string name = "P" + std::to_string(i);
        ASSERT_TRUE(msi.SetProperty(name.c_str(), "v")) << name;
    }
    EXPECT_FALSE(msi.SetProperty("ELEVENTH", "v"));
    // A known name, in any case, still gets its new value when all places are taken.
    EXPECT_TRUE(msi.SetProperty("p3", "new value"));
    EXPECT_EQ(MSI_MAX_PROPERTIES, msi.GetPropertyCount());
    EXPECT_STREQ("p3", msi.GetPropertyName(3));
    EXPECT_STREQ("\"new value\"", msi.GetPropertyValue(3));
}

TEST(CMSI, PacksProductCodesOfThisProduct)
{
    struct Row
    {
        const char* code;
        const char* packed;   // null: refused
    };
    const Row rows[] = {
        { "{12345678-5A1E-4B7D-8C20-91F3C6A0D4E8}", "87654321E1A5D7B4C802193F6C0A4D8E" },
        { "{abcdef01-5A1E-4B7D-8C20-91F3C6A0D4E8}", "10fedcbaE1A5D7B4C802193F6C0A4D8E" },
        { "{12345678}", "87654321E1A5D7B4C802193F6C0A4D8E" },
        { "12345678-5A1E-4B7D-8C20-91F3C6A0D4E8", NULL },
        { "{1234567}", NULL },
        { "{1234567G-5A1E-4B7D-8C20-91F3C6A0D4E8}", NULL },
        { "", NULL },
    };
    for (const Row& row : rows)
    {
        char packed[MSI_PACKED_CODE_SIZE] = "junk";
        EXPECT_EQ(row.packed != NULL, PackProductCode(row.code, packed)) << row.code;
        EXPECT_STREQ(row.packed ? row.packed : "", packed) << row.code;
    }
}

// ---------------------------------------------------------------------------
// Loading the library

TEST(CMSI, LoadsTheLibraryNamedByTheRegistryOrFallsBack)
{
    InstallerLocationGuard location;
    fwtest::TempDir empty("nomsi");
    const std::string system = SystemLibraryPath();
    char systemFolder[MAX_PATH] = "";
    GetSystemDirectoryA(systemFolder, sizeof(systemFolder));

    struct Row
    {
        const char* name;
        std::string location;   // empty: value absent
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        { "registry folder", systemFolder,
          { "\tMSI Location according to Registry '" + system + "'", "\tLoaded '" + system + "'" } },
        { "trailing backslash", std::string(systemFolder) + "\\",
          { "\tMSI Location according to Registry '" + system + "'", "\tLoaded '" + system + "'" } },
        { "folder without msi.dll", empty.Path(),
          { "\tMSI Location according to Registry '" + empty.Path() + "\\msi.dll'",
            "\tMSI '" + empty.Path() + "\\msi.dll' not found.",
            "\tTrying fallback '" + system + "'", "\tLoaded '" + system + "'" } },
        { "no registry value", "",
          { "\tMSI '' not found.", "\tTrying fallback '" + system + "'",
            "\tLoaded '" + system + "'" } },
    };
    for (const Row& row : rows)
    {
        if (row.location.empty())
            DeleteValue(INSTALLER_REGISTRY_KEY, INSTALLER_LOCATION_VALUE);
        else
            SetString(INSTALLER_REGISTRY_KEY, INSTALLER_LOCATION_VALUE, row.location.c_str());
        LogCapture log;
        CMSI msi;
        ASSERT_TRUE(msi.LoadInstaller()) << row.name;
        EXPECT_EQ(0u, msi.GetLastResult()) << row.name;
        EXPECT_STREQ(system.c_str(), msi.GetLibraryPath()) << row.name;
        std::vector<std::string> lines = log.Lines();
        EXPECT_EQ(row.lines, std::vector<std::string>(lines.begin(), lines.end()))
            << row.name << "\n" << Dump(lines);
        // A second call finds the library loaded and logs nothing more.
        EXPECT_TRUE(msi.LoadInstaller());
        EXPECT_EQ(lines.size(), log.Lines().size()) << row.name;
    }
}

TEST(CMSI, SwitchesOnTheInstallerLogWhenAsked)
{
    LogCapture log;
    CMSI msi;
    std::string logPath = msi.GetLogPath();
    char day[16];
    FormatTimestamp(day, true);
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    EXPECT_EQ(std::string(temp) + "MSI_" + day + ".log", logPath);

    msi.SetLogEnabled(true);
    ASSERT_TRUE(msi.LoadInstaller());
    EXPECT_TRUE(Contains(log.Lines(), "\tMSI Log file '" + logPath + "'")) << Dump(log.Lines());
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
    EXPECT_TRUE(msi.SetPackage(PackagePath("6.1.0").c_str()));

    std::vector<std::string> lines = log.Lines();
    EXPECT_TRUE(Contains(lines, "E\t*local* MSI file doesn't exist '" + missing + "'.")) << Dump(lines);
    EXPECT_TRUE(Contains(lines, "E\tMSI too long '" + longUrl + "'.")) << Dump(lines);
    EXPECT_TRUE(Contains(lines, "\tInstalling using working file '" + url + "'.")) << Dump(lines);
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
    const DWORD silent[] = { 0, 1259, 1602, 1603, 1604, 1641, 3010 };
    for (DWORD code : silent)
        EXPECT_EQ(NULL, msi.GetErrorText(code)) << code;
    // Wine's msi.dll holds no message strings: every other code gets the
    // fixed text (2, 3 and 123 asking for 1619's).
    const DWORD worded[] = { 2, 3, 123, 1619, 1605, 1638 };
    for (DWORD code : worded)
        EXPECT_STREQ(MSI_NO_ERROR_TEXT, msi.GetErrorText(code)) << code;
}

TEST(CMSI, ReportsTheInstallerVersionAsMajorTimesHundredPlusMinor)
{
    InstallerLocationGuard location;
    // The expected figure from the library's own version resource.
    const std::string system = SystemLibraryPath();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(system.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(system.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* info = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", (void**)&info, &length));
    DWORD expected = HIWORD(info->dwFileVersionMS) * 100 + LOWORD(info->dwFileVersionMS);
    EXPECT_GE(expected, 405u);   // Wine's msi.dll is 4.5

    {
        LogCapture log;
        EXPECT_EQ(expected, GetInstallerVersion());
        std::vector<std::string> lines = log.Lines();
        EXPECT_TRUE(Contains(lines, "\tMSI = " + system)) << Dump(lines);
        EXPECT_TRUE(Contains(lines, "\thas version " + std::to_string(expected))) << Dump(lines);
    }
    {
        // No existence fallback here: a folder without the library gives 0.
        fwtest::TempDir empty("nomsi");
        SetString(INSTALLER_REGISTRY_KEY, INSTALLER_LOCATION_VALUE, empty.Path().c_str());
        LogCapture log;
        EXPECT_EQ(0u, GetInstallerVersion());
        EXPECT_TRUE(Contains(log.Lines(), "W\tMSI does not exist!")) << Dump(log.Lines());
    }
}

// ---------------------------------------------------------------------------
// Installing and removing the product's package

TEST(CMSI, InstallsThePackageAndReadsBackWhatItRecorded)
{
    const std::string folder = "C:\\Fernwick Test\\ZAPH One";
    ProductCleanup cleanup({ "C:\\Fernwick Test" });
    LogCapture log;

    CMSI msi;
    msi.SetLogEnabled(true);
    ASSERT_TRUE(msi.LoadInstaller());
    ASSERT_TRUE(msi.SetPackage(PackagePath("6.1.0").c_str()));
    ASSERT_TRUE(msi.SetProperty("LNS", "2"));
    ASSERT_TRUE(msi.SetProperty("TARGETDIR", folder.c_str()));
    ASSERT_TRUE(msi.SetProperty("FORCEFOLDER", "false"));
    ASSERT_TRUE(msi.SetProperty("AUTOUPGRADE", "false"));
    ASSERT_TRUE(msi.SetProperty("SETUPTYPE", "Client"));
    ASSERT_TRUE(msi.SetProperty("DOTNET", "true"));
    ASSERT_TRUE(msi.InstallProduct()) << "result " << msi.GetLastResult();
    EXPECT_EQ(0u, msi.GetLastResult());
    EXPECT_STREQ((folder + "\\").c_str(), msi.GetIntendedPath());
    EXPECT_STREQ(RELEASE1_PACKED, msi.GetPackedProductCode());

    std::vector<std::string> lines = log.Lines();
    EXPECT_TRUE(Contains(lines, "\tMSI InstallProduct (" + PackagePath("6.1.0") +
                                    ", LNS=2 TARGETDIR=\"" + folder +
                                    "\" FORCEFOLDER=false AUTOUPGRADE=false SETUPTYPE=Client "
                                    "DOTNET=true )"))
        << Dump(lines);
    EXPECT_TRUE(Contains(lines, "\tMSI InstallProduct returns '0'")) << Dump(lines);
    EXPECT_TRUE(Contains(lines, "\t\tIntendedPath = " + folder + "\\")) << Dump(lines);
    EXPECT_TRUE(Contains(lines, std::string("\t\tProductCode = ") + RELEASE1_CODE + ", " +
                                    RELEASE1_PACKED))
        << Dump(lines);

    // What the package made of the properties.
    std::string value;
    EXPECT_TRUE(ReadBack(ProductRegistryKey, PRODUCT_VALUE_INSTALL_PATH, value));
    EXPECT_EQ(folder + "\\", value);
    EXPECT_TRUE(ReadBack(ProductRegistryKey, PRODUCT_VALUE_SETUP_TYPE, value));
    EXPECT_EQ("Client", value);
    EXPECT_TRUE(ReadBack(ProductRegistryKey, PRODUCT_VALUE_DOTNET, value));
    EXPECT_EQ("Yes", value);
    EXPECT_TRUE(ReadBack(RECEIVED_KEY, "LNS", value));
    EXPECT_EQ("2", value);
    EXPECT_TRUE(ReadBack(RECEIVED_KEY, "AUTOUPGRADE", value));
    EXPECT_EQ("false", value);
    EXPECT_TRUE(ReadBack(std::string(UNINSTALL_KEY).append("\\").append(RELEASE1_CODE).c_str(),
                         "DisplayVersion", value));
    EXPECT_EQ("6.1.0", value);

    // The installer records each key file under the packed codes that the
    // relocation rewrites.
    for (const KeyFile& file : KEY_FILES)
    {
        std::string key = std::string(COMPONENTS_KEY) + "\\" + file.packedComponent;
        EXPECT_TRUE(ReadBack(key.c_str(), RELEASE1_PACKED, value)) << file.relative;
        EXPECT_EQ(folder + "\\" + file.relative, value);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES,
                  GetFileAttributesA((folder + "\\" + file.relative).c_str()))
            << file.relative;
    }

    // The installer wrote its own log, property dump included. (Wine's msi
    // starts the file afresh for each installer session instead of appending.)
    std::string installerLog;
    ASSERT_TRUE(fwtest::ReadBytes(msi.GetLogPath(), installerLog));
    EXPECT_NE(std::string::npos, installerLog.find("Property(S): DOTNET = true"));
    EXPECT_NE(std::string::npos, installerLog.find("Property(S): TARGETDIR = " + folder + "\\"));

    // Removal takes it all away again.
    EXPECT_TRUE(msi.UninstallProduct(RELEASE1_CODE)) << "result " << msi.GetLastResult();
    EXPECT_EQ(0u, msi.GetLastResult());
    EXPECT_TRUE(Contains(log.Lines(), std::string("\tMSI Uninstall '") + RELEASE1_CODE + "'"));
    EXPECT_TRUE(Contains(log.Lines(), "\tMSI ConfigureProduct returns '0'"));
    EXPECT_FALSE(ReadBack(ProductRegistryKey, PRODUCT_VALUE_INSTALL_PATH, value));
    EXPECT_FALSE(KeyExists(std::string(UNINSTALL_KEY) + "\\" + RELEASE1_CODE));
    for (const KeyFile& file : KEY_FILES)
    {
        std::string key = std::string(COMPONENTS_KEY) + "\\" + file.packedComponent;
        EXPECT_FALSE(ReadBack(key.c_str(), RELEASE1_PACKED, value)) << file.relative;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
                  GetFileAttributesA((folder + "\\" + file.relative).c_str()))
            << file.relative;
    }
}

TEST(CMSI, PackageChoosesItsFolderFromTheProperties)
{
    // The package's folder: the folder prompt's answer (only when the prompt
    // would be shown, AUTOUPGRADE not "true"), else TARGETDIR, else DEFAULTDIR,
    // else Program Files\ZAPH. The prompt's answer comes from the registry.
    char programFiles[MAX_PATH] = "C:\\Program Files";
    DWORD size = sizeof(programFiles);
    RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                 "ProgramFilesDir", RRF_RT_REG_SZ, NULL, programFiles, &size);
    struct Row
    {
        const char* targetDir;
        const char* defaultDir;
        const char* promptAnswer;
        const char* autoUpgrade;
        std::string intended;
    };
    const Row rows[] = {
        { "", "C:\\FwPkg\\Default", "", "false", "C:\\FwPkg\\Default\\" },
        { "C:\\FwPkg\\Target", "", "C:\\FwPkg\\Prompt", "false", "C:\\FwPkg\\Prompt\\" },
        { "C:\\FwPkg\\Target", "", "C:\\FwPkg\\Prompt", "true", "C:\\FwPkg\\Target\\" },
        { "", "", "", "true", std::string(programFiles) + "\\ZAPH\\" },
    };
    for (const Row& row : rows)
    {
        ProductCleanup cleanup({ "C:\\FwPkg", std::string(programFiles) + "\\ZAPH" });
        if (row.promptAnswer[0] != 0)
            SetString(TEST_PACKAGE_KEY, "FolderPromptAnswer", row.promptAnswer);
        CMSI msi;
        ASSERT_TRUE(msi.LoadInstaller());
        ASSERT_TRUE(msi.SetPackage(PackagePath("6.1.0", "FR").c_str()));
        msi.SetProperty("TARGETDIR", row.targetDir);
        msi.SetProperty("DEFAULTDIR", row.defaultDir);
        msi.SetProperty("AUTOUPGRADE", row.autoUpgrade);
        ASSERT_TRUE(msi.InstallProduct()) << "result " << msi.GetLastResult();
        EXPECT_EQ(row.intended, msi.GetIntendedPath()) << row.intended;
        std::string value;
        EXPECT_TRUE(ReadBack(ProductRegistryKey, PRODUCT_VALUE_SETUP_TYPE, value));
        EXPECT_EQ("Server", value);
        EXPECT_TRUE(ReadBack(ProductRegistryKey, PRODUCT_VALUE_DOTNET, value));
        EXPECT_EQ("No", value);
    }
}

TEST(CMSI, SecondReleaseUpgradesTheFirst)
{
    const std::string folder = "C:\\FwUpgrade";
    ProductCleanup cleanup({ folder });
    {
        CMSI msi;
        ASSERT_TRUE(msi.LoadInstaller());
        ASSERT_TRUE(msi.SetPackage(PackagePath("6.1.0", "DE").c_str()));
        ASSERT_TRUE(msi.SetProperty("TARGETDIR", folder.c_str()));
        ASSERT_TRUE(msi.InstallProduct()) << "result " << msi.GetLastResult();
        EXPECT_STREQ(RELEASE1_PACKED, msi.GetPackedProductCode());
    }
    CMSI msi;
    ASSERT_TRUE(msi.LoadInstaller());
    ASSERT_TRUE(msi.SetPackage(PackagePath("6.2.0", "DE").c_str()));
    ASSERT_TRUE(msi.SetProperty("TARGETDIR", folder.c_str()));
    ASSERT_TRUE(msi.SetProperty("AUTOUPGRADE", "true"));
    ASSERT_TRUE(msi.InstallProduct()) << "result " << msi.GetLastResult();
    EXPECT_STREQ(RELEASE2_PACKED, msi.GetPackedProductCode());
    EXPECT_STREQ((folder + "\\").c_str(), msi.GetIntendedPath());

    std::string value;
    EXPECT_FALSE(KeyExists(std::string(UNINSTALL_KEY) + "\\" + RELEASE1_CODE));
    EXPECT_TRUE(ReadBack(std::string(UNINSTALL_KEY).append("\\").append(RELEASE2_CODE).c_str(),
                         "DisplayVersion", value));
    EXPECT_EQ("6.2.0", value);
    for (const KeyFile& file : KEY_FILES)
    {
        std::string key = std::string(COMPONENTS_KEY) + "\\" + file.packedComponent;
        EXPECT_FALSE(ReadBack(key.c_str(), RELEASE1_PACKED, value)) << file.relative;
        EXPECT_TRUE(ReadBack(key.c_str(), RELEASE2_PACKED, value)) << file.relative;
        EXPECT_EQ(folder + "\\" + file.relative, value);
    }
    std::string zaph;
    ASSERT_TRUE(fwtest::ReadBytes(folder + "\\Zaph.exe", zaph));
    EXPECT_NE(std::string::npos, zaph.find("6.2.0"));

    EXPECT_TRUE(msi.UninstallProduct(RELEASE2_CODE)) << "result " << msi.GetLastResult();
    EXPECT_FALSE(KeyExists(std::string(UNINSTALL_KEY) + "\\" + RELEASE2_CODE));
}

TEST(CMSI, ReportsTheInstallerResultOfABrokenPackage)
{
    // A file that is not a package: the installer's failure code (Windows says
    // 1620, Wine 1627), and nothing read back.
    ProductCleanup cleanup;
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
