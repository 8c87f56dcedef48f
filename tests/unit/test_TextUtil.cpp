#include <gtest/gtest.h>

#include <string.h>

#include "CodeTables.h"
#include "TextUtil.h"
#include "WideAPI.h"

TEST(TextUtil, NullAndBlankArgumentsGiveNeutralResults)
{
    char buffer[8] = "keep";
    char spaces[] = " \t\r\n";
    EXPECT_STREQ("", TextTrimRight(spaces, 0));
    EXPECT_STREQ("", TextTrimLeft(spaces, 0));
    EXPECT_EQ(buffer, TextCopy(buffer, (const char*)NULL));
    EXPECT_EQ(buffer, TextConcat(buffer, (const char*)NULL));
    EXPECT_STREQ("keep", buffer);
    EXPECT_EQ(nullptr, TextCopy((char*)NULL, "x"));
    EXPECT_EQ(nullptr, TextDuplicate((const wchar_t*)NULL));
    EXPECT_EQ(nullptr, TextTrimRight(NULL, 0));
    EXPECT_STREQ("", TextRight(NULL, 3));
    EXPECT_EQ(nullptr, TextFindNoCase(NULL, L"x"));
    EXPECT_EQ(nullptr, TextFindNoCase(L"x", NULL));
    EXPECT_EQ(nullptr, TextFindInRange(NULL, 5, L"x"));
    TextStripPrefixNoCase(NULL, "x");
    EXPECT_FALSE(TextReplaceInPlace(NULL, "a", "b"));
    EXPECT_TRUE(TextEqualNoCase((const char*)NULL, (const char*)NULL));
    EXPECT_FALSE(TextEqualNoCase("abc", (const char*)NULL));
    EXPECT_FALSE(TextEqualNoCase((const char*)NULL, "abc"));
}

// On Windows 9x CharUpperW and lstrcmpiW are stubs that fail; the wide
// comparisons must not rely on them there (isWinNT false takes that path).
TEST(TextUtil, WideNoCaseOnBothSystemFamilies)
{
    const bool savedNt = isWinNT;
    for (bool nt : { true, false })
    {
        isWinNT = nt;
        const wchar_t* text = L"x\r\n[labels_de]\r\nA=1";
        EXPECT_EQ(text + 3, TextFindNoCase(text, L"[Labels_DE]")) << nt;
        EXPECT_EQ(nullptr, TextFindNoCase(text, L"[Labels_FR]")) << nt;
        EXPECT_TRUE(TextEqualNoCase(L"Zaph.INI", L"zaph.ini")) << nt;
        EXPECT_FALSE(TextEqualNoCase(L"zaph.ini", L"zaph.in")) << nt;
        EXPECT_TRUE(TextEqualNoCase(L"[settings]x", L"[SETTINGS]y", 10)) << nt;
        EXPECT_FALSE(TextEqualNoCase(L"[set]", L"[settings]", 10)) << nt;
    }
    isWinNT = savedNt;
    EXPECT_TRUE(TextEqualNoCase(L"\x00C9t\x00E9", L"\x00E9T\x00C9"));
    EXPECT_TRUE(TextEqualNoCase("DotNet=yes", "DOTNET", 6));
    EXPECT_FALSE(TextEqualNoCase("DotNe", "DOTNET", 6));
}

// Trimming is the settings values' (test_CResource); here the bounds of a
// search and of a replacement made in place.
TEST(TextUtil, FindAndReplaceStayInTheirBounds)
{
    const wchar_t* text = L"[Labels_FR]\r\nCaption=x";
    EXPECT_EQ(text + 13, TextFindInRange(text, 20, L"Caption"));
    EXPECT_EQ(nullptr, TextFindInRange(text, 19, L"Caption"));  // would end past the range
    EXPECT_EQ(nullptr, TextFindInRange(text, 20, L"caption"));  // case-sensitive

    char replace[] = "a<MS>b<MS>";
    EXPECT_TRUE(TextReplaceInPlace(replace, "<MS>", "LU"));
    EXPECT_STREQ("aLUb<MS>", replace);
    EXPECT_FALSE(TextReplaceInPlace(replace, "LU", "LONGER"));  // the buffer would overflow
    EXPECT_STREQ("aLUb<MS>", replace);
    char prefixed[] = "HKLM\\Software";
    TextStripPrefixNoCase(prefixed, "hklm\\");
    EXPECT_STREQ("Software", prefixed);
}

TEST(CodeTables, LookUpsIgnoreCaseAndTakeOnlyTwoCharacters)
{
    const struct { const char* text; int language; int memberState; } rows[] = {
        { "fr", 6, 6 },    { "Da", 0, -1 }, { "SK", 22, 25 }, { "gb", -1, 7 },  { "at", -1, 0 },
        { "fra", -1, -1 }, { "f", -1, -1 }, { "", -1, -1 },   { NULL, -1, -1 }, { "F ", -1, -1 },
    };
    for (const auto& row : rows)
    {
        const char* shown = row.text ? row.text : "(null)";
        EXPECT_EQ(row.language, LanguageIndex(row.text)) << shown;
        EXPECT_EQ(row.language >= 0, IsLanguageCode(row.text)) << shown;
        EXPECT_EQ(row.memberState, MemberStateIndex(row.text)) << shown;
        EXPECT_EQ(row.memberState >= 0, IsMemberStateCode(row.text)) << shown;
    }
    // The ends of the tables.
    EXPECT_STREQ("SK", LanguageCode(22));
    EXPECT_STREQ("", LanguageCode(23));
    EXPECT_EQ(nullptr, LanguageCode(24));
    EXPECT_EQ(nullptr, LanguageCode(-1));
    EXPECT_STREQ("", MemberStateCode(MEMBER_STATE_COUNT));
    EXPECT_EQ(nullptr, MemberStateCode(MEMBER_STATE_COUNT + 1));
}
