// The product package step against Wine's real msi.dll and the stand-in
// releases of tests/fixtures/packages. A fresh installation, an upgrade in the
// same folder, a move, a client, the .NET edition, a failing package and a
// missing one are rows of e2e_install; these are what those do not reach: an
// earlier registration whose folder is gone, and a package that asks for a
// restart.
#include <gtest/gtest.h>

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

using namespace fwtest;

TEST(ProductPackage, FolderGoneAndRestart)
{
    struct Row
    {
        const char* name;
        const TestRelease* earlier; // installed at C:\FwPkg\Old first, or null
        const TestRelease* release;
        const char* targetDir;
        bool reboot;
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        { "registered, folder gone", &RELEASE_610, &RELEASE_620, "C:\\FwPkg\\Gone", false,
          { "W\tPrevious MSI registration found but directory does *NOT* exist/missing.",
            "\tClient-server prompt / Folder prompt." } },
        { "restart requested", NULL, &RELEASE_620_RESTART, "C:\\FwPkg\\Old", true,
          { "\t**> Installation returned '3010' '<>'.", "\tWe will issue the reboot reminder at the end." } },
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        TestPackageSetup machine({ "C:\\FwPkg" });
        if (row.earlier != NULL)
        {
            ASSERT_EQ(0u, machine.Install(*row.earlier, "TARGETDIR=C:\\FwPkg\\Old"));
        }
        BoxAnswerer robot;
        AppStage stage(std::string("[Settings]\r\nSYS_LN_DIR=") + row.release->folder +
                           "\r\n[Components]\r\nx\r\n[CheckSums]\r\nx=0\r\n[Additional]\r\nx\r\n"
                           "[Labels_EN]\r\nErrorOccurred=Error: %s\r\n",
                       PackagesDir());
        CMSI msi;
        g_msi = &msi;
        RunState.Reset();
        RunState.targetDir = row.targetDir;
        RunState.defaultTargetDir = "C:\\FwPkg\\Default";
        RunState.languageCount = 2;

        DWORD result = 12345;
        EXPECT_TRUE(InstallProductPackage(result, false));
        g_msi = NULL;
        EXPECT_EQ(0u, result);
        EXPECT_EQ(row.reboot, RunState.rebootNeeded);
        EXPECT_TRUE(robot.Texts().empty()) << robot.Texts()[0];
        EXPECT_EQ(std::string(row.targetDir) + "\\", RegString(HKEY_LOCAL_MACHINE, ProductRegistryKey, "InstallPath"));
        EXPECT_TRUE(IsInstalled(*row.release));
        if (row.earlier != NULL)
        {
            EXPECT_FALSE(IsInstalled(*row.earlier));
        }
        EXPECT_TRUE(stage.log.Has(row.lines));
    }
}
