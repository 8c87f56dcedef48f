// The product package step against Wine's real msi.dll and the stand-in
// releases of tests/fixtures/packages. A fresh installation, an upgrade in the
// same folder, a move, a client, the .NET edition, a failing package and a
// missing one are rows of e2e_install; this is what those do not reach: a
// package that asks for a restart, which must not be lost, and a package
// folder that holds something else.
#include <gtest/gtest.h>

#include <string>

#include "AppStage.h" // winsock2.h before windows.h

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CMSI.h"
#include "MachineStates.h"
#include "Phases.h"
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

// A package folder that holds something else: the product takes a subfolder
// of it, where the move puts the data and the package's Bin folder. A client
// moves neither, so it stays in the folder the package installed to, and
// InstallPath, key paths and shortcuts name the folder its files are in.
TEST(ProductPackage, ForeignPackageFolder)
{
    const std::string packageDir = "C:\\FwPkgForeign";
    TestPackageSetup packages({ packageDir });
    MachineState machine;
    CMSI msi;
    ASSERT_TRUE(msi.LoadInstaller());
    ASSERT_TRUE(msi.SetPackage((PackagesDir() + "\\" + RELEASE_620_CLIENT.folder + "\\Sys_EN.msi").c_str()));
    ASSERT_TRUE(msi.SetProperty("TARGETDIR", packageDir.c_str()));
    ASSERT_TRUE(msi.SetProperty("AUTOUPGRADE", "true"));
    ASSERT_TRUE(msi.InstallProduct()) << msi.GetLastResult();
    // Without its main programs and beside another product's, the folder is foreign.
    ASSERT_TRUE(DeleteFileA((packageDir + "\\Login.exe").c_str()));
    ASSERT_TRUE(DeleteFileA((packageDir + "\\Zaph.exe").c_str()));
    ASSERT_TRUE(WriteBytes(packageDir + "\\Other.exe", "another product"));
    g_msi = &msi;
    RunState.Reset();
    RunState.defaultTargetDir = "C:\\Program Files\\ZAPH";
    for (const char* setupType : { "Client", "Server" })
    {
        SCOPED_TRACE(setupType);
        const bool client = std::string(setupType) == "Client";
        machine.SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ombrant\\ZAPH QRT", "SetupType", setupType);
        SequenceLocals locals;
        locals.relocation.oldDir = (machine.Root() + "\\earlier").c_str();
        PhaseDirectoryChange(locals);
        EXPECT_TRUE(locals.relocation.dirMoved);
        EXPECT_EQ(!client, locals.relocation.subdirAppended);
        EXPECT_EQ(!client, locals.relocation.registryUpdateNeeded);
        EXPECT_EQ(client ? packageDir : packageDir + "\\ZAPH", std::string(locals.relocation.newDir.GetNarrow()));
    }
    g_msi = NULL;
}
