// The main sequence from the outside: the single instance, the start-up
// lines, the settings file and the language (phase 1), the source mode, the
// member state, the versions and the base (phase 2), the final boxes and the
// log copies in the target folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Distribution.h"
#include "Scenario.h"
#include "TestSupport.h"
#include "resource.h"

using namespace fwe2e;

namespace
{
const char* const CAPTION = "MORV_TELA Setup and Upgrade Tool"; // string table entry 11
const char* const START = "**** Fernwick START ****.";
const char* const END = "**** Fernwick END ****.";
const char* const STOP_LINE = "E\tThe setting 'MSI_Version' of the settings file is missing or invalid.";
const char* const BASE_URL = "http://downloads.example/LU/6.2/";

std::string ReturnCodeLine(int rc)
{
    return "\t**> Main return code '" + std::to_string(rc) + "'.";
}

// The release's settings, fetched from the web (no marker), without the
// engine version: a run ends there, after every check before it, with 13
// (and with no backup question when given a target folder).
Distribution Stopping()
{
    Distribution dist;
    dist.Web().Remove("MSI_Version").Label("MadeBackup", "");
    return dist;
}

// The final boxes of a run that ends at the missing engine version: the
// setting's error and the abandoned step, owned by the progress window.
void ExpectStopBox(Scenario& s)
{
    s.ExpectBox()
        .TitleEquals("Ombrant ZAPH Setup [EN] 6.2")
        .TextEquals(STOP_LINE + 2)
        .Icon(ICON_ERROR)
        .Owned(true);
    s.ExpectBox().TitleEquals("Ombrant ZAPH Setup [EN] 6.2").Icon(ICON_ERROR).Owned(true);
}

} // namespace

// While one run waits at its language selection, a second start ends at once
// with 1618: no box, no closing lines; the first run is not disturbed and ends
// as it would have.
TEST(MainSequence, SecondInstanceEndsAtOnceWith1618)
{
    Scenario first;
    Distribution dist;
    dist.Apply("langs=EN FR");
    ASSERT_TRUE(dist.WriteTo(first));
    ASSERT_TRUE(first.Start());
    ProgramWindow window = first.FindWindow(dist.Title(), 20000);
    ASSERT_TRUE(window.WaitForText(IDC_INFO_TEXT, "Choose the languages.", 20000)) << window.Describe();

    Scenario second;
    ASSERT_TRUE(Stopping().WriteTo(second));
    EXPECT_EQ(1618, second.Run("/l EN"));
    LogView log = second.Log();
    EXPECT_TRUE(log.HasLine(START));
    EXPECT_TRUE(log.LacksLine(END));
    EXPECT_TRUE(log.Lacks("Main return code"));
    EXPECT_TRUE(log.Lacks("parsed"));
    EXPECT_TRUE(second.Boxes().empty());

    first.ExpectBox().TextEquals("Stop the setup?").Press(IDYES);
    EXPECT_TRUE(window.Click(IDCANCEL));
    EXPECT_EQ(1223, first.Wait());
    EXPECT_TRUE(first.Log().InOrder({"\tCancelled by the user.", ReturnCodeLine(1223), END}));
}

// A settings file that is missing or unusable ends the run with 13 after an
// error box without owner that names the file; no window, no later phase.
TEST(MainSequence, UnusableSettingsFileEndsWith13)
{
    struct Row
    {
        const char* what;
        const char* fileText;   // null: no file
        const char* arguments;
        const char* shownName;  // below Dir(), or as given when relative in /i
    };
    const Row rows[] = {
        {"missing", nullptr, "", "Zaph.ini"},
        {"no labels",
         "[Settings]\nBASE_URL=x\n[Components]\na=Any\n[Additional]\nb=Any\n[CheckSums]\na=0\n", "",
         "Zaph.ini"},
        {"no settings section", "[Labels_EN]\nCaption=x\n", "", "Zaph.ini"},
        {"missing /i file", nullptr, "/i other.ini", nullptr},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        Scenario s;
        if (row.fileText)
        {
            ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", row.fileText));
        }
        std::string shown = row.shownName ? s.Path(row.shownName) : "other.ini";
        s.ExpectBox()
            .TitleEquals(CAPTION)
            .TextEquals("Initialisation file '" + shown + "' not OK\nIt may be missing or corrupted.")
            .Icon(ICON_ERROR)
            .Owned(false);
        EXPECT_EQ(13, s.Run(row.arguments));
        LogView log = s.Log();
        EXPECT_TRUE(log.InOrder({START, "\tAdmin='yes', WINNT='yes'.",
                                 "E\tInitialisation file '" + shown + "' not OK",
                                 ReturnCodeLine(13), END}));
        EXPECT_TRUE(log.Lacks("My name is"));
    }
}

// No usable label section for the language: 13 and the language box. A code
// the file has no labels for falls back to a language it has.
TEST(MainSequence, LanguageWithoutLabels)
{
    {
        Scenario s;
        ASSERT_TRUE(Stopping().Languages("QQ").WriteTo(s));   // labels, but of no language of ours
        s.ExpectBox()
            .TitleEquals(CAPTION)
            .TextEquals("Language 'DE' not found in file '" + s.Path("Zaph.ini") + "'")
            .Icon(ICON_ERROR)
            .Owned(false);
        EXPECT_EQ(13, s.Run("/l DE"));
        EXPECT_TRUE(s.Log().InOrder({"\tLanguage='DE'", ReturnCodeLine(13), END}));
        EXPECT_TRUE(s.Log().Lacks("My name is"));
    }
    {
        Scenario s;
        ASSERT_TRUE(Stopping().WriteTo(s));
        ExpectStopBox(s);
        EXPECT_EQ(13, s.Run("/l DE"));
        EXPECT_TRUE(s.Log().InOrder({"\tSelected language = 'EN'", "\tMy name is 'fernwick.exe'"}));
    }
}

// A good settings file: every check of phases 1 and 2 is logged, and the run
// ends with 13 at the engine version these settings lack, without success.
TEST(MainSequence, SettingsPhasesThenStopWith13)
{
    Scenario s;
    ASSERT_TRUE(Stopping().WriteTo(s));
    ExpectStopBox(s);
    EXPECT_EQ(13, s.Run("/l EN"));
    LogView log = s.Log();
    EXPECT_TRUE(log.InOrder({START, "\tLanguage='EN'", "\tAdmin='yes', WINNT='yes'.",
                             "\tDownloads run without the worker thread.",
                             "\tSelected language = 'EN'", "\tMy name is 'fernwick.exe'",
                             "\t'WEB' Installation", "\tINIFILE setting 'MS' = 'LU'",
                             "\tINIFILE setting 'IniVersion' = '6.2'",
                             "\tINIFILE variable 'ExeVersion' = '6.2.0.5'",
                             std::string("\tBASE_URL = '") + BASE_URL + "'", STOP_LINE,
                             ReturnCodeLine(13), END}));
    EXPECT_TRUE(log.Lacks("successfully"));
    EXPECT_TRUE(log.Lacks("Installation of ZAPH.NET"));
}

// LOCAL when the program is named setup.exe or the marker lies in the current
// folder; then BASE_URL is the current folder, and its absence stops nothing.
// WEB without either, where a missing or empty BASE_URL ends the run with 13.
TEST(MainSequence, SourceModeAndBaseUrl)
{
    struct Row
    {
        const char* what;
        const char* exeName;
        bool marker;
        const char* baseUrl;              // null: no such line
        const char* mode;
        int rc;
        const char* lineEnd = "\n";       // CR alone: an old editor's line ends
        const char* invalidValue = NULL;  // a label that asks for other arguments
    };
    const Row rows[] = {
        {"setup.exe", "SETUP.EXE", false, nullptr, "LOCAL", 0},
        {"marker", "fernwick.exe", true, nullptr, "LOCAL", 0},
        {"web without BASE_URL", "fernwick.exe", false, nullptr, "WEB", 13},
        {"web with empty BASE_URL", "fernwick.exe", false, "", "WEB", 13},
        {"CR-only line ends", "fernwick.exe", false, nullptr, "WEB", 13, "\r"},
        {"label with other specifiers", "fernwick.exe", false, nullptr, "WEB", 13, "\n", "'%s' %hs %d"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        Scenario s;
        if (std::string(row.exeName) != "fernwick.exe")
            s.SetExeName(row.exeName);
        if (row.marker)
        {
            ASSERT_TRUE(s.WriteFile("_FW_LOCAL_.txt", ""));
        }
        Distribution dist = Stopping();
        row.baseUrl ? dist.Set("BASE_URL", row.baseUrl) : dist.Remove("BASE_URL");
        if (row.invalidValue)
            dist.Label("InvalidValue", row.invalidValue);
        std::string text = dist.SettingsText();
        for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += strlen(row.lineEnd))
            text.replace(at, 1, row.lineEnd);
        ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", text));
        if (row.rc == 13)
        {
            s.ExpectBox()
                .TitleEquals("Ombrant ZAPH Setup [EN] 6.2")
                .TextEquals(row.invalidValue ? "?!Missing Information/Error Message.\nPlease contact your supplier."
                                             : "The setting 'BASE_URL' of the settings file is missing or invalid.")
                .Icon(ICON_ERROR)
                .Owned(true);
            s.ExpectBox().TextEquals("An error occurred:\nInitialising").Icon(ICON_ERROR).Owned(true);
        }
        else
        {
            ExpectStopBox(s);
        }
        EXPECT_EQ(13, s.Run("/l EN"));
        LogView log = s.Log();
        EXPECT_TRUE(log.HasLine(std::string("\t'") + row.mode + "' Installation"));
        EXPECT_TRUE(log.HasLine(std::string("\tMy name is '") + row.exeName + "'"));
        if (row.rc == 13)
        {
            EXPECT_TRUE(log.InOrder({"W\tSetting 'BASE_URL' missing!", ReturnCodeLine(13), END}));
            EXPECT_TRUE(log.Lacks(STOP_LINE));
        }
        else
        {
            EXPECT_TRUE(log.InOrder({"\tBASE_URL = '" + s.Dir() + "\\'", STOP_LINE,
                                     ReturnCodeLine(13)}));
        }
    }
}

// A fault of the processor in the middle of the main sequence (planted by a
// test build of the program) ends like an escaping exception: the log line,
// the box without owner and -1, not the system's crash dialog.
TEST(MainSequence, ProcessorFaultsEndWithTheAbortBoxAndMinusOne)
{
    for (const char* kind : {"access", "stack"})
    {
        SCOPED_TRACE(kind);
        Scenario s;
        ASSERT_TRUE(s.CopyFromBin("fernwick_faulting.exe", "fernwick.exe"));
        ASSERT_TRUE(Stopping().WriteTo(s));
        SetEnvironmentVariableA("FW_TEST_FAULT", kind);
        s.ExpectBox()
            .TitleEquals("Setup")
            .TextEquals("Fernwick has encountered an unexpected error and will stop.")
            .Icon(ICON_ERROR)
            .Owned(false);
        int rc = s.Run("/l EN");
        SetEnvironmentVariableA("FW_TEST_FAULT", NULL);
        EXPECT_EQ(-1, rc);
        LogView log = s.Log();
        EXPECT_TRUE(log.InOrder({START, "E\tEXCEPTION - ABORT"}));
        EXPECT_TRUE(log.Lacks("Main return code"));
    }
}

// With a target folder the logs of the run go into its Log folder under the
// day's name, END banner included; without an existing folder nothing is made.
TEST(MainSequence, LogsAreCopiedIntoTheTargetFolder)
{
    Scenario s;
    ASSERT_TRUE(Stopping().WriteTo(s));
    std::string target = s.Folder("My Target");
    // The installer log of the day lives in the temporary folder, shared with
    // earlier runs: give it a content of this run's own to find in the copy.
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    std::string msiLog = std::string(temp) + "MSI_" + DayStamp() + ".log";
    std::string oldMsiLog;
    bool hadMsiLog = fwtest::ReadBytes(msiLog, oldMsiLog);
    ASSERT_TRUE(fwtest::WriteBytes(msiLog, "installer log of the copy scenario\r\n"));
    ExpectStopBox(s);
    EXPECT_EQ(13, s.Run("/l EN /t \"" + target + "\""));
    std::string copy = target + "\\Log\\Fernwick_" + DayStamp() + ".log";
    EXPECT_TRUE(FileExists(copy));
    EXPECT_TRUE(FileContains(copy, END));
    EXPECT_TRUE(FileContains(copy, "**> Main return code '13'."));
    EXPECT_TRUE(FileContains(target + "\\Log\\MSI_" + DayStamp() + ".log",
                             "installer log of the copy scenario"));
    if (hadMsiLog)
        fwtest::WriteBytes(msiLog, oldMsiLog);
    else
        DeleteFileA(msiLog.c_str());

    Scenario t;
    ASSERT_TRUE(Stopping().WriteTo(t));
    std::string missing = t.Root() + "\\not there";
    ExpectStopBox(t);
    EXPECT_EQ(13, t.Run("/l EN /t \"" + missing + "\""));
    EXPECT_TRUE(FileAbsent(missing));
}

// The settings file's Logging setting moves the rest of the run's log, and
// the old log says where to.
TEST(MainSequence, LoggingSettingMovesTheLog)
{
    Scenario s;
    std::string moved = s.Path("moved.log");
    ASSERT_TRUE(Stopping().Set("Logging", moved).WriteTo(s));
    ExpectStopBox(s);
    EXPECT_EQ(13, s.Run("/l EN"));
    EXPECT_TRUE(s.Log().HasLine("\tLogging continues in '" + moved + "' (setting Logging)."));
    EXPECT_TRUE(s.Log().LacksLine(END));
    LogView log = s.LogFile(moved);
    EXPECT_TRUE(log.InOrder({"\tMy name is 'fernwick.exe'", STOP_LINE, ReturnCodeLine(13), END}));
}
