// The judgements of the prerequisite step that need no machine state: may
// .NET 2.0 go on this system, is MDAC too old, what an installer's exit code
// means, and the restart command. The machine states, the installers and the
// questions are the "prerequisites:" rows of e2e_install.
#include <gtest/gtest.h>

#include <string>

#include "Prerequisites.h"
#include "RunState.h"

// XP SP1 and SP3, NT 4.0 and Windows 98 are rows of e2e_install; here the
// Explorer versions, engines and other systems they do not reach.
TEST(Prerequisites, DotNet20BySystem)
{
    struct Row
    {
        const char* explorer;
        bool win9x;
        DWORD major, minor, servicePack, engine;
        bool may;
    } rows[] = {
        {"6.0.2900.2180", false, 5, 1, 2, 200, false},  // engine 2.0
        {"6.0.2800.1106", false, 5, 0, 3, 300, true},   // 2000 SP3
        {"6.0.2800.1106", false, 5, 0, 2, 300, false},
        {"5.00.2920.0000", false, 6, 0, 0, 400, false}, // Explorer 5.00
        {"", false, 6, 0, 0, 400, false},               // no Explorer known
        {"6.0.2800.1106", true, 4, 90, 0, 300, false},  // Me
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.may, MayInstallDotNet20(r.explorer, r.win9x, r.major, r.minor, r.servicePack,
                                            r.engine))
            << r.explorer << " " << r.major << "." << r.minor << " SP" << r.servicePack
            << " engine " << r.engine;
}

// 2.50, 2.71 and none at all are whole runs; here the top of the range that
// needs the upgrade, and a version cut short.
TEST(Prerequisites, MdacByFullInstallVersion)
{
    EXPECT_TRUE(NeedsMdac("2.62.7400.1"));
    EXPECT_FALSE(NeedsMdac("2."));
}

// The codes the whole runs' installers end with (0, 3010, 1641, 1602, 1603,
// 1633, a crash) are theirs; a known other code and an unknown one abandon
// the step with their own text.
TEST(Prerequisites, ExitCodeVerdicts)
{
    struct Row
    {
        long code;
        const char* message;
    } rows[] = {
        {2, "Instmsi executable not found."},
        {1, "Unexpected failure"},
    };
    for (const Row& r : rows)
    {
        RunState.Reset();
        ResetPrerequisiteState();
        prereqCancelled = true;
        EXPECT_FALSE(AcceptInstallerResult(r.code)) << r.code;
        EXPECT_FALSE(RunState.prereqRebootNeeded) << r.code;
        EXPECT_FALSE(prereqCancelled) << r.code;
        EXPECT_TRUE(prereqAbandoned) << r.code;
        EXPECT_STREQ(r.message, lastPrereqMessage) << r.code;
    }
}

TEST(Prerequisites, ResumeCommandKeepsTheArguments)
{
    struct Row
    {
        const char* commandLine;
        const char* resumed;
    } rows[] = {
        {"\"C:\\a b\\setup.exe\" /t \"C:\\My Apps\\ZAPH\" /d3", "\"C:\\dist\\setup.exe\" /t \"C:\\My Apps\\ZAPH\" /d3"},
        {"..\\dist\\setup.exe\t/u", "\"C:\\dist\\setup.exe\" /u"},
    };
    for (const Row& r : rows)
    {
        char command[300];
        ASSERT_TRUE(MakeResumeCommand("C:\\dist\\setup.exe", SkipProgramName(r.commandLine), command,
                                      sizeof(command)));
        EXPECT_STREQ(r.resumed, command) << r.commandLine;
    }
    char small[16] = "x";
    EXPECT_FALSE(MakeResumeCommand("C:\\dist\\setup.exe", "/l FR", small, sizeof(small)));
    EXPECT_STREQ("", small);
}
