// The product package step against Wine's real msi.dll and the stand-in
// releases of tests/fixtures/packages. A fresh installation, an upgrade in the
// same folder, a move, a client, the .NET edition, a failing package and a
// missing one are rows of e2e_install; this is what those do not reach: a
// package that asks for a restart, which must not be lost.
#include <gtest/gtest.h>

#include <string>

#include "AppStage.h" // winsock2.h before windows.h

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CMSI.h"
#include "ProductPackage.h"
#include "RunState.h"
#include "TestPackages.h"

using namespace fwtest;

TEST(ProductPackage, RestartAskedByThePackage)
{
    TestPackageSetup machine({ "C:\\FwPkg" });
    BoxAnswerer robot;
    AppStage stage(std::string("[Settings]\r\nSYS_LN_DIR=") + RELEASE_620_RESTART.folder +
                       "\r\n[Components]\r\nx\r\n[CheckSums]\r\nx=0\r\n[Additional]\r\nx\r\n"
                       "[Labels_EN]\r\nErrorOccurred=Error: %s\r\n",
                   PackagesDir());
    CMSI msi;
    g_msi = &msi;
    RunState.Reset();
    RunState.targetDir = "C:\\FwPkg\\Old";
    RunState.defaultTargetDir = "C:\\FwPkg\\Default";
    RunState.languageCount = 2;

    DWORD result = 12345;
    EXPECT_TRUE(InstallProductPackage(result, false));
    g_msi = NULL;
    EXPECT_EQ(0u, result);
    EXPECT_TRUE(RunState.rebootNeeded);
    EXPECT_TRUE(robot.Texts().empty()) << robot.Texts()[0];
    EXPECT_TRUE(IsInstalled(RELEASE_620_RESTART));
}
