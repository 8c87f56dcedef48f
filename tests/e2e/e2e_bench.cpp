// The bench itself: a scenario that goes wrong must fail, at the right line,
// and leave the machine as it was. The usage box (/?) is the program's
// simplest box and serves as the subject.
#include <gtest/gtest-spi.h>

#include "Scenario.h"
#include "TestSupport.h"

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

TEST(Bench, MachineStateIsPutBack)
{
    const std::string fresh = "HKCU\\Software\\FernwickBenchTest\\Fresh";
    const std::string kept = "HKCU\\Software\\FernwickBenchTest\\Kept";
    {
        Scenario setup;
        ASSERT_TRUE(setup.DeleteRegKey("HKCU\\Software\\FernwickBenchTest"));
    }
    ASSERT_TRUE(RegKeyAbsent("HKCU\\Software\\FernwickBenchTest"));
    {
        // Keys and values made by a scenario disappear with it ...
        Scenario s;
        ASSERT_TRUE(s.SetRegString(fresh, "Name", "value"));
        ASSERT_TRUE(s.SetRegDword(fresh + "\\Sub", "Number", 7));
        EXPECT_TRUE(RegValueIs(fresh, "Name", "value"));
        EXPECT_TRUE(RegDwordIs(fresh + "\\Sub", "Number", 7));
        s.SetWindowsVersion("win98");
        s.ExpectBox().TextStartsWith("Usage:");
        EXPECT_EQ(22, s.Run("/?"));
        EXPECT_TRUE(RegValueIs("HKCU\\Software\\Wine\\AppDefaults\\fernwick.exe", "Version", "win98"));
    }
    EXPECT_TRUE(RegKeyAbsent("HKCU\\Software\\FernwickBenchTest"));
    EXPECT_TRUE(RegValueAbsent("HKCU\\Software\\Wine\\AppDefaults\\fernwick.exe", "Version"));

    // ... and what was there before comes back, deleted or changed.
    Scenario outer;
    ASSERT_TRUE(outer.SetRegString(kept, "Name", "before"));
    ASSERT_TRUE(outer.SetRegString(kept + "\\Child", "Other", "child"));
    {
        Scenario s;
        ASSERT_TRUE(s.SetRegString(kept, "Name", "changed"));
        ASSERT_TRUE(s.DeleteRegKey(kept + "\\Child"));
        EXPECT_TRUE(RegKeyAbsent(kept + "\\Child"));
    }
    EXPECT_TRUE(RegValueIs(kept, "Name", "before"));
    EXPECT_TRUE(RegValueIs(kept + "\\Child", "Other", "child"));
}

TEST(Bench, WorkingFolderIsRemoved)
{
    std::string root;
    {
        Scenario s;
        root = s.Root();
        ASSERT_TRUE(s.WriteUnicodeFile("sub\\Zaph.ini", "[Settings]\nA=\xC3\xA9\n"));
        std::string bytes;
        ASSERT_TRUE(fwtest::ReadBytes(s.Path("sub\\Zaph.ini"), bytes));
        EXPECT_EQ(std::string("\xFF\xFE[\0", 4), bytes.substr(0, 4));
        EXPECT_NE(std::string::npos, bytes.find(std::string("\xE9\0\r\0\n\0", 6)));
        EXPECT_TRUE(FileExists(s.ExePath()));
    }
    EXPECT_TRUE(FileAbsent(root));
}
