#include <gtest/gtest.h>

#include <string.h>

#include "TestSupport.h"
#include "TextUtil.h"
#include "WideAPI.h"
#include "CodeTables.h"

TEST(TextUtil, NullArgumentsGiveNeutralResults)
{
    char buffer[8] = "keep";
    EXPECT_EQ(0u, TextLength((const char*)NULL));
    EXPECT_EQ(0u, TextLength((const wchar_t*)NULL));
    EXPECT_EQ(buffer, TextCopy(buffer, (const char*)NULL));
    EXPECT_EQ(buffer, TextConcat(buffer, (const char*)NULL));
    EXPECT_STREQ("keep", buffer);
    EXPECT_EQ(nullptr, TextCopy((char*)NULL, "x"));
    EXPECT_EQ(nullptr, TextDuplicate((const char*)NULL));
    EXPECT_EQ(nullptr, TextDuplicate((const wchar_t*)NULL));
    TextUpper(NULL);
    TextLower(NULL);
    EXPECT_EQ(nullptr, TextTrimRight(NULL, 0));
    EXPECT_EQ(nullptr, TextTrimLeft(NULL, 0));
    EXPECT_STREQ("", TextRight(NULL, 3));
    EXPECT_EQ(nullptr, TextFindNoCase(NULL, L"x"));
    EXPECT_EQ(nullptr, TextFindNoCase(L"x", NULL));
    EXPECT_EQ(nullptr, TextFindInRange(NULL, 5, L"x"));
    TextStripPrefixNoCase(NULL, "x");
    EXPECT_FALSE(TextReplaceInPlace(NULL, "a", "b"));
}

TEST(TextUtil, EqualNoCaseTreatsPointersFirst)
{
    const char* same = "abc";
    EXPECT_TRUE(TextEqualNoCase((const char*)NULL, (const char*)NULL));
    EXPECT_TRUE(TextEqualNoCase(same, same));
    EXPECT_FALSE(TextEqualNoCase("abc", (const char*)NULL));
    EXPECT_FALSE(TextEqualNoCase((const char*)NULL, "abc"));
    EXPECT_TRUE(TextEqualNoCase("Zaph.INI", "zaph.ini"));
    EXPECT_FALSE(TextEqualNoCase("zaph.ini", "zaph.in"));
    EXPECT_TRUE(TextEqualNoCase(L"\x00C9t\x00E9", L"\x00E9T\x00C9"));
    EXPECT_TRUE(TextEqualNoCase("DotNet=yes", "DOTNET", 6));
    EXPECT_FALSE(TextEqualNoCase("DotNe", "DOTNET", 6));
    EXPECT_TRUE(TextEqualNoCase(L"[settings]x", L"[SETTINGS]y", 10));
    EXPECT_FALSE(TextEqualNoCase(L"[set]", L"[settings]", 10));
}

// On Windows 9x CharUpperW and lstrcmpiW are stubs that fail; the wide
// comparisons must not rely on them there (isWinNT false takes that path).
TEST(TextUtil, WideNoCaseWorksWithoutTheNtOnlyFunctions)
{
    const bool savedNt = isWinNT;
    isWinNT = false;
    const wchar_t* text = L"x\r\n[labels_de]\r\nA=1";
    EXPECT_EQ(text + 3, TextFindNoCase(text, L"[Labels_DE]"));
    EXPECT_EQ(nullptr, TextFindNoCase(L"abc", L"xyz"));
    EXPECT_TRUE(TextEqualNoCase(L"Zaph.INI", L"zaph.ini"));
    EXPECT_FALSE(TextEqualNoCase(L"zaph.ini", L"zaph.inx"));
    EXPECT_FALSE(TextEqualNoCase(L"zaph.ini", L"zaph.in"));
    EXPECT_TRUE(TextEqualNoCase(L"[settings]x", L"[SETTINGS]y", 10));
    EXPECT_FALSE(TextEqualNoCase(L"[setxings]", L"[settings]", 10));
    isWinNT = savedNt;
}

TEST(TextUtil, TrimRemovesWhiteSpaceOrTheGivenCharacter)
{
    struct Row { const char* text; char c; const char* right; const char* left; };
    const Row rows[] = {
        { "  a b \t\r\n", 0, "  a b", "a b \t\r\n" },
        { "\v\fvalue\v\f", 0, "\v\fvalue", "value\v\f" },
        { "\\\\dir\\\\", '\\', "\\\\dir", "dir\\\\" },
        { "   ", 0, "", "" },
        { "", 0, "", "" },
    };
    for (const Row& row : rows)
    {
        char right[32];
        strcpy(right, row.text);
        EXPECT_STREQ(row.right, TextTrimRight(right, row.c)) << row.text;
        char left[32];
        strcpy(left, row.text);
        EXPECT_STREQ(row.left, TextTrimLeft(left, row.c)) << row.text;
    }
    char both[] = " \t both \r\n";
    EXPECT_STREQ("both", TextTrim(both));
}

TEST(TextUtil, RightFindAndReplace)
{
    EXPECT_STREQ("exe", TextRight("zaph.exe", 3));
    EXPECT_STREQ("zaph.exe", TextRight("zaph.exe", 30));
    EXPECT_STREQ("", TextRight("", 3));

    const wchar_t* text = L"[Labels_FR]\r\nCaption=x";
    EXPECT_EQ(text + 1, TextFindNoCase(text, L"labels_fr"));
    EXPECT_EQ(nullptr, TextFindNoCase(text, L"labels_de"));
    EXPECT_EQ(text + 13, TextFindInRange(text, 20, L"Caption"));
    EXPECT_EQ(nullptr, TextFindInRange(text, 19, L"Caption"));  // would end past the range
    EXPECT_EQ(nullptr, TextFindInRange(text, 20, L"caption"));  // case-sensitive

    char replace[] = "a<MS>b<MS>";
    EXPECT_TRUE(TextReplaceInPlace(replace, "<MS>", "LU"));
    EXPECT_STREQ("aLUb<MS>", replace);
    EXPECT_FALSE(TextReplaceInPlace(replace, "LU", "LONGER"));
    EXPECT_STREQ("aLUb<MS>", replace);

    char prefixed[] = "HKLM\\Software";
    TextStripPrefixNoCase(prefixed, "hklm\\");
    EXPECT_STREQ("Software", prefixed);
    TextStripPrefixNoCase(prefixed, "HKCU\\");
    EXPECT_STREQ("Software", prefixed);

    char cased[] = "MiXeD";
    TextUpper(cased);
    EXPECT_STREQ("MIXED", cased);
    TextLower(cased);
    EXPECT_STREQ("mixed", cased);
}

TEST(CodeTables, LookUpsIgnoreCaseAndTakeOnlyTwoCharacters)
{
    struct Row { const char* text; int language; int memberState; };
    const Row rows[] = {
        { "fr", 6, 6 },   { "FR", 6, 6 },   { "en", 3, -1 },  { "Da", 0, -1 },
        { "SK", 22, 25 }, { "gb", -1, 7 },  { "UK", -1, -1 }, { "EU", 12, 15 },
        { "de", 1, 2 },   { "at", -1, 0 },  { "fra", -1, -1 }, { "f", -1, -1 },
        { "", -1, -1 },   { NULL, -1, -1 }, { "F ", -1, -1 },
    };
    for (const Row& row : rows)
    {
        const char* shown = row.text ? row.text : "(null)";
        EXPECT_EQ(row.language, LanguageIndex(row.text)) << shown;
        EXPECT_EQ(row.language >= 0, IsLanguageCode(row.text)) << shown;
        EXPECT_EQ(row.memberState, MemberStateIndex(row.text)) << shown;
        EXPECT_EQ(row.memberState >= 0, IsMemberStateCode(row.text)) << shown;
    }
}


TEST(CodeTables, EndsOfTheLanguageTable)
{
    EXPECT_STREQ("SK", LanguageCode(22));
    EXPECT_STREQ("", LanguageCode(23));
    EXPECT_EQ(nullptr, LanguageCode(24));
    EXPECT_EQ(nullptr, LanguageCode(-1));
    EXPECT_STREQ("", MemberStateCode(MEMBER_STATE_COUNT));
    EXPECT_EQ(nullptr, MemberStateCode(MEMBER_STATE_COUNT + 1));
}
