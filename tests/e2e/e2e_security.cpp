// What an elevated run must not trust: libraries planted beside the program
// or in its current folder.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "Scenario.h"
#include "TestSupport.h"

using namespace fwe2e;

namespace
{
// Every library the program imports or loads at run time, and the product's
// unzip library, which it loads from the installation's bin folder only.
const char* const PLANTED[] = { "kernel32", "user32",   "gdi32",  "advapi32", "shell32",
                                "ole32",    "oleaut32", "comdlg32", "msvcrt", "comctl32",
                                "version",  "msi",      "wininet", "urlmon",  "dunzip32" };
// The names Windows would look for beside the program if asked by a bare
// name. The imported ones are in the system's list of known libraries, which
// Windows always takes from its own folder; Wine has no such list, so telling
// it to prefer a native copy of those would test Wine, not the program.
const char* const WINDOWS_WOULD_SEARCH[] = { "comctl32", "version", "msi", "wininet", "urlmon" };

// Plants the recording library under every name beside the program and in a
// separate current folder, tells Wine to prefer native copies as Windows
// would (the prefix's per-program DllOverrides), and names the file in which a loaded copy records itself.
class Planted
{
public:
    Planted(Scenario& s, const std::string& exeName) : m_record(s.Root() + "\\planted.log")
    {
        m_current = s.Folder("current");
        for (const char* name : PLANTED)
        {
            std::string file = std::string(name) + ".dll";
            // Wine's own user32 imports version.dll, which its loader looks
            // for beside the program before the program's first instruction
            // (Windows' user32 does not); only the current folder holds it.
            if (strcmp(name, "version") != 0)
            {
                EXPECT_TRUE(s.CopyFromBin("planted.dll", file));
            }
            EXPECT_TRUE(s.CopyIn(fwtest::BinDir() + "\\planted.dll", m_current + "\\" + file));
        }
        const std::string key = "HKCU\\Software\\Wine\\AppDefaults\\" + exeName + "\\DllOverrides";
        for (const char* name : WINDOWS_WOULD_SEARCH)
            EXPECT_TRUE(s.SetRegString(key, name, "native,builtin"));
        SetEnvironmentVariableA("FW_PLANT_LOG", m_record.c_str());
        s.SetCurrentDir(m_current);
    }
    ~Planted() { SetEnvironmentVariableA("FW_PLANT_LOG", NULL); }
    // The paths of the planted copies that were loaded, one a line.
    std::string Loaded() const
    {
        std::string text;
        fwtest::ReadBytes(m_record, text);
        return text;
    }
    const std::string& Current() const { return m_current; }

private:
    std::string m_record, m_current;
};
} // namespace

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
