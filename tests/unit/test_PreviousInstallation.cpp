// Finding, classifying and checking an earlier installation, over the shared
// machine states: real registry values, folders and a real installed package.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CMSI.h"
#include "CMainUI.h"
#include "CResource.h"
#include "LogCapture.h"
#include "MachineStates.h"
#include "PreviousInstallation.h"
#include "RunState.h"
#include "Shortcuts.h"
#include "TestSupport.h"

using namespace fwtest;

namespace
{
const char SETUP_SETTINGS[] = "[Settings]\r\nIniVersion=6.2\r\n[Components]\r\nx\r\n[CheckSums]\r\nx=0\r\n"
                              "[Additional]\r\nx\r\n[Labels_EN]\r\nNoInstallation=No installation in %hs\r\n"
                              "UninstallFail=Removal failed\r\nErrorOccurred=Error: %s\r\n";

class Earlier : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(WriteBytes(dir.File("Zaph.ini"), SETUP_SETTINGS));
        ASSERT_TRUE(settings.Load(dir.File("Zaph.ini").c_str())) << log.Text();
        ASSERT_TRUE(settings.ChooseLanguage("EN"));
        g_resource = &settings;
        g_mainUI = &ui;
        g_msi = &msi;
        RunState.Reset();
        RunState.mainExeName = "Login.exe";
        RunState.memberState = "LU";
    }
    void TearDown() override
    {
        g_resource = NULL;
        g_mainUI = NULL;
        g_msi = NULL;
        RunState.Reset();
    }

    TempDir dir{ "fwsetup" };
    CResource settings;
    CMainUI ui{ GetModuleHandleA(NULL) };
    CMSI msi;
    LogCapture log;
};
} // namespace

// The states of this product's editions are the rows of e2e_install (older,
// equal, newer, over a package, the .NET edition, a client before its
// server, languages kept and ignored, a folder on the command line); these
// are the older line, found through its uninstall string, which may be of
// any shape.
TEST_F(Earlier, OlderLineFromItsUninstallString)
{
    MachineState machine;
    std::string older = machine.Apply(STATE_OLDER_LINE);
    C_String found;
    bool sameOrNewer = true, newer = true;
    EXPECT_TRUE(DetectPreviousInstallation("LU", "V6.2", found, sameOrNewer, newer, NULL));
    EXPECT_EQ(older, found.GetNarrow());
    EXPECT_FALSE(sameOrNewer || newer);

    const char* rows[][2] = {
        { "IsUninst.exe -f\"C:\\Old QVL\\Uninst.isu\" -x", "C:\\Old QVL" },
        { "IsUninst.exe -fC:\\Old\\Uninst.isu", "C:\\Old" },
        { "IsUninst.exe -f\"\\\\\\Uninst.isu\"", "" }, // only backslashes: nothing
    };
    for (const auto& row : rows)
    {
        machine.SetValue(HKEY_LOCAL_MACHINE, OLDER_LINE_UNINSTALL_KEY, OLDER_LINE_UNINSTALL_VALUE, row[0]);
        C_String folder("");
        EXPECT_EQ(row[1][0] != 0, DetectPreviousInstallation(NULL, NULL, folder, sameOrNewer, newer, NULL)) << row[0];
        EXPECT_STREQ(row[1], folder.GetNarrow()) << row[0];
    }
}

TEST_F(Earlier, StagingFolderAndMemberStateChecks)
{
    MachineState machine;
    std::string folder = machine.Apply(STATE_QRT_OLDER);
    // A staging folder with the completion marker but no settings file goes whole;
    // one with a settings file loses only the marker.
    for (bool withSettings : { false, true })
    {
        SCOPED_TRACE(withSettings);
        CreateDirectoryA((folder + "\\LU_New").c_str(), NULL);
        ASSERT_TRUE(WriteBytes(folder + "\\LU_New\\FW_Complete.lol", "done"));
        SetFileAttributesA((folder + "\\LU_New\\FW_Complete.lol").c_str(), FILE_ATTRIBUTE_READONLY);
        if (withSettings)
        {
            CreateDirectoryA((folder + "\\LU_New\\setup").c_str(), NULL);
            ASSERT_TRUE(WriteBytes(folder + "\\LU_New\\setup\\Zaph.ini", "kept"));
        }
        C_String found;
        bool same, newer;
        ASSERT_TRUE(DetectPreviousInstallation("LU", "V6.2", found, same, newer, NULL));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "\\LU_New\\FW_Complete.lol").c_str()));
        EXPECT_EQ(withSettings, GetFileAttributesA((folder + "\\LU_New").c_str()) != INVALID_FILE_ATTRIBUTES);
    }

    C_String found;
    bool same, newer;
    EXPECT_FALSE(DetectPreviousInstallation("XX", "V6.2", found, same, newer, NULL));
}

// Whether a folder is taken as empty or as someone else's decides whether the
// product may be installed or moved into it.
TEST_F(Earlier, ClassifiesFolders)
{
    MachineState machine;
    struct Row
    {
        const char* name;
        std::vector<std::string> entries; // a trailing backslash makes a folder
        bool empty, foreign;
    };
    const Row rows[] = {
        { "missing", {}, true, false },
        { "blank", { "" }, true, false },
        { "binzaph", { "bin\\", "zaph.exe" }, true, true },
        { "binzaphplus", { "bin\\", "zaph.exe", "notes.txt" }, false, true },
        { "product", { "bin\\", "zaph.exe", "login.exe" }, false, false },
        { "olderline", { "qvldata\\", "login.exe.zip", "zaph.exe.zip" }, false, false },
        { "binfile", { "bin" }, false, true },
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        std::string folder = machine.Root() + "\\" + row.name;
        for (const std::string& entry : row.entries)
        {
            CreateDirectoryA(folder.c_str(), NULL);
            if (!entry.empty() && entry.back() == '\\')
                CreateDirectoryA((folder + "\\" + entry).c_str(), NULL);
            else if (!entry.empty())
            {
                ASSERT_TRUE(WriteBytes(folder + "\\" + entry, "x"));
            }
        }
        EXPECT_EQ(row.empty, IsEffectivelyEmpty(folder.c_str()));
        EXPECT_EQ(row.foreign, IsForeignDirectory(folder.c_str()));
    }
}

// A new folder that does not exist yet is the whole run "upgrade that moves
// the product"; one that holds data of a member state must not be moved onto.
TEST_F(Earlier, MayMoveUnlessTheNewFolderHoldsMemberStateData)
{
    MachineState machine;
    std::string oldFolder = machine.Apply(STATE_QRT_NEWER); // LU and BE, each with PSI\data.mdb
    const std::string newFolder = machine.Root() + "\\new";
    // BE without data, LU with: every member state is examined.
    CreateDirectoryA(newFolder.c_str(), NULL);
    CreateDirectoryA((newFolder + "\\BE").c_str(), NULL);
    CreateDirectoryA((newFolder + "\\LU").c_str(), NULL);
    CreateDirectoryA((newFolder + "\\LU\\PSI").c_str(), NULL);
    ASSERT_TRUE(WriteBytes(newFolder + "\\LU\\PSI\\old.mdb", "x"));
    EXPECT_FALSE(MayMoveDirectory(oldFolder.c_str(), newFolder.c_str()));
}

// A sound installation is the whole runs' (".NET upgrade keeps its languages"
// logs "VerifyInstallation deemed OK."); a broken one is forgotten: the
// folder gone, or a file of the installed package missing, which removes the
// package too.
TEST_F(Earlier, VerifyInstallationForgetsABrokenInstallation)
{
    BoxAnswerer boxes;
    const char* const PRODUCT_KEY = "SOFTWARE\\Ombrant\\ZAPH QRT";
    for (const StateRow* state : { &STATE_QRT_OLDER, &STATE_QRT_PACKAGE })
    {
        SCOPED_TRACE(state->name);
        const bool package = state->packageRelease != 0;
        MachineState machine;
        const std::string folder = machine.Apply(*state);
        machine.SetValue(HKEY_LOCAL_MACHINE, PRODUCT_KEY, "MultiMSVersion", "V6.1");
        if (package)
            DeleteFileA((folder + "\\bin\\dunzip32.dll").c_str());
        else
            DeleteTree(folder);
        RunState.targetDir = folder.c_str();

        DWORD result = 1;
        EXPECT_TRUE(VerifyInstallation(result));
        EXPECT_EQ(0u, result);
        EXPECT_STREQ("", RunState.targetDir.GetNarrow());
        EXPECT_EQ(package, RunState.oldPackageRemoved);
        for (const char* value : { "InstallPath", "SetupType", "MultiMSVersion" })
            EXPECT_EQ(REG_ABSENT, RegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, value)) << value;
        EXPECT_EQ(package, package && RegString(HKEY_LOCAL_MACHINE, std::string(UNINSTALL_KEY) + "\\" +
                                                    PACKAGE_RELEASE1_CODE, "DisplayVersion") == REG_ABSENT);
        ASSERT_FALSE(boxes.Texts().empty());
        EXPECT_EQ("No installation in " + folder, boxes.Texts().back());
    }
}

// A shortcut that already says what it would be saved with is left as it is;
// any difference, or a file that is no link, has it saved again.
TEST(Shortcut, IsSavedAgainOnlyWhenItWouldChange)
{
    struct Row
    {
        const char* name;
        const char* description;  // of the second save
        const char* target;       // of the second save
        bool garbage;             // the link file overwritten before it
        bool saved;
    };
    const Row rows[] = {
        { "unchanged", "Login", "Login.exe", false, false },
        { "other description", "Login 2", "Login.exe", false, true },
        { "other target", "Login", "Other.exe", false, true },
        { "not a link", "Login", "Login.exe", true, true },
    };
    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        TempDir dir("fwlink");
        const std::string link = dir.File("Menu\\Login.lnk");
        ASSERT_TRUE(WriteBytes(dir.File("Login.exe"), "MZ") && WriteBytes(dir.File("Other.exe"), "MZ"));
        ASSERT_TRUE(CreateShortcut(dir.File("Login.exe").c_str(), link.c_str(), "Login", false));
        if (row.garbage)
        {
            ASSERT_TRUE(WriteBytes(link, "not a link"));
        }

        LogCapture log;
        EXPECT_TRUE(CreateShortcut(dir.File(row.target).c_str(), link.c_str(), row.description, false));
        EXPECT_EQ(row.saved, log.Contains("HRESULT='0x0000'.").operator bool()) << log.Text();
        EXPECT_EQ(!row.saved, log.Contains("\t -> up-to-date, not saved again.").operator bool()) << log.Text();

        IShellLinkA* saved = NULL;
        IPersistFile* file = NULL;
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                               (void**)&saved)));
        ASSERT_TRUE(SUCCEEDED(saved->QueryInterface(IID_IPersistFile, (void**)&file)));
        std::wstring wide(link.begin(), link.end());
        char path[MAX_PATH] = "", description[MAX_PATH] = "";
        EXPECT_TRUE(SUCCEEDED(file->Load(wide.c_str(), STGM_READ)));
        saved->GetPath(path, MAX_PATH, NULL, SLGP_RAWPATH);
        saved->GetDescription(description, MAX_PATH);
        EXPECT_STRCASEEQ(dir.File(row.target).c_str(), path);
        EXPECT_STREQ(row.description, description);
        file->Release();
        saved->Release();
    }
    CoUninitialize();
}
