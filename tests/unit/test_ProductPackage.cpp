// The product package step against Wine's real msi.dll and the stand-in
// releases of tests/fixtures/packages: what the package receives, what the
// installer's result becomes. A fresh installation, an upgrade in the same
// folder, a package that moves the product, a client and a failing package
// over an earlier release are rows of e2e_install; these are what those do
// not reach.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AppStage.h" // winsock2.h before windows.h

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CMSI.h"
#include "MachineStates.h"
#include "ProductPackage.h"
#include "RunState.h"
#include "TestPackages.h"
#include "TestSupport.h"

using namespace fwtest;

namespace
{
const char OLD_DIR[] = "C:\\FwPkg\\Old";
const char DEFAULT_DIR[] = "C:\\FwPkg\\Default";

// The step's objects for one run: settings naming the release's folder as
// SYS_LN_DIR below the packages, and the installer with its log switched on.
struct StepObjects
{
    explicit StepObjects(const char* packageFolder)
        : stage(std::string("[Settings]\r\nSYS_LN_DIR=") + packageFolder +
                    "\r\n[Components]\r\nx\r\n[CheckSums]\r\nx=0\r\n[Additional]\r\nx\r\n[Labels_EN]\r\nErrorOccurred=Error: %s\r\n"
                    "FailLoadMSI=no installer\r\nFailFile=Cannot open %hs from %hs\r\nWasCancelled=Cancelled\r\n",
                PackagesDir())
    {
        msi.SetLogEnabled(true);
        DeleteFileA(msi.GetLogPath()); // only this run's installer session is read back
        g_msi = &msi;
    }
    ~StepObjects() { g_msi = NULL; }
    std::string InstallerLog() const
    {
        std::string text;
        ReadBytes(msi.GetLogPath(), text);
        return text;
    }

    AppStage stage;
    CMSI msi;
};

void ExpectLogged(const std::vector<std::string>& log, const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        EXPECT_NE(log.end(), std::find(log.begin(), log.end(), line)) << "not in the log: " << line;
}

// What the package received, from the installer's own property dump; "" for
// a property that was not passed.
std::string Received(const std::string& installerLog, const char* name)
{
    std::string marker = std::string("Property(S): ") + name + " = ";
    size_t at = installerLog.rfind(marker);
    if (at == std::string::npos)
        return "";
    at += marker.size();
    return installerLog.substr(at, installerLog.find_first_of("\r\n", at) - at);
}
} // namespace

TEST(ProductPackage, InstallsTheReleaseAndJudgesTheInstallerResult)
{
    struct Row
    {
        const char* name;
        const TestRelease* earlier;   // installed at OLD_DIR first, or null
        const TestRelease* release;
        const char* targetDir;
        bool autoUpgrade, dotNet, isClient;
        // Expected: step outcome, result, restart, properties received
        // (AUTOUPGRADE, TARGETDIR, DEFAULTDIR, SETUPTYPE, DOTNET), product key
        // afterwards (InstallPath, SetupType, DotNet), log lines.
        bool ok;
        std::vector<DWORD> results;
        bool reboot;
        std::vector<std::string> received;
        std::vector<std::string> key;
        std::vector<std::string> lines;
    };
    const std::string old = std::string(OLD_DIR) + "\\";
    const std::string hidden = "\tNo folder prompt / No client-server prompt.";
    const std::string shown = "\tClient-server prompt / Folder prompt.";
    const Row rows[] = {
        { "registered, folder gone", &RELEASE_610, &RELEASE_620, "C:\\FwPkg\\Gone", false, false, false, true, { 0 },
          false, { "false", "C:\\FwPkg\\Gone", DEFAULT_DIR, "Server", "" }, { "C:\\FwPkg\\Gone\\", "Server", "No" },
          { "W\tPrevious MSI registration found but directory does *NOT* exist/missing.", shown } },
        { ".NET edition", NULL, &RELEASE_620_DOTNET, OLD_DIR, false, true, false, true, { 0 }, false,
          { "false", OLD_DIR, DEFAULT_DIR, "Server", "true" }, { old, "Server", "Yes" }, {} },
        { "restart requested", NULL, &RELEASE_620_RESTART, OLD_DIR, false, false, false, true, { 0 }, true,
          { "false", OLD_DIR, DEFAULT_DIR, "Server", "" }, { old, "Server", "No" },
          { "\t**> Installation returned '3010' '<>'.", "\tWe will issue the reboot reminder at the end." } },
    };
    const char* properties[] = { "AUTOUPGRADE", "TARGETDIR", "DEFAULTDIR", "SETUPTYPE", "DOTNET" };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        TestPackageSetup machine({ "C:\\FwPkg", MovedFolder() + ".." });
        if (row.earlier != NULL)
        {
            ASSERT_EQ(0u, machine.Install(*row.earlier, std::string("TARGETDIR=") + OLD_DIR));
        }
        BoxAnswerer robot;
        StepObjects step(row.release->folder);
        RunState.Reset();
        RunState.targetDir = row.targetDir;
        RunState.defaultTargetDir = DEFAULT_DIR;
        RunState.autoUpgrade = row.autoUpgrade;
        RunState.dotNetEdition = row.dotNet;
        RunState.languageCount = 2;

        DWORD result = 12345;
        EXPECT_EQ(row.ok, InstallProductPackage(result, row.isClient));
        EXPECT_NE(row.results.end(), std::find(row.results.begin(), row.results.end(), result)) << result;
        EXPECT_EQ(row.reboot, RunState.rebootNeeded);
        EXPECT_TRUE(robot.Texts().empty()) << robot.Texts()[0];

        std::string installerLog = step.InstallerLog();
        EXPECT_EQ("2", Received(installerLog, "LNS"));
        EXPECT_EQ("false", Received(installerLog, "FORCEFOLDER"));
        for (size_t i = 0; i < row.received.size(); ++i)
        {
            std::string value = Received(installerLog, properties[i]);
            // The installer ends a folder property with a backslash once it has resolved it.
            if (i == 1 && !value.empty() && value.back() == '\\' && row.received[i].back() != '\\')
                value.pop_back();
            EXPECT_EQ(row.received[i], value) << properties[i];
        }
        const char* values[] = { "InstallPath", "SetupType", "DotNet" };
        for (size_t i = 0; i < row.key.size(); ++i)
            EXPECT_EQ(row.key[i], RegString(HKEY_LOCAL_MACHINE, ProductRegistryKey, values[i])) << values[i];
        // The earlier release is replaced by an upgrade, untouched after a failure.
        if (row.earlier != NULL)
        {
            EXPECT_EQ(!row.ok, IsInstalled(*row.earlier));
            EXPECT_EQ(row.ok, IsInstalled(*row.release));
            if (!row.ok || row.key[0] == old)
            {
                EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((old + "Bin\\dunzip32.dll").c_str()));
            }
        }
        std::vector<std::string> log = step.stage.log.Lines();
        ExpectLogged(log, row.lines);
        ExpectLogged(log, { "\tAssimilation imminent; 7 of 9" });
    }
}

TEST(ProductPackage, StopsBeforeTheInstallerWhenThePackageIsMissing)
{
    TestPackageSetup machine;
    BoxAnswerer robot;
    StepObjects step("6.0.0");
    RunState.Reset();
    DWORD result = 0;
    EXPECT_FALSE(InstallProductPackage(result, false));
    EXPECT_EQ(MSI_RESULT_REFUSED, result);
    std::vector<std::string> log = step.stage.log.Lines();
    EXPECT_NE(log.end(), std::find_if(log.begin(), log.end(), [](const std::string& line) {
                  return line.find("E\tMSI problem '") == 0 && line.find("sys_en.msi'") != std::string::npos;
              }));
}
