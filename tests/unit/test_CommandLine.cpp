#include <gtest/gtest.h>

#include <string>

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CommandLine.h"
#include "Layout.h"
#include "LogCapture.h"
#include "RunState.h"

// Rejected values as a whole run shows them (box, code, kept value) and /r with
// its folder are the command-line and repair scenarios' rows
// (e2e_mainsequence, e2e_prerequisites). Here the root
// of the current drive, which is no target, and /d before an option: it takes
// the file that follows, but not an option, which still counts, and the log
// keeps its default name.
TEST(CommandLine, RootIsNoTargetAndTheLogTakesNoOption)
{
    fwtest::LogCapture log;
    char defaultName[LOG_PATH_SIZE];
    ASSERT_TRUE(MakeLogName(defaultName, NULL));
    const char* const root[] = { "fernwick.exe", "/t", "\\" };
    const char* const logThenOption[] = { "fernwick.exe", "/D", "/m" };
    C_String language, iniFile;
    fwtest::BoxAnswerer answerer;

    RunState.Reset();
    EXPECT_EQ(8, ParseCommandLineArgs(3, root, "/t \\", language, iniFile));
    EXPECT_FALSE(RunState.targetGiven);
    ASSERT_EQ(1u, answerer.Boxes().size());
    EXPECT_EQ(L"/t option invalid", answerer.Boxes()[0].text);

    RunState.Reset();
    EXPECT_EQ(0, ParseCommandLineArgs(3, logThenOption, "/D /m", language, iniFile));
    EXPECT_TRUE(RunState.multiMode);
    EXPECT_STREQ(defaultName, GetLogFile());
    EXPECT_EQ(1u, answerer.Boxes().size());
    RunState.Reset();
}

// /o takes the layout's folder as a full path (a closing quote escaped by a
// trailing backslash, as a console passes it, is dropped); without one it is
// the usage box and 160, and the run is no layout.
TEST(CommandLine, LayoutFolder)
{
    fwtest::LogCapture log;
    const char* const quoted[] = { "fernwick.exe", "/O", "C:\\lay out\\\"" };
    const char* const missing[] = { "fernwick.exe", "/o" };
    C_String language, iniFile;
    fwtest::BoxAnswerer answerer;

    RunState.Reset();
    EXPECT_EQ(0, ParseCommandLineArgs(3, quoted, "/O \"C:\\lay out\\\"", language, iniFile));
    EXPECT_TRUE(IsLayoutRun());
    EXPECT_STREQ("C:\\lay out", GetLayoutFolder());

    ResetLayout();
    EXPECT_EQ(160, ParseCommandLineArgs(2, missing, "/o", language, iniFile));
    EXPECT_FALSE(IsLayoutRun());
    ASSERT_EQ(1u, answerer.Boxes().size());
    EXPECT_EQ(L"/o option invalid", answerer.Boxes()[0].text);
    RunState.Reset();
}
