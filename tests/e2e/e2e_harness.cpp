// The harness itself: a scenario that goes wrong must fail, at the right line,
// and leave the machine as it was. The usage box (/?) is the program's
// simplest box and serves as the subject.
#include <gtest/gtest-spi.h>

#include "Scenario.h"

using namespace fwe2e;

TEST(Harness, UnexpectedBoxFailsAndIsAnswered)
{
    Scenario s;
    int rc = 0;
    EXPECT_NONFATAL_FAILURE(rc = s.Run("/?"), "Unexpected message box");
    EXPECT_EQ(22, rc); // answered, so the program still ended by itself
    ASSERT_EQ(1u, s.Boxes().size());
    EXPECT_EQ(ICON_WARNING, s.Boxes()[0].icon);
    EXPECT_FALSE(s.Boxes()[0].expected);
}

TEST(Harness, BoxThatNeverCameFails)
{
    Scenario s;
    s.ExpectBox().TextStartsWith("Usage:");
    s.ExpectBox().TextContains("never shown");
    EXPECT_NONFATAL_FAILURE(s.Run("/?"), "never appeared");
}

TEST(Harness, TimeoutKillsTheProgram)
{
    Scenario s;
    s.ExpectBox().TextStartsWith("Usage:").Optional();
    int rc = 0;
    EXPECT_NONFATAL_FAILURE(rc = s.Run("/?", 1), "did not end within 1 ms");
    EXPECT_EQ(-2, rc);
    EXPECT_FALSE(s.Running());
}
