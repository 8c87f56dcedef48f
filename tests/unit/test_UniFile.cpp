#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "UniFile.h"

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
