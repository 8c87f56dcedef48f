#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "C_String.h"
#include "WideAPI.h"

// Whole runs build paths, names and messages with these strings every step;
// here the null texts, the shared conversion buffers and the self-references
// that none of them meets.
TEST(C_String, NeverHandsOutNullAndEqualsNullOnlyWithoutAForm)
{
    C_String s;
    EXPECT_STREQ("", s.GetNarrowTemp());
    EXPECT_STREQ(L"", s.GetWide());
    EXPECT_STREQ("", s.Right(3));
    EXPECT_EQ(nullptr, s.Find("x"));
    EXPECT_TRUE(s.Equals((const wchar_t*)NULL));
    s = "";   // an empty text is still a form
    EXPECT_FALSE(s.Equals((const char*)NULL));
    EXPECT_TRUE(s.Equals(L""));
    EXPECT_STREQ(L"", A2W(NULL));
    EXPECT_STREQ("", W2A(NULL));
}

// The argument is itself the shared conversion result that converting this
// string's own form would overwrite, or the string itself.
TEST(C_String, ArgumentsInTheSharedBufferOrInTheStringItself)
{
    C_String narrow("Zaph.INI");
    EXPECT_TRUE(narrow.Equals(C_String(L"zaph.ini")));
    EXPECT_FALSE(narrow.Equals(A2W("other.ini")));
    EXPECT_FALSE(C_String(L"zaph.ini").Equals(W2A(L"other.ini")));
    EXPECT_EQ(nullptr, C_String(L"C:\\Zaph").Find(W2A(L"other")));

    C_String wideLeft(L"left-");
    wideLeft += W2A(L"right");
    EXPECT_STREQ("left-right", wideLeft.GetNarrowTemp());
    C_String narrowLeft("left-");
    narrowLeft += A2W("right");
    EXPECT_STREQ(L"left-right", narrowLeft.GetWide());
    // The kept narrow copy outlives later conversions.
    const char* kept = narrowLeft.GetNarrow();
    W2A(L"something else entirely");
    EXPECT_STREQ("left-right", kept);

    C_String self("ab");
    self += self;
    EXPECT_STREQ(L"abab", self.GetWide());
    EXPECT_EQ(4u, self.Length());
    self = self;
    EXPECT_STREQ("abab", self.GetNarrowTemp());
    self = self.GetNarrow() + 2;
    EXPECT_STREQ("ab", self.GetNarrowTemp());
}

// Whatever forms a string holds before an append, both forms read the whole
// text after it, and copies keep theirs when the original changes.
TEST(C_String, AppendsAndCopiesReadTheSameInBothForms)
{
    enum Start { NARROW, WIDE, BOTH, UNSET };
    const struct { Start start; const char* appended; bool appendWide; const char* expected; } rows[] = {
        { NARROW, "cd", true, "abcd" }, { WIDE, "cd", false, "abcd" }, { BOTH, "cd", false, "abcd" },
        { BOTH, "cd", true, "abcd" },   { UNSET, "copy", false, "copy" }, { NARROW, NULL, false, "ab" },
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
            s += std::wstring(row.appended, row.appended + strlen(row.appended)).c_str();
        else
            s += row.appended;
        C_String copy(s), assigned;
        assigned = s;
        s = "changed";
        EXPECT_STREQ(row.expected, assigned.GetNarrowTemp());
        EXPECT_EQ(strlen(row.expected), copy.Length());
        EXPECT_STREQ(row.expected, copy.GetNarrowTemp());
        EXPECT_STREQ(A2W(row.expected), copy.GetWide());
    }
}

TEST(C_String, ReplaceChangesOnlyTheFirstPlaceCaseSensitively)
{
    const struct { const wchar_t* text; const char* search; const char* replacement; const char* expected; } rows[] = {
        { L"<Lang>\\data_<Lang>.mdb", "<Lang>", "DE", "DE\\data_<Lang>.mdb" },
        { L"data_<lang>.mdb", "<Lang>", "DE", "data_<lang>.mdb" },
        { L"x<MS>y<MS>", "<MS>", "LONGER_TEXT", "xLONGER_TEXTy<MS>" },
        { L"<MS>", "<MS>", "", "" },
        { L"<MS>", NULL, "LU", "<MS>" },
        { L"<MS>", "<MS>", NULL, "<MS>" },
        { L"<MS>", "", "LU", "<MS>" },
    };
    for (const auto& row : rows)
    {
        C_String s(row.text);
        s.GetNarrow();
        s.Replace(row.search, row.replacement, 1);
        EXPECT_STREQ(row.expected, s.GetNarrowTemp()) << row.expected;
        EXPECT_STREQ(A2W(row.expected), s.GetWide()) << row.expected;
        EXPECT_EQ(strlen(row.expected), s.Length()) << row.expected;
    }
    C_String empty;
    empty.Replace("<MS>", "LU", 1);
    EXPECT_TRUE(empty.Equals((const char*)NULL));
}

TEST(C_String, RightTrimRightAndFind)
{
    C_String s(L"Zaph.exe");
    EXPECT_STREQ(".exe", s.Right(4));
    EXPECT_STREQ("Zaph.exe", s.Right(100));
    C_String spaces("value \t\r\n");
    spaces.TrimRight(0);
    EXPECT_STREQ("value", spaces.GetNarrowTemp());
    C_String wideOnly(L"C:\\Zaph\\\\");
    wideOnly.TrimRight('\\');
    EXPECT_STREQ(L"C:\\Zaph", wideOnly.GetWide());
    EXPECT_EQ(7u, wideOnly.Length());
    C_String path("C:\\Zaph\\zaph.ini");
    EXPECT_STREQ("zaph.ini", path.Find("zaph"));
    EXPECT_EQ(nullptr, path.Find("ZAPH.INI"));
    EXPECT_EQ(nullptr, path.Find(NULL));
    EXPECT_FALSE(s.Allocate(0, C_String::NARROW));
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
} // namespace

TEST_F(WideApiTest, BuffersGrowForLongTexts)
{
    for (size_t length : { (size_t)255, (size_t)256, (size_t)300, (size_t)5000 })
    {
        std::string narrow(length, 'n');
        narrow.back() = 'Z';
        std::wstring wide(length, L'w');
        wide.back() = L'Z';
        EXPECT_EQ(std::wstring(narrow.begin(), narrow.end()), A2W(narrow.c_str())) << length;
        EXPECT_EQ(std::string(wide.begin(), wide.end()), W2A(wide.c_str())) << length;
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
