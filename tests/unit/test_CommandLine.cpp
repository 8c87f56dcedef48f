#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CommandLine.h"
#include "Log.h"
#include "RunState.h"
#include "TestSupport.h"
#include "WideAPI.h"

namespace
{
using fwtest::BoxAnswerer;

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
        m_file = m_dir.File("run.log");
        SetLogFile(m_file.c_str());
        SetLogVerbosity(DEFAULT_LOG_VERBOSITY);
    }
    void TearDown() override
    {
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

    fwtest::TempDir m_dir{ "fwcmd" };
    std::string m_file;
    std::string m_raw;
    C_String m_language;
    C_String m_iniFile;
    std::vector<fwtest::AnsweredBox> m_boxes;
};

struct Row
{
    const char* name; std::vector<std::string> args; int result;
    const char* targetDir; const char* language; const char* iniFile;
    const char* error;                                   // usage error box, or null for none
    std::vector<std::string> lines, absentLines;         // log lines present and absent
};
} // namespace

// Rejected values as a whole run shows them (box, code, kept value), the
// flags, a target with a trailing backslash, a language in lower case and
// /z are the command-line scenarios' rows; here what the parser hands on.
TEST_F(CommandLineTest, ValuesConsumptionAndResults)
{
    const Row rows[] = {
        { "nothing", {}, 0, "", "", "", NULL, { "\tCommand line '' parsed OK." }, {} },
        { "single quote and backslashes", { "-t", "'C:\\Old\\\\'" }, 0, "C:\\Old", "", "", NULL,
          {}, {} },
        { "target of only a backslash", { "/t", "\\" }, 8, "", "", "", "/t option invalid", {},
          {} },
        { "settings file", { "/i", "other.ini" }, 0, "", "", "other.ini", NULL,
          { "\tINIFILE='other.ini'" }, {} },
        { "empty settings file name", { "/i", "" }, 8, "", "", "", "/i option invalid", {}, {} },
        { "unknown options are skipped", { "/y", "/0", "/", "-a", "/u" }, 0, "", "", "", NULL,
          { "W\tArgument '/y' not recognised ( ignored )",
            "W\tArgument '/0' not recognised ( ignored )",
            "W\tArgument '/' not recognised ( ignored )",
            "W\tArgument '-a' not recognised ( ignored )", "\tAUTOUPGRADE" },
          {} },
        { "a plain word ends the scan", { "install", "/u" }, 0, "", "", "", NULL,
          { "\tCommand line 'install /u' parsed OK." }, { "\tAUTOUPGRADE" } },
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
        ASSERT_EQ(row.error ? 1u : 0u, m_boxes.size());
        if (row.error)
        {
            EXPECT_EQ(L"Setup", m_boxes[0].caption);
            EXPECT_EQ(Wide(row.error), m_boxes[0].text);
        }
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
