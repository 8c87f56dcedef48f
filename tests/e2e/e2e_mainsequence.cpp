// The main sequence from the outside: the single instance, the start-up
// lines, the settings file and the language (phase 1), the progress window,
// the source mode, the member state, the versions and the base (phase 2), the
// stop where the build ends, the final boxes and the log copies in the target
// folder.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Scenario.h"
#include "TestSupport.h"
#include "resource.h"

using namespace fwe2e;

namespace
{
const char* const CAPTION = "MORV_TELA Setup and Upgrade Tool"; // string table entry 11
const char* const START = "**** Fernwick START ****.";
const char* const END = "**** Fernwick END ****.";
// These settings lack the engine version: the run ends there, after every
// check before it, with 13.
const char* const STOP_LINE = "E\tThe setting 'MSI_Version' of the settings file is missing or invalid.";
const char* const BASE_URL = "http://downloads.example/LU/2.1/";

std::string ReturnCodeLine(int rc)
{
    return "\t**> Main return code '" + std::to_string(rc) + "'.";
}

// A settings file of the sample's kind, small enough to read in a test. Each
// setting line can be left out or changed by the test.
struct Settings
{
    std::string baseUrl = std::string("BASE_URL=") + BASE_URL + "\n";
    std::string memberState = "MemberState=LU\n";
    std::string iniVersion = "IniVersion=2.1\n";
    std::string dotNet = "DotNet=no\n";
    std::string extra;
    std::string labelsCode = "EN";

    std::string Text() const
    {
        return "[Settings]\n" + baseUrl + memberState + iniVersion + "ExeVersion=2.1.0.5\n" +
               dotNet + "Threading=Off\n" + extra +
               "[Components]\n<MS>\\ms.mdb=V2.1.0.0\n[Additional]\n<MS>\\news.txt=Any\n"
               "[CheckSums]\n<MS>\\ms.mdb=00000000\n"
               "[Labels_" + labelsCode + "]\n"
               "Caption=%s ZAPH Setup [%hs]\n"
               "Organisation=Ombrant\n"
               "Header=ZAPH Setup and Upgrade\n"
               "Branding=Ombrant ZAPH\n"
               "CancelButton=Cancel\n"
               "ProceedButton=Proceed\n"
               "InvalidValue=The setting '%s' of the settings file is missing or invalid.\n"
               "ErrorOccurred=An error occurred:|%s\n"
               "Initialising=Initialising\n"
               "Success=ZAPH has been installed successfully.\n";
    }
};

// The final boxes of a run that ends at the missing engine version: the
// setting's error and the abandoned step, owned by the progress window.
void ExpectStopBox(Scenario& s)
{
    s.ExpectBox()
        .TitleEquals("Ombrant ZAPH Setup [EN] 2.1")
        .TextEquals(STOP_LINE + 2)
        .Icon(ICON_ERROR)
        .Owned(true);
    s.ExpectBox().TitleEquals("Ombrant ZAPH Setup [EN] 2.1").Icon(ICON_ERROR).Owned(true);
}

// A run of fernwick.exe in a scenario's folder without the box robot: its
// message boxes wait until the test answers them, so that the test can look
// at the program (or start another one) meanwhile. Killed if still running
// at the end.
class HeldRun
{
public:
    HeldRun(Scenario& s, const std::string& arguments) : m_logPath(DefaultLogPath())
    {
        // Closed windows of an unmanaged program go at once under a bare X server.
        s.SetRegString("HKCU\\Software\\Wine\\AppDefaults\\fernwick.exe\\X11 Driver", "Managed", "N");
        std::string dummy;
        fwtest::ReadBytes(m_logPath, dummy);
        m_logOffset = dummy.size();
        std::string line = "\"" + s.ExePath() + "\" " + arguments;
        std::vector<char> buffer(line.begin(), line.end());
        buffer.push_back(0);
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (CreateProcessA(s.ExePath().c_str(), buffer.data(), NULL, NULL, FALSE, 0, NULL,
                           s.Dir().c_str(), &startup, &process))
        {
            CloseHandle(process.hThread);
            m_process = process.hProcess;
            m_pid = process.dwProcessId;
        }
    }
    ~HeldRun()
    {
        if (m_process != NULL)
        {
            if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT)
            {
                TerminateProcess(m_process, 99);
                WaitForSingleObject(m_process, 5000);
            }
            CloseHandle(m_process);
        }
    }
    bool Started() const { return m_process != NULL; }

    // The first visible message box of the program, or null after the timeout.
    HWND WaitForBox(DWORD timeoutMs = 20000)
    {
        for (DWORD waited = 0; waited < timeoutMs; waited += 100)
        {
            Search search = {m_pid, NULL};
            EnumWindows(FindBox, (LPARAM)&search);
            if (search.box != NULL)
                return search.box;
            if (WaitForSingleObject(m_process, 100) != WAIT_TIMEOUT)
                return NULL;
        }
        return NULL;
    }

    // The top-level window of the program with the given title part.
    ProgramWindow MainWindow(const std::string& titlePart)
    {
        Search search = {m_pid, NULL};
        search.title = titlePart;
        EnumWindows(FindTitled, (LPARAM)&search);
        return ProgramWindow(search.box);
    }

    static void Answer(HWND box, int id)
    {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, id));
    }

    int Wait(DWORD timeoutMs = 30000)
    {
        if (m_process == NULL || WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0)
            return -2;
        DWORD code = 0;
        GetExitCodeProcess(m_process, &code);
        return (int)code;
    }

    LogView Log() const
    {
        std::string text;
        fwtest::ReadBytes(m_logPath, text);
        return LogView(m_logPath, text.size() > m_logOffset ? text.substr(m_logOffset) : "");
    }

private:
    struct Search
    {
        DWORD pid;
        HWND box;
        std::string title;
    };
    static bool IsBox(HWND hwnd)
    {
        char cls[64] = "";
        GetClassNameA(hwnd, cls, sizeof(cls));
        return std::string(cls) == "#32770" && GetDlgItem(hwnd, 0xFFFF) != NULL &&
               GetDlgItem(hwnd, IDOK) != NULL;
    }
    static BOOL CALLBACK FindBox(HWND hwnd, LPARAM param)
    {
        Search* search = (Search*)param;
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid == search->pid && IsWindowVisible(hwnd) && IsBox(hwnd))
        {
            search->box = hwnd;
            return FALSE;
        }
        return TRUE;
    }
    static BOOL CALLBACK FindTitled(HWND hwnd, LPARAM param)
    {
        Search* search = (Search*)param;
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid == search->pid && !IsBox(hwnd) &&
            ProgramWindow(hwnd).Title().find(search->title) != std::string::npos)
        {
            search->box = hwnd;
            return FALSE;
        }
        return TRUE;
    }

    std::string m_logPath;
    size_t m_logOffset = 0;
    HANDLE m_process = NULL;
    DWORD m_pid = 0;
};
} // namespace

// While one run waits at a box, a second start ends at once with 1618: no box,
// no closing lines; the first run is not disturbed and ends as it would have.
TEST(MainSequence, SecondInstanceEndsAtOnceWith1618)
{
    Scenario first;  // no settings file: the first run waits at its error box
    HeldRun held(first, "");
    ASSERT_TRUE(held.Started());
    HWND box = held.WaitForBox();
    ASSERT_TRUE(box != NULL) << held.Log().Describe();

    Scenario second;
    ASSERT_TRUE(second.WriteUnicodeFile("Zaph.ini", Settings().Text()));
    EXPECT_EQ(1618, second.Run("/l EN"));
    LogView log = second.Log();
    EXPECT_TRUE(log.HasLine(START));
    EXPECT_TRUE(log.LacksLine(END));
    EXPECT_TRUE(log.Lacks("Main return code"));
    EXPECT_TRUE(log.Lacks("parsed"));
    EXPECT_TRUE(second.Boxes().empty());

    HeldRun::Answer(box, IDOK);
    EXPECT_EQ(13, held.Wait());
    EXPECT_TRUE(held.Log().InOrder({ReturnCodeLine(13), END}));
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
        Settings settings;
        settings.labelsCode = "QQ";   // a header, but no language of ours
        ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", settings.Text()));
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
        ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", Settings().Text()));
        ExpectStopBox(s);
        EXPECT_EQ(13, s.Run("/l DE"));
        EXPECT_TRUE(s.Log().InOrder({"\tSelected language = 'EN'", "\tMy name is 'fernwick.exe'"}));
    }
}

// /h shows the usage and ends with 22 after the closing lines; nothing of the
// run proper happens (not even the system lines).
TEST(MainSequence, UsageEndsBeforeAnyPhase)
{
    Scenario s;
    ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", Settings().Text()));
    s.ExpectBox().TextStartsWith("Usage:").Icon(ICON_WARNING).Owned(false);
    EXPECT_EQ(22, s.Run("/h"));
    LogView log = s.Log();
    EXPECT_TRUE(log.InOrder({START, "\tUsage:", ReturnCodeLine(22), END}));
    EXPECT_TRUE(log.Lacks("Admin='"));
    EXPECT_TRUE(log.Lacks("Selected language"));
    EXPECT_TRUE(log.Lacks("My name is"));
}

// A good settings file: the window shows the texts of the labels, and the run
// ends with 13 at the engine version these settings lack, without success.
TEST(MainSequence, WindowTextsThenStopWith13)
{
    Scenario s;
    ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", Settings().Text()));
    HeldRun run(s, "/l EN");
    ASSERT_TRUE(run.Started());
    HWND box = run.WaitForBox();
    ASSERT_TRUE(box != NULL) << run.Log().Describe();

    ProgramWindow box_(box);
    EXPECT_EQ(STOP_LINE + 2, box_.ControlText(0xFFFF));
    // The engine step's log window bears the same caption and stands in
    // for the progress window, which owns the box and keeps its texts.
    ProgramWindow window(GetWindow(box, GW_OWNER));
    ASSERT_TRUE(window) << box_.Describe();
    EXPECT_EQ("Ombrant ZAPH Setup [EN] 2.1", window.Title());
    EXPECT_EQ("ZAPH Setup and Upgrade", window.ControlText(IDC_HEADING));
    EXPECT_EQ("Initialising", window.ControlText(IDC_INFO_TEXT));
    EXPECT_EQ("LU", window.ControlText(IDC_STATUS_UPPER));
    EXPECT_EQ("", window.ControlText(IDC_STATUS_LOWER));
    EXPECT_EQ("Proceed", window.ControlText(IDC_PROCEED));
    EXPECT_EQ("Cancel", window.ControlText(IDCANCEL));
    EXPECT_EQ("Ombrant ZAPH", window.ControlText(IDC_BRANDING));
    EXPECT_TRUE(window.SaveBitmap(s.Root() + "\\phase2_window.bmp"));

    HeldRun::Answer(box, IDOK);
    HWND abandoned = box;
    for (int i = 0; i < 100 && (abandoned == box || abandoned == NULL); ++i, Sleep(100))
        abandoned = run.WaitForBox();
    ASSERT_TRUE(abandoned != NULL && abandoned != box) << run.Log().Describe();
    HeldRun::Answer(abandoned, IDOK);
    EXPECT_EQ(13, run.Wait());
    LogView log = run.Log();
    EXPECT_TRUE(log.InOrder({START, "\tLanguage='EN'", "\tAdmin='yes', WINNT='yes'.",
                             "\tDownloads run without the worker thread.",
                             "\tSelected language = 'EN'", "\tMy name is 'fernwick.exe'",
                             "\t'WEB' Installation", "\tINIFILE setting 'MS' = 'LU'",
                             "\tINIFILE setting 'IniVersion' = '2.1'",
                             "\tINIFILE variable 'ExeVersion' = '2.1.0.5'",
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
        const char* baseUrlLine;
        const char* mode;
        int rc;
        const char* lineEnd = "\n";       // CR alone: an old editor's line ends
        const char* invalidValue = NULL;  // a label that asks for other arguments
    };
    const Row rows[] = {
        {"setup.exe", "SETUP.EXE", false, "", "LOCAL", 0},
        {"marker", "fernwick.exe", true, "", "LOCAL", 0},
        {"web without BASE_URL", "fernwick.exe", false, "", "WEB", 13},
        {"web with empty BASE_URL", "fernwick.exe", false, "BASE_URL=\n", "WEB", 13},
        {"CR-only line ends", "fernwick.exe", false, "", "WEB", 13, "\r"},
        {"label with other specifiers", "fernwick.exe", false, "", "WEB", 13, "\n", "'%s' %hs %d"},
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
        Settings settings;
        settings.baseUrl = row.baseUrlLine;
        std::string text = settings.Text();
        if (row.invalidValue)
            text.replace(text.find("The setting '%s'"), 10, row.invalidValue);
        for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += strlen(row.lineEnd))
            text.replace(at, 1, row.lineEnd);
        ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", text));
        if (row.rc == 13)
        {
            s.ExpectBox()
                .TitleEquals("Ombrant ZAPH Setup [EN] 2.1")
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
        ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", Settings().Text()));
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
    ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", Settings().Text()));
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
    ASSERT_TRUE(t.WriteUnicodeFile("Zaph.ini", Settings().Text()));
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
    Settings settings;
    settings.extra = "Logging=" + moved + "\n";
    ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", settings.Text()));
    ExpectStopBox(s);
    EXPECT_EQ(13, s.Run("/l EN"));
    EXPECT_TRUE(s.Log().HasLine("\tLogging continues in '" + moved + "' (setting Logging)."));
    EXPECT_TRUE(s.Log().LacksLine(END));
    LogView log = s.LogFile(moved);
    EXPECT_TRUE(log.InOrder({"\tMy name is 'fernwick.exe'", STOP_LINE, ReturnCodeLine(13), END}));
}
