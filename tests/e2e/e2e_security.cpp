// What an elevated run must not trust: libraries planted beside the program
// or in its current folder.
#include <gtest/gtest.h>

#include <string>

#include "Planted.h"
#include "Scenario.h"
#include "TestSupport.h"

using namespace fwe2e;

// The control: an ordinary program that loads a library by its bare name
// picks up the copy planted beside it, so the set-up can see a loaded plant.
TEST(Security, PlantedLibraryIsLoadedByAnOrdinaryProgram)
{
    Scenario s;
    Planted planted(s, "fw_child.exe");
    s.SetExeName("fw_child.exe");
    ASSERT_TRUE(s.CopyFromBin("fw_child.exe"));
    EXPECT_EQ(0, s.Run("0 0 wininet.dll"));
    EXPECT_NE(std::string::npos, planted.Loaded().find("\\dist\\wininet.dll")) << planted.Loaded();
}

TEST(Security, PlantedLibrariesAreNotLoaded)
{
    Scenario s;
    Planted planted(s, "fernwick.exe");
    ASSERT_TRUE(s.WriteUnicodeFile(planted.Current() + "\\Zaph.ini",
                                   "[Settings]\nBASE_URL=http://downloads.example/LU/2.1/\n"
                                   "MemberState=LU\nIniVersion=2.1\nExeVersion=2.1.0.5\n"
                                   "[Components]\n<MS>\\ms.mdb=V2.1.0.0\n[Additional]\n<MS>\\n.txt=Any\n"
                                   "[CheckSums]\n<MS>\\ms.mdb=00000000\n[Labels_EN]\nCaption=%s ZAPH Setup [%hs]\n"
                                   "ErrorOccurred=An error occurred:|%s\nInitialising=Initialising\n"));
    // Where the short settings file ends the run does not matter here; only
    // that no planted library was loaded on the way.
    for (int i = 0; i < 4; ++i)
        s.ExpectBox().Optional();
    s.Run("/l EN");
    EXPECT_TRUE(s.Log().HasLine("**** Fernwick END ****."));
    EXPECT_EQ("", planted.Loaded());
}
