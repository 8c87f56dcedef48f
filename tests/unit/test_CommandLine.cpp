#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AppObjects.h"
#include "CMainUI.h"
#include "BoxAnswerer.h"
#include "CommandLine.h"
#include "Log.h"
#include "RunState.h"
#include "TestSupport.h"
#include "WideAPI.h"
#include "version.h"

namespace
{
using fwtest::BoxAnswerer;

const char* const USAGE_TEXT =
    "Usage:\n   /h :  Show this dialog.\n   /v :  Show version information.\n   /r :   Repair "
    "ZAPH.NET\n   /u:  Update mode\n   /l <lang>\n   /t <full path>:  Install the package on "
    "that path.\n   /i: <ini file name>: Optionally the name of the ini file (alternative "
    "location).\n   /d[0-4] [<log file name>]: Switch on logging (debug) with optional verbosity "
    "level.";

std::wstring Wide(const std::string& text)
{
    return std::wstring(A2W(text.c_str()));
}

// Runs the parser on a fresh run state, with a log of its own and every box
// answered; restores the program-wide state afterwards.
class CommandLineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RunState.Reset();
        m_useWideApi = useWideApi;
        m_file = m_dir.File("run.log");
        SetLogFile(m_file.c_str());
        SetLogVerbosity(DEFAULT_LOG_VERBOSITY);
    }
    void TearDown() override
    {
        useWideApi = m_useWideApi;
        g_mainUI = NULL;
        SetLogFile(NULL);
        SetLogVerbosity(DEFAULT_LOG_VERBOSITY);
        RunState.Reset();
    }

    int Parse(const std::vector<std::string>& args)
    {
        std::vector<const char*> argv;
        argv.push_back("fernwick.exe");
        m_raw.clear();
        for (const std::string& arg : args)
        {
            argv.push_back(arg.c_str());
            m_raw += (m_raw.empty() ? "" : " ") + arg;
        }
        m_language.Clear();
        m_iniFile.Clear();
        BoxAnswerer answerer;
        int result = ParseCommandLineArgs((int)argv.size(), argv.data(), m_raw.c_str(), m_language,
                                          m_iniFile);
        m_boxes = answerer.Boxes();
        return result;
    }

    std::vector<std::string> Lines() const { return fwtest::ReadLines(m_file); }

    bool Logged(const std::string& line) const
    {
        std::vector<std::string> lines = Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    // The one box the last parse showed.
    void ExpectBox(const std::wstring& caption, const std::wstring& text, const char* icon)
    {
        ASSERT_EQ(1u, m_boxes.size());
        EXPECT_EQ(caption, m_boxes[0].caption);
        EXPECT_EQ(text, m_boxes[0].text);
        if (icon)
        {
            EXPECT_EQ(icon, m_boxes[0].icon);
        }
    }

    fwtest::TempDir m_dir{ "fwcmd" };
    std::string m_file;
    std::string m_raw;
    C_String m_language;
    C_String m_iniFile;
    std::vector<fwtest::AnsweredBox> m_boxes;

private:
    bool m_useWideApi = false;
};

struct Row
{
    const char* name; std::vector<std::string> args; int result;
    const char* targetDir; const char* language; const char* iniFile;
    const char* error;                                   // usage error box, or null for none
    std::vector<std::string> lines, absentLines;         // log lines present and absent
};
} // namespace

TEST_F(CommandLineTest, ValuesConsumptionAndResults)
{
    const Row rows[] = {
        { "nothing", {}, 0, "", "", "", NULL, { "\tCommand line '' parsed OK." }, {} },
        { "target with trailing backslash", { "/T", "\"C:\\My Apps\\ZAPH\\\"" }, 0,
          "C:\\My Apps\\ZAPH", "", "", NULL, { "\tTARGETDIR='C:\\My Apps\\ZAPH'" }, {} },
        { "single quote and backslashes", { "-t", "'C:\\Old\\\\'" }, 0, "C:\\Old", "", "", NULL,
          {}, {} },
        { "target last", { "/t" }, 8, "", "", "", "/t option invalid",
          { "E\tCommand line ERROR: '/t option invalid'",
            "\tCommand line '/t' parsed *NOT* OK." },
          {} },
        { "second target without value keeps the first", { "/t", "C:\\a", "/t" }, 160, "C:\\a",
          "", "", "/t option invalid", { "\tTARGETDIR='C:\\a'" }, {} },
        { "target takes an option as rejected value", { "/t", "/u", "/m" }, 8, "", "", "",
          "/t option invalid", {}, { "\tAUTOUPGRADE", "\tMULTIMODE" } },
        { "target of only a backslash", { "/t", "\\" }, 8, "", "", "", "/t option invalid", {},
          {} },
        { "language in lower case", { "/L", "en" }, 0, "", "en", "", NULL,
          { "\tLanguage='en'" }, {} },
        { "three-letter language", { "/l", "eng" }, 8, "", "", "", "/l option invalid", {}, {} },
        { "unknown language after a good one", { "/l", "de", "/l", "xx" }, 160, "", "de", "",
          "/l option invalid", {}, {} },
        { "settings file", { "/i", "other.ini" }, 0, "", "", "other.ini", NULL,
          { "\tINIFILE='other.ini'" }, {} },
        { "settings file taken as option", { "/i", "-x" }, 8, "", "", "", "/i option invalid", {},
          {} },
        { "empty settings file name", { "/i", "" }, 8, "", "", "", "/i option invalid", {}, {} },
        { "flags in either case", { "/c", "/F", "-m", "/U", "/x" }, 0, "", "", "", NULL,
          { "\tCHECKONLY", "\tAdding Features", "\tMULTIMODE", "\tAUTOUPGRADE", "\tDEBUG" }, {} },
        { "unknown options are skipped", { "/z", "/y", "/0", "/", "-a", "/u" }, 0, "", "", "", NULL,
          { "W\tArgument '/z' not recognised ( ignored )",
            "W\tArgument '/y' not recognised ( ignored )",
            "W\tArgument '/0' not recognised ( ignored )",
            "W\tArgument '/' not recognised ( ignored )",
            "W\tArgument '-a' not recognised ( ignored )", "\tAUTOUPGRADE" },
          {} },
        { "a plain word ends the scan", { "install", "/u" }, 0, "", "", "", NULL,
          { "\tCommand line 'install /u' parsed OK." }, { "\tAUTOUPGRADE" } },
        { "the scan stops at the first failure", { "/l", "zz", "/u" }, 8, "", "", "",
          "/l option invalid", {}, { "\tAUTOUPGRADE" } },
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        RunState.Reset();
        DeleteFileA(m_file.c_str());
        EXPECT_EQ(row.result, Parse(row.args));
        EXPECT_STREQ(row.targetDir, RunState.targetDir.GetNarrowTemp());
        EXPECT_EQ(row.targetDir[0] != 0, RunState.targetGiven);
        EXPECT_STREQ(row.language, m_language.GetNarrowTemp());
        EXPECT_STREQ(row.iniFile, m_iniFile.GetNarrowTemp());
        if (row.error)
            ExpectBox(L"Setup", Wide(row.error), NULL);
        else
            EXPECT_EQ(0u, m_boxes.size());
        for (const std::string& line : row.lines)
            EXPECT_TRUE(Logged(line)) << line;
        for (const std::string& line : row.absentLines)
            EXPECT_FALSE(Logged(line)) << line;
    }
}

// Flags reach the run state; /r takes whatever follows as its folder.
TEST_F(CommandLineTest, FlagsAndRepairReachTheRunState)
{
    struct Row
    {
        std::vector<std::string> args; bool repair; const char* target;
        bool checkOnly, addFeatures, autoUpgrade, multiMode; const char* log;
    };
    const Row rows[] = {
        { { "/c", "/f", "/m", "/u" }, false, "", true, true, true, true, NULL },
        { { "install", "/u" }, false, "", false, false, false, false, NULL },
        { { "/r" }, true, "", false, false, false, false, "\tREPAIR" },
        { { "/r", "/u" }, true, "/u", false, false, false, false, "\tREPAIR /u" },
        { { "/R", "\"C:\\Program Files\\ZAPH\\\"", "/m" }, true, "C:\\Program Files\\ZAPH", false, false, false, true, NULL },
        // An empty argument is consumed but names no folder.
        { { "/r", "", "/u" }, true, "", false, false, true, false, "\tREPAIR" },
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.args.size() > 1 ? row.args[0] + " " + row.args[1] : row.args[0]);
        RunState.Reset();
        DeleteFileA(m_file.c_str());
        EXPECT_EQ(0, Parse(row.args));
        EXPECT_EQ(row.repair, RunState.repairMode);
        EXPECT_EQ(row.checkOnly, RunState.checkOnly);
        EXPECT_EQ(row.addFeatures, RunState.addFeatures);
        EXPECT_STREQ(row.target, RunState.targetDir.GetNarrowTemp());
        EXPECT_EQ(row.target[0] != 0, RunState.targetGiven);
        EXPECT_EQ(row.autoUpgrade, RunState.autoUpgrade);
        EXPECT_EQ(row.multiMode, RunState.multiMode);
        if (row.log)
        {
            EXPECT_TRUE(Logged(row.log));
        }
    }
}

TEST_F(CommandLineTest, LogOptionSetsVerbosityAndFile)
{
    std::string other = m_dir.File("other.log");
    EXPECT_EQ(0, Parse({ "/d4", other, "/u" }));
    EXPECT_EQ(4, GetLogVerbosity());
    EXPECT_EQ(other, GetLogFile());
    EXPECT_TRUE(RunState.autoUpgrade);
    std::vector<std::string> lines = fwtest::ReadLines(other);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("\tLOGFILE='" + other + "'", lines[0]);

    // /dx: every level is written.
    EXPECT_EQ(0, Parse({ "/dx" }));
    EXPECT_EQ(72, GetLogVerbosity());

    // A character below the digit 0 turns logging of messages off.
    EXPECT_EQ(0, Parse({ "/d-", other }));
    EXPECT_EQ('-' - '0', GetLogVerbosity());

    // Without a value: the default name; the option after /d is not taken.
    char defaultName[LOG_PATH_SIZE];
    ASSERT_TRUE(MakeLogName(defaultName, NULL));
    RunState.Reset();
    EXPECT_EQ(0, Parse({ "/D", "/m" }));
    EXPECT_STREQ(defaultName, GetLogFile());
    EXPECT_EQ('-' - '0', GetLogVerbosity()); // no digit: the verbosity stays
    EXPECT_TRUE(RunState.multiMode);
}

TEST_F(CommandLineTest, TooLongLogFileNameKeepsTheLog)
{
    std::string tooLong = m_dir.Path() + "\\" + std::string(LOG_PATH_SIZE, 'n') + ".log";
    EXPECT_EQ(0, Parse({ "/d3", tooLong, "/u" }));
    EXPECT_EQ(m_file, GetLogFile());
    EXPECT_TRUE(RunState.autoUpgrade); // the name was consumed, the scan went on
    std::vector<std::string> lines = Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(0u, lines[0].find("W\tLog file name of ")) << lines[0];
    EXPECT_FALSE(Logged("\tLOGFILE='" + tooLong + "'"));
}

TEST_F(CommandLineTest, BoxesWithoutTheWindow)
{
    EXPECT_EQ(22, Parse({ "/?", "/u" }));
    EXPECT_FALSE(RunState.autoUpgrade);
    ExpectBox(L"Setup", Wide(USAGE_TEXT), "warning");
    EXPECT_TRUE(Logged("\tCommand line '/? /u' parsed *NOT* OK."));

    EXPECT_EQ(22, Parse({ "/v" }));
    ExpectBox(L"Setup", L"Version Information", NULL);

    // /9 on an NT-family system: the box, then the narrow interfaces.
    ASSERT_TRUE(isWinNT);
    useWideApi = true;
    EXPECT_EQ(0, Parse({ "/9" }));
    ExpectBox(L"Setup", L"FORCED WIN95", "warning");
    EXPECT_FALSE(useWideApi);
    EXPECT_TRUE(Logged("\tForceWin95"));
}

TEST_F(CommandLineTest, BoxesThroughTheProgressWindow)
{
    CMainUI ui(GetModuleHandleA(NULL));
    g_mainUI = &ui;
    const std::wstring caption = ui.GetCaption();
    ASSERT_FALSE(caption.empty());

    EXPECT_EQ(22, Parse({ "/h" }));
    ExpectBox(caption, Wide(USAGE_TEXT), "warning");

    DeleteFileA(m_file.c_str());
    EXPECT_EQ(8, Parse({ "/t" }));
    ExpectBox(caption, Wide(std::string(USAGE_TEXT) + "\n\nCommand line ERROR: /t option invalid"), "stop");
    std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), 2u);
    // The box text, logged as an error before the box.
    EXPECT_EQ("E\t" + std::string(USAGE_TEXT) + "\n\nCommand line ERROR: /t option invalid",
              lines[0]);
    EXPECT_TRUE(Logged("E\tCommand line ERROR: '/t option invalid'"));

    EXPECT_EQ(22, Parse({ "/V" }));
    ExpectBox(caption, Wide(std::string(FW_COMMENTS) + "\nVersion " + FW_VERSION_TEXT + ".\n" + FW_COPYRIGHT +
                                "\n" + FW_COMPANY), "warning");
}

TEST(ProgramVersion, StringsOfTheOwnVersionResource)
{
    C_String comments, company, copyright, version;
    ASSERT_TRUE(GetProgramVersionStrings(comments, company, copyright, version));
    EXPECT_STREQ(FW_COMMENTS, comments.GetNarrowTemp());
    EXPECT_STREQ(FW_COMPANY, company.GetNarrowTemp());
    EXPECT_STREQ(FW_COPYRIGHT, copyright.GetNarrowTemp());
    EXPECT_STREQ(FW_VERSION_TEXT, version.GetNarrowTemp());
}
