// Faults from outside: damaged settings files and paths that cannot be used.
// Each run of the real fernwick.exe must end with a documented return code,
// say what went wrong in a box, never crash or hang, and leave the machine as
// it was. (Networks that fail are the download tests'; killed runs, full disks
// and locked files are rows of the whole runs.)
//
// The settings-file mutants come from a generator that is deterministic from a
// seed. CI runs the fixed sample below; a larger run takes a seed and a count:
//     FW_FAULT_SEED=7 FW_FAULT_COUNT=500 ./scripts/fault-run.sh
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Distribution.h"
#include "Scenario.h"
#include "TestSupport.h"

using namespace fwe2e;

namespace
{
// ---------------------------------------------------------------------------
// A valid settings file and its mutants
// ---------------------------------------------------------------------------

// The release the scenarios play, from a folder that does not exist and
// without the engine and package steps: the run goes through every phase that
// reads the settings file and ends where the distribution runs out, with
// nothing installed. A label with letters beyond ASCII tests the encodings.
std::vector<std::wstring> ValidLines()
{
    Distribution dist;
    dist.Apply("BASE_URL=C:\\fwfault-nowhere\\; MSI_Version=$SKIP$; InstallSysLN=$SKIP$; CleanMSNew=$SKIP$; "
               "Reboot=$SKIP$; langs=EN FR; @Success=ZAPH est install\xC3\xA9 \xE2\x80\x94 \xCE\x96\xCE\x91\xCE\xA6.");
    std::vector<std::wstring> lines;
    std::wistringstream in(FromUtf8(dist.SettingsText()));
    for (std::wstring line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The standard fixes this generator's output: the same seed gives the same
// mutants on every machine and compiler.
struct Random : std::mt19937_64
{
    explicit Random(uint64_t seed) : std::mt19937_64(seed) {}
    size_t Below(size_t n) { return n == 0 ? 0 : (size_t)((*this)() % n); }
    bool Chance(int percent) { return (int)Below(100) < percent; }
    template <typename T, size_t N>
    T Pick(T (&choices)[N]) { return choices[Below(N)]; }
};

// The encodings a settings file comes in, and some it must refuse.
enum Encoding { UTF16, ANSI, UTF8, UTF16BE, UTF16_NO_MARK, UTF32, MARK_ONLY, ENCODINGS };

std::string Encode(const std::wstring& text, int encoding)
{
    static const std::string marks[] = {"\xFF\xFE", "", "\xEF\xBB\xBF", "\xFE\xFF", "",
                                        std::string("\xFF\xFE\0\0", 4), "\xFF\xFE"};
    std::string bytes = marks[encoding];
    if (encoding == UTF8)
        return bytes + ToUtf8(text);
    for (wchar_t c : text)
    {
        char low = (char)(c & 0xFF), high = (char)((c >> 8) & 0xFF);
        if (encoding == ANSI)
            bytes += (unsigned)c < 256 ? low : '?';
        else if (encoding == UTF16BE)
            bytes += {high, low};
        else if (encoding == UTF32)
            bytes += {low, high, '\0', '\0'};
        else if (encoding != MARK_ONLY)
            bytes += {low, high};
    }
    return bytes;
}

// A mutant: lines of text and how they are joined, then its bytes.
struct Mutant
{
    std::vector<std::wstring> lines = ValidLines();
    std::wstring lineEnd = L"\r\n";
    std::string bytes;
    std::string story; // what was done, for the report

    std::wstring Text() const
    {
        std::wstring text;
        for (const std::wstring& line : lines)
            text += line + lineEnd;
        return text;
    }
};

// Texts that are hard on a reader: formats, quotes, separators, odd characters.
std::wstring OddText(Random& random)
{
    static const wchar_t* const pieces[] = {
        L"%s", L"%hs", L"%n", L"%d%d%d%d", L"%*.*s", L"%ls%S", L"%%", L"%", L"\"", L"'", L"|", L"||||",
        L"=", L"==", L"[", L"]", L"<MS>", L"<Lang>", L"<ExeVersion>", L"<ProgramFiles>", L"$SKIP$",
        L"\t", L" ", L"\x00E9\x00DF", L"\x4E2D\x6587", L"\xD800", L"\xDFFF\xD800", L"\xFEFF", L"\xFFFF",
        L"C:\\", L"\\\\?\\", L"..\\..\\", L"http://", L"file://", L"*", L"?"};
    std::wstring text;
    for (size_t n = 1 + random.Below(6); n > 0; --n)
        text += random.Pick(pieces);
    return text;
}

// One text-level mutation of the lines.
void MutateLines(Mutant& m, Random& random)
{
    static const wchar_t* const sections[] = {L"[Settings]", L"[Components]", L"[Additional]",
                                              L"[CheckSums]", L"[Labels_EN]", L"[Labels_FR]"};
    // Lengths around the limits of the program's buffers.
    static const size_t lengths[] = {79, 80, 255, 256, 259, 260, 511, 512, 4096, 65535, 65536, 300000};
    static const wchar_t* const odd[] = {L"Unknown=1", L"=", L"=value", L"no equals sign", L"[Labels_XX]",
                                         L"[Labels_", L"[Labels_en]", L"[]", L"[Settings", L"BASE_URL =x",
                                         L" [Components]", L"\x0001control", L";comment=1", L"Caption=%s %s %s %s"};
    static const wchar_t* const ends[] = {L"\r", L"\n", L"\r\r\n", L"\n\r", L"\x2028"};
    std::vector<std::wstring>& lines = m.lines;
    size_t at = random.Below(lines.size()), eq = lines[at].find(L'=');
    std::wstring section = random.Pick(sections);
    size_t begin = std::find(lines.begin(), lines.end(), section) - lines.begin(), end = begin + 1;
    while (end < lines.size() && (lines[end].empty() || lines[end][0] != L'['))
        ++end;
    switch (random.Below(7))
    {
    case 0: // a section left out, only its header left, or repeated with changed values
        if (begin < lines.size())
        {
            size_t how = random.Below(3);
            std::vector<std::wstring> copy(lines.begin() + begin, lines.begin() + end);
            for (size_t i = 1; i < copy.size(); ++i)
                if (random.Chance(50))
                    copy[i] = copy[i].substr(0, copy[i].find(L'=') + 1) + OddText(random);
            if (how < 2)
                lines.erase(lines.begin() + begin + how, lines.begin() + end);
            else
                lines.insert(lines.begin() + random.Below(lines.size() + 1), copy.begin(), copy.end());
            m.story += "section " + ToUtf8(section) + (how == 0 ? " dropped; " : how == 1 ? " emptied; " : " repeated; ");
        }
        break;
    case 1: // a setting or label left out
        m.story += "drop line '" + ToUtf8(lines[at].substr(0, 30)) + "'; ";
        lines.erase(lines.begin() + at);
        break;
    case 2: // a value replaced: odd text, a huge run, a zero character, or more
            // formats than the label's use supplies
        if (eq != std::wstring::npos)
        {
            std::wstring value = lines[at].substr(eq + 1);
            switch (random.Below(4))
            {
            case 0: value = OddText(random); break;
            case 1: value = std::wstring(random.Pick(lengths), random.Chance(20) ? L'%' : L'x'); break;
            case 2: value.insert(random.Below(value.size() + 1), 1, L'\0'); break;
            default: value = L"%s%hs%d%n%s%s%ls%x%p" + OddText(random); break;
            }
            m.story += "value of '" + ToUtf8(lines[at].substr(0, eq)) + "' (" + std::to_string(value.size()) + "); ";
            lines[at] = lines[at].substr(0, eq + 1) + value;
        }
        break;
    case 3: // a huge line without "=", or a huge key
    {
        std::wstring huge(random.Pick(lengths), L'K');
        lines.insert(lines.begin() + at, random.Chance(50) ? huge : huge + L"=v");
        m.story += "line of " + std::to_string(huge.size()) + "; ";
        break;
    }
    case 4: // unknown keys, odd lines, unknown label sections
        for (size_t n = 1 + random.Below(4); n > 0; --n)
            lines.insert(lines.begin() + random.Below(lines.size() + 1), random.Pick(odd));
        m.story += "unknown lines; ";
        break;
    case 5: // more label sections than the window has language slots
    {
        std::wistringstream codes(L"DA DE EL ES FI IT NL PT SV LU EU CY CZ EE HU LV LT MT PL SI SK QQ ZZ XX YY WW");
        for (std::wstring code; codes >> code;)
            lines.insert(lines.end(), {L"[Labels_" + code + L"]", L"Caption=" + OddText(random)});
        m.story += "26 more label sections; ";
        break;
    }
    default: // line ends: CR alone, LF alone, ...
        m.lineEnd = random.Pick(ends);
        m.story += "line ends changed; ";
        break;
    }
}

Mutant MakeMutant(uint64_t seed)
{
    Random random(seed);
    Mutant m;
    for (size_t n = random.Below(4); n > 0; --n)
        MutateLines(m, random);
    int encoding = random.Chance(30) ? (int)random.Below(ENCODINGS) : UTF16;
    if (encoding != UTF16)
        m.story += "encoding " + std::to_string(encoding) + "; ";
    m.bytes = Encode(m.Text(), encoding);
    // Raw damage to the bytes.
    if (random.Chance(45) && !m.bytes.empty())
    {
        switch (random.Below(3))
        {
        case 0:
            m.bytes.resize(random.Below(m.bytes.size()));
            m.story += "cut short; ";
            break;
        case 1:
            for (size_t n = 1 + random.Below(8); n > 0; --n)
                m.bytes[random.Below(m.bytes.size())] ^= (char)(1 + random.Below(255));
            m.story += "bytes flipped; ";
            break;
        default:
            if (random.Chance(50))
                m.bytes.pop_back(); // odd length
            else
                m.bytes += std::string(1 + random.Below(5), '\0');
            m.story += "odd length or trailing zeros; ";
            break;
        }
    }
    if (m.story.empty())
        m.story = "unchanged; ";
    return m;
}

// ---------------------------------------------------------------------------
// One run on a settings file and what it must have done
// ---------------------------------------------------------------------------

// The codes a run may end with (the documented table; 50 while a phase is not
// in this build). Anything else, -1 above all, is a fault.
const std::set<int> DOCUMENTED_CODES = {0,    2,    8,    13,   22,   50,   148,  160,  232,  266,
                                        267,  1017, 1223, 1602, 1618, 1633, 1641, 2250, 3010};

struct Outcome
{
    int code = -3;
    std::string fault; // empty: the run behaved
};

Outcome RunOnSettings(const std::string& bytes, const std::string& arguments = "/u")
{
    Outcome outcome;
    Scenario s;
    // A crash must end the process, not wait behind the debugger's dialog.
    s.SetRegDword("HKCU\\Software\\Wine\\WineDbg", "ShowCrashDialog", 0);
    EXPECT_TRUE(s.WriteFile("Zaph.ini", bytes));
    for (int i = 0; i < 8; ++i)
        s.ExpectBox().Optional(); // any box, answered with OK or the careful answer
    outcome.code = s.Run(arguments, 60000);
    LogView log = s.Log();
    std::vector<BoxSeen> boxes = s.Boxes();
    bool clearBox = false;
    for (const BoxSeen& box : boxes)
        clearBox = clearBox || (box.icon != ICON_INFORMATION && box.icon != ICON_QUESTION && !box.text.empty());
    if (outcome.code == -2)
        outcome.fault = "hang (killed after 60 s)";
    else if (bool(log.Contains("EXCEPTION")) || outcome.code == -1)
        outcome.fault = "exception";
    else if (DOCUMENTED_CODES.count(outcome.code) == 0)
        outcome.fault = "undocumented code " + std::to_string(outcome.code);
    else if (!log.HasLine("**** Fernwick END ****."))
        outcome.fault = "no END banner";
    else if (outcome.code != 0 && outcome.code != 1223 && !clearBox)
        outcome.fault = "failure without a box";
    if (!outcome.fault.empty())
    {
        std::string seen;
        for (const BoxSeen& box : boxes)
            seen += box.Describe();
        outcome.fault += "\n  boxes:\n" + seen + "  log:\n" + log.Describe();
    }
    return outcome;
}

uint64_t EnvNumber(const char* name, uint64_t fallback)
{
    const char* value = getenv(name);
    return value && *value ? _strtoui64(value, NULL, 10) : fallback;
}

// Runs the mutants of seeds [first, first + count) and reports each fault
// with the seed that remakes it; the bytes are kept in the build tree.
void RunMutants(uint64_t first, uint64_t count)
{
    int faults = 0;
    for (uint64_t seed = first; seed < first + count; ++seed)
    {
        Mutant m = MakeMutant(seed);
        Outcome outcome = RunOnSettings(m.bytes);
        if (outcome.fault.empty())
            continue;
        ++faults;
        std::string kept = fwtest::BinDir() + "\\..\\fault-mutant-" + std::to_string(seed) + ".ini";
        fwtest::WriteBytes(kept, m.bytes);
        ADD_FAILURE() << "mutant " << seed << " (" << m.story << m.bytes.size() << " bytes, kept as "
                      << kept << "): " << outcome.fault;
    }
    printf("[ settings mutants ] seeds %llu..%llu: %d faults\n", (unsigned long long)first,
           (unsigned long long)(first + count - 1), faults);
}
} // namespace

// The fixed CI sample: the same few dozen mutants on every run, and the
// valid file itself (which must end where the distribution runs out).
TEST(SettingsFaults, MutantsEndWithACodeAndABox)
{
    Outcome valid = RunOnSettings(Encode(Mutant().Text(), UTF16));
    EXPECT_TRUE(valid.fault.empty()) << valid.fault;
    EXPECT_NE(0, valid.code);
    RunMutants(EnvNumber("FW_FAULT_SEED", 1), EnvNumber("FW_FAULT_COUNT", 32));
}

// Paths at and beyond the 259 characters a path may have, and targets that
// cannot be made, given on the command line: refused or reported, never cut
// short into another path.
TEST(PathFaults, LongAndImpossiblePathsEndWithACodeAndABox)
{
    const std::string valid = Encode(Mutant().Text(), UTF16);
    const std::string deep = "C:\\fwfault-deep\\" + std::string(300, 'd');
    const std::string atLimit = "C:\\fwfault-limit\\" + std::string(259 - 17, 'l'); // 259 characters
    const std::string arguments[] = {
        "/u /t " + atLimit,
        "/u /t " + atLimit + "x",
        "/u /t C:\\windows\\system32\\kernel32.dll\\sub", // below a file
        "/u /t \\\\nohost\\noshare\\zaph",
        "/u /i " + deep + "\\Zaph.ini",
        "/u /d3 " + deep + "\\fern.log",
    };
    for (const std::string& args : arguments)
    {
        SCOPED_TRACE(args.substr(0, 80));
        Outcome outcome = RunOnSettings(valid, args);
        EXPECT_TRUE(outcome.fault.empty()) << outcome.fault;
        EXPECT_NE(0, outcome.code);
        // A run that installs nothing leaves no folder behind.
        for (const char* made : {"C:\\fwfault-limit", "C:\\fwfault-deep"})
        {
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(made)) << made;
            fwtest::DeleteTree(made);
        }
    }
}
