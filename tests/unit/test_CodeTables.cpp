#include <gtest/gtest.h>

#include "CodeTables.h"
#include "TestSupport.h"

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

TEST(CodeTables, EveryCodeFindsItsOwnIndex)
{
    for (int i = 0; i < LANGUAGE_COUNT; ++i)
        EXPECT_EQ(i, LanguageIndex(LanguageCode(i))) << i;
    for (int i = 0; i < MEMBER_STATE_COUNT; ++i)
        EXPECT_EQ(i, MemberStateIndex(MemberStateCode(i))) << i;
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
