#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CommandLine.h"
#include "LogCapture.h"
#include "RunState.h"
#include "WideAPI.h"

namespace
{
// What the parser hands on from a fresh run state, as one text: its code, the
// flags set (c f m r u, and t for a target given), the target, the language
// and the settings file, then each box shown as "caption: text".
std::string Parse(const std::vector<std::string>& args)
{
    std::vector<const char*> argv = { "fernwick.exe" };
    std::string raw;
    for (const std::string& arg : args)
    {
        argv.push_back(arg.c_str());
        raw += (raw.empty() ? "" : " ") + arg;
    }
    RunState.Reset();
    C_String language, iniFile;
    fwtest::BoxAnswerer answerer;
    int rc = ParseCommandLineArgs((int)argv.size(), argv.data(), raw.c_str(), language, iniFile);
    const std::pair<char, bool> flags[] = { { 'c', RunState.checkOnly },  { 'f', RunState.addFeatures },
                                            { 'm', RunState.multiMode },  { 'r', RunState.repairMode },
                                            { 't', RunState.targetGiven }, { 'u', RunState.autoUpgrade } };
    std::string out = std::to_string(rc) + "|";
    for (const auto& flag : flags)
        out += flag.second ? std::string(1, flag.first) : "";
    out = out + "|" + RunState.targetDir.GetNarrowTemp() + "|" + language.GetNarrowTemp() + "|" + iniFile.GetNarrowTemp();
    for (const fwtest::AnsweredBox& box : answerer.Boxes())
    {
        out = out + "|" + W2A(box.caption.c_str()) + ": ";
        out += W2A(box.text.c_str());
    }
    RunState.Reset();
    return out;
}
} // namespace

// Rejected values as a whole run shows them (box, code, kept value), the
// switches' log lines, a target with a trailing backslash, a language in lower
// case and /z are the command-line scenarios' rows; here what the parser hands on.
TEST(CommandLine, ValuesFlagsAndRepair)
{
    const struct { std::vector<std::string> args; const char* parsed; const char* line; } rows[] = {
        { {}, "0||||", "\tCommand line '' parsed OK." },
        { { "-t", "'C:\\Old\\\\'" }, "0|t|C:\\Old||", NULL },
        { { "/t", "\\" }, "8|||||Setup: /t option invalid", NULL },
        { { "/i", "other.ini" }, "0||||other.ini", "\tINIFILE='other.ini'" },
        { { "/i", "" }, "8|||||Setup: /i option invalid", NULL },
        { { "/y", "/0", "/", "-a", "/u" }, "0|u|||", "W\tArgument '/' not recognised ( ignored )" },
        { { "install", "/u" }, "0||||", "\tCommand line 'install /u' parsed OK." },  // a plain word ends the scan
        { { "/c", "/f" }, "0|cf|||", NULL },
        // /r takes whatever follows as its folder; an empty argument names none.
        { { "/r", "/u" }, "0|rt|/u||", "\tREPAIR /u" },
        { { "/R", "\"C:\\Program Files\\ZAPH\\\"", "/m" }, "0|mrt|C:\\Program Files\\ZAPH||", NULL },
        { { "/r", "", "/u" }, "0|ru|||", "\tREPAIR" },
    };
    for (const auto& row : rows)
    {
        fwtest::LogCapture log;
        EXPECT_EQ(row.parsed, Parse(row.args));
        if (row.line)
        {
            EXPECT_TRUE(log.Has({ row.line }));
        }
    }
}

// /d: the verbosity of its digit (x: every level; a character below 0 turns
// messages off), then the file that follows or else the default name.
TEST(CommandLine, LogOptionSetsVerbosityAndFile)
{
    fwtest::LogCapture log;
    fwtest::TempDir dir("fwcmd");
    EXPECT_EQ("0||||", Parse({ "/dx" }));
    EXPECT_EQ(72, GetLogVerbosity());
    EXPECT_EQ("0|u|||", Parse({ "/d-", dir.File("other.log"), "/u" }));
    EXPECT_EQ('-' - '0', GetLogVerbosity());
    EXPECT_EQ(dir.File("other.log"), GetLogFile());

    char defaultName[LOG_PATH_SIZE];
    ASSERT_TRUE(MakeLogName(defaultName, NULL));
    EXPECT_EQ("0|m|||", Parse({ "/D", "/m" }));   // the option after /d is not its file
    EXPECT_STREQ(defaultName, GetLogFile());
    EXPECT_EQ('-' - '0', GetLogVerbosity());      // no digit: the verbosity stays
}
