// The progress window of a real run, held at its language selection: texts
// from the labels, the switch to the ticked language, at least one language,
// and Greek shown in its own code page where the program uses the narrow
// system interfaces (Windows 98). Cancel and its question are rows of the
// whole-run table.
#include <gtest/gtest.h>

#include <string>

#include "Distribution.h"
#include "Scenario.h"
#include "TestSupport.h"
#include "resource.h"

using namespace fwe2e;

namespace
{
// Slots of the language choices (the order of the language table).
const int DE = IDC_LANGUAGE_FIRST + 1, EL = IDC_LANGUAGE_FIRST + 2, EN = IDC_LANGUAGE_FIRST + 3;

// Every text of the window differs from the English one.
const char LABELS_DE[] = u8"[Labels_DE]\nCaption=%s Installation [%hs]\nOrganisation=Ombrant GmbH\n"
                         u8"Header=Willkommen bei ZAPH\nBranding=Ombrant ZAPH\nCancelButton=Abbrechen\n"
                         u8"ProceedButton=Weiter\n"
                         u8"LanguageSelection=Sprachen wählen.\nSelectLanguage=Sprache DE\n";
const char LABELS_EL[] = u8"[Labels_EL]\nCaption=%s Εγκατάσταση [%hs]\nOrganisation=Φέρνγουικ\n"
                         u8"Header=Καλώς ήρθατε\nCancelButton=Άκυρο\nProceedButton=Συνέχεια\n"
                         u8"LanguageSelection=Επιλέξτε γλώσσες.\nSelectLanguage=Ελληνικά\n";

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

TEST(Window, TextsFollowTheTickedLanguage)
{
    Scenario s;
    ProgramWindow w = StartAtSelection(s, LABELS_DE, "", "Choose the languages.");
    ASSERT_TRUE(w);
    EXPECT_EQ("Ombrant ZAPH", w.ControlText(IDC_BRANDING));
    EXPECT_EQ("Sprache DE", w.ControlText(DE));

    // Without a language there is nothing to proceed with.
    EXPECT_TRUE(w.Click(DE));
    EXPECT_TRUE(w.Click(EN));
    EXPECT_FALSE(w.IsEnabled(IDC_PROCEED));
    // Ticking a language re-texts the whole window in it.
    EXPECT_TRUE(w.Click(DE));
    EXPECT_TRUE(w.IsEnabled(IDC_PROCEED));
    EXPECT_EQ("Ombrant GmbH Installation [DE] 6.2", w.Title());
    EXPECT_EQ("Willkommen bei ZAPH", w.ControlText(IDC_HEADING));
    EXPECT_EQ(u8"Sprachen wählen.", w.ControlText(IDC_INFO_TEXT));
    EXPECT_EQ("Abbrechen", w.ControlText(IDCANCEL));
    EXPECT_EQ("Weiter", w.ControlText(IDC_PROCEED));
    // Kept in the build tree for a person to look at.
    EXPECT_TRUE(w.SaveBitmap(fwtest::BinaryDir() + "\\e2e_window_de.bmp"));
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
    EXPECT_EQ(u8"Καλώς ήρθατε", Shown(w, IDC_HEADING, 1253));
    EXPECT_EQ(u8"Ελληνικά", Shown(w, EL, 1253));
    EXPECT_EQ("Language EN", Shown(w, EN, 1252));
    EXPECT_TRUE(w.SaveBitmap(fwtest::BinaryDir() + "\\e2e_window_el_win98.bmp"));
}
