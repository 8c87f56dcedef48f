// The bench itself: a scenario that goes wrong must fail, at the right line,
// and leave the machine as it was. The usage box (/?) is the program's
// simplest box and serves as the subject.
#include <gtest/gtest-spi.h>

#include "Scenario.h"

using namespace fwe2e;

TEST(Bench, UnexpectedBoxFailsAndIsAnswered)
{
    Scenario s;
    int rc = 0;
    EXPECT_NONFATAL_FAILURE(rc = s.Run("/?"), "Unexpected message box");
    EXPECT_EQ(22, rc); // answered, so the program still ended by itself
    ASSERT_EQ(1u, s.Boxes().size());
    EXPECT_EQ(ICON_WARNING, s.Boxes()[0].icon);
    EXPECT_FALSE(s.Boxes()[0].expected);
}

TEST(Bench, BoxThatNeverCameFails)
{
    Scenario s;
    s.ExpectBox().TextStartsWith("Usage:");
    s.ExpectBox().TextContains("never shown");
    EXPECT_NONFATAL_FAILURE(s.Run("/?"), "never appeared");
}

TEST(Bench, WrongIconIsNoMatch)
{
    Scenario s;
    s.ExpectBox().TextStartsWith("Usage:").Icon(ICON_ERROR).Optional();
    EXPECT_NONFATAL_FAILURE(s.Run("/?"), "icon is warning (exclamation), not error (stop)");
}

TEST(Bench, TimeoutKillsTheProgram)
{
    Scenario s;
    s.ExpectBox().TextStartsWith("Usage:").Optional();
    int rc = 0;
    EXPECT_NONFATAL_FAILURE(rc = s.Run("/?", 1), "did not end within 1 ms");
    EXPECT_EQ(-2, rc);
    EXPECT_FALSE(s.Running());
}

// What a scenario changed goes away with it: keys it made, values it changed,
// keys it deleted, the per-program Windows version and its working folder.
TEST(Bench, MachineStateIsPutBack)
{
    const std::string key = "HKCU\\Software\\FernwickBenchTest";
    std::string root;
    Scenario outer;
    ASSERT_TRUE(outer.SetRegString(key + "\\Kept", "Name", "before"));
    ASSERT_TRUE(outer.SetRegString(key + "\\Kept\\Child", "Other", "child"));
    {
        Scenario s;
        root = s.Root();
        ASSERT_TRUE(s.SetRegDword(key + "\\Fresh\\Sub", "Number", 7));
        ASSERT_TRUE(s.SetRegString(key + "\\Kept", "Name", "changed"));
        ASSERT_TRUE(s.DeleteRegKey(key + "\\Kept\\Child"));
        EXPECT_TRUE(RegKeyAbsent(key + "\\Kept\\Child"));
        s.SetWindowsVersion("win98");
        s.ExpectBox().TextStartsWith("Usage:");
        EXPECT_EQ(22, s.Run("/?"));
        EXPECT_TRUE(RegValueIs("HKCU\\Software\\Wine\\AppDefaults\\fernwick.exe", "Version", "win98"));
    }
    EXPECT_TRUE(RegKeyAbsent(key + "\\Fresh"));
    EXPECT_TRUE(RegValueAbsent("HKCU\\Software\\Wine\\AppDefaults\\fernwick.exe", "Version"));
    EXPECT_TRUE(RegValueIs(key + "\\Kept", "Name", "before"));
    EXPECT_TRUE(RegValueIs(key + "\\Kept\\Child", "Other", "child"));
    EXPECT_TRUE(FileAbsent(root));
}
