#include <gtest/gtest.h>

#include <string>

#include "Assert.h"
#include "C_String.h"
#include "TestSupport.h"
#include "WideAPI.h"
#include "resource.h"

namespace
{
std::string s_assertion;
void RecordAssertion(const char* condition, const char*, int)
{
    s_assertion = condition;
}
} // namespace

TEST(C_String, UnassignedStringReadsAsEmptyTextNeverNull)
{
    C_String s;
    EXPECT_STREQ("", s.GetNarrow());
    EXPECT_STREQ("", s.GetNarrowTemp());
    EXPECT_STREQ(L"", s.GetWide());
    EXPECT_STREQ("", s.Right(3));
    EXPECT_EQ(0u, s.Length());
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(nullptr, s.Find("x"));
}

TEST(C_String, EqualsNullIsTrueExactlyWhenNoFormIsHeld)
{
    C_String s("text");
    EXPECT_FALSE(s.Equals((const char*)NULL));
    s = (const char*)NULL;
    EXPECT_TRUE(s.Equals((const char*)NULL));
    EXPECT_TRUE(s.Equals((const wchar_t*)NULL));
    EXPECT_EQ(0u, s.Length());

    // An empty text is still a form.
    s = "";
    EXPECT_FALSE(s.Equals((const char*)NULL));
    EXPECT_TRUE(s.Equals(""));
}

TEST(C_String, EqualsIgnoresCaseAcrossForms)
{
    C_String narrow("Zaph.INI");
    C_String wide(L"zaph.ini");
    EXPECT_TRUE(narrow.Equals("ZAPH.ini"));
    EXPECT_TRUE(narrow.Equals(L"zaph.INI"));
    EXPECT_TRUE(wide.Equals("ZAPH.INI"));
    EXPECT_TRUE(narrow.Equals(wide));
    EXPECT_TRUE(wide.Equals(narrow));
    EXPECT_FALSE(narrow.Equals("Zaph.in"));
    EXPECT_FALSE(narrow.Equals(C_String("Zaph.IN")));
    // An argument that is itself the shared conversion result.
    EXPECT_FALSE(wide.Equals(W2A(L"other.ini")));
    EXPECT_FALSE(narrow.Equals(A2W("other.ini")));
}

TEST(C_String, GetNarrowKeepsTheConvertedCopyTempDoesNot)
{
    C_String s(L"Fernwick");
    ASSERT_FALSE(s.HasNarrow());
    const char* kept = s.GetNarrow();
    EXPECT_TRUE(s.HasNarrow() && s.HasWide());
    EXPECT_EQ(kept, s.GetNarrow());
    W2A(L"something else entirely");
    EXPECT_STREQ("Fernwick", kept) << "other conversions leave the kept copy";

    C_String w(L"wide");
    EXPECT_STREQ("wide", w.GetNarrowTemp());
    EXPECT_FALSE(w.HasNarrow());
    C_String n("narrow");
    EXPECT_STREQ(L"narrow", n.GetWide());
    EXPECT_FALSE(n.HasWide());
}

// Whatever forms a string holds before an append, both forms read the whole
// text after it.
TEST(C_String, AppendsReadTheSameInBothForms)
{
    enum Start { NARROW, WIDE, BOTH, UNSET };
    const struct { Start start; const char* appended; bool appendWide; const char* expected; } rows[] = {
        { NARROW, "cd", true, "abcd" },
        { WIDE, "cd", false, "abcd" },
        { BOTH, "cd", false, "abcd" },
        { BOTH, "cd", true, "abcd" },
        { UNSET, "copy", false, "copy" },
        { NARROW, NULL, false, "ab" },
        { WIDE, "", true, "ab" },
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(std::to_string(row.start) + (row.appended ? row.appended : "(null)"));
        C_String s;
        if (row.start == NARROW || row.start == BOTH)
            s = "ab";
        if (row.start == WIDE)
            s = L"ab";
        if (row.start == BOTH)
            s.GetWide();
        if (row.appendWide)
            s += row.appended ? std::wstring(row.appended, row.appended + strlen(row.appended)).c_str() : NULL;
        else
            s += row.appended;
        EXPECT_EQ(strlen(row.expected), s.Length());
        EXPECT_STREQ(row.expected, s.GetNarrowTemp());
        EXPECT_STREQ(A2W(row.expected), s.GetWide());
    }
    C_String unchanged("keep");
    unchanged += C_String();
    EXPECT_STREQ("keep", unchanged.GetNarrowTemp());

    // The appended text lives in the very buffer that converting this
    // string's own form would overwrite.
    C_String wideLeft(L"left-");
    wideLeft += W2A(L"right");
    EXPECT_STREQ("left-right", wideLeft.GetNarrowTemp());
    C_String narrowLeft("left-");
    narrowLeft += A2W("right");
    EXPECT_STREQ(L"left-right", narrowLeft.GetWide());

    // A C_String appended in the other form, and a string appended to itself.
    C_String wide(L"C:\\Zaph");
    wide += C_String("\\Log");
    EXPECT_STREQ(L"C:\\Zaph\\Log", wide.GetWide());
    EXPECT_EQ(11u, wide.Length());
    C_String narrow("C:\\Zaph");
    narrow += C_String(L"\\Log");
    EXPECT_STREQ("C:\\Zaph\\Log", narrow.GetNarrowTemp());
    C_String self("ab");
    self += self;
    EXPECT_STREQ("abab", self.GetNarrowTemp());
    EXPECT_EQ(4u, self.Length());
}

TEST(C_String, CopiesOwnTheirBuffers)
{
    C_String original(L"first");
    original.GetNarrow();
    C_String copy(original);
    C_String assigned;
    assigned = original;
    original = "changed";
    EXPECT_STREQ("first", copy.GetNarrowTemp());
    EXPECT_STREQ(L"first", copy.GetWide());
    EXPECT_STREQ("first", assigned.GetNarrowTemp());
    EXPECT_TRUE(copy.HasNarrow() && copy.HasWide());

    assigned = assigned;
    EXPECT_STREQ("first", assigned.GetNarrowTemp());

    // Assigning a text that lies inside the string itself.
    C_String tail("abcdef");
    tail = tail.GetNarrow() + 3;
    EXPECT_STREQ("def", tail.GetNarrowTemp());
}

TEST(C_String, ReplaceChangesOnlyTheFirstPlaceCaseSensitively)
{
    struct Row { const char* text; const char* search; const char* replacement; const char* expected; };
    const Row rows[] = {
        { "<Lang>\\data_<Lang>.mdb", "<Lang>", "DE", "DE\\data_<Lang>.mdb" },
        { "data_<lang>.mdb", "<Lang>", "DE", "data_<lang>.mdb" },
        { "<MS>\\db.mdb", "<MS>", "LU_New", "LU_New\\db.mdb" },
        { "x<MS>y<MS>", "<MS>", "LONGER_TEXT", "xLONGER_TEXTy<MS>" },
        { "V<ExeVersion>", "<ExeVersion>", "2.1.0.5", "V2.1.0.5" },
        { "no placeholder", "<MS>", "LU", "no placeholder" },
        { "<MS>", "<MS>", "", "" },
        { "<MS>", NULL, "LU", "<MS>" },
        { "<MS>", "<MS>", NULL, "<MS>" },
        { "<MS>", "", "LU", "<MS>" },
    };
    for (const Row& row : rows)
    {
        C_String s(row.text);
        s.Replace(row.search, row.replacement, 1);
        EXPECT_STREQ(row.expected, s.GetNarrowTemp()) << row.text << " " << (row.search ? row.search : "(null)");
        EXPECT_EQ(strlen(row.expected), s.Length()) << row.text;
    }

    C_String wide(L"<MS>_New");
    wide.Replace("<MS>", "LU", 1);
    EXPECT_FALSE(wide.HasWide()) << "works on the narrow form";
    EXPECT_STREQ("LU_New", wide.GetNarrowTemp());
    C_String empty;
    empty.Replace("<MS>", "LU", 1);
    EXPECT_TRUE(empty.Equals((const char*)NULL));
}

TEST(C_String, RightTrimRightAndFind)
{
    C_String s("Zaph.exe");
    EXPECT_STREQ(".exe", s.Right(4));
    EXPECT_STREQ("Zaph.exe", s.Right(8));
    EXPECT_STREQ("Zaph.exe", s.Right(100));
    EXPECT_STREQ("", s.Right(0));
    EXPECT_STREQ(".exe", C_String(L"Zaph.exe").Right(4));

    C_String spaces("value \t\r\n");
    spaces.TrimRight(0);
    EXPECT_STREQ("value", spaces.GetNarrowTemp());
    EXPECT_EQ(5u, spaces.Length());
    C_String slashes("C:\\Zaph\\\\");
    slashes.TrimRight('\\');
    EXPECT_STREQ("C:\\Zaph", slashes.GetNarrowTemp());
    C_String wideOnly(L"C:\\Zaph\\");
    wideOnly.TrimRight('\\');
    EXPECT_STREQ(L"C:\\Zaph", wideOnly.GetWide());
    EXPECT_EQ(7u, wideOnly.Length());

    C_String path("C:\\Zaph\\zaph.ini");
    EXPECT_STREQ("zaph.ini", path.Find("zaph"));
    EXPECT_EQ(nullptr, path.Find("ZAPH.INI"));
    EXPECT_EQ(nullptr, path.Find(NULL));
    EXPECT_EQ(nullptr, C_String(L"C:\\Zaph").Find(W2A(L"other")));
}

TEST(C_String, AllocateGivesAWritableEmptyBufferOfTheKind)
{
    C_String s("old");
    ASSERT_TRUE(s.Allocate(10, C_String::NARROW));
    EXPECT_EQ(10u, s.Length());
    ASSERT_NE(nullptr, s.NarrowBuffer());
    EXPECT_STREQ("", s.NarrowBuffer());
    strcpy(s.NarrowBuffer(), "filled");
    s.UpdateLength();
    EXPECT_EQ(6u, s.Length());

    ASSERT_TRUE(s.Allocate(4, C_String::WIDE));
    EXPECT_FALSE(s.HasNarrow());
    EXPECT_STREQ(L"", s.WideBuffer());
    EXPECT_FALSE(s.Allocate(0, C_String::NARROW));

    AssertionHandler previous = SetAssertionHandler(RecordAssertion);
    s_assertion.clear();
    EXPECT_FALSE(s.Allocate(5, 3));
    SetAssertionHandler(previous);
    EXPECT_EQ("false", s_assertion);
    EXPECT_EQ(0u, s.Length());
}

TEST(C_String, FormatFromMessageFillsInserts)
{
    C_String s;
    ASSERT_TRUE(s.FormatFromMessage("%2 before %1", "one", "two"));
    EXPECT_STREQ("two before one", s.GetNarrowTemp());
    EXPECT_FALSE(s.FormatFromMessage(NULL));
}

namespace
{
// Restores the program-wide conversion state a test changed.
class WideApiTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        useWideApi = m_useWideApi;
        SetConversionCodePage(m_codePage);
    }

private:
    const bool m_useWideApi = useWideApi;
    const UINT m_codePage = GetConversionCodePage();
};

const char* const CAPTION_TEXT = "MORV_TELA Setup and Upgrade Tool";
} // namespace

TEST_F(WideApiTest, NullAndEmptyConvertToEmptyTextNeverNull)
{
    EXPECT_STREQ(L"", A2W(NULL));
    EXPECT_STREQ(L"", A2W(""));
    EXPECT_STREQ("", W2A(NULL));
    EXPECT_STREQ("", W2A(L""));
}

TEST_F(WideApiTest, BuffersGrowForLongTextsAndStayUsable)
{
    for (size_t length : { (size_t)255, (size_t)256, (size_t)300, (size_t)5000 })
    {
        std::string narrow(length, 'n');
        narrow.back() = 'Z';
        std::wstring wide(length, L'w');
        wide.back() = L'Z';

        const wchar_t* toWide = A2W(narrow.c_str());
        ASSERT_EQ(length, wcslen(toWide)) << length;
        EXPECT_EQ(std::wstring(narrow.begin(), narrow.end()), toWide);
        const char* toNarrow = W2A(wide.c_str());
        ASSERT_EQ(length, strlen(toNarrow)) << length;
        EXPECT_EQ(std::string(wide.begin(), wide.end()), toNarrow);
    }
    // After growing, a short text is still converted whole and terminated.
    EXPECT_STREQ("ab", W2A(L"ab"));
    EXPECT_STREQ(L"ab", A2W("ab"));
}

TEST_F(WideApiTest, ConversionUsesTheChosenCodePage)
{
    SetConversionCodePage(1253); // Greek, as chosen for the EL and CY languages on 9x
    EXPECT_STREQ("\xE1\xE2", W2A(L"\x03B1\x03B2"));
    EXPECT_STREQ(L"\x03B1\x03B2", A2W("\xE1\xE2"));

    SetConversionCodePage(1250); // the same bytes mean other letters in East European
    EXPECT_STREQ(L"\x00E1\x00E2", A2W("\xE1\xE2"));

    // A language's code page the system lacks: the system's own instead.
    EXPECT_EQ(1253u, UseLanguageCodePage(1253));
    EXPECT_EQ(0u, UseLanguageCodePage(12345));
    EXPECT_EQ(0u, GetConversionCodePage());

    // Measuring never runs past a conversion that came out shorter.
    useWideApi = false;
    SetConversionCodePage(12345);
    HDC dc = GetDC(NULL);
    SIZE size = {-1, -1};
    EXPECT_TRUE(GetTextExtentWide(dc, L"abc", 3, &size));
    EXPECT_EQ(0, size.cx);
    ReleaseDC(NULL, dc);
}

TEST_F(WideApiTest, LoadStringWideOnBothPaths)
{
    HINSTANCE self = GetModuleHandleA(NULL);
    std::string expected = CAPTION_TEXT;
    for (bool wide : { true, false })
    {
        useWideApi = wide;
        wchar_t buffer[256];
        int n = LoadStringWide(self, IDS_CAPTION, buffer, 256);
        EXPECT_EQ((int)expected.size(), n) << "wide " << wide;
        EXPECT_STREQ(A2W(CAPTION_TEXT), buffer) << "wide " << wide;

        // A short buffer holds a cut, terminated text.
        wchar_t small[6];
        n = LoadStringWide(self, IDS_CAPTION, small, 6);
        EXPECT_EQ(5, n) << "wide " << wide;
        EXPECT_STREQ(L"MORV_", small) << "wide " << wide;

        EXPECT_EQ(0, LoadStringWide(self, 9999, buffer, 256)) << "wide " << wide;
    }
}

TEST_F(WideApiTest, NarrowWindowTextLosesCharactersOutsideTheCodePage)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, NULL, NULL,
                                  GetModuleHandleW(NULL), NULL);
    ASSERT_NE((HWND)NULL, window);
    wchar_t read[32];

    useWideApi = true;
    EXPECT_TRUE(SetWindowTextWide(window, L"A\x03B1"));
    GetWindowTextW(window, read, 32);
    EXPECT_STREQ(L"A\x03B1", read);

    // The /9 path: converted with the current code page, Greek is lost
    // unless that code page is Greek.
    useWideApi = false;
    SetConversionCodePage(1252);
    EXPECT_TRUE(SetWindowTextWide(window, L"A\x03B1"));
    GetWindowTextW(window, read, 32);
    EXPECT_EQ(L'A', read[0]);
    EXPECT_NE(L'\x03B1', read[1]);
    DestroyWindow(window);
}
