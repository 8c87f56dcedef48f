#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "CResource.h"
#include "CResourceIterator.h"
#include "CodeTables.h"
#include "LogCapture.h"
#include "TestSupport.h"
#include "WideAPI.h"

namespace
{
// A result that may be null, comparable and readable in a failure (UTF-8).
std::string Show(const char* text)
{
    return text ? text : "<null>";
}

std::string Show(const wchar_t* text)
{
    if (text == NULL)
        return "<null>";
    std::string out(WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], (int)out.size(), NULL, NULL);
    out.resize(out.size() - 1);
    return out;
}

// A settings file with every section Load needs; the parts under test are
// given, the rest is filler.
std::wstring MakeIni(const std::wstring& settings, const std::wstring& labels = L"[Labels_EN]\r\nHeader=Setup\r\n",
                     const std::wstring& checkSums = L"x.zip=00000000\r\n")
{
    return L"[Settings]\r\n" + settings + L"\r\n[Components]\r\na.txt=Any\r\n[CheckSums]\r\n" + checkSums +
           L"\r\n[Additional]\r\nb.txt=Any\r\n" + labels;
}

class ResourceTest : public ::testing::Test
{
protected:
    void TearDown() override { SetConversionCodePage(m_savedCodePage); }

    // An ANSI file holds the text's characters as bytes of the system code page (1252).
    std::string Write(const std::wstring& text, bool ansi = false)
    {
        std::string path = m_dir.File("Zaph.ini");
        EXPECT_TRUE(fwtest::WriteBytes(path, ansi ? std::string(text.begin(), text.end()) : fwtest::Utf16File(text)));
        return path;
    }

    bool Load(CResource& res, const std::wstring& text) { return res.Load(Write(text).c_str()); }

    fwtest::TempDir m_dir{ "fwres" };
    fwtest::LogCapture m_log;
    const UINT m_savedCodePage = GetConversionCodePage();
};

// A whole run shows a refused file as its box; here an empty section that must
// not take the next section's body for its own, and the reason logged.
TEST_F(ResourceTest, LoadRefusesEmptySectionsWithTheirReason)
{
    const struct { std::wstring text; const char* reason; } rows[] = {
        { L"[Settings]\r\nA=1\r\n[Components]\r\n\r\n[CheckSums]\r\na=b\r\n[Additional]\r\na=b\r\n[Labels_EN]\r\nH=x\r\n",
          "'[Components]'" },
        { L"[Settings]\r\nA=1\r\n[Components]\r\na=b\r\n[CheckSums]\r\na=b\r\n[Labels_EN]\r\nH=x\r\n[Additional]\r\n  \r\n",
          "'[Additional]'" },
    };
    for (const auto& row : rows)
    {
        CResource res;
        std::string path = Write(row.text);
        EXPECT_FALSE(res.Load(path.c_str())) << row.reason;
        EXPECT_TRUE(m_log.Has({ "E\tINIFILE '" + path + "' doesn't have a valid " + row.reason + " section." }));
    }
}

// The grammar of the file, alike in both encodings. Settings are names of this
// system: they convert with its code page even while a language's is chosen.
TEST_F(ResourceTest, LookupRulesOfTheFormat)
{
    // Sections in any order and case; the first header of a section wins; the
    // file's last character has no line end after it.
    const std::wstring text = L"[additional]\r\nb.txt=Any\r\n"
                              L"[SETTINGS]\r\n"
                              L"Padded=  \t padded value \t \r\n"
                              L"Double=\"double quoted\"\r\n"
                              L"Empty=\r\n"
                              L"Next line is not a value\r\n"
                              L"IniVersion=2.1\r\n"
                              L"Text=see Version=9 inside\r\n"
                              L"Version=3.0\r\n"
                              L"   Indented=yes\r\n"
                              L"Folder=C:\\Caf\x00e9\r\n"
                              L"[Unknown part]\r\nB=2\r\n"
                              L"[checksums]\r\ndata\\a.zip=AAAAAAAA\r\na.zip=BBBBBBBB\r\nsub\\b.zip=CCCCCCCC\r\n"
                              L"[components]\r\na.txt=Any\r\n"
                              L"[Settings]\r\nSecond=2\r\n"
                              L"[labels_fr]\r\nHeader=Bienvenue";
    const struct { std::wstring key; const char* expected; } rows[] = {
        { L"Padded", "padded value" },
        { L"Double", "double quoted" },
        { L"Empty", "<null>" },           // the next line does not become its value
        { L"Version", "3.0" },            // not the tail of IniVersion, nor inside a value
        { L"Indented", "yes" },
        { L"Folder", "C:\\Caf\xE9" },
        { L"B", "<null>" },               // a line starting with '[' ends the section
        { L"a.txt", "<null>" },           // belongs to [Components]
        { L"Second", "<null>" },          // below the second [Settings]
    };
    // A file name matches whole, never the tail of a name below a folder.
    const char* const sums[][2] = { { "a.zip", "BBBBBBBB" }, { "DATA\\A.ZIP", "AAAAAAAA" }, { "b.zip", "<null>" } };
    // Files written with old Macintosh tools end their lines with CR alone.
    std::wstring crOnly;
    for (wchar_t c : text)
        if (c != L'\n')
            crOnly += c;
    for (int variant = 0; variant < 3; ++variant)
    {
        const bool ansi = variant == 1;
        SCOPED_TRACE(variant == 0 ? "UTF-16" : variant == 1 ? "ANSI" : "CR alone");
        SetConversionCodePage(1253);
        CResource res;
        const std::string path = Write(variant == 2 ? crOnly : text, ansi);
        ASSERT_TRUE(res.Load(path.c_str()));
        // The run copies the file at its end: it must not stay open, and the
        // text outlives the handle.
        EXPECT_TRUE(DeleteFileA(path.c_str()));
        for (const auto& row : rows)
            EXPECT_EQ(row.expected, Show(res.GetSetting(row.key.c_str(), false))) << Show(row.key.c_str());
        EXPECT_EQ(1253u, GetConversionCodePage());
        for (const auto& sum : sums)
            EXPECT_EQ(sum[1], Show(res.GetCheckSum(sum[0]))) << Show(sum[0]);
        EXPECT_TRUE(res.HasLabels("FR"));
        // A language without its section, or outside the table, has no labels.
        EXPECT_EQ("Bienvenue", Show(res.GetLabelFor(L"Header", 6)));
        for (int language : { 3, 24, -1 })
            EXPECT_EQ("<null>", Show(res.GetLabelFor(L"Header", language))) << language;
    }
}

TEST_F(ResourceTest, FormatLabelFillsArgumentsAndGrowsBeyond256Characters)
{
    CResource res;
    ASSERT_TRUE(Load(res, MakeIni(L"A=1", L"[Labels_EN]\r\nOrganisation=Ombrant\r\n"
                                          L"Caption=%s Setup [%hs]\r\n"
                                          L"DownloadFile=Downloading '%hs' from '%hs'|Please wait\r\n")));
    res.SetLanguage(3);
    // The organisation comes from a look-up too: the format must not replace it.
    EXPECT_EQ("Ombrant Setup [EN]", Show(res.FormatLabel(L"Caption", res.GetLabel(L"Organisation"), "EN")));

    // 213 makes a text of exactly 256 characters: no room for its terminator.
    for (size_t length : { (size_t)213, (size_t)5000 })
    {
        std::string name(length, 'n');
        EXPECT_EQ("Downloading '" + name + "' from 'http://h/'\nPlease wait",
                  Show(res.FormatLabel(L"DownloadFile", name.c_str(), "http://h/")));
    }

    // A label is input: one whose specifiers ask for more arguments than its
    // use supplies (two narrow texts here), or would write or read one more, is
    // a missing label; other kinds of argument are e2e_mainsequence's row "a
    // label asking for other arguments". Narrow arguments are text of the
    // system code page (here 1252).
    const struct { const wchar_t* label; const wchar_t* expected; } rows[] = {
        { L"%hs of %hs", L"caf\u00e9 \u20ac of b" }, { L"%-3hs/%.1hs 100%%", L"caf\u00e9 \u20ac/b 100%" },
        { L"%hs %hs %hs", NULL }, { L"%n", NULL }, { L"%*hs", NULL }, { L"%hs %", NULL },
    };
    for (const auto& row : rows)
    {
        CResource one;
        ASSERT_TRUE(Load(one, MakeIni(L"A=1", std::wstring(L"[Labels_EN]\r\nFailFile=") + row.label)));
        one.SetLanguage(3);
        EXPECT_EQ(Show(row.expected), Show(one.FormatLabel(L"FailFile", "caf\xE9 \x80", "b"))) << Show(row.label);
    }
    EXPECT_TRUE(m_log.Has({ "W\tCaption 'FailFile' does not fit its arguments: not used." }));
}

// The language a run starts with: the code given when the file has its
// labels, else DefaultLanguage, the user's, EN, the first usable header. A
// choice that found none would end the run; the user's own language stays out
// of the files, so the fallbacks come from them.
TEST_F(ResourceTest, ChooseLanguageFallsBackToALanguageOfTheFile)
{
    char name[8] = "";
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME, name, sizeof(name));
    const std::string user(name, 2);
    const std::string other = user == "DE" ? "NL" : "DE";
    const struct
    {
        const char* what; std::wstring settings; std::vector<std::string> labels;
        const char* code; std::string expected; int preferred;
    } rows[] = {
        { "given code", L"DefaultLanguage=" + std::wstring(other.begin(), other.end()),
          { "FR", "EN", other }, "fr", "FR", -1 },
        { "code without labels", L"DefaultLanguage=DE", { "EN", "DE" }, "FR", "DE", 1 },
        { "first usable header", L"A=1", { "XX", other }, "", other, -1 },
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        std::wstring labels;
        for (const std::string& code : row.labels)
            labels += L"[Labels_" + std::wstring(code.begin(), code.end()) + L"]\r\nHeader=" +
                      std::wstring(code.begin(), code.end()) + L"\r\n";
        CResource res;
        ASSERT_TRUE(Load(res, MakeIni(row.settings, labels)));
        EXPECT_TRUE(res.ChooseLanguage(row.code));
        EXPECT_STREQ(row.expected.c_str(), res.GetLanguageCode());
        EXPECT_EQ(row.preferred, res.GetPreferredLanguage());
        EXPECT_EQ(row.expected, Show(res.GetLabel(L"Header")));
    }
}

// The sample file is the model of every product's file: a label missing, or
// asking for other arguments than its callers pass (the program refuses it),
// shows as a missing message in a box.
TEST_F(ResourceTest, SampleSettingsFileHasEveryLabelInEveryLanguage)
{
    CResource res;
    ASSERT_TRUE(res.Load((fwtest::SourceDir() + "\\examples\\Zaph.ini").c_str()));
    const wchar_t* const labels[] = {
        LABEL_CAPTION, LABEL_ORGANISATION, LABEL_HEADER, LABEL_BRANDING, LABEL_CANCEL_BUTTON, LABEL_PROCEED_BUTTON,
        LABEL_CONFIRM_CANCEL, LABEL_SELECT_LANGUAGE, LABEL_LANGUAGE_SELECTION, LABEL_DOWNLOAD_FILE, LABEL_FAIL_FILE,
        LABEL_WORKING_OFFLINE, LABEL_INVALID_VALUE, LABEL_ERROR_OCCURRED, LABEL_PLEASE_WAIT, LABEL_NO_INSTALLATION,
        LABEL_CANNOT_MOVE, LABEL_HAS_MOVED, LABEL_CANNOT_COPY, LABEL_CANNOT_MOVE_SUB, LABEL_INITIALISING,
        LABEL_INSTALL_SYSTEM, LABEL_POST_INSTALL_CHECK, LABEL_INSTALL_COMPONENTS, LABEL_WAS_ABANDONED,
        LABEL_NO_UPGRADE, LABEL_MADE_BACKUP, LABEL_AFTER_BACKUP, LABEL_IN_USE, LABEL_WARN_NOT_ADMIN,
        LABEL_CANNOT_INSTALL_PRE, LABEL_FAIL_INSTALL_PRE, LABEL_REBOOT, LABEL_SUCCESS, LABEL_FAIL_LOAD_MSI,
        LABEL_UNINSTALL_FAIL, LABEL_WAS_CANCELLED, LABEL_UPGRADE_SERVER_FIRST, LABEL_SHOULD_UPGRADE_V11,
        LABEL_MUST_BE_ADMIN, LABEL_ALLOW_PRE_UPGRADE, LABEL_ALLOW_UPDATE_MSI, LABEL_FAIL_INSTALL_MSI,
    };
    // Labels of EL and PL are written in their own letters: the file was not
    // saved in a code page that lost them.
    const struct { const char* code; const wchar_t* letters; } languages[] = {
        { "EN", NULL }, { "FR", NULL }, { "DE", NULL },
        { "EL", L"\x0391\x0395\x039b\x03b1\x03b5\x03b9\x03bb\x03bd\x03bf\x03c1\x03c3\x03c4" },
        { "PL", L"\x0105\x0107\x0119\x0142\x0144\x00f3\x015b\x017a\x017c\x0141\x015a\x017b" },
    };
    for (const auto& language : languages)
    {
        SCOPED_TRACE(language.code);
        res.SetLanguage(LanguageIndex(language.code));
        bool ownLetters = language.letters == NULL;
        for (const wchar_t* label : labels)
        {
            // A wide and a narrow text fit every use: the program checks the
            // label against its callers' arguments before formatting.
            const wchar_t* text = res.FormatLabel(label, L"w", "n");
            ASSERT_NE(nullptr, text) << Show(label);
            ownLetters = ownLetters || wcspbrk(text, language.letters) != NULL;
        }
        EXPECT_TRUE(ownLetters);
    }
}

// ------------------------------------------------------------ components

// One component as "name|value|keyword:value:kind,...".
std::string Describe(CComponent& c)
{
    std::string text = std::string(c.m_name.GetNarrow()) + "|" + c.m_value.GetNarrow() + "|";
    for (unsigned i = 0; i < c.m_ruleCount; ++i)
    {
        char kind[16];
        sprintf(kind, "%lX", (unsigned long)c.m_rules[i].kind);
        text += std::string(c.m_rules[i].keyword.GetNarrow()) + ":" + c.m_rules[i].value.GetNarrow() + ":" +
                kind + (i + 1 < c.m_ruleCount ? "," : "");
    }
    return text;
}

// The rules and placeholders that decide what is installed (spacing, comments
// and the existence rules are the component phase's tests). A line has four
// rules at most: the fifth is left out. The section that runs to the end of
// the file needs no line end after its last line.
TEST_F(ResourceTest, ComponentLinesKeepFourRulesAndTheProgramVersion)
{
    const std::wstring text = L"[Settings]\r\nExeVersion=2.1.0.5\r\n[Labels_EN]\r\nA=B\r\n[CheckSums]\r\nx=0\r\n"
                              L"[Additional]\r\ny\r\n[Components]\r\n"
                              L"a=1;IfNotExists=p;Multi=m;Extension=.mdb;Else=$SKIP$;Source=s\r\n"
                              L"a.exe=V<ExeVersion>\r\nb.exe=<ExeVersion>;Source=<ExeVersion>";
    const std::vector<std::string> expected = {
        "a|1|IfNotExists:p:100,Multi:m:80,Extension:.mdb:40,Else:$SKIP$:400",
        "a.exe|V2.1.0.5|",
        "b.exe|2.1.0.5|Source:<ExeVersion>:2",
    };
    for (bool ansi : { false, true })
    {
        CResource res;
        ASSERT_TRUE(res.Load(Write(text, ansi).c_str()));
        CResourceIterator it(&res, SECTION_COMPONENTS);
        std::vector<std::string> components;
        while (CComponent* c = it.Next())
        {
            components.push_back(Describe(*c));
            delete c;
        }
        EXPECT_EQ(expected, components) << (ansi ? "ANSI" : "UTF-16");
    }
}

} // namespace
