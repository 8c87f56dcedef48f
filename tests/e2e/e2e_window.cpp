// The progress window on screen: texts from the labels in two languages, the
// caption, a language switch, Cancel in a modal wait, the fallback texts of
// missing labels, the narrow interfaces with fonts per character set, and a
// screenshot. The window is hosted by fw_windowhost.exe (the main sequence
// does not show it on its own yet), which is driven from here.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "Scenario.h"
#include "TestSupport.h"
#include "resource.h"

using namespace fwe2e;

namespace
{
const UINT HOST_SELECT_LANGUAGE = WM_APP + 1;
const UINT HOST_MODAL_WAIT = WM_APP + 2;
const UINT HOST_SHOW_MISSING = WM_APP + 3;
const UINT HOST_QUIT = WM_APP + 9;
const char* const HOST = "fw_windowhost.exe";

const char* const SETTINGS = R"([Settings]
BASE_URL=.
IniVersion=7.1
MemberState=LU
[Components]
data=x
[CheckSums]
x=00000000
[Additional]
extra=y
)";

const char* const LABELS_EN = R"([Labels_EN]
Caption=%s Setup [%hs]
Organisation=Fernwick Org
Header=Welcome to ZAPH
Branding=Fernwick Software 2007
CancelButton=Cancel
ProceedButton=Proceed
ConfirmCancel=Do you really want to cancel?
Initialising=Initialising...
InstallSystem=Installing the system
)";

const char* const LABELS_DE = u8R"([Labels_DE]
Caption=%s Installation [%hs]
Organisation=Fernwick GmbH
Header=Willkommen bei ZAPH
Branding=Fernwick Software 2007
CancelButton=Abbrechen
ProceedButton=Weiter
ConfirmCancel=Wirklich abbrechen?
Initialising=Initialisierung läuft...
InstallSystem=System wird installiert
)";

const char* const LABELS_EL = u8R"([Labels_EL]
Caption=%s Εγκατάσταση [%hs]
Organisation=Φέρνγουικ
Header=Καλώς ήρθατε
Branding=Fernwick
CancelButton=Άκυρο
ProceedButton=Συνέχεια
Initialising=Προετοιμασία...
InstallSystem=Εγκατάσταση συστήματος
)";

const char* const LABELS_PL = u8R"([Labels_PL]
Caption=%s Instalacja [%hs]
Organisation=Fernwick
Header=Zażółć gęślą jaźń
CancelButton=Anuluj
ProceedButton=Dalej
Initialising=Inicjalizacja...
InstallSystem=Instalacja systemu
)";

// A 159 by 67 logo file: blue to white from left to right.
std::string LogoBitmap()
{
    const int width = 159, height = 67;
    const int row = (width * 3 + 3) & ~3;
    std::string bmp(54 + row * height, '\0');
    auto put32 = [&](int at, unsigned value) {
        for (int i = 0; i < 4; ++i)
            bmp[at + i] = (char)((value >> (8 * i)) & 0xFF);
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, (unsigned)bmp.size());
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    bmp[26] = 1;
    bmp[28] = 24;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
        {
            int at = 54 + y * row + x * 3;
            unsigned char level = (unsigned char)(x * 255 / (width - 1));
            bmp[at] = (char)255;       // blue
            bmp[at + 1] = (char)level; // green
            bmp[at + 2] = (char)level; // red
        }
    return bmp;
}

// The host's report: "key=value" lines, rewritten after every command.
std::map<std::string, std::string> ReadReport(const std::string& path)
{
    std::map<std::string, std::string> report;
    for (const std::string& line : fwtest::ReadLines(path))
    {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            report[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return report;
}

::testing::AssertionResult WaitForReport(Scenario& s, int seq, std::map<std::string, std::string>& report)
{
    std::string path = s.Path("report.txt");
    for (int i = 0; i < 200; ++i)
    {
        report = ReadReport(path);
        if (report["seq"] == std::to_string(seq))
            return ::testing::AssertionSuccess();
        if (!s.Running())
            break;
        Sleep(50);
    }
    return ::testing::AssertionFailure() << "no report " << seq << " from the host (last: "
                                         << report["seq"] << ")";
}

void PrepareHost(Scenario& s, const std::string& labels)
{
    s.SetExeName(HOST);
    ASSERT_TRUE(s.CopyFromBin(HOST));
    ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", SETTINGS + labels));
}

void SaveShot(const ProgramWindow& window, const std::string& name)
{
    // Kept in the build tree for a person to look at.
    EXPECT_TRUE(window.SaveBitmap(fwtest::BinaryDir() + "\\" + name));
}
} // namespace

TEST(Window, TextsFollowTheLanguageAndCancelAsksInAModalWait)
{
    Scenario s;
    PrepareHost(s, std::string(LABELS_EN) + LABELS_DE);
    ASSERT_TRUE(s.WriteFile("Fernwick.bmp", LogoBitmap()));
    ASSERT_TRUE(s.Start("EN"));
    ProgramWindow w = s.FindWindow("Setup");
    ASSERT_TRUE(w) << "no progress window";
    std::map<std::string, std::string> report;
    ASSERT_TRUE(WaitForReport(s, 1, report));

    EXPECT_EQ("Fernwick Org Setup [EN] 7.1", w.Title());
    EXPECT_EQ("Welcome to ZAPH", w.ControlText(IDC_HEADING));
    EXPECT_EQ("Cancel", w.ControlText(IDCANCEL));
    EXPECT_EQ("Proceed", w.ControlText(IDC_PROCEED));
    EXPECT_EQ("Initialising...", w.ControlText(IDC_STATUS_UPPER));
    EXPECT_EQ("Installing the system", w.ControlText(IDC_STATUS_LOWER));
    EXPECT_EQ("Fernwick Software 2007", w.ControlText(IDC_BRANDING));
    EXPECT_TRUE(w.IsVisible(IDC_BRANDING));
    EXPECT_TRUE(w.IsEnabled(IDC_PROCEED));
    EXPECT_TRUE(w.IsVisible(IDC_BAR0));
    EXPECT_EQ(70, w.ProgressPos(IDC_BAR0));
    EXPECT_EQ(40, w.ProgressPos(IDC_BAR1));
    EXPECT_EQ("1", report["wide"]);
    EXPECT_EQ("off", report["fontmanager"]) << "no font handling with the wide interfaces";
    SaveShot(w, "e2e_window_en.bmp");

    // Another language re-texts the whole window.
    PostMessageA(w.Handle(), HOST_SELECT_LANGUAGE, 1 /* DE */, 0);
    ASSERT_TRUE(WaitForReport(s, 2, report));
    EXPECT_EQ("DE", report["language"]);
    EXPECT_EQ("Fernwick GmbH Installation [DE] 7.1", w.Title());
    EXPECT_EQ("Willkommen bei ZAPH", w.ControlText(IDC_HEADING));
    EXPECT_EQ("Abbrechen", w.ControlText(IDCANCEL));
    EXPECT_EQ("Weiter", w.ControlText(IDC_PROCEED));
    EXPECT_EQ(u8"Initialisierung läuft...", w.ControlText(IDC_STATUS_UPPER));

    // Cancel in a modal wait asks first; "no" keeps waiting, "yes" ends it.
    PostMessageA(w.Handle(), HOST_MODAL_WAIT, 0, 0);
    s.ExpectBox().TitleEquals("Fernwick GmbH Installation [DE] 7.1").TextEquals("Wirklich abbrechen?")
        .Icon(ICON_QUESTION).Owned(true).Press(IDNO);
    ASSERT_TRUE(WaitForReport(s, 3, report));
    EXPECT_TRUE(w.Click(IDCANCEL));
    ASSERT_TRUE(s.WaitForBoxes());
    EXPECT_TRUE(s.Running()) << "answering no goes on waiting";
    s.ExpectBox().TextEquals("Wirklich abbrechen?").Press(IDYES);
    EXPECT_TRUE(w.Click(IDCANCEL));
    ASSERT_TRUE(s.WaitForBoxes());
    EXPECT_EQ(1223, s.Wait(10000));
    report = ReadReport(s.Path("report.txt"));
    EXPECT_EQ("1223", report["result"]);
    LogView log = s.LogFile(s.Path("window.log"));
    EXPECT_TRUE(log.InOrder({ "\t'Wirklich abbrechen?' => 'no'", "\t'Wirklich abbrechen?' => 'yes'" }));
}

TEST(Window, MissingLabelsShowTheFallbackTexts)
{
    std::string labels = LABELS_EN;
    labels.replace(labels.find("ConfirmCancel="), std::string("ConfirmCancel=").size(), "Unused=");
    Scenario s;
    PrepareHost(s, labels);
    ASSERT_TRUE(s.Start());
    ProgramWindow w = s.FindWindow("Setup");
    ASSERT_TRUE(w);
    std::map<std::string, std::string> report;
    ASSERT_TRUE(WaitForReport(s, 1, report));

    s.ExpectBox().TextStartsWith("?!Missing Information/Error Message.")
        .TextContains("Please contact your supplier.").Icon(ICON_WARNING).Press(IDOK);
    PostMessageA(w.Handle(), HOST_SHOW_MISSING, 0, 0);
    ASSERT_TRUE(s.WaitForBoxes());
    ASSERT_TRUE(WaitForReport(s, 2, report));

    // Without the question's label Cancel does not cancel; Proceed ends the wait.
    PostMessageA(w.Handle(), HOST_MODAL_WAIT, 0, 0);
    s.ExpectBox().TextStartsWith("?!Missing Confirm message.").TextContains("Please contact your supplier.")
        .Icon(ICON_WARNING).Press(IDOK);
    ASSERT_TRUE(WaitForReport(s, 3, report));
    EXPECT_EQ("1", report["waiting"]);
    EXPECT_TRUE(w.Click(IDCANCEL));
    ASSERT_TRUE(s.WaitForBoxes());
    EXPECT_TRUE(w.Click(IDC_PROCEED));
    ASSERT_TRUE(WaitForReport(s, 4, report));
    EXPECT_EQ("1", report["waited"]);
    EXPECT_EQ("0", report["result"]);
    PostMessageA(w.Handle(), HOST_QUIT, 0, 0);
    EXPECT_EQ(0, s.Wait(10000));
    LogView log = s.LogFile(s.Path("window.log"));
    EXPECT_TRUE(log.HasLine("\t<no message text available>"));
    EXPECT_TRUE(log.HasLine("\tConfirm <no message text available>"));
}

TEST(Window, NarrowInterfacesDrawEachLanguageGroupInItsCharacterSet)
{
    Scenario s;
    PrepareHost(s, std::string(LABELS_EL) + LABELS_DE + LABELS_PL);
    s.SetWindowsVersion("win98");
    ASSERT_TRUE(s.Start("EL"));
    ProgramWindow w = s.FindWindow("");
    ASSERT_TRUE(w) << "no progress window";
    std::map<std::string, std::string> report;
    ASSERT_TRUE(WaitForReport(s, 1, report));
    EXPECT_EQ("0", report["wide"]);
    EXPECT_EQ("on", report["fontmanager"]);
    EXPECT_EQ("1253", report["codepage"]);
    EXPECT_EQ("161", report["charset"]);
    // The Greek heading: Greek text, drawn with a Greek font.
    EXPECT_EQ(u8"Καλώς ήρθατε", report["heading.shown"]);
    EXPECT_NE(std::string::npos, report["heading.font"].find("|161|")) << report["heading.font"];
    EXPECT_EQ(u8"Προετοιμασία...", report["status.shown"]);
    SaveShot(w, "e2e_window_el_win98.bmp");

    // East European: the font manager's own choice for the set.
    PostMessageA(w.Handle(), HOST_SELECT_LANGUAGE, 20 /* PL */, 0);
    ASSERT_TRUE(WaitForReport(s, 2, report));
    EXPECT_EQ("1250", report["codepage"]);
    EXPECT_EQ(u8"Zażółć gęślą jaźń", report["heading.shown"]);
    EXPECT_EQ("Tahoma|238|asked Tahoma|238", report["status.font"]);
    EXPECT_NE(std::string::npos, report["heading.font"].find("asked Tahoma|238")) << report["heading.font"];

    // Back to a Western language: the system's code page again.
    PostMessageA(w.Handle(), HOST_SELECT_LANGUAGE, 1 /* DE */, 0);
    ASSERT_TRUE(WaitForReport(s, 3, report));
    EXPECT_EQ("0", report["codepage"]);
    EXPECT_EQ("0", report["charset"]);
    EXPECT_EQ(u8"Initialisierung läuft...", report["status.shown"]);
    EXPECT_EQ("Fernwick GmbH Installation [DE] 7.1", w.Title());

    PostMessageA(w.Handle(), HOST_QUIT, 0, 0);
    EXPECT_EQ(0, s.Wait(10000));
}
