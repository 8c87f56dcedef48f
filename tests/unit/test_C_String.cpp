#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "C_String.h"
#include "WideAPI.h"

// Whole runs build paths, names and messages with these strings every step,
// in both forms; here the argument is itself the shared conversion result that
// converting this string's own form would overwrite, or the string itself.
TEST(C_String, ArgumentsInTheSharedBufferOrInTheStringItself)
{
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

// The placeholders of component names and values: a longer replacement grows
// the text; an empty or missing value (a setting the file lacks) removes the
// placeholder or leaves it.
TEST(C_String, ReplaceChangesOnlyTheFirstPlace)
{
    const struct { const wchar_t* text; const char* search; const char* replacement; const char* expected; } rows[] = {
        { L"x<MS>y<MS>", "<MS>", "LONGER_TEXT", "xLONGER_TEXTy<MS>" },
        { L"<MS>", "<MS>", "", "" },
        { L"<MS>", "<MS>", NULL, "<MS>" },
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
}

// The 9x path: a language's code page converts the labels; Greek on Windows 98
// is e2e_mainsequence's window test. Here the bounds of the conversion buffers.
TEST(WideApi, BuffersGrowAndCodePagesTheSystemLacks)
{
    for (size_t length : { (size_t)255, (size_t)256, (size_t)5000 })
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

    const bool savedWide = useWideApi;
    const UINT savedCodePage = GetConversionCodePage();
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
    useWideApi = savedWide;
    SetConversionCodePage(savedCodePage);
}
