// The judgements of the prerequisite step that need no machine: the plan made
// from a machine state, may .NET 2.0 go on this system, is MDAC too old, what
// an installer's exit code means, and the restart command. The installers
// running, the questions and the boxes are the "prerequisites:" rows of
// e2e_install.
#include <gtest/gtest.h>

#include <string>

#include "Prerequisites.h"

// NT 4.0 is a row of e2e_install, with the system figures read from the
// machine; here the other systems, Explorer versions and engines.
TEST(Prerequisites, DotNet20BySystem)
{
    struct Row
    {
        const char* explorer;
        bool win9x;
        DWORD major, minor, servicePack, engine;
        bool may;
    } rows[] = {
        {"6.0.2900.2180", false, 5, 1, 1, 300, false},  // XP SP1
        {"6.0.2900.5512", false, 5, 1, 3, 301, true},   // XP SP3
        {"6.0.2900.2180", false, 5, 1, 2, 200, false},  // engine 2.0
        {"5.50.4134.0100", true, 4, 10, 0, 200, true},  // 98
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
        PrerequisiteOutcome outcome;
        outcome.cancelled = true;
        EXPECT_FALSE(AcceptInstallerResult(r.code, outcome)) << r.code;
        EXPECT_FALSE(outcome.restartNeeded) << r.code;
        EXPECT_FALSE(outcome.cancelled) << r.code;
        EXPECT_TRUE(outcome.abandoned) << r.code;
        EXPECT_STREQ(r.message, outcome.message) << r.code;
    }
}

// What is installed and offered decides the installers and their order. The
// machine: "20" "11" "11+SP" installed, "o11" "oSP" "o20" offered, "no20" the
// system may not take 2.0, "check" a check-only run, "mdac=" its version.
// The plan: the installers in order, each with its options, and "!pack" when
// the user hears that the pack is missing.
TEST(Prerequisites, PlanFromMachine)
{
    struct Row
    {
        const char* machine;
        const char* plan;
    } rows[] = {
        {"o11 oSP o20 mdac=2.81.1117.0", "setup\\dotnetfx_20.exe /q:a /c:\"install /l /q \""},
        {"o11 oSP o20 no20 mdac=2.81.1117.0",
         "setup\\dotnetfx.exe /q:a /c:\"install /l /q \" | setup\\dotnetsp11.exe /I /Q"},
        {"o11 o20 no20 mdac=2.81.1117.0", "setup\\dotnetfx.exe /q:a /c:\"install /l /q \" !pack"},
        {"11 o11 oSP o20 mdac=2.62.7400.1", "setup\\dotnetsp11.exe /I /Q | setup\\mdac_typ.exe /q /c:\"setup /QNT \""},
        {"11 o11 oSP check mdac=2.81.1117.0", ""},   // told, not installed
        {"11+SP 20 o20", "setup\\mdac_typ.exe /q /c:\"setup /QNT \""},  // no MDAC at all
        {"20 o11 mdac=2.71.9030.0", ""},
        {"oSP mdac=2.50.4403.12", "none"},               // no framework to install: nothing else either
    };
    for (const Row& r : rows)
    {
        PrerequisiteMachine m;
        std::string text = std::string(" ") + r.machine + " ";
        auto has = [&](const char* word) { return text.find(std::string(" ") + word + " ") != std::string::npos; };
        m.netV20 = has("20");
        m.netV11 = has("11") || has("11+SP");
        m.spV11 = has("11+SP");
        m.v11Offered = has("o11");
        m.spV11Offered = has("oSP");
        m.v20Offered = has("o20");
        m.v20Allowed = !has("no20");
        m.checkOnly = has("check");
        size_t mdac = text.find("mdac=");
        m.haveMdacFullVersion = mdac != std::string::npos;
        if (m.haveMdacFullVersion)
            m.mdacFullVersion = text.substr(mdac + 5, text.find(' ', mdac) - mdac - 5);

        PrerequisitePlan plan = PlanPrerequisites(m);
        std::string steps;
        for (int i = 0; i < plan.stepCount; ++i)
            steps += std::string(i ? " | " : "") + plan.steps[i]->file + " " + plan.steps[i]->options;
        if (plan.packMissing)
            steps += " !pack";
        if (plan.framework == FRAMEWORK_NO_INSTALLER)
            steps = "none";
        EXPECT_EQ(r.plan, steps) << r.machine;
        EXPECT_EQ(plan.mdacNeeded, steps.find("mdac_typ") != std::string::npos) << r.machine;
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
