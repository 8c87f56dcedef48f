#include <gtest/gtest.h>

#include "CodeTables.h"

// A language given in any case is accepted (the command line, the settings
// file); a longer text is no code, and an index past a table has no code.
TEST(CodeTables, LookUpsIgnoreCaseAndTakeOnlyTwoCharacters)
{
    const struct { const char* text; int language; int memberState; } rows[] = {
        { "fr", 6, 6 }, { "SK", 22, 25 }, { "gb", -1, 7 }, { "fra", -1, -1 }, { NULL, -1, -1 },
    };
    for (const auto& row : rows)
    {
        const char* shown = row.text ? row.text : "(null)";
        EXPECT_EQ(row.language, LanguageIndex(row.text)) << shown;
        EXPECT_EQ(row.language >= 0, IsLanguageCode(row.text)) << shown;
        EXPECT_EQ(row.memberState, MemberStateIndex(row.text)) << shown;
        EXPECT_EQ(row.memberState >= 0, IsMemberStateCode(row.text)) << shown;
    }
    // Beyond the ends of the tables: no code, never a read past them.
    EXPECT_EQ(nullptr, LanguageCode(24));
    EXPECT_EQ(nullptr, LanguageCode(-1));
    EXPECT_EQ(nullptr, MemberStateCode(MEMBER_STATE_COUNT + 1));
}
