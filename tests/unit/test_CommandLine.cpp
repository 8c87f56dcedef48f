#include <gtest/gtest.h>

#include <ctype.h>
#include <string.h>

#include <string>
#include <vector>

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CodeTables.h"
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
// The switches of unattended runs. Quiet (/q) and passive (/b) are known
// before any switch acts, so a box that a value earlier on the line would show
// is only logged; a /q that another switch takes as its value, or that comes
// after the first plain word, is no switch. args are split at blanks.
struct UnattendedRow
{
    const char* name;
    const char* args;
    int result;
    const char* mode;          // "quiet", "passive" or ""
    const char* languages;     // the /s languages, as "FR EN" in index order
    const char* properties;    // "NAME=value ..." in their order
    bool client;               // SETUPTYPE=Client asked for
    const char* box;           // the one box shown ("" none)
    const char* logLine;       // a whole line of the log ("" none)
};

const UnattendedRow UNATTENDED_ROWS[] = {
    {"quiet with two languages", "/q /s FR,EN", 0, "quiet", "EN FR", "", false, "", "\tLANGUAGES='FR,EN'"},
    {"quiet and passive: quiet wins", "/b /q", 0, "quiet", "", "", false, "", "\tPASSIVE"},
    {"a later /s replaces an earlier one", "/s DE /s fr", 0, "", "FR", "", false, "", ""},
    {"unknown language code", "/s FR,XX", 160, "", "", "", false, "/s option invalid",
     "E\tLanguage code 'XX' of /s not known."},
    {"empty code in the list", "/s FR,", 160, "", "", "", false, "/s option invalid", ""},
    {"bad code before /q: logged, not shown", "/s QQ /q", 160, "quiet", "", "", false, "",
     "\tBox not shown (quiet): /s option invalid"},
    {"/s without its value takes the /q after it", "/s /q", 8, "", "", "", false, "/s option invalid", ""},
    {"/q taken as the value of /t", "/t /q", 8, "", "", "", false, "/t option invalid", ""},
    {"/q after a plain word", "setup /q", 0, "", "", "", false, "", ""},
    {"properties, a name again takes its later value", "/b /p COMPANY=Ombrant /p DEPT.CODE=7 /p COMPANY=Other", 0,
     "passive", "", "COMPANY=Other DEPT.CODE=7", false, "", "\tPROPERTY DEPT.CODE='7'"},
    {"client asked for", "/q /p SETUPTYPE=client", 0, "quiet", "", "", true, "",
     "\tPROPERTY SETUPTYPE=Client: a client installation is asked for."},
    {"the program's own name refused", "/q /p TARGETDIR=C:\\elsewhere", 160, "quiet", "", "", false, "",
     "\tBox not shown (quiet): /p option invalid: TARGETDIR is set by the program"},
    {"the program's own name in any case", "/p lns=3", 160, "", "", "", false, "/p option invalid: lns is set by the program", ""},
    {"a server forced over the program's choice", "/p SETUPTYPE=Server", 160, "", "", "", false,
     "/p option invalid: SETUPTYPE is set by the program", ""},
    {"REBOOT is the program's in unattended runs only", "/p REBOOT=Force", 0, "", "", "REBOOT=Force", false, "", ""},
    {"REBOOT refused when quiet", "/p REBOOT=Force /q", 160, "quiet", "", "", false, "", ""},
    {"a private name refused", "/p company=Ombrant", 160, "", "", "", false,
     "/p option invalid: NAME=VALUE with a public (upper-case) name", "E\tProperty 'company=Ombrant' refused."},
    {"a property without its value", "/p COMPANY=", 160, "", "", "", false,
     "/p option invalid: NAME=VALUE with a public (upper-case) name", ""},
    {"/p without anything after an earlier /p", "/p A=1 /p", 160, "", "", "A=1", false, "/p option invalid", ""},
    {"an eleventh property", "/q /p A=1 /p B=1 /p C=1 /p D=1 /p E=1 /p F=1 /p G=1 /p H=1 /p I=1 /p J=1 /p K=1", 160,
     "quiet", "", "A=1 B=1 C=1 D=1 E=1 F=1 G=1 H=1 I=1 J=1", false, "", ""},
};

class Unattended : public ::testing::TestWithParam<UnattendedRow>
{
};

TEST_P(Unattended, Row)
{
    const UnattendedRow& row = GetParam();
    fwtest::LogCapture log;
    fwtest::BoxAnswerer answerer;
    std::vector<std::string> words = {"fernwick.exe"};
    for (const char* p = row.args; *p;)
    {
        const char* end = strchr(p, ' ');
        words.push_back(end ? std::string(p, end) : std::string(p));
        p = end ? end + 1 : p + strlen(p);
    }
    std::vector<const char*> argv;
    for (const std::string& word : words)
        argv.push_back(word.c_str());
    C_String language, iniFile;
    RunState.Reset();

    EXPECT_EQ(row.result, ParseCommandLineArgs((int)argv.size(), argv.data(), row.args, language, iniFile));
    EXPECT_EQ(std::string(row.mode), RunState.Unattended() ? RunState.UnattendedName() : "");
    std::string languages, properties;
    for (int i = 0; i < LANGUAGE_SLOTS; ++i)
        if (RunState.commandLanguages[i])
            languages += std::string(languages.empty() ? "" : " ") + LanguageCode(i);
    EXPECT_EQ(row.languages, languages);
    EXPECT_EQ((int)strlen(row.languages) / 3 + (row.languages[0] != 0), RunState.commandLanguageCount);
    for (int i = 0; i < RunState.propertyCount; ++i)
        properties += std::string(i ? " " : "") + RunState.propertyNames[i].GetNarrow() + "=" +
                      RunState.propertyValues[i].GetNarrow();
    EXPECT_EQ(row.properties, properties);
    EXPECT_EQ(row.client, RunState.clientRequested);
    std::vector<std::string> boxes = answerer.Texts();
    EXPECT_EQ(row.box[0] ? std::vector<std::string>{row.box} : std::vector<std::string>(), boxes);
    if (row.logLine[0] != 0)
    {
        EXPECT_TRUE(log.Has({row.logLine})) << log.Text();
    }
    RunState.Reset();
}

INSTANTIATE_TEST_SUITE_P(CommandLine, Unattended, ::testing::ValuesIn(UNATTENDED_ROWS),
                         [](const ::testing::TestParamInfo<UnattendedRow>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p; ++p)
                                 if (isalnum((unsigned char)*p))
                                     name += *p;
                                 else if (name.empty() || name.back() != '_')
                                     name += '_';
                             return name;
                         });
