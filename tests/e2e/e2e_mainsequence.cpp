// Runs that end before the language selection, one row each: the command
// line (usage and rejected values), the settings file and the language, the
// source mode and the base, a processor fault and libraries planted in the
// current folder. Every row is one Scenario; one driver runs
// them all. Then the progress window held at its language selection: at least
// one language, and Greek shown in its own code page where the program uses
// the narrow system interfaces (Windows 98). Cancel and its question are rows
// of the whole-run table.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Planted.h"
#include "Distribution.h"
#include "Scenario.h"
#include "TestSupport.h"
#include "resource.h"

using namespace fwe2e;

namespace
{
const char CAPTION[] = "MORV_TELA Setup and Upgrade Tool"; // string table entry 11
const char TITLE[] = "Ombrant ZAPH Setup [EN] 6.2";         // the progress window's caption
const char START[] = "**** Fernwick START ****.";
const char END[] = "**** Fernwick END ****.";
const char STOP_LINE[] = "E\tThe setting 'MSI_Version' of the settings file is missing or invalid.";
// The usage as a warning: its first and last lines; "..." stands between.
#define USAGE "Usage:\n   /h :  Show this dialog.\n..." \
              "   /d[0-4] [<log file name>]: Switch on logging (debug) with optional verbosity level."
const char USAGE_BOX[] = "W||" USAGE;
// The end of a run at the missing engine version, owned by the progress window.
const std::vector<std::string> STOP = {"E|*|The setting 'MSI_Version' of the settings file is missing or invalid.",
                                       "E|*|The installation was abandoned."};
const std::vector<std::string> NO_BASE = {"E|*|The setting 'BASE_URL' of the settings file is missing or invalid.",
                                          "E|*|An error occurred:\nInitialising"};
const std::vector<std::string> NO_BASE_LOG = {"\t'WEB' Installation", "W\tSetting 'BASE_URL' missing!"};
// A processor fault ends like an escaping exception, not with the system's
// crash dialog.
const char ABORT[] = "E|Setup|Fernwick has encountered an unexpected error and will stop.";
const std::vector<std::string> ABORT_LOG = {START, "E\tEXCEPTION - ABORT"};

// The usage turned into an error naming the option, and its log line.
std::string Bad(const std::string& option)
{
    return "E||Usage:\n...\n\nCommand line ERROR: " + option + " option invalid";
}
std::string Rejected(const std::string& option)
{
    return "E\tCommand line ERROR: '" + option + " option invalid'";
}
std::string NotOk(const std::string& file)
{
    return "E||Initialisation file '" + file + "' not OK\nIt may be missing or corrupted.";
}

// The program's start: under another file name, the test build with a
// processor fault ("access", "stack"), or with libraries planted in a separate
// current folder, which holds the settings file (none may be loaded).
struct Setup
{
    std::string exe, fault;
    bool planted;
};
Setup Exe(const std::string& name) { return {name, "", false}; }
Setup Fault(const std::string& kind) { return {"", kind, false}; }
const Setup PLANTED = {"", "", true};

struct Row
{
    const char* name;
    Setup setup;
    // The settings file: "-" none, else changes to a WEB release
    // without the engine version and the backup question (Distribution::Apply).
    const char* ini;
    const char* args;
    // "E|title|text", "W|...": title "" the program's caption (no owner), "*"
    // the progress window's (owned); text "a...b" starts with a, contains b.
    std::vector<std::string> boxes;
    int rc; // -1: the abort, without closing lines
    std::vector<std::string> log; // in this order, then the return code and END
    std::vector<std::string> lacks = {}; // parts the log lacks
};

const std::vector<Row> ROWS = {
    // The command line. Usage before anything else: not even the system lines.
    {"usage /?", {}, "-", "/?", {USAGE_BOX}, 22, {START, "\tUsage:"}, {"Command line ERROR", "Admin='"}},
    // An empty value ends with 8, one that replaced an earlier good value with 160.
    {"/t empty", {}, "-", "/t", {Bad("/t")}, 8, {START, Rejected("/t")}},
    {"/t followed by an option", {}, "-", "/t /u", {Bad("/t")}, 8, {Rejected("/t")}},
    {"/l replaced by a bad one", {}, "-", "/l EN /l xx", {Bad("/l")}, 160, {"\tLanguage='EN'", Rejected("/l")}},

    // A settings file missing or without our language: 13, a box without
    // owner, no window. (Damaged ones are the fault runs'.)
    {"settings file missing", {}, "-", "", {NotOk("<dist>\\Zaph.ini")}, 13,
     {START, "\tAdmin='yes', WINNT='yes'.", "E\tInitialisation file '<dist>\\Zaph.ini' not OK"}, {"My name is"}},
    {"no labels of any language of ours", {}, "langs=QQ", "/l DE",
     {"E||Language 'DE' not found in file '<dist>\\Zaph.ini'"}, 13, {"\tLanguage='DE'"}, {"My name is"}},
    // A language the file lacks falls back to one it has.
    {"language the file lacks", {}, "", "/l DE", STOP, 13,
     {START, "\tLanguage='DE'", "\tSelected language = 'EN'", STOP_LINE}, {"successfully"}},

    // LOCAL by the name setup.exe (by the marker file: the whole runs), with
    // the current folder as BASE_URL. WEB without either: a missing BASE_URL
    // ends with 13.
    {"setup.exe is LOCAL", Exe("SETUP.EXE"), "BASE_URL-", "/l EN", STOP, 13,
     {"\tMy name is 'SETUP.EXE'", "\t'LOCAL' Installation", "\tBASE_URL = '<dist>\\'", STOP_LINE}},
    {"WEB without BASE_URL", {}, "BASE_URL-", "/l EN", NO_BASE, 13, NO_BASE_LOG, {STOP_LINE}},
    {"a label asking for other arguments", {}, "BASE_URL-; @InvalidValue='%s' %hs %d", "/l EN",
     {"E|*|?!Missing Information/Error Message.\nPlease contact your supplier.", NO_BASE[1]}, 13,
     {"W\tSetting 'BASE_URL' missing!"}},

    {"access violation", Fault("access"), "", "/l EN", {ABORT}, -1, ABORT_LOG, {"Main return code"}},
    {"stack overflow", Fault("stack"), "", "/l EN", {ABORT}, -1, ABORT_LOG, {"Main return code"}},
    {"libraries planted in the current folder", PLANTED, "", "/l EN", STOP, 13, {STOP_LINE}},
};

std::string Expand(Scenario& s, const std::string& text)
{
    return fwtest::Expand(text, "<dist>", s.Dir());
}

void ExpectBoxes(Scenario& s, const Row& row)
{
    for (const std::string& box : row.boxes)
    {
        size_t bar = box.find('|', 2);
        std::string who = box.substr(2, bar - 2), text = Expand(s, box.substr(bar + 1));
        BoxExpectation& expect = s.ExpectBox()
                                     .TitleEquals(who == "*" ? TITLE : who.empty() ? CAPTION : who)
                                     .Owned(who == "*")
                                     .Icon(box[0] == 'E' ? ICON_ERROR : ICON_WARNING)
                                     .Buttons({IDOK});
        size_t dots = text.find("...");
        if (dots == std::string::npos)
            expect.TextEquals(text);
        else
            expect.TextStartsWith(text.substr(0, dots)).TextContains(text.substr(dots + 3));
    }
}

void RunRow(const Row& row)
{
    SCOPED_TRACE(row.name);
    Scenario s;
    std::unique_ptr<Planted> planted;
    std::string folder = s.Dir();
    if (!row.setup.exe.empty())
        s.SetExeName(row.setup.exe);
    if (!row.setup.fault.empty())
    {
        ASSERT_TRUE(s.CopyFromBin("fernwick_faulting.exe", "fernwick.exe"));
        SetEnvironmentVariableA("FW_TEST_FAULT", row.setup.fault.c_str());
    }
    if (row.setup.planted)
    {
        planted.reset(new Planted(s, "fernwick.exe"));
        folder = planted->Current();
    }
    if (row.ini[0] != '-')
    {
        Distribution dist;
        dist.Apply("web; MSI_Version-; @MadeBackup-; " + std::string(row.ini));
        ASSERT_TRUE(s.WriteUnicodeFile(folder + "\\Zaph.ini", dist.SettingsText()));
    }
    ExpectBoxes(s, row);
    int rc = s.Run(Expand(s, row.args));
    SetEnvironmentVariableA("FW_TEST_FAULT", NULL);
    EXPECT_EQ(row.rc, rc);

    LogView log = s.Log();
    std::vector<std::string> lines;
    for (const std::string& line : row.log)
        lines.push_back(Expand(s, line));
    if (row.rc != -1)
    {
        lines.push_back("\t**> Main return code '" + std::to_string(row.rc) + "'.");
        lines.push_back(END);
    }
    EXPECT_TRUE(log.InOrder(lines));
    for (const std::string& part : row.lacks)
    {
        EXPECT_TRUE(log.Lacks(part));
    }
    if (planted)
    {
        EXPECT_EQ("", planted->Loaded());
    }
}

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}
} // namespace

using Sequence = ::testing::TestWithParam<Row>;

TEST_P(Sequence, Row)
{
    RunRow(GetParam());
}

INSTANTIATE_TEST_SUITE_P(MainSequence, Sequence, ::testing::ValuesIn(ROWS), TestName<Row>);

namespace
{
// Slots of the language choices (the order of the language table).
const int DE = IDC_LANGUAGE_FIRST + 1, EN = IDC_LANGUAGE_FIRST + 3;

// German lacks the Proceed button's label.
const char LABELS_DE[] = "[Labels_DE]\nCaption=%s Installation [%hs]\nOrganisation=Ombrant GmbH\n"
                         "SelectLanguage=Sprache DE\n";
const char LABELS_EL[] = u8"[Labels_EL]\nCaption=%s Εγκατάσταση [%hs]\nOrganisation=Φέρνγουικ\n"
                         u8"LanguageSelection=Επιλέξτε γλώσσες.\n";

// A release in English and one more language, started and waiting at the
// language selection.
ProgramWindow StartAtSelection(Scenario& s, const char* labels, const std::string& args,
                               const std::string& info)
{
    Distribution dist;
    EXPECT_TRUE(dist.WriteTo(s));
    EXPECT_TRUE(s.WriteUnicodeFile("Zaph.ini", dist.SettingsText() + labels));
    EXPECT_TRUE(s.Start(args));
    ProgramWindow w = s.FindWindow("", 20000);
    EXPECT_TRUE(w.WaitForText(IDC_INFO_TEXT, info, 20000)) << w.Describe();
    return w;
}

// A control's text as a user of the narrow interfaces sees it: its bytes in
// the language's code page.
std::string Shown(const ProgramWindow& w, int id, UINT codePage)
{
    char narrow[512] = "";
    HWND control = id ? w.Control(id) : w.Handle();
    DWORD_PTR n = 0;
    SendMessageTimeoutA(control, WM_GETTEXT, sizeof(narrow), (LPARAM)narrow, SMTO_ABORTIFHUNG, 5000, &n);
    wchar_t wide[512] = L"";
    MultiByteToWideChar(codePage, 0, narrow, -1, wide, 512);
    return ToUtf8(wide);
}
} // namespace

TEST(Window, ProceedNeedsATickedLanguageWhoseTextsItTakes)
{
    Scenario s;
    ProgramWindow w = StartAtSelection(s, LABELS_DE, "", "Choose the languages.");
    ASSERT_TRUE(w);
    // Without a language there is nothing to proceed with.
    EXPECT_TRUE(w.Click(DE));
    EXPECT_TRUE(w.Click(EN));
    EXPECT_FALSE(w.IsEnabled(IDC_PROCEED));
    // Ticking a language re-texts the window in it.
    EXPECT_TRUE(w.Click(DE));
    EXPECT_TRUE(w.IsEnabled(IDC_PROCEED));
    EXPECT_EQ("Ombrant GmbH Installation [DE] 6.2", w.Title());
    EXPECT_EQ("Proceed", w.ControlText(IDC_PROCEED)) << "a label the language lacks keeps the text";
}

TEST(Window, NarrowInterfacesShowGreekInItsCodePage)
{
    Scenario s;
    s.SetWindowsVersion("win98");
    ProgramWindow w = StartAtSelection(s, LABELS_EL, "/l EL", "");
    ASSERT_TRUE(w);
    for (int i = 0; i < 200 && Shown(w, IDC_INFO_TEXT, 1253) != u8"Επιλέξτε γλώσσες."; ++i)
        Sleep(100);
    EXPECT_EQ(u8"Επιλέξτε γλώσσες.", Shown(w, IDC_INFO_TEXT, 1253)) << w.Describe();
    EXPECT_EQ(u8"Φέρνγουικ Εγκατάσταση [EL] 6.2", Shown(w, 0, 1253));
}
