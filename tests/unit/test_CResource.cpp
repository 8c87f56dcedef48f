#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Assert.h"
#include "CResource.h"
#include "CodeTables.h"
#include "Log.h"
#include "TestSupport.h"
#include "WideAPI.h"
#include "UniFile.h"
#include "CResourceIterator.h"

namespace
{
std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out.push_back((char)c);   // ASCII only
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

const char* OrNull(const char* text)
{
    return text ? text : "<null>";
}

std::string W(const wchar_t* text)
{
    if (text == NULL)
        return "<null>";
    std::string out;
    for (const wchar_t* p = text; *p; ++p)
        out.push_back(*p < 128 ? (char)*p : '?');
    return out;
}

class ResourceTest : public ::testing::Test
{
protected:
    void SetUp() override { SetLogFile(m_logPath.c_str()); }

    void TearDown() override
    {
        SetLogFile(NULL);
        SetConversionCodePage(m_savedCodePage);
        useWideApi = m_savedWide;
    }

    std::string Write(const std::wstring& text, const char* name = "Zaph.ini")
    {
        std::string path = m_dir.File(name);
        EXPECT_TRUE(fwtest::WriteBytes(path, fwtest::Utf16File(text)));
        return path;
    }

    bool LoadText(CResource& res, const std::wstring& text)
    {
        return res.Load(Write(text).c_str());
    }

    bool Logged(const std::string& line)
    {
        std::vector<std::string> lines = fwtest::ReadLines(m_logPath);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::string LogText()
    {
        std::string bytes;
        fwtest::ReadBytes(m_logPath, bytes);
        return bytes;
    }

    fwtest::TempDir m_dir{ "fwres" };
    const std::string m_logPath = m_dir.File("test.log");
    const UINT m_savedCodePage = GetConversionCodePage();
    const bool m_savedWide = useWideApi;
};

// ---------------------------------------------------------------- Load

TEST_F(ResourceTest, LoadRefusesIncompleteFilesWithTheirReason)
{
    struct Row { const char* what; std::wstring text; const char* logLine; }; // logLine: "%s" for the path
    const Row rows[] = {
        { "no settings", L"[Components]\r\na=b\r\n[CheckSums]\r\na=b\r\n[Additional]\r\na=b\r\n[Labels_EN]\r\nHeader=x\r\n",
          "E\tINIFILE '%s' doesn't have a valid settings section." },
        { "settings header only",
          L"[Settings]\r\n[Components]\r\na=b\r\n[CheckSums]\r\na=b\r\n[Additional]\r\na=b\r\n[Labels_EN]\r\nHeader=x\r\n",
          "E\tINIFILE '%s' doesn't have a valid settings section." },
        { "no labels", L"[Settings]\r\nA=1\r\n[Components]\r\na=b\r\n[CheckSums]\r\na=b\r\n[Additional]\r\na=b\r\n",
          NULL },
        { "no checksums", L"[Settings]\r\nA=1\r\n[Components]\r\na=b\r\n[Additional]\r\na=b\r\n[Labels_EN]\r\nHeader=x\r\n",
          "E\tINIFILE '%s' doesn't have a valid '[CheckSums]' section." },
        // An empty section must not take the next section's body for its own.
        { "empty components",
          L"[Settings]\r\nA=1\r\n[Components]\r\n\r\n[CheckSums]\r\na=b\r\n[Additional]\r\na=b\r\n[Labels_EN]\r\nHeader=x\r\n",
          "E\tINIFILE '%s' doesn't have a valid '[Components]' section." },
        { "additional at end, empty",
          L"[Settings]\r\nA=1\r\n[Components]\r\na=b\r\n[CheckSums]\r\na=b\r\n[Labels_EN]\r\nHeader=x\r\n[Additional]\r\n  \r\n",
          "E\tINIFILE '%s' doesn't have a valid '[Additional]' section." },
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        CResource res;
        std::string path = Write(row.text);
        EXPECT_FALSE(res.Load(path.c_str()));
        char line[512];
        snprintf(line, sizeof(line), row.logLine ? row.logLine : "", path.c_str());
        if (row.logLine)
            EXPECT_TRUE(Logged(line)) << LogText();
        else
            EXPECT_EQ("", LogText()) << "nothing logged";
        DeleteFileA(m_logPath.c_str());
    }
}

TEST_F(ResourceTest, SectionsAreFoundInAnyOrderAndCaseFirstHeaderWins)
{
    CResource res;
    ASSERT_TRUE(LoadText(res, L"[labels_fr]\r\nHeader=Installation\r\n"
                              L"[additional]\r\nb.txt=Any\r\n"
                              L"[SETTINGS]\r\nA=1\r\n"
                              L"[checksums]\r\nx.zip=0000000A\r\n"
                              L"[components]\r\na.txt=Any\r\n"
                              L"[Settings]\r\nB=2\r\n"));
    EXPECT_STREQ("1", OrNull(res.GetSetting(L"A")));
    EXPECT_EQ(NULL, res.GetSetting(L"B"));   // second header of the same section
    EXPECT_TRUE(res.HasLabels("FR"));
    EXPECT_TRUE(res.HasLabels(6));
    EXPECT_FALSE(res.HasLabels("EN"));
    EXPECT_STREQ("fr", res.GetLabelCode(0));
    EXPECT_EQ(1u, res.GetLabelSectionCount());
}

TEST_F(ResourceTest, AnsiFileWorksLikeItsUtf16Form)
{
    std::wstring text = MakeIni(L"MemberState=LU\r\nPipe=a|b", L"[Labels_DE]\r\nHeader='Willkommen'\r\n");
    std::string ansiPath = m_dir.File("ansi.ini");
    ASSERT_TRUE(fwtest::WriteBytes(ansiPath, Narrow(text)));
    CResource ansi;
    ASSERT_TRUE(ansi.Load(ansiPath.c_str()));
    CResource wide;
    ASSERT_TRUE(LoadText(wide, text));
    for (CResource* res : { &ansi, &wide })
    {
        EXPECT_STREQ("LU", OrNull(res->GetSetting(L"MemberState")));
        EXPECT_STREQ("a\nb", OrNull(res->GetSetting(L"Pipe")));
        EXPECT_STREQ(L"Willkommen", res->GetLabelFor(L"Header", 1));
    }
}

// ------------------------------------------------------------- Look-ups

TEST_F(ResourceTest, LookupRulesOfTheFormat)
{
    std::wstring key79(79, L'K');
    std::wstring key80(80, L'L');
    CResource res;
    ASSERT_TRUE(LoadText(res, MakeIni(L"Plain=value\r\n"
                                      L"Spaced =no\r\n"
                                      L"Padded=  \t padded value \t \r\n"
                                      L"Double=\"double quoted\"\r\n"
                                      L"Single='single quoted'\r\n"
                                      L"QuotedSpaces=\" inner \"\r\n"
                                      L"Pipe=one|two||three\r\n"
                                      L"Empty=\r\n"
                                      L"Next line is not a value\r\n"
                                      L"Blank=   \t \r\n"
                                      L"QuotedEmpty=\"\"\r\n"
                                      L"IniVersion=2.1\r\n"
                                      L"   Indented=yes\r\n"
                                      L"Header=in settings\r\n"
                                      + key79 + L"=long\r\n" + key80 + L"=too long\r\n"
                                      L"Last=end of section   ")));
    struct Row { std::wstring key; const char* expected; };
    const Row rows[] = {
        { L"Plain", "value" },
        { L"pLAIN", "value" },
        { L"Spaced", NULL },              // the key is "Spaced " in the file
        { L"Padded", "padded value" },
        { L"Double", "double quoted" },
        { L"Single", "single quoted" },
        { L"QuotedSpaces", " inner " },
        { L"Pipe", "one\ntwo\n\nthree" },
        { L"Empty", NULL },               // the next line does not become its value
        { L"Blank", NULL },
        { L"QuotedEmpty", "" },
        { L"Version", NULL },             // only the tail of IniVersion
        { L"IniVersion", "2.1" },
        { L"Indented", "yes" },
        { L"Header", "in settings" },
        { key79, "long" },
        { key80, NULL },
        { L"Last", "end of section" },
        { L"Components", NULL },
        { L"a.txt", NULL },               // belongs to [Components]
        { L"", NULL },
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(W(row.key.c_str()));
        const char* got = res.GetSetting(row.key.c_str(), false);
        if (row.expected == NULL)
            EXPECT_EQ(NULL, got) << got;
        else
            EXPECT_STREQ(row.expected, OrNull(got));
    }
    EXPECT_EQ(NULL, res.GetSetting(NULL));
}

TEST_F(ResourceTest, KeyMatchesOnlyAtTheStartOfAnEntry)
{
    CResource res;
    ASSERT_TRUE(LoadText(res, MakeIni(L"IniVersion=2.1\r\nText=see Version=9 inside\r\nVersion=3.0",
                                      L"[Labels_EN]\r\nHeader=x\r\n",
                                      L"data\\a.zip=AAAAAAAA\r\n"
                                      L"a.zip=BBBBBBBB\r\n"
                                      L"sub\\b.zip=CCCCCCCC\r\n")));
    EXPECT_STREQ("3.0", OrNull(res.GetSetting(L"Version")));
    EXPECT_STREQ("BBBBBBBB", OrNull(res.GetCheckSum("a.zip")));
    EXPECT_STREQ("AAAAAAAA", OrNull(res.GetCheckSum("DATA\\A.ZIP")));
    EXPECT_EQ(NULL, res.GetCheckSum("b.zip"));
    EXPECT_STREQ("CCCCCCCC", OrNull(res.GetCheckSum("sub\\b.zip")));
    EXPECT_EQ(NULL, res.GetCheckSum(""));
    EXPECT_EQ(NULL, res.GetCheckSum(NULL));
}

TEST_F(ResourceTest, LineStartingWithBracketEndsTheSection)
{
    CResource res;
    ASSERT_TRUE(LoadText(res, MakeIni(L"A=1\r\n[Unknown part]\r\nB=2")));
    EXPECT_STREQ("1", OrNull(res.GetSetting(L"A")));
    EXPECT_EQ(NULL, res.GetSetting(L"B"));
}

TEST_F(ResourceTest, SettingsConvertWithTheSystemCodePageWhateverTheLanguage)
{
    CResource res;
    ASSERT_TRUE(LoadText(res, MakeIni(L"Folder=C:\\Caf\x00e9")));
    char expected[32] = "";
    WideCharToMultiByte(CP_ACP, 0, L"C:\\Caf\x00e9", -1, expected, sizeof(expected), NULL, NULL);
    SetConversionCodePage(1253);
    EXPECT_STREQ(expected, OrNull(res.GetSetting(L"Folder")));
    EXPECT_EQ(1253u, GetConversionCodePage());
}

TEST_F(ResourceTest, LabelsOfALanguageOutsideTheTableAreNone)
{
    CResource res;
    ASSERT_TRUE(LoadText(res, MakeIni(L"A=1", L"[Labels_EN]\r\nHeader=Welcome\r\n")));
    EXPECT_STREQ(L"Welcome", res.GetLabelFor(L"Header", 3));
    EXPECT_EQ(NULL, res.GetLabelFor(L"Header", 1)); // no German section
    EXPECT_EQ(NULL, res.GetLabelFor(L"Header", 24));
    EXPECT_EQ(NULL, res.GetLabelFor(L"Header", -1));
}

TEST_F(ResourceTest, FormatLabelFillsArgumentsAndGrowsBeyond256Characters)
{
    CResource res;
    ASSERT_TRUE(LoadText(res, MakeIni(L"A=1", L"[Labels_EN]\r\nOrganisation=Ombrant\r\n"
                                              L"Caption=%s Setup [%hs]\r\n"
                                              L"DownloadFile=Downloading '%hs' from '%hs'|Please wait\r\n"
                                              L"Empty=\r\n")));
    res.SetLanguage(3);
    // The organisation comes from a look-up too: the format must not replace it.
    EXPECT_STREQ(L"Ombrant Setup [EN]", res.FormatLabel(L"Caption", res.GetLabel(L"Organisation"), "EN"));

    // 213 makes a text of exactly 256 characters: no room for its terminator.
    for (size_t length : { (size_t)213, (size_t)200, (size_t)600, (size_t)5000 })
    {
        std::string name(length, 'n');
        const wchar_t* text = res.FormatLabel(L"DownloadFile", name.c_str(), "http://h/");
        ASSERT_NE(nullptr, text);
        std::wstring expected = L"Downloading '" + std::wstring(length, L'n') + L"' from 'http://h/'\nPlease wait";
        EXPECT_EQ(expected, std::wstring(text));
    }
    // A shorter text after a long one reuses the grown buffer.
    EXPECT_STREQ(L"Downloading 'a' from 'b'\nPlease wait", res.FormatLabel(L"DownloadFile", "a", "b"));
    EXPECT_EQ(NULL, res.FormatLabel(L"Empty"));
    EXPECT_EQ(NULL, res.FormatLabel(L"Nothing"));

    // A label is input: one whose specifiers ask for other or more arguments
    // than its use supplies (two narrow texts here) is a missing label. Narrow
    // arguments are text of the system code page (here 1252).
    struct Row { const wchar_t* label; const wchar_t* expected; } rows[] = {
        { L"%hs of %hs", L"caf\u00e9 \u20ac of b" }, { L"%-3hs/%.1hs 100%%", L"caf\u00e9 \u20ac/b 100%" },
        { L"no arguments", L"no arguments" },  { L"%ls %hs", NULL }, { L"%hs %hs %hs", NULL },
        { L"%d %hs", NULL }, { L"%n", NULL }, { L"%*hs", NULL }, { L"%hs %", NULL }, { L"%S", NULL },
    };
    for (const Row& row : rows)
    {
        CResource one;
        ASSERT_TRUE(LoadText(one, MakeIni(L"A=1", std::wstring(L"[Labels_EN]\r\nFailFile=") + row.label)));
        one.SetLanguage(3);
        const wchar_t* text = one.FormatLabel(L"FailFile", "caf\xE9 \x80", "b");
        EXPECT_EQ(W(row.expected), W(text)) << W(row.label);
        EXPECT_TRUE(row.expected == NULL || wcscmp(row.expected, text) == 0) << W(row.label);
    }
    EXPECT_TRUE(Logged("W\tCaption 'FailFile' does not fit its arguments: not used."));

    // CR alone ends a line as well, so the labels do not run together.
    CResource cr;
    ASSERT_TRUE(LoadText(cr, L"[Settings]\rA=1\r[Components]\ra\r[CheckSums]\rx=0\r[Additional]\rb\r"
                             L"[Labels_EN]\rCaption=%s [%hs]\rDownloadFile=%hs %hs\r\n"));
    cr.SetLanguage(3);
    EXPECT_STREQ("1", OrNull(cr.GetSetting(L"A")));
    EXPECT_STREQ(L"O [EN]", cr.FormatLabel(L"Caption", L"O", "EN"));
}

// ------------------------------------------------------- ChooseLanguage

class ChooseLanguageTest : public ResourceTest
{
protected:
    // The user's language as ChooseLanguage sees it, when it is in the table.
    static std::string LocaleCode()
    {
        char name[8] = "";
        if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME, name, sizeof(name)) < 2)
            return "";
        name[2] = 0;
        return IsLanguageCode(name) ? std::string(name) : std::string();
    }

    static std::wstring Labels(const std::vector<std::string>& codes)
    {
        std::wstring text;
        for (const std::string& code : codes)
            text += L"[Labels_" + std::wstring(code.begin(), code.end()) + L"]\r\nHeader=" +
                    std::wstring(code.begin(), code.end()) + L"\r\n";
        return text;
    }

    // Two languages other than EN and the user's: the fallbacks must come
    // from the file, not from this machine.
    static std::vector<std::string> Foreign()
    {
        std::vector<std::string> codes;
        for (const char* code : { "DE", "PL", "NL" })
            if (LocaleCode() != code && codes.size() < 2)
                codes.push_back(code);
        return codes;
    }
};

TEST_F(ChooseLanguageTest, FallbacksInOrder)
{
    std::vector<std::string> f = Foreign();
    struct Row
    {
        const char* what; std::wstring settings; std::vector<std::string> labels;
        const char* code; std::string expected; int preferred;
    };
    const Row rows[] = {
        { "given code, lower case", L"DefaultLanguage=" + std::wstring(f[0].begin(), f[0].end()),
          { "FR", "EN", f[0] }, "fr", "FR", -1 },
        { "DefaultLanguage", L"DefaultLanguage=de", { "EN", "DE" }, NULL, "DE", 1 },
        { "DefaultLanguage with a note", L"DefaultLanguage=DE (Deutsch)", { "EN", "DE" }, NULL, "DE", 1 },
        { "code without labels", L"DefaultLanguage=DE", { "EN", "DE" }, "FR", "DE", 1 },
        { "code of three characters", L"DefaultLanguage=DE", { "FRA", "EN", "DE" }, "FRA", "DE", 1 },
        { "EN before the first header", L"A=1", { f[0], "EN" }, NULL, "EN", LocaleCode() == "EN" ? 3 : -1 },
        { "first header", L"DefaultLanguage=IT", { f[1], f[0] }, NULL, f[1], -1 },
        { "first usable header", L"A=1", { "XX", f[0] }, "", f[0], -1 },
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        CResource res;
        ASSERT_TRUE(LoadText(res, MakeIni(row.settings, Labels(row.labels))));
        EXPECT_TRUE(res.ChooseLanguage(row.code));
        EXPECT_STREQ(row.expected.c_str(), res.GetLanguageCode());
        EXPECT_EQ(row.preferred, res.GetPreferredLanguage());
        EXPECT_TRUE(Logged("\tSelected language = '" + row.expected + "'"));
        EXPECT_STREQ(std::wstring(row.expected.begin(), row.expected.end()).c_str(), res.GetLabel(L"Header"));
    }
}

// ------------------------------------------------- the sample settings file

TEST_F(ResourceTest, SampleSettingsFileHasEveryLabelInEveryLanguage)
{
    std::string path = fwtest::SourceDir() + "\\examples\\Zaph.ini";
    std::string bytes;
    ASSERT_TRUE(fwtest::ReadBytes(path, bytes));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
    EXPECT_NE(std::string::npos, bytes.find(std::string("\r\0\n\0", 4)));

    CResource res;
    ASSERT_TRUE(res.Load(path.c_str()));
    EXPECT_STREQ("LU", OrNull(res.GetSetting(SETTING_MEMBER_STATE)));
    EXPECT_NE(nullptr, res.GetSetting(SETTING_INI_VERSION));

    // Every label with the arguments its callers pass.
    const struct { const wchar_t* key; const char* conversions; } labels[] = {
        { LABEL_CAPTION, "%s%hs" }, { LABEL_ORGANISATION, "" }, { LABEL_HEADER, "" }, { LABEL_BRANDING, "" },
        { LABEL_CANCEL_BUTTON, "" }, { LABEL_PROCEED_BUTTON, "" }, { LABEL_CONFIRM_CANCEL, "" },
        { LABEL_SELECT_LANGUAGE, "" }, { LABEL_LANGUAGE_SELECTION, "" }, { LABEL_DOWNLOAD_FILE, "%hs%hs" },
        { LABEL_FAIL_FILE, "%hs%hs" }, { LABEL_WORKING_OFFLINE, "" }, { LABEL_INVALID_VALUE, "%s" },
        { LABEL_ERROR_OCCURRED, "%s" }, { LABEL_PLEASE_WAIT, "%s" }, { LABEL_NO_INSTALLATION, "%hs" },
        { LABEL_CANNOT_MOVE, "%hs%hs" }, { LABEL_HAS_MOVED, "%hs%hs" }, { LABEL_CANNOT_COPY, "%hs%hs" },
        { LABEL_CANNOT_MOVE_SUB, "%hs%hs" }, { LABEL_INITIALISING, "" }, { LABEL_INSTALL_SYSTEM, "" },
        { LABEL_POST_INSTALL_CHECK, "" }, { LABEL_INSTALL_COMPONENTS, "" }, { LABEL_WAS_ABANDONED, "" },
        { LABEL_NO_UPGRADE, "" }, { LABEL_MADE_BACKUP, "" }, { LABEL_AFTER_BACKUP, "" }, { LABEL_IN_USE, "" },
        { LABEL_WARN_NOT_ADMIN, "" }, { LABEL_CANNOT_INSTALL_PRE, "" }, { LABEL_FAIL_INSTALL_PRE, "" },
        { LABEL_REBOOT, "" }, { LABEL_SUCCESS, "" }, { LABEL_FAIL_LOAD_MSI, "" }, { LABEL_UNINSTALL_FAIL, "" },
        { LABEL_WAS_CANCELLED, "" }, { LABEL_UPGRADE_SERVER_FIRST, "" }, { LABEL_SHOULD_UPGRADE_V11, "" },
        { LABEL_MUST_BE_ADMIN, "" }, { LABEL_ALLOW_PRE_UPGRADE, "" }, { LABEL_ALLOW_UPDATE_MSI, "" },
        { LABEL_FAIL_INSTALL_MSI, "" },
    };
    for (const char* code : { "EN", "FR", "DE", "EL", "PL" })
    {
        SCOPED_TRACE(code);
        int language = LanguageIndex(code);
        ASSERT_TRUE(res.HasLabels(language));
        bool script = false;
        for (const auto& label : labels)
        {
            SCOPED_TRACE(W(label.key));
            const wchar_t* text = res.GetLabelFor(label.key, language);
            ASSERT_NE(nullptr, text);
            // A conversion that does not match the argument would print
            // garbage or crash the run: compare them in order.
            std::string conversions;
            for (const wchar_t* p = text; *p; ++p)
            {
                if (*p == L'%' && p[1] == L'%')
                    ++p;
                else if (*p == L'%')
                    for (conversions += '%'; p[1] == L'h' || p[1] == L's';)
                        conversions += (char)*++p;
                bool greek = *p >= 0x0370 && *p <= 0x03FF;
                bool polish = wcschr(L"\x0105\x0107\x0119\x0142\x0144\x00f3\x015b\x017a\x017c"
                                     L"\x0104\x0106\x0118\x0141\x0143\x00d3\x015a\x0179\x017b", *p) != NULL;
                if ((greek && strcmp(code, "EL") == 0) || (polish && strcmp(code, "PL") == 0))
                    script = true;
            }
            EXPECT_EQ(label.conversions, conversions);
        }
        if (strcmp(code, "EL") == 0 || strcmp(code, "PL") == 0)
        {
            EXPECT_TRUE(script) << "labels of " << code << " are not written in its own letters";
        }
    }
}
} // namespace

using fwtest::TempDir;
using fwtest::WriteBytes;

namespace
{
std::string Bytes(const char* data, size_t size)
{
    return std::string(data, size);
}

// What the system's ANSI code page makes of 8-bit bytes (up to a zero).
std::wstring Ansi(const std::string& bytes)
{
    wchar_t buffer[256] = {0};
    MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), -1, buffer, 256);
    return buffer;
}
} // namespace

TEST(UniFile, ReadsBothEncodingsAsTheFileHoldsThem)
{
    const std::string bigEndian = Bytes("\xFE\xFFh\0i\0", 6);
    std::wstring large;
    for (int i = 0; i < 30000; i++)
        large += (wchar_t)(L'A' + i % 26);
    large += L"\u0394END";
    const struct { const char* name; std::string bytes; bool unicode; std::wstring text; } cases[] = {
        {"utf16 with mark", Bytes("\xFF\xFEh\0\xE9\0\x14\x20", 8), true, L"h\u00e9\u2014"},
        {"mark only", Bytes("\xFF\xFE", 2), true, L""},
        {"utf16 odd byte count", Bytes("\xFF\xFEh\0i\0j", 7), true, L"hi"},
        {"utf16 embedded zero", Bytes("\xFF\xFE" "a\0\0\0b\0", 8), true, L"a"},
        {"utf16 larger than any buffer", fwtest::Utf16File(large), true, large},
        {"ansi whole, last character kept", "[Settings]\r\nBASE_URL=x", false,
         L"[Settings]\r\nBASE_URL=x"},
        {"ansi single byte", "x", false, L"x"},
        {"ansi embedded zero", Bytes("ab\0cd", 5), false, L"ab"},
        {"big-endian mark is 8-bit text", bigEndian, false, Ansi(bigEndian)},
    };
    TempDir dir("unifile");
    std::string path = dir.File("t.ini");
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteBytes(path, c.bytes));
        CUniFile file;
        ASSERT_TRUE(file.Open(path.c_str()));
        EXPECT_EQ(nullptr, file.GetText());
        ASSERT_TRUE(file.Read());
        file.Close();
        // The settings file must not stay locked (the run copies it at the
        // end), and the text outlives the handle.
        EXPECT_TRUE(DeleteFileA(path.c_str()));
        EXPECT_EQ(c.unicode, file.IsUnicode());
        ASSERT_NE(nullptr, file.GetText());
        EXPECT_EQ(c.text, std::wstring(file.GetText()));
    }
}

TEST(UniFile, RefusesWhatCannotBeRead)
{
    TempDir dir("unifile");
    ASSERT_TRUE(WriteBytes(dir.File("empty.ini"), ""));
    CUniFile file;
    EXPECT_FALSE(file.Read()) << "Read before Open";
    EXPECT_FALSE(file.Open(""));
    EXPECT_FALSE(file.Open(NULL));
    EXPECT_FALSE(file.Open(std::string(300, 'a').c_str()));
    EXPECT_FALSE(file.Open(dir.File("missing.ini").c_str()));
    EXPECT_FALSE(file.Open(dir.Path().c_str())) << "a folder";

    ASSERT_TRUE(file.Open(dir.File("empty.ini").c_str()));
    EXPECT_FALSE(file.Read()) << "a file of 0 bytes";
    EXPECT_EQ(nullptr, file.GetText());
}

TEST(UniFile, SecondOpenStartsOver)
{
    TempDir dir("unifile");
    ASSERT_TRUE(WriteBytes(dir.File("a.ini"), Bytes("\xFF\xFE" "a\0", 4)));
    ASSERT_TRUE(WriteBytes(dir.File("b.ini"), "bee"));
    CUniFile file;
    ASSERT_TRUE(file.Open(dir.File("a.ini").c_str()));
    ASSERT_TRUE(file.Read());
    EXPECT_FALSE(file.Read()) << "already loaded";
    EXPECT_STREQ(L"a", file.GetText());

    ASSERT_TRUE(file.Open(dir.File("b.ini").c_str()));
    EXPECT_EQ(nullptr, file.GetText());
    ASSERT_TRUE(file.Read());
    EXPECT_FALSE(file.IsUnicode());
    EXPECT_STREQ(L"bee", file.GetText());
    EXPECT_STREQ(dir.File("b.ini").c_str(), file.GetFileName());
}

// The component line grammar and the walk over a component section, on real
// settings files (ANSI and UTF-16).



namespace
{
// One component as "name|value|keyword:value:kind,...".
std::string Describe(CComponent& c)
{
    std::string text = std::string(c.m_name.GetNarrow()) + "|" + c.m_value.GetNarrow() + "|";
    for (unsigned i = 0; i < c.m_ruleCount; ++i)
    {
        char kind[16];
        sprintf(kind, "%lX", (unsigned long)c.m_rules[i].kind);
        text += std::string(c.m_rules[i].keyword.GetNarrow()) + ":" + c.m_rules[i].value.GetNarrow() + ":" + kind +
                (i + 1 < c.m_ruleCount ? "," : "");
    }
    return text;
}

// Walks [Components] of a settings file made of the given parts.
// An empty tail makes [Components] the section that runs to the end of the file.
std::vector<std::string> Walk(const std::string& settings, const std::string& components, bool utf16,
                              const std::string& tail)
{
    fwtest::TempDir dir("fwcomp");
    std::string text = "[Settings]\r\nX=1\r\n" + settings + "\r\n[Labels_EN]\r\nA=B\r\n[CheckSums]\r\nx=0\r\n[Additional]\r\ny\r\n"
                       "[Components]\r\n" + components + tail;
    EXPECT_TRUE(fwtest::WriteBytes(dir.File("Zaph.ini"), utf16 ? fwtest::Utf16File(text) : text));
    CResource resource;
    EXPECT_TRUE(resource.Load(dir.File("Zaph.ini").c_str()));
    CResourceIterator it(&resource, SECTION_COMPONENTS);
    std::vector<std::string> out;
    while (CComponent* c = it.Next())
    {
        out.push_back(Describe(*c));
        delete c;
    }
    return out;
}

typedef std::vector<std::string> Lines;
} // namespace

TEST(ComponentGrammar, LinesBecomeComponents)
{
    SetLogFile("");
    const char* tail = "[Extra]\r\nz\r\n";
    struct Row
    {
        const char* settings;
        std::string components;
        Lines expected;
    } rows[] = {
        {"ExeVersion=2.1.0.5",
         "  data\\<MS>\\<Lang>\\a.mdb = V1.0.0.0 ; IfExists = x.txt ; Then = $SKIP$ \r\n", {"data\\<MS>\\<Lang>\\a.mdb|V1.0.0.0|IfExists:x.txt:1,Then:$SKIP$:200"}},
        {"", "plain.txt\r\n", {"plain.txt||"}},
        {"", "a.txt=;;Source==b.zip\r\n", {"a.txt||Source:b.zip:2"}},
        {"", "a=1;IfNotExists=p;Multi=m;Extension=.mdb;Else=$SKIP$;Source=s\r\n",
         {"a|1|IfNotExists:p:100,Multi:m:80,Extension:.mdb:40,Else:$SKIP$:400"}},
        {"", "a=1;MS=any;MS=DE;Foo=bar;Source\r\n", {"a|1|MS:any:20,MS:DE:10,Foo:bar:0"}},
        {"ExeVersion=2.1.0.5", "a.exe=V<ExeVersion>\r\nb.exe=<ExeVersion>;Source=<ExeVersion>\r\n",
         {"a.exe|V2.1.0.5|", "b.exe|2.1.0.5|Source:<ExeVersion>:2"}},
        {"", "a.exe=V<ExeVersion>\r\n", {"a.exe|V|"}},
        {"ExeVersion=12345678901234567890123456789012", "a.exe=V<ExeVersion>\r\n", {"a.exe|V|"}},
        // Blank lines and indentation make no components.
        {"", "a\r\n\r\n   \r\n\t b = 1 \r\n\r\n", {"a||", "b|1|"}},
        // The last line before the next section is returned whatever stands
        // before its line end.
        {"", "a=1\r\nb=2   \r\n", {"a|1|", "b|2|"}},
        {"", "a=1\nb=2\t \n", {"a|1|", "b|2|"}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.components);
        EXPECT_EQ(row.expected, Walk(row.settings, row.components, false, tail));
        EXPECT_EQ(row.expected, Walk(row.settings, row.components, true, tail));
    }
    // The section that runs to the end of the file: its last line needs no line end.
    EXPECT_EQ(Lines({"a|1|", "b|2|"}), Walk("", "a=1\r\nb=2", false, ""));
    EXPECT_EQ(Lines({"a|1|", "b|2|"}), Walk("", "a=1\r\nb=2  \r\n\r\n", true, ""));
}

TEST(ComponentGrammar, ParseRulesStartsAfreshAndToleratesNothing)
{
    CComponent c;
    c.ParseRules("Source=a;Multi=b");
    EXPECT_EQ(2u, c.m_ruleCount);
    c.ParseRules(NULL);
    EXPECT_EQ("||", Describe(c));
    c.ParseRules(" ; = ;; ");
    EXPECT_EQ(0u, c.m_ruleCount);
    EXPECT_TRUE(c.m_rules[0].keyword.IsEmpty());
}
