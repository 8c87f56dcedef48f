// Finding and classifying an earlier installation, over the shared machine
// states: real registry values and folders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CMainUI.h"
#include "CResource.h"
#include "LogCapture.h"
#include "MachineStates.h"
#include "PreviousInstallation.h"
#include "RunState.h"
#include "TestSupport.h"

using namespace fwtest;

namespace
{
const char SETUP_SETTINGS[] = "[Settings]\r\nIniVersion=6.2\r\n[Components]\r\nx\r\n[CheckSums]\r\nx=0\r\n"
                              "[Additional]\r\nx\r\n[Labels_EN]\r\nErrorOccurred=Error: %s\r\n";

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
        RunState.Reset();
        RunState.mainExeName = "Login.exe";
        RunState.memberState = "LU";
    }
    void TearDown() override
    {
        g_resource = NULL;
        g_mainUI = NULL;
        RunState.Reset();
    }

    TempDir dir{ "fwsetup" };
    CResource settings;
    CMainUI ui{ GetModuleHandleA(NULL) };
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
    char versions[VERSIONS_TEXT_SIZE] = "";
    EXPECT_TRUE(DetectPreviousInstallation("LU", "V6.2", found, sameOrNewer, newer, versions));
    EXPECT_EQ(older, found.GetNarrow());
    EXPECT_FALSE(sameOrNewer || newer);
    EXPECT_STREQ("", versions);
    EXPECT_EQ(0, RunState.languageCount);
    EXPECT_TRUE(log.Has({ "\tZAPH '" + older + "' derived from "
                          "'SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZAPH QVL'.",
                          "\tFound ZAPH in '" + older + "'", "W\tMS directory not found '" + older + "\\LU'." }));

    const char* rows[][2] = {
        { "IsUninst.exe -f\"C:\\Old QVL\\Uninst.isu\" -x", "C:\\Old QVL" },
        { "IsUninst.exe -fC:\\Old\\Uninst.isu", "C:\\Old" },
        { "IsUninst.exe -f\"C:\\Old\\UNINST.ISU\"", "" }, // both searches keep case
        { "IsUninst.exe -F\"C:\\Old\\Uninst.isu\"", "" },
        { "IsUninst.exe -f\"\\\\\\Uninst.isu\"", "" },    // only backslashes: nothing
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
    EXPECT_TRUE(log.Has({ "\tExisting MS_New directory deleted '" + folder + "\\LU_New'." }));

    C_String found;
    bool same, newer;
    EXPECT_FALSE(DetectPreviousInstallation("XX", "V6.2", found, same, newer, NULL));
    EXPECT_TRUE(log.Has({ "W\t'XX' is not a valid member state." }));
}

// A client waits for its server (".NET package for a client before its
// server"); once the server is upgraded, its files are in the client's folder.
TEST_F(Earlier, ClientGoesOnOnceItsServerIsUpgraded)
{
    BoxAnswerer boxes;
    MachineState machine;
    std::string folder = machine.Apply(STATE_DOTNET_CLIENT);
    CreateDirectoryA((folder + "\\LU").c_str(), NULL);
    ASSERT_TRUE(WriteBytes(folder + "\\LU\\ms.xml", "<ms/>"));
    EXPECT_TRUE(CheckClientServerOrder());
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(Earlier, ClassifiesFolders)
{
    MachineState machine;
    const std::string root = machine.Root();
    struct Row
    {
        const char* name;
        std::vector<std::string> entries; // a trailing backslash makes a folder
        bool empty, foreign;
        const char* line; // <f>: the folder
    };
    const Row rows[] = {
        { "missing", {}, true, false, NULL },
        { "blank", { "" }, true, false, "\tDirectory <f> is completely empty" },
        { "binzaph", { "bin\\", "zaph.exe" }, true, true, "\tDirectory <f> appears to be empty." },
        { "binzaphplus", { "bin\\", "zaph.exe", "notes.txt" }, false, true,
          "\tDirectory is not an ZAPH directory (2 files, 1 dirs)" },
        { "product", { "bin\\", "zaph.exe", "login.exe" }, false, false,
          "\tDirectory <f> appears to an ZAPH directory (score 4)." },
        { "olderline", { "qvldata\\", "login.exe.zip", "zaph.exe.zip" }, false, false, NULL },
        { "binfile", { "bin" }, false, true, "W\tDirectory <f> is *NOT* empty, found 'bin'." },
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        std::string folder = root + "\\" + row.name;
        for (const std::string& entry : row.entries)
        {
            CreateDirectoryA(folder.c_str(), NULL);
            if (!entry.empty() && entry.back() == '\\')
                CreateDirectoryA((folder + "\\" + entry).c_str(), NULL);
            else if (!entry.empty())
                ASSERT_TRUE(WriteBytes(folder + "\\" + entry, "x"));
        }
        EXPECT_EQ(row.empty, IsEffectivelyEmpty(folder.c_str()));
        EXPECT_EQ(row.foreign, IsForeignDirectory(folder.c_str()));
        if (row.line != NULL)
            EXPECT_TRUE(log.Contains(Expand(row.line, "<f>", folder)));
    }
}

TEST_F(Earlier, MayMoveUnlessTheNewFolderHoldsMemberStateData)
{
    MachineState machine;
    std::string oldFolder = machine.Apply(STATE_QRT_NEWER); // LU and BE, each with PSI\data.mdb
    const std::string newFolder = machine.Root() + "\\new";
    // A new folder that does not exist yet is the whole run "upgrade that moves
    // the product". BE without data, LU with: no; every member state is examined.
    CreateDirectoryA(newFolder.c_str(), NULL);
    CreateDirectoryA((newFolder + "\\BE").c_str(), NULL);
    CreateDirectoryA((newFolder + "\\LU").c_str(), NULL);
    CreateDirectoryA((newFolder + "\\LU\\PSI").c_str(), NULL);
    ASSERT_TRUE(WriteBytes(newFolder + "\\LU\\PSI\\old.mdb", "x"));
    EXPECT_FALSE(MayMoveDirectory(oldFolder.c_str(), newFolder.c_str()));
    EXPECT_TRUE(log.Has({ "\t\tMS BE detected in " + oldFolder, "\t\t\tMS BE *also* detected in " + newFolder,
                          "\t\t\t\t*NO* Data detected in " + newFolder + "\\BE\\PSI",
                          "W\t\t\t\tData detected " + newFolder + "\\LU\\PSI\\old.mdb", "W\tNO!!" }));
}
