#include "Planted.h"

#include <string.h>

#include "TestSupport.h"

namespace fwe2e
{
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
} // namespace

Planted::Planted(Scenario& s, const std::string& exeName, bool separateCurrent) : m_record(s.Root() + "\\planted.log")
{
    m_current = separateCurrent ? s.Folder("current") : s.Dir();
    for (const char* name : PLANTED)
    {
        std::string file = std::string(name) + ".dll";
        // Wine's own user32 imports version.dll, which its loader looks
        // for beside the program before the program's first instruction
        // (Windows' user32 does not); only a separate current folder holds it.
        if (strcmp(name, "version") != 0)
        {
            EXPECT_TRUE(s.CopyFromBin("planted.dll", file));
        }
        if (separateCurrent)
        {
            EXPECT_TRUE(s.CopyFromBin("planted.dll", m_current + "\\" + file));
        }
    }
    const std::string key = "HKCU\\Software\\Wine\\AppDefaults\\" + exeName + "\\DllOverrides";
    for (const char* name : WINDOWS_WOULD_SEARCH)
        EXPECT_TRUE(s.SetRegString(key, name, "native,builtin"));
    SetEnvironmentVariableA("FW_PLANT_LOG", m_record.c_str());
    if (separateCurrent)
        s.SetCurrentDir(m_current);
}

Planted::~Planted()
{
    SetEnvironmentVariableA("FW_PLANT_LOG", NULL);
}

std::string Planted::Loaded() const
{
    std::string text;
    fwtest::ReadBytes(m_record, text);
    return text;
}
} // namespace fwe2e
