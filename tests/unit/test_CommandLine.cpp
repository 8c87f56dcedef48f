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
// switches' log lines, a target with a trailing backslash, /i, a language in
// lower case, unknown switches and /r with its folder are the command-line and
// repair scenarios' rows (e2e_mainsequence, e2e_prerequisites); here the root
// of the current drive as the target.
TEST(CommandLine, RootIsNoTarget)
{
    fwtest::LogCapture log;
    EXPECT_EQ("8|||||Setup: /t option invalid", Parse({ "/t", "\\" }));
}

// /d takes the file that follows, but not an option: the option still counts
// and the log keeps its default name.
TEST(CommandLine, LogOptionDoesNotTakeTheNextOption)
{
    fwtest::LogCapture log;
    char defaultName[LOG_PATH_SIZE];
    ASSERT_TRUE(MakeLogName(defaultName, NULL));
    EXPECT_EQ("0|m|||", Parse({ "/D", "/m" }));
    EXPECT_STREQ(defaultName, GetLogFile());
}
