// The command line as an administrator types it: the usage and version boxes,
// rejected values and their return codes, the log file switch, and the same
// boxes on Windows 98 where the program uses the narrow system interfaces.
#include "Scenario.h"

using namespace fwe2e;

namespace
{
const char* const CAPTION = "MORV_TELA Setup and Upgrade Tool"; // string table entry 11
const char* const START = "**** Fernwick START ****.";
const char* const END = "**** Fernwick END ****.";
const char* const USAGE_START = "Usage:\n   /h :  Show this dialog.\n";
const char* const USAGE_LAST_LINE =
    "   /d[0-4] [<log file name>]: Switch on logging (debug) with optional verbosity level.";

std::string ReturnCodeLine(int rc)
{
    return "\t**> Main return code '" + std::to_string(rc) + "'.";
}
} // namespace

// /?, /h and /H all show the usage as a warning, with no error line, and end
// the run with 22 after the closing lines; no phase runs.
TEST(CommandLine, UsageBoxEndsWith22)
{
    for (const char* option : {"/?", "/h", "-H"})
    {
        SCOPED_TRACE(option);
        Scenario s;
        s.ExpectBox()
            .TitleEquals(CAPTION)
            .TextStartsWith(USAGE_START)
            .TextContains(USAGE_LAST_LINE)
            .TextLacks("Command line ERROR")
            .Icon(ICON_WARNING)
            .Owned(false)
            .Buttons({IDOK})
            .Press(IDOK);
        EXPECT_EQ(22, s.Run(option));
        LogView log = s.Log();
        EXPECT_TRUE(log.InOrder({START, "\tUsage:", ReturnCodeLine(22), END}));
        EXPECT_TRUE(log.LacksLine(std::string("\tCommand line '") + option + "' parsed OK."));
        EXPECT_TRUE(log.Lacks("Command line ERROR"));
        EXPECT_TRUE(log.Lacks("Admin='"));   // not even the system lines
    }
}

// Rejected values: the usage box turns into an error naming the option, the
// log says why, and the return code tells an empty value (8) from an invalid
// one that replaced an earlier good value (160).
struct RejectedRow
{
    const char* arguments;
    const char* error;
    int rc;
    const char* keptLine; // the earlier value that stays, or null
};

TEST(CommandLine, RejectedValuesShowTheUsageAsError)
{
    const RejectedRow rows[] = {
        {"/t", "/t option invalid", 8, nullptr},
        {"/u /t", "/t option invalid", 8, "\tAUTOUPGRADE"},
        {"/t /u", "/t option invalid", 8, nullptr},
        {"/l xx", "/l option invalid", 8, nullptr},
        {"/l ENG", "/l option invalid", 8, nullptr},
        {"/l EN /l xx", "/l option invalid", 160, "\tLanguage='EN'"},
        {"/t C:\\Zaph /t", "/t option invalid", 160, "\tTARGETDIR='C:\\Zaph'"},
        {"/i", "/i option invalid", 8, nullptr},
    };
    for (const RejectedRow& row : rows)
    {
        SCOPED_TRACE(row.arguments);
        Scenario s;
        s.ExpectBox()
            .TitleEquals(CAPTION)
            .TextStartsWith(USAGE_START)
            .TextContains(std::string("\n\nCommand line ERROR: ") + row.error)
            .Icon(ICON_ERROR)
            .Owned(false)
            .Press(IDOK);
        EXPECT_EQ(row.rc, s.Run(row.arguments));
        LogView log = s.Log();
        EXPECT_TRUE(log.InOrder({START, std::string("E\tCommand line ERROR: '") + row.error + "'",
                                 ReturnCodeLine(row.rc), END}));
        EXPECT_TRUE(log.Contains("' parsed *NOT* OK."));
        if (row.keptLine)
        {
            EXPECT_TRUE(log.HasLine(row.keptLine));
        }
    }
}

// Accepted switches are logged one by one and the scan stops at the first
// argument that is not an option; an unknown letter is only a warning. /d3
// <file> moves the log: the start stays in the default log, everything after
// the switch goes to the file given.
TEST(CommandLine, SwitchesAreLoggedAndUnknownOnesIgnored)
{
    Scenario s;
    std::string file = s.Path("run log.txt");
    s.ExpectBox().TextStartsWith(USAGE_START).TextLacks("Command line ERROR").Icon(ICON_WARNING);
    EXPECT_EQ(22, s.Run("/d3 \"" + file + "\" /u /m /c /f /x /z /L en /T \"C:\\My Apps\\ZAPH\\\\\" /?"));
    LogView moved = s.LogFile(file);
    EXPECT_TRUE(moved.InOrder({"\tLOGFILE='" + file + "'", "\tAUTOUPGRADE", "\tMULTIMODE", "\tCHECKONLY",
                               "\tAdding Features", "\tDEBUG", "W\tArgument '/z' not recognised ( ignored )",
                               "\tLanguage='en'", "\tTARGETDIR='C:\\My Apps\\ZAPH'", "\tUsage:",
                               ReturnCodeLine(22), END}));
    EXPECT_TRUE(moved.LacksLine(START));
    LogView original = s.Log();
    EXPECT_TRUE(original.HasLine(START));
    EXPECT_TRUE(original.LacksLine(END));
}

// /v shows the program's own version resource (language block 080904b0).
TEST(CommandLine, VersionBoxShowsTheVersionResource)
{
    Scenario s;
    const std::string block = "080904b0";
    std::string comments = VersionString(s.ExePath(), block, "Comments");
    std::string version = VersionString(s.ExePath(), block, "ProductVersion");
    std::string copyright = VersionString(s.ExePath(), block, "LegalCopyright");
    std::string company = VersionString(s.ExePath(), block, "CompanyName");
    ASSERT_FALSE(version.empty()) << "no version resource in " << s.ExePath();
    s.ExpectBox()
        .TitleEquals(CAPTION)
        .TextEquals(comments + "\nVersion " + version + ".\n" + copyright + "\n" + company)
        .Icon(ICON_WARNING)
        .Owned(false);
    EXPECT_EQ(22, s.Run("/d0 /v"));
    // At the lowest verbosity the program's own version is still recorded; a
    // third field of 0 gives its place to the fourth (the build).
    std::string fields = version.substr(0, version.rfind('.'));
    if (fields.substr(fields.rfind('.')) == ".0")
        fields = fields.substr(0, fields.rfind('.') + 1) + version.substr(version.rfind('.') + 1) + ".0";
    else
        fields = version;
    EXPECT_TRUE(s.Log().InOrder({START, "\t'" + s.ExePath() + "' is version " + fields, END}));
}

// /9 forces the narrow system interfaces: on Windows 98 there is nothing to
// force (only its log line), on an NT system a box of its own says so first;
// the usage box that follows shows the full text in the window's caption.
TEST(CommandLine, ForcedWin95)
{
    for (const char* version : {"win98", "winxp", "win7"})
    {
        SCOPED_TRACE(version);
        Scenario s;
        s.SetWindowsVersion(version);
        if (std::string(version) != "win98")
            s.ExpectBox().TitleEquals("Setup").TextEquals("FORCED WIN95").Icon(ICON_WARNING).Owned(false);
        s.ExpectBox()
            .TitleEquals(CAPTION)
            .TextStartsWith(USAGE_START)
            .TextContains(USAGE_LAST_LINE)
            .Icon(ICON_WARNING)
            .Owned(false);
        EXPECT_EQ(22, s.Run("/9 /?"));
        EXPECT_TRUE(s.Log().InOrder({START, "\tForceWin95", "\tUsage:", ReturnCodeLine(22), END}));
    }
}
