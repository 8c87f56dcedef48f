#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "WideAPI.h"
#include "resource.h"

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
