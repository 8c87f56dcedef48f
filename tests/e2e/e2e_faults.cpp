// Faults from outside: damaged settings files, networks that fail, files that
// cannot be written, runs that are killed. Each run of the real fernwick.exe
// must end with a documented return code, say what went wrong in a box, never
// crash or hang, and leave the machine as it was.
//
// The settings-file mutants come from a generator that is deterministic from a
// seed. CI runs the fixed sample below; a larger run takes a seed and a count:
//     FW_FAULT_SEED=7 FW_FAULT_COUNT=500 ./scripts/fault-run.sh
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Scenario.h"
#include "TestSupport.h"

using namespace fwe2e;

namespace
{
// ---------------------------------------------------------------------------
// A valid settings file and its mutants
// ---------------------------------------------------------------------------

// The run goes through every phase that reads the file and ends where no
// earlier installation and no package exist: nothing is installed.
const char* const VALID_INI =
    "[Settings]\n"
    "BASE_URL=C:\\fwfault-nowhere\\\n"
    "MemberState=LU\n"
    "IniVersion=2.1\n"
    "ExeVersion=2.1.0.5\n"
    "DotNet=no\n"
    "Threading=Off\n"
    "MSI_Version=$SKIP$\n"
    "InstallSysLN=$SKIP$\n"
    "SYSLNVersion=2.1.0\n"
    "NumComponents=2\n"
    "CleanMSNew=$SKIP$\n"
    "Reboot=$SKIP$\n"
    "[Components]\n"
    "<MS>\\ms.mdb=V2.1.0.0\n"
    "<Lang>\\lang.mdb=V2.1.0.0\n"
    "[Additional]\n"
    "<MS>\\news.txt=Any\n"
    "[CheckSums]\n"
    "<MS>\\ms.mdb=0A1B2C3D\n"
    "[Labels_EN]\n"
    "Caption=%s ZAPH Setup [%hs]\n"
    "Organisation=Ombrant\n"
    "Header=ZAPH Setup and Upgrade\n"
    "Branding=Ombrant ZAPH\n"
    "CancelButton=Cancel\n"
    "ProceedButton=Proceed\n"
    "ConfirmCancel=Do you want to stop the installation?\n"
    "DownloadFile=Obtaining '%hs' from '%hs'\n"
    "FailFile=The file '%hs' could not be obtained from '%hs'.\n"
    "WorkingOffLine=There is no connection to the Internet.\n"
    "InvalidValue=The setting '%s' of the settings file is missing or invalid.\n"
    "ErrorOccurred=An error occurred:|%s\n"
    "PleaseWait=Please wait: %s\n"
    "NoInstallation=No installation in '%hs'.\n"
    "Initialising=Initialising\n"
    "InstallSystem=Installing the system\n"
    "PostInstallCheck=Checking the installation\n"
    "InstallComponents=Installing the data\n"
    "WasAbandoned=The upgrade was abandoned.\n"
    "NoUpgrade=Nothing to upgrade.\n"
    "InUse=ZAPH is in use.\n"
    "WarnNotAdmin=You are not an administrator.\n"
    "Reboot=Please restart the computer.\n"
    "Success=ZAPH has been installed successfully.\n"
    "[Labels_FR]\n"
    "Caption=%s Installation de ZAPH [%hs]\n"
    "Organisation=Ombrant\n"
    "Header=Installation de ZAPH\n"
    "CancelButton=Annuler\n"
    "ProceedButton=Continuer\n"
    "InvalidValue=Le param\xC3\xA8tre '%s' manque.\n"
    "ErrorOccurred=Une erreur est survenue :|%s\n"
    "Initialising=Initialisation\n"
    "Success=ZAPH est install\xC3\xA9.\n";

// Small, fixed-width generator: the same seed gives the same mutants on every
// machine and compiler.
class Random
{
public:
    explicit Random(uint64_t seed) : m_state(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
    uint32_t Next()
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return (uint32_t)((m_state * 0x2545F4914F6CDD1Dull) >> 32);
    }
    size_t Below(size_t n) { return n == 0 ? 0 : Next() % n; }
    bool Chance(int percent) { return (int)Below(100) < percent; }

private:
    uint64_t m_state;
};

std::vector<std::wstring> SplitLines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// A mutant: lines of text, how they are joined and encoded, then raw damage.
struct Mutant
{
    std::vector<std::wstring> lines;
    std::wstring lineEnd = L"\r\n";
    enum Encoding { UTF16LE_BOM, ANSI, UTF8_BOM, UTF16BE_BOM, UTF16LE_NO_BOM, UTF32LE_BOM, BOM_ONLY };
    Encoding encoding = UTF16LE_BOM;
    std::function<void(std::string&)> damage; // bytes cut, flipped, ...
    std::string story;                        // what was done, for the report

    std::string Bytes() const
    {
        std::wstring text;
        for (const std::wstring& line : lines)
            text += line + lineEnd;
        std::string bytes;
        auto put16 = [&](wchar_t c, bool big) {
            unsigned v = (unsigned)c & 0xFFFF;
            bytes += big ? (char)(v >> 8) : (char)(v & 0xFF);
            bytes += big ? (char)(v & 0xFF) : (char)(v >> 8);
        };
        switch (encoding)
        {
        case UTF16LE_BOM:
        case UTF16LE_NO_BOM:
        case UTF16BE_BOM:
        case BOM_ONLY:
        {
            bool big = encoding == UTF16BE_BOM;
            if (encoding != UTF16LE_NO_BOM)
                bytes = big ? std::string("\xFE\xFF") : std::string("\xFF\xFE");
            if (encoding != BOM_ONLY)
                for (wchar_t c : text)
                    put16(c, big);
            break;
        }
        case ANSI:
            for (wchar_t c : text)
                bytes += c < 256 ? (char)c : '?';
            break;
        case UTF8_BOM:
            bytes = "\xEF\xBB\xBF" + ToUtf8(text);
            break;
        case UTF32LE_BOM:
            bytes = std::string("\xFF\xFE\x00\x00", 4);
            for (wchar_t c : text)
            {
                put16(c, false);
                bytes += std::string(2, '\0');
            }
            break;
        }
        if (damage)
            damage(bytes);
        return bytes;
    }
};

// Where a section starts and ends (indices of lines), or false when absent.
bool FindSection(const std::vector<std::wstring>& lines, const std::wstring& header, size_t& begin,
                 size_t& end)
{
    for (begin = 0; begin < lines.size() && lines[begin] != header; ++begin)
    {
    }
    if (begin == lines.size())
        return false;
    for (end = begin + 1; end < lines.size() && (lines[end].empty() || lines[end][0] != L'['); ++end)
    {
    }
    return true;
}

const wchar_t* const SECTIONS[] = {L"[Settings]", L"[Components]", L"[Additional]", L"[CheckSums]",
                                   L"[Labels_EN]", L"[Labels_FR]"};
const size_t SECTION_COUNT = sizeof(SECTIONS) / sizeof(SECTIONS[0]);

// Texts that are hard on a reader: formats, quotes, separators, huge runs.
std::wstring OddText(Random& random)
{
    static const wchar_t* const pieces[] = {
        L"%s", L"%hs", L"%n", L"%d%d%d%d", L"%*.*s", L"%ls%S", L"%%", L"%", L"\"", L"'", L"|", L"||||",
        L"=", L"==", L"[", L"]", L"<MS>", L"<Lang>", L"<ExeVersion>", L"<ProgramFiles>", L"$SKIP$",
        L"\t", L" ", L"\x00E9\x00DF", L"\x4E2D\x6587", L"\xD800", L"\xDFFF\xD800", L"\xFEFF", L"\xFFFF",
        L"C:\\", L"\\\\?\\", L"..\\..\\", L"http://", L"file://", L"*", L"?"};
    std::wstring text;
    size_t n = 1 + random.Below(6);
    for (size_t i = 0; i < n; ++i)
        text += pieces[random.Below(sizeof(pieces) / sizeof(pieces[0]))];
    return text;
}

size_t HugeLength(Random& random)
{
    static const size_t lengths[] = {79, 80, 255, 256, 259, 260, 511, 512, 4096, 65535, 65536, 300000};
    return lengths[random.Below(sizeof(lengths) / sizeof(lengths[0]))];
}

// One text-level mutation of the lines.
void MutateLines(Mutant& m, Random& random)
{
    std::vector<std::wstring>& lines = m.lines;
    size_t line = random.Below(lines.size() + 1);
    size_t begin = 0, end = 0;
    const wchar_t* section = SECTIONS[random.Below(SECTION_COUNT)];
    switch (random.Below(12))
    {
    case 0: // a section left out
        if (FindSection(lines, section, begin, end))
            lines.erase(lines.begin() + begin, lines.begin() + end);
        m.story += "drop " + ToUtf8(section) + "; ";
        break;
    case 1: // a section repeated, the copy with changed values
        if (FindSection(lines, section, begin, end))
        {
            std::vector<std::wstring> copy(lines.begin() + begin, lines.begin() + end);
            for (size_t i = 1; i < copy.size(); ++i)
                if (random.Chance(50))
                    copy[i] = copy[i].substr(0, copy[i].find(L'=') + 1) + OddText(random);
            lines.insert(lines.begin() + random.Below(lines.size() + 1), copy.begin(), copy.end());
        }
        m.story += "repeat " + ToUtf8(section) + "; ";
        break;
    case 2: // only the header of a section, or a header in another case
        if (FindSection(lines, section, begin, end))
        {
            if (random.Chance(50))
                lines.erase(lines.begin() + begin + 1, lines.begin() + end);
            else
                for (wchar_t& c : lines[begin])
                    c = (wchar_t)towlower(c);
        }
        m.story += "empty or lower-case " + ToUtf8(section) + "; ";
        break;
    case 3: // a label or setting left out
        if (!lines.empty())
        {
            size_t at = random.Below(lines.size());
            if (!lines[at].empty() && lines[at][0] != L'[')
            {
                m.story += "drop line '" + ToUtf8(lines[at].substr(0, 30)) + "'; ";
                lines.erase(lines.begin() + at);
            }
        }
        break;
    case 4: // a value replaced by odd text
        if (!lines.empty())
        {
            size_t at = random.Below(lines.size());
            size_t eq = lines[at].find(L'=');
            if (eq != std::wstring::npos)
            {
                lines[at] = lines[at].substr(0, eq + 1) + OddText(random);
                m.story += "odd value of '" + ToUtf8(lines[at].substr(0, eq)) + "'; ";
            }
        }
        break;
    case 5: // a huge value
        if (!lines.empty())
        {
            size_t at = random.Below(lines.size());
            size_t eq = lines[at].find(L'=');
            if (eq != std::wstring::npos)
            {
                size_t length = HugeLength(random);
                m.story += "value of " + std::to_string(length) + " for '" +
                           ToUtf8(lines[at].substr(0, eq)) + "'; ";
                lines[at] = lines[at].substr(0, eq + 1) +
                            std::wstring(length, random.Chance(20) ? L'%' : L'x');
            }
        }
        break;
    case 6: // a huge line without "=", or a huge key
    {
        size_t length = HugeLength(random);
        std::wstring huge(length, L'K');
        lines.insert(lines.begin() + line, random.Chance(50) ? huge : huge + L"=v");
        m.story += "line of " + std::to_string(length) + "; ";
        break;
    }
    case 7: // unknown keys, odd lines, unknown label sections
    {
        static const wchar_t* const odd[] = {L"Unknown=1", L"=", L"=value", L"no equals sign",
                                             L"[Labels_XX]", L"[Labels_", L"[Labels_E", L"[Labels_en]",
                                             L"[]", L"[Settings", L"BASE_URL =x", L" [Components]",
                                             L"\x0001control", L";comment=1", L"Caption=%s %s %s %s"};
        size_t n = 1 + random.Below(4);
        for (size_t i = 0; i < n; ++i)
            lines.insert(lines.begin() + random.Below(lines.size() + 1),
                         odd[random.Below(sizeof(odd) / sizeof(odd[0]))]);
        m.story += "unknown lines; ";
        break;
    }
    case 8: // many label sections
    {
        static const char* const codes[] = {"DA", "DE", "EL", "ES", "FI", "IT", "NL", "PT", "SV", "LU",
                                            "EU", "CY", "CZ", "EE", "HU", "LV", "LT", "MT", "PL", "SI",
                                            "SK", "QQ", "ZZ", "XX", "YY", "WW"};
        for (size_t i = 0; i < sizeof(codes) / sizeof(codes[0]); ++i)
        {
            lines.push_back(L"[Labels_" + FromUtf8(codes[i]) + L"]");
            lines.push_back(L"Caption=" + OddText(random));
        }
        m.story += "26 more label sections; ";
        break;
    }
    case 9: // line ends: CR alone, LF alone, none at the very end
    {
        static const wchar_t* const ends[] = {L"\r", L"\n", L"\r\r\n", L"\n\r", L"\x2028"};
        m.lineEnd = ends[random.Below(sizeof(ends) / sizeof(ends[0]))];
        m.story += "line ends changed; ";
        break;
    }
    case 10: // a zero character in a line
        if (!lines.empty())
        {
            size_t at = random.Below(lines.size());
            lines[at].insert(random.Below(lines[at].size() + 1), 1, L'\0');
            m.story += "zero character; ";
        }
        break;
    case 11: // a label's formats asking for more than its use supplies
        if (FindSection(lines, L"[Labels_EN]", begin, end) && end > begin + 1)
        {
            size_t at = begin + 1 + random.Below(end - begin - 1);
            size_t eq = lines[at].find(L'=');
            lines[at] = lines[at].substr(0, eq + 1) + L"%s%hs%d%n%s%s%ls%x%p" + OddText(random);
            m.story += "formats in label '" + ToUtf8(lines[at].substr(0, eq)) + "'; ";
        }
        break;
    }
}

Mutant MakeMutant(uint64_t seed)
{
    Random random(seed);
    Mutant m;
    m.lines = SplitLines(FromUtf8(VALID_INI));
    size_t textMutations = random.Below(4);
    for (size_t i = 0; i < textMutations; ++i)
        MutateLines(m, random);
    if (random.Chance(30))
    {
        m.encoding = (Mutant::Encoding)random.Below(7);
        m.story += "encoding " + std::to_string((int)m.encoding) + "; ";
    }
    if (random.Chance(45))
    {
        uint32_t a = random.Next(), b = random.Next();
        switch (random.Below(3))
        {
        case 0:
            m.damage = [a](std::string& bytes) { bytes.resize(bytes.empty() ? 0 : a % bytes.size()); };
            m.story += "cut short; ";
            break;
        case 1:
            m.damage = [a, b](std::string& bytes) {
                uint32_t r = a;
                for (uint32_t i = 0; i < 1 + b % 8 && !bytes.empty(); ++i, r = r * 1103515245u + 12345u)
                    bytes[r % bytes.size()] ^= (char)(1 + (r >> 16) % 255);
            };
            m.story += "bytes flipped; ";
            break;
        case 2:
            m.damage = [a](std::string& bytes) {
                if (!bytes.empty() && a % 2)
                    bytes.resize(bytes.size() - 1); // odd length
                else
                    bytes += std::string(1 + a % 5, '\0');
            };
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
    if (!s.WriteFile("Zaph.ini", bytes))
    {
        outcome.fault = "settings file not written";
        return outcome;
    }
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
    std::set<std::string> kinds;
    std::map<int, int> codes;
    for (uint64_t seed = first; seed < first + count; ++seed)
    {
        Mutant m = MakeMutant(seed);
        std::string bytes = m.Bytes();
        Outcome outcome = RunOnSettings(bytes);
        ++codes[outcome.code];
        if (outcome.fault.empty())
            continue;
        ++faults;
        kinds.insert(outcome.fault.substr(0, outcome.fault.find('\n')));
        std::string kept = fwtest::BinDir() + "\\..\\fault-mutant-" + std::to_string(seed) + ".ini";
        fwtest::WriteBytes(kept, bytes);
        ADD_FAILURE() << "mutant " << seed << " (" << m.story << bytes.size() << " bytes, kept as "
                      << kept << "): " << outcome.fault;
    }
    printf("[ settings mutants ] seeds %llu..%llu: %llu runs, %d faults", (unsigned long long)first,
           (unsigned long long)(first + count - 1), (unsigned long long)count, faults);
    for (const std::string& kind : kinds)
        printf(" [%s]", kind.c_str());
    printf("; return codes:");
    for (const auto& code : codes)
        printf(" %d x%d", code.first, code.second);
    printf("\n");
}
} // namespace

// The fixed CI sample: the same few dozen mutants on every run, and the
// valid file itself (which must end where the distribution runs out).
TEST(SettingsFaults, MutantsEndWithACodeAndABox)
{
    Outcome valid = RunOnSettings(Mutant{SplitLines(FromUtf8(VALID_INI))}.Bytes());
    EXPECT_TRUE(valid.fault.empty()) << valid.fault;
    EXPECT_NE(0, valid.code);
    RunMutants(EnvNumber("FW_FAULT_SEED", 1), EnvNumber("FW_FAULT_COUNT", 32));
}

// Paths at and beyond the 259 characters a path may have, and targets that
// cannot be made, given on the command line: refused or reported, never cut
// short into another path.
TEST(PathFaults, LongAndImpossiblePathsEndWithACodeAndABox)
{
    const std::string valid = Mutant{SplitLines(FromUtf8(VALID_INI))}.Bytes();
    const std::string deep = "C:\\fwfault-deep\\" + std::string(300, 'd');
    const std::string atLimit = "C:\\fwfault-limit\\" + std::string(259 - 17, 'l'); // 259 characters
    const std::string arguments[] = {
        "/u /t " + atLimit,
        "/u /t " + atLimit + "x",
        "/u /t " + deep,
        "/u /t C:\\windows\\system32\\kernel32.dll\\sub", // below a file
        "/u /t \\\\nohost\\noshare\\zaph",
        "/u /t C:\\fwfault-limit\\a*?<>|b",
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
