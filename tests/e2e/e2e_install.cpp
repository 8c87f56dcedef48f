// Runs of fernwick.exe, one row each (Row says what a row holds): a machine
// state, a distribution folder, a Windows version and a command line, with the
// robot answering the boxes; then the boxes seen, the exit code, the log lines
// that show each decision and the machine afterwards. One driver runs both
// tables, one test per row (--gtest_filter=Install/*moves* picks
// rows by name), all in one wine process.
//
// Every box is owned by the progress window and bears its caption. A row whose
// code is AT_PACKAGE passes every check and ends at the product package, which
// the distribution lacks (code 13, the step's error box). The product's
// registry values the row does not name and the states' files are, byte for
// byte, as before the run.
#include <gtest/gtest.h>

#include "HttpTestServer.h" // winsock2.h before windows.h

#include <msi.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CheckSum.h"
#include "Distribution.h"
#include "Sha256.h"
#include "MachineStates.h"
#include "Planted.h"
#include "Scenario.h"
#include "StandIns.h"
#include "TlsRelay.h"
#include "TestSupport.h"
#include "resource.h"

using namespace fwe2e;
using namespace fwtest;

namespace
{
const char PRODUCT_KEY[] = "HKLM\\SOFTWARE\\Ombrant\\ZAPH QRT";
const char* const PRODUCT_VALUES[] = {"InstallPath", "SetupType", "DotNet", "MultiMSVersion",
                                      "IntendedPath", "ProductCode", "RunOnce"};
// The run passes every check and reaches the product package, which these
// distributions do not hold: it ends there with 13 and the error box of the
// step in progress (after it, boxes of the shut-down may follow).
const int AT_PACKAGE = -1;
const std::string AT_PACKAGE_ERROR = "E:An error occurred:\nInstalling the system";
const char NO_PACKAGE[] = "E\t*local* MSI file doesn't exist '";
const char NOT_IN_THIS_BUILD[] = "is not available in this build";
// The Program Files folder of the program's own architecture (as this test
// program's), and where the release's package installs when no earlier
// installation says otherwise.
const std::string PROGRAM_FILES =
    RegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir");
const std::string PACKAGE_FOLDER = PROGRAM_FILES + "\\ZAPH";
// A drive of a few megabytes where the machine allows one (scripts/small-drive.sh).
const std::string SMALL_DRIVE = "S:\\";
// The words of a whole run's system that the driver acts on itself: "web"
// (from the loopback server; with "proxy" only through the Internet settings'
// proxy, with "https" through a trusted front, "https=stranger" an untrusted
// one), "stall=<path>" (that download stalls: the user cancels, or with
// "second" another start meets it), "damaged=<file>", "planted", "restart"
// (the run again is the registered command), "blank" (the distribution and
// the Framework's tools below folders whose names hold a blank, and a
// recording program at the first word of their paths, which nothing may
// start), "kill=package" or "kill=data"
// (while "big=<file>" is copied), "full" (the target on the small drive),
// "layout" (the run is a layout of the distribution into a folder: see
// RowRun::LayOut).
const std::string RUN_WORDS = " web proxy https damaged stall planted restart blank second kill big full layout ";

// A QRT client whose server is not upgraded yet (no ms.xml, no zaph.exe).
const StateRow STATE_QRT_CLIENT = {"qrtclient", KIND_PRODUCT, "6.1", false, "Client", "EN", "", 0, true, false};
// An earlier installation with two languages of the distribution and one it lacks.
const StateRow STATE_QRT_OLDER_EN_DE = {"qrt61ende", KIND_PRODUCT, "6.1", false, "Server", "EN DE IT", "LU", 0,
                                        true, false};
const StateRow STATE_DOTNET_OLDER = {"net61", KIND_PRODUCT, "6.1", true, "Server", "EN", "LU", 0, true, false};

struct Row
{
    const char* name;
    const StateRow* machine; // the earlier installation (null: none)
    // A Windows version ("" the prefix's Windows 7, "win98", "winxp", "vista",
    // "nt40"), then "sp<n>" (its service pack), "hotfix" (Q246009),
    // "net=v2.0.50727" or "net=v1.1.4322+SP" (the Framework, with its service
    // pack), "mdac=<FullInstallVer>", "hold=<file or folder>" (that one of the
    // state held open), "locked=<file>" (made below the target and held open),
    // "leftover=<file>" (a file of another installation where the moving release installs),
    // "spelled=double" (InstallPath names the state's folder with a doubled
    // backslash),
    // "exit=<installer>:<code>" (a stand-in's exit code), "crash=<installer>",
    // "restartby=<installer>" (it registers a restart of its own); whole runs
    // also the words of WHOLE_ROWS.
    const char* system;
    // Changes to the distribution (Distribution::Apply: "Key=V; Key-; @Label=T;
    // langs=EN FR; standin=<relative path>; package=<release folder>").
    const char* dist;
    const char* args; // <folder> is the state's folder, <moved> where the moving release installs
    // In order: icon E/W/I/Q, ':', the exact text, then ">yes"/">no" for questions.
    std::vector<std::string> boxes;
    int rc;
    // Log lines in this order (<folder>, <dist>, <target>, <programfiles> (in
    // lower case) replaced).
    std::vector<std::string> log;
    // The language selection: "" none waited for; "EN FR": exactly these chosen,
    // "= EN DE": exactly these found checked; then Proceed, or the last word:
    // "cancel-yes" or "cancel-no" (then Proceed).
    const char* selection = "";
    // After the run: "Value=data; Value-" of the product key, "RunOnce" (the
    // restart is registered; "RunOnce:<text>": that text is registered),
    // "prop:NAME=value" (what the package received, from the installer's log),
    // "keypaths=<dir>" (msi.dll reports the key files there), "nofile=<path>",
    // "staged=<dir>" (the run put new files there), "removed=<dir>" (then the
    // product is removed and leaves none of its files there; the words after
    // it check what is left). In this order.
    const char* after = "";
    // Whole runs: the target's files afterwards ("relative=<dist file>" equal
    // to a delivered file, "relative=<folder>\\<file>" equal to the earlier
    // installation's file as it was before the run, "relative=-" absent), and
    // the run again with the good release: its boxes (none: no run again),
    // and it ends with 0.
    std::vector<std::string> files = {};
    std::vector<std::string> rerunBoxes = {};
};

std::vector<std::string> Words(const std::string& text, char separator = ' ')
{
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    while (std::getline(in, word, separator))
    {
        size_t from = word.find_first_not_of(' ');
        if (from != std::string::npos)
            words.push_back(word.substr(from, word.find_last_not_of(' ') - from + 1));
    }
    return words;
}

// The text with the row's places filled in.
std::string Fill(std::string text, const std::string& folder, const std::string& target = "",
                 const std::string& dist = "")
{
    std::string moved = MovedFolder();
    text = Expand(Expand(text, "<folder>", folder), "<moved>", moved.substr(0, moved.size() - 1));
    std::string programFiles = PROGRAM_FILES;
    std::transform(programFiles.begin(), programFiles.end(), programFiles.begin(), ::tolower);
    text = Expand(text, "<programfiles>", programFiles);
    return Expand(Expand(text, "<target>", target), "<dist>", dist);
}

// The value of key in "key=value<separator>..." ("yes" for a bare key), "" without it.
std::string Option(const std::string& words, const std::string& key, char separator = ' ')
{
    for (const std::string& item : Words(words, separator))
        if (item == key || item.compare(0, key.size() + 1, key + "=") == 0)
            return item == key ? "yes" : item.substr(key.size() + 1);
    return "";
}

std::string ReadAll(const std::string& path)
{
    std::string bytes;
    return ReadBytes(path, bytes) ? bytes : "<missing>";
}

// What the setup gives an outside installer after its path.
std::string OptionsOf(const std::string& installer)
{
    return installer == "dotnetsp11.exe" ? "/I /Q"
           : installer == "mdac_typ.exe" ? "/q /c:\"setup /QNT \""
           : installer == "instmsiw.exe" ? "/c:\"msiinst /delayreboot\""
           : installer == "caspol.exe"   ? "-q -machine -"
                                         : "/q:a /c:\"install /l /q \"";
}

std::string InstalledFolder()
{
    std::string path = RegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY + 5, "InstallPath");
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

// The machine as a run could change it: the product's values and the restart
// entry but those the after field names, and every file of the states'
// folders but those below skip, with a checksum of its bytes.
std::string Snapshot(const std::string& root, const std::string& after, const std::string& skip)
{
    std::set<std::string> named;
    for (const std::string& word : Words(after, ';'))
        named.insert(word.compare(0, 7, "RunOnce") == 0 ? "RunOnce" : word.substr(0, word.find_first_of("=-")));
    std::string text;
    for (const char* name : PRODUCT_VALUES)
        if (named.count(name) == 0)
            text += std::string(name) + "=" +
                    (std::string(name) == "RunOnce" ? RegString(HKEY_LOCAL_MACHINE, RUN_ONCE_KEY_PATH, "Fernwick")
                                                    : RegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY + 5, name)) +
                    "\n";
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(root, error), end; it != end; it.increment(error))
    {
        std::string path = it->path().string(), bytes;
        // The run's logs go into the target's Log folder: that is wanted.
        if (it->path().filename() == "Log" || (!skip.empty() && path.compare(0, skip.size(), skip) == 0))
        {
            it.disable_recursion_pending();
            continue;
        }
        ReadBytes(path, bytes); // a folder: no bytes
        text += path + " " + std::to_string(CheckSum::Update(0, bytes.data(), bytes.size())) + "\n";
    }
    return text;
}

// The key files of the test package and their components.
const char* const KEY_FILES[][2] = {{"Login.exe", "{F7B1E49C-80A3-5D62-1E7B-0FA4C9D3E682}"},
                                    {"Bin\\VBC.dll", "{6A3D80F5-1E2C-97B4-0A6D-3F81B2C79E54}"},
                                    {"Bin\\dunzip32.dll", "{C9402B7E-F6A1-8D35-C8F0-B2E7D4913A06}"},
                                    {"Zaph.exe", "{B70E1C3A-29D5-6F84-1B0E-4CD7928F6A51}"}};

// The key files lie in dir by msi.dll's records; with remove, the product is
// then removed and must leave neither its files there nor its records (the
// after words that follow check its values).
void CheckKeyPaths(const std::string& dir, bool remove)
{
    std::string product = RegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY + 5, "ProductCode");
    for (int pass = 0; pass < (remove ? 2 : 1); ++pass)
    {
        if (pass == 1)
            TestPackageSetup().RemoveAll();
        for (const auto& file : KEY_FILES)
        {
            char path[MAX_PATH] = "";
            DWORD size = sizeof(path);
            INSTALLSTATE state = MsiGetComponentPathA(product.c_str(), file[1], path, &size);
            EXPECT_EQ(pass == 0 ? dir + "\\" + file[0] : "", state == INSTALLSTATE_LOCAL ? path : "");
            if (pass == 1)
            {
                EXPECT_TRUE(FileAbsent(dir + "\\" + file[0]));
            }
        }
    }
}

// The installer's log of a run: MSI_<day>.log beside the program's own.
std::string InstallerLogPath()
{
    return Expand(DefaultLogPath(), "\\Fern_", "\\MSI_");
}

// The after field's checks (its places filled in).
void CheckAfter(const std::string& after, const Scenario& s, const std::string& args, const StandIns& standIns)
{
    for (const std::string& word : Words(after, ';'))
    {
        size_t eq = word.find('=');
        std::string key = word.substr(0, eq == std::string::npos ? word.size() - 1 : eq);
        std::string value = eq == std::string::npos ? "" : word.substr(eq + 1);
        if (word.compare(0, 7, "RunOnce") == 0)
        {
            std::string command = "\"" + s.ExePath() + "\"" + (args.empty() ? "" : " " + args);
            EXPECT_EQ(word == "RunOnce" ? command : word.substr(8), standIns.RestartCommand());
        }
        else if (key.compare(0, 5, "prop:") == 0) // what the package received, by the installer's log
            EXPECT_TRUE(s.LogFile(InstallerLogPath()).HasLine("Property(S): " + key.substr(5) + " = " + value));
        else if (key == "keypaths" || key == "removed")
            CheckKeyPaths(value, key == "removed");
        else if (key == "nofile")
            EXPECT_TRUE(FileAbsent(value));
        else if (key == "staged")
            EXPECT_TRUE(DirExists(value));
        else if (eq == std::string::npos)
            EXPECT_TRUE(RegValueAbsent(PRODUCT_KEY, key));
        else
            EXPECT_TRUE(RegValueIs(PRODUCT_KEY, key, value));
    }
}

std::string Data(const std::string& what, const std::string& version);

// The system of a row; a file held open stays so until held is reset.
void SetSystem(Scenario& s, StandIns& standIns, const std::string& system, const std::string& folder,
               std::shared_ptr<void>& held)
{
    for (const std::string& word : Words(system))
    {
        size_t eq = word.find('=');
        std::string key = word.substr(0, eq), value = eq == std::string::npos ? "" : word.substr(eq + 1);
        if (key.compare(0, 3, "win") == 0 || key == "vista" || key == "nt40")
            s.SetWindowsVersion(key);
        else if (key == "hold" || key == "locked")
        {
            std::string path = (key == "locked" ? PACKAGE_FOLDER : folder) + ("\\" + value);
            if (key == "locked")
            {
                EXPECT_TRUE(s.WriteFile(path, ""));
            }
            HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                      NULL);
            EXPECT_NE(INVALID_HANDLE_VALUE, file);
            held.reset(file, CloseHandle);
        }
        else if (key == "leftover")
            // Written now: newer than the earlier installation's copy.
            EXPECT_TRUE(s.WriteFile(MovedFolder() + value, Data("leftover", "6.0.0.1")));
        else if (key == "spelled")
        {
            std::string doubled = folder;
            doubled.insert(doubled.rfind('\\'), "\\");
            EXPECT_TRUE(s.SetRegString(PRODUCT_KEY, "InstallPath", doubled + "\\"));
        }
        else if (key == "exit")
        {
            size_t colon = value.find(':');
            standIns.ExitWith(value.substr(0, colon), (DWORD)std::stoul(value.substr(colon + 1)));
        }
        else if (key == "net")
        {
            bool sp = value.size() > 3 && value.compare(value.size() - 3, 3, "+SP") == 0;
            standIns.SetFramework(sp ? value.substr(0, value.size() - 3) : value, sp ? 1 : 0, false);
        }
        else if (key == "mdac")
            standIns.SetMdac(value);
        else if (key == "crash")
            standIns.Crash(value);
        else if (key == "restartby")
            standIns.WriteRestartOnRun(value, "written by " + value);
        else if (key.compare(0, 2, "sp") == 0)
        {
            EXPECT_TRUE(s.SetRegDword("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Windows", "CSDVersion",
                                      (DWORD)std::stoul(key.substr(2)) << 8));
        }
        else if (key == "hotfix")
        {
            EXPECT_TRUE(s.SetRegDword("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009",
                                      "Installed", 1));
        }
        else if (RUN_WORDS.find(" " + key + " ") == std::string::npos)
            ADD_FAILURE() << "unknown system word '" << word << "'";
    }
}

void ExpectBoxes(Scenario& s, std::vector<std::string> boxes, bool atPackage, const std::string& title,
                 const std::string& folder)
{
    if (atPackage && std::find(boxes.begin(), boxes.end(), AT_PACKAGE_ERROR) == boxes.end())
        boxes.push_back(AT_PACKAGE_ERROR);
    for (const std::string& box : boxes)
    {
        BoxExpectation& expect = s.ExpectBox().TitleEquals(title).Owned(true);
        std::string text = Fill(box.substr(2), folder);
        switch (box[0])
        {
        case 'E': expect.Icon(ICON_ERROR).Buttons({IDOK}); break;
        case 'W': expect.Icon(ICON_WARNING).Buttons({IDOK}); break;
        case 'I': expect.Icon(ICON_INFORMATION).Buttons({IDOK}); break;
        default: expect.Icon(ICON_QUESTION).Buttons({IDYES, IDNO});
        }
        size_t answer = text.rfind('>');
        if (box[0] == 'Q' && answer != std::string::npos)
        {
            expect.Press(text.substr(answer + 1) == "yes" ? IDYES : IDNO);
            text.erase(answer);
        }
        expect.TextEquals(text);
    }
}

// The progress window, not the log window that bears the same caption and
// is on screen while an outside installer runs.
ProgramWindow ProgressWindow(Scenario& s, const std::string& title, DWORD timeoutMs = 30000)
{
    DWORD start = GetTickCount();
    do
    {
        for (const ProgramWindow& window : s.Windows())
            if (window.Title() == title && window.HasControl(IDC_PROCEED))
                return window;
        Sleep(25);
    } while (GetTickCount() - start < timeoutMs && s.Running());
    return s.FindWindow(title, 0);
}

// The language selection as the row says (see Row::selection).
void Select(Scenario& s, const std::string& title, const std::string& selection)
{
    ProgramWindow window = ProgressWindow(s, title);
    ASSERT_TRUE(window);
    ASSERT_TRUE(window.WaitForText(IDC_INFO_TEXT, "Choose the languages.", 30000));
    std::vector<std::string> words = Words(selection);
    std::string action = words.back().compare(0, 7, "cancel-") == 0 ? words.back() : "proceed";
    if (action != "proceed")
        words.pop_back();
    bool found = !words.empty() && words[0] == "=";
    // The choices of the distribution's languages among the 23 places; a
    // choice's caption is "Language XX", with " *" when it is installed.
    for (int id = IDC_LANGUAGE_FIRST; id < IDC_LANGUAGE_FIRST + 23 && !words.empty(); ++id)
    {
        if (!window.HasControl(id))
            continue;
        bool wanted = std::find(words.begin(), words.end(), window.ControlText(id).substr(9, 2)) != words.end();
        if (found)
        {
            EXPECT_EQ(wanted, window.IsChecked(id)) << window.Describe();
        }
        else if (window.IsChecked(id) != wanted)
        {
            EXPECT_TRUE(window.Click(id));
        }
    }
    if (action == "cancel-no")
    {
        // The question answered and gone: its owner takes clicks again.
        size_t seen = s.Boxes().size();
        EXPECT_TRUE(window.Click(IDCANCEL));
        for (DWORD start = GetTickCount(); (s.Boxes().size() == seen || !IsWindowEnabled(window.Handle())) &&
                                           s.Running() && GetTickCount() - start < 20000;)
            Sleep(25);
    }
    if (action == "cancel-yes")
    {
        EXPECT_TRUE(window.Click(IDCANCEL));
        return;
    }
    EXPECT_TRUE(window.IsEnabled(IDC_PROCEED)) << window.Describe();
    EXPECT_TRUE(window.Click(IDC_PROCEED));
}

// ---------------------------------------------------------------------------
// Whole runs from start to end: a release with real data (the product package
// of each language, the packed main program, the member state's archives with
// their checksums), installed LOCAL, from the loopback server, through a
// proxy, over an earlier installation; broken by a damaged archive or a
// cancelled download and then run again with the good release. A run that
// succeeds is checked for what a complete installation has: the staged data
// as delivered, the unpacked program, the completion records, the shortcut,
// the package as the installer reports it and the product's values.
// ---------------------------------------------------------------------------
const char RELEASE_VERSION[] = "6.2.0.5";
const char COMPLETION[] = "LU_New\\FW_Complete.lol";
const std::string NO_COMPLETION = std::string(COMPLETION) + "=-";
const char SUCCESS[] = "I:ZAPH has been installed successfully.";
const int KILLED = 0xDEAD; // the exit code Scenario::Kill gives
const char BACKUP_YES[] = "Q:Have you made a backup of your data?>yes";
const char RELEASE_SETTINGS[] = "langs=EN FR; NumComponents=3; SYS_LN_DIR=setup; SYSLNVersion=6.2.0; "
                                "ExeVersion=6.2.0.5; @InstallComponents=Installing the data; "
                                "@PostInstallCheck=Checking the installation";

// A data file larger than the marker search's first window, ending in the
// version marker that delivered data carries, in 16-bit characters.
std::string Data(const std::string& what, const std::string& version)
{
    std::string bytes;
    while (bytes.size() < 40000)
        bytes += what + " data, release " + version + ".\r\n";
    for (char c : "OMBRANT_--V" + version + "--_OMBRANT")
        bytes += std::string(1, c) + '\0';
    return bytes;
}

// A zip archive with one stored member.
std::string StoredZip(const std::string& name, const std::string& bytes)
{
    typedef DWORD(WINAPI * Crc32)(DWORD, const BYTE*, INT);
    static Crc32 crc32 = (Crc32)GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlComputeCrc32");
    auto le = [](uint32_t value, int width) {
        std::string out;
        for (int i = 0; i < width; ++i)
            out += (char)((value >> (8 * i)) & 0xFF);
        return out;
    };
    uint32_t crc = crc32(0, (const BYTE*)bytes.data(), (INT)bytes.size());
    uint32_t size = (uint32_t)bytes.size(), nameSize = (uint32_t)name.size();
    std::string common = le(20, 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(0x21, 2) + le(crc, 4) + le(size, 4) +
                         le(size, 4) + le(nameSize, 2) + le(0, 2);
    std::string local = le(0x04034b50, 4) + common + name + bytes;
    std::string central = le(0x02014b50, 4) + le(20, 2) + common + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 4) +
                          le(0, 4) + name;
    return local + central + le(0x06054b50, 4) + le(0, 2) + le(0, 2) + le(1, 2) + le(1, 2) +
           le((uint32_t)central.size(), 4) + le((uint32_t)local.size(), 4) + le(0, 2);
}

// The release of the row's package.
const TestRelease& PackageRelease(const std::string& changes)
{
    static const TestRelease* const RELEASES[] = {&RELEASE_610, &RELEASE_620_MOVED, &RELEASE_620_CLIENT,
                                                  &RELEASE_620_DOTNET};
    for (const TestRelease* release : RELEASES)
        if (Option(changes, "package", ';') == release->folder)
            return *release;
    return RELEASE_620;
}

// The release's data files, a big one and a damaged one as the row says, in
// the distribution with their checksums; returns them by relative name.
std::map<std::string, std::string> AddRelease(Distribution& dist, const std::string& changes,
                                              const std::string& system)
{
    if (Option(changes, "package", ';').empty())
        dist.Apply("package=6.2.0");
    // The .NET edition's main program is Zaph.exe; its distribution holds the
    // member state's data in <MS>_New, the databases packed as .zip.
    bool dotNet = &PackageRelease(changes) == &RELEASE_620_DOTNET;
    std::string main = dotNet ? "Zaph.exe" : "Login.exe", packed = dotNet ? ".zip" : ".zsi", ms = dotNet ? "LU_New\\" : "LU\\";
    dist.Line("Components", main + ".zip=V6.2.0.5");
    dist.Line("Components", "<MS>\\<Lang>\\labels.mdb=V6.2.0.0");
    std::map<std::string, std::string> files = {
        {main + ".zip", StoredZip(main, "ZAPH " + main + ", release " + RELEASE_VERSION)},
        {ms + "ms.mdb" + packed, StoredZip("ms.mdb", Data("ms", RELEASE_VERSION))},
        {ms + "news.txt.zip", StoredZip("news.txt", "What is new.\r\n")}};
    for (const std::string lang : {"EN", "FR"})
        files[ms + lang + "\\labels.mdb" + packed] = StoredZip("labels.mdb", Data("labels " + lang, RELEASE_VERSION));
    std::string big = Option(system, "big");
    if (!big.empty())
    {
        std::string member = big.substr(big.rfind('\\') + 1);
        member.resize(member.size() - 4);
        files[big] = StoredZip(member, std::string(32 << 20, 'z') + Data(member, RELEASE_VERSION));
    }
    for (const auto& file : files)
    {
        char sum[16];
        sprintf(sum, "%08lX", (unsigned long)CheckSum::Update(0, file.second.data(), file.second.size()));
        dist.Line("CheckSums", file.first + "=" + sum);
        dist.File(file.first, file.first == Option(system, "damaged") ? file.second + "damaged" : file.second);
    }
    return files;
}

// The earlier release's data: the database already of this release, the
// labels older than it requires; and the last of the libraries that make the
// installation complete.
void AddEarlierData(const std::string& folder)
{
    ASSERT_TRUE(WriteBytes(folder + "\\Bin\\dzip32.dll", "zip library"));
    ASSERT_TRUE(WriteBytes(folder + "\\LU\\ms.mdb", Data("ms", RELEASE_VERSION)));
    ASSERT_TRUE(WriteBytes(folder + "\\LU\\EN\\labels.mdb", Data("labels EN", "6.1.0.2")));
}

void CheckComplete(Scenario& s, const TestRelease& release, const std::string& shortcut)
{
    bool client = &release == &RELEASE_620_CLIENT, dotNet = &release == &RELEASE_620_DOTNET;
    std::string target = InstalledFolder();
    ASSERT_FALSE(target.empty());
    std::string settings = ReadAll(s.Path("Zaph.ini"));
    // The .NET edition's login program learns the language and member state
    // from the user's settings instead of the completion marker.
    EXPECT_TRUE(ReadAll(target + "\\" + COMPLETION) == (client || dotNet ? "<missing>" : settings)) << COMPLETION;
    if (dotNet)
    {
        EXPECT_TRUE(RegValueIs("HKCU\\Software\\Ombrant\\ZAPH.NET\\Login", "DefaultLanguage", "EN"));
        EXPECT_TRUE(RegValueIs("HKCU\\Software\\Ombrant\\ZAPH.NET\\Login", "DefaultMemberState", "LU"));
    }
    EXPECT_TRUE(ReadAll(target + "\\LU_New\\setup\\Zaph.ini") == (client ? "<missing>" : settings));
    EXPECT_TRUE(RegValueIs(PRODUCT_KEY, "DotNet", dotNet ? "Yes" : "No"));
    EXPECT_TRUE(RegValueIs(PRODUCT_KEY, "SetupType", client ? "Client" : "Server"));
    EXPECT_TRUE(IsInstalled(release));
    EXPECT_TRUE(FileExists(shortcut));
    if (!client)
    {
        std::string main = dotNet ? "Zaph.exe" : "Login.exe";
        EXPECT_EQ("ZAPH " + main + ", release " + RELEASE_VERSION, ReadAll(target + "\\" + main));
    }
}

// Serves the distribution from the loopback server, through an https front
// or only through the proxy of the Internet settings, as the row says.
void ServeWeb(Scenario& s, Distribution& dist, HttpTestServer& server, TlsRelay& relay, const std::string& system)
{
    ASSERT_TRUE(server.Start());
    std::string base = server.BaseUrl();
    std::string https = Option(system, "https");
    if (!https.empty())
    {
        ASSERT_TRUE(relay.Start(server.Port(), https == "yes"));
        base = Expand(base, "http://127.0.0.1:" + std::to_string(server.Port()),
                      "https://localhost:" + std::to_string(relay.Port()));
    }
    if (!Option(system, "proxy").empty())
    {
        // Only the proxy reaches the server; the address names no machine here.
        server.SetProxyOnly(true);
        base = Expand(base, "127.0.0.1", "zaph.example");
        const char* internet = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
        ASSERT_TRUE(s.GuardRegKey(internet));
        ASSERT_TRUE(s.SetRegDword(internet, "ProxyEnable", 1));
        ASSERT_TRUE(s.SetRegString(internet, "ProxyServer", "127.0.0.1:" + std::to_string(server.Port())));
    }
    dist.Web().Set("BASE_URL", base);
    std::string stalled = Option(system, "stall");
    if (!stalled.empty())
        server.SetBehaviour(stalled, HttpTestServer::SERVE_STALL);
}

// What the run is to meet while it runs: a stalled download that the user
// cancels or that a second start meets, or a kill once the upgrade has
// removed the earlier package (the new one is not yet in place) or while the
// big file's partial copy lies beside the place it is meant for.
void Interfere(Scenario& s, HttpTestServer& server, const std::string& system, const std::string& title)
{
    if (!Option(system, "stall").empty())
    {
        ASSERT_TRUE(server.WaitForStall(60000));
        if (!Option(system, "second").empty())
        {
            // Another start while this run downloads: it ends at once, and
            // this run goes on as if nothing had happened.
            Scenario other;
            EXPECT_EQ(1618, other.Run("", 30000));
            EXPECT_TRUE(other.Boxes().empty());
            server.ReleaseStalls();
        }
        else
        {
            EXPECT_TRUE(s.FindWindow(title).Click(IDCANCEL));
        }
    }
    std::string kill = Option(system, "kill"), big = Option(system, "big");
    if (kill.empty())
        return;
    std::string partial = big.empty() ? "" : "\\LU_New" + big.substr(2) + ".fwpart";
    DWORD start = GetTickCount();
    while (s.Running() && GetTickCount() - start < 60000 &&
           (kill == "package" ? IsInstalled(RELEASE_610)
                              : GetFileAttributesA((InstalledFolder() + partial).c_str()) == INVALID_FILE_ATTRIBUTES))
        Sleep(5);
    s.Kill();
}

// One row's run. Arrange sets up what the run, the checks and the run again
// share; the members are put back in the reverse of their order.
struct RowRun
{
    RowRun(const Row& row, bool whole)
        : row(row), whole(whole), system((whole ? "winxp " : "") + std::string(row.system)),
          packages({PACKAGE_FOLDER, MovedFolder()}), blank(!Option(system, "blank").empty()),
          kill(Option(system, "kill")), rc(row.rc == AT_PACKAGE ? 13 : row.rc)
    {
    }
    void Arrange();
    void Run();
    void Check();
    void Rerun();
    void Start(const std::vector<std::string>& boxes, bool atPackage);
    void LayOut();
    // The earlier installation's data, which no killed run may lose.
    std::string EarlierData() const
    {
        return ReadAll(folder + "\\LU\\ms.mdb") + ReadAll(folder + "\\LU\\EN\\labels.mdb");
    }

    const Row& row;
    const bool whole;
    const std::string system;
    TestPackageSetup packages;
    MachineState machine;
    std::string folder, staged, before;
    Scenario s;
    const bool blank;
    std::unique_ptr<StandIns> standIns;
    std::shared_ptr<void> held;
    Distribution dist;
    std::map<std::string, std::string> files, earlier;
    std::string shortcut, ballast = SMALL_DRIVE + "ballast", kill, keptData, title, args;
    const int rc;
    bool ready = false; // arranged: the row runs
    std::unique_ptr<HttpTestServer> server;
    TlsRelay relay;
    std::unique_ptr<Planted> planted;
};

void RowRun::Arrange()
{
    folder = row.machine ? machine.Apply(*row.machine) : "";
    if (whole && row.machine)
        AddEarlierData(folder);
    // Before any file is held open.
    staged = Option(Fill(row.after, folder), "staged", ';');
    before = whole ? "" : Snapshot(machine.Root(), row.after, staged);
    if (blank)
    {
        s.SetDistName("ZAPH Setup");
        ASSERT_TRUE(s.CopyFromBin("fw_standin.exe", s.Root() + "\\ZAPH.exe"));
    }
    standIns.reset(new StandIns(s.Folder(blank ? "ZAPH Tools" : "machine")));
    SetSystem(s, *standIns, system, folder, held);
    dist.Apply(whole ? RELEASE_SETTINGS : "");
    dist.Apply(row.dist);
    if (whole)
    {
        files = AddRelease(dist, row.dist, system);
        if (!Option(system, "layout").empty())
        {
            // A layout takes the engine's redistributables too; they are the
            // release's when the digest section lists them ([SHA256] after
            // [CheckSums]).
            char digest[SHA256_TEXT_SIZE];
            ASSERT_NE(SHA256_FAILED, Sha256OfFile((BinDir() + "\\fw_standin.exe").c_str(), digest));
            dist.Apply("standin=setup\\instmsiw.exe; standin=setup\\instmsia.exe").Line("CheckSums", "[SHA256]");
            for (const char* installer : {"setup\\instmsiw.exe", "setup\\instmsia.exe"})
                dist.Line("CheckSums", std::string(installer) + "=" + digest);
        }
        // Where the .NET edition keeps the login program's language and member state.
        ASSERT_TRUE(s.GuardRegKey("HKCU\\Software\\Ombrant\\ZAPH.NET"));
        shortcut = machine.RedirectShellFolders() + "\\CommonDesktop\\GESTION BALVORA.lnk";
    }
    server.reset(new HttpTestServer(s.Dir()));
    if (!Option(system, "web").empty())
    {
        ServeWeb(s, dist, *server, relay, system);
        if (::testing::Test::HasFatalFailure())
            return;
    }
    ASSERT_TRUE(dist.WriteTo(s));
    if (!Option(system, "full").empty())
    {
        ULARGE_INTEGER room, total;
        if (!GetDiskFreeSpaceExA(SMALL_DRIVE.c_str(), &room, &total, NULL) || total.QuadPart > (200ull << 20))
        {
            printf("[  SKIPPED ] %s: no small drive %s on this machine\n", row.name, SMALL_DRIVE.c_str());
            return;
        }
        // Ballast leaves room for half the big file.
        s.GuardPath(SMALL_DRIVE + "ZAPH");
        s.GuardPath(ballast);
        ASSERT_TRUE(WriteBytes(ballast, std::string(room.QuadPart - (16 << 20), 'b')));
    }
    // The earlier files that the row compares, as they were.
    keptData = row.machine && !kill.empty() ? EarlierData() : "";
    for (const std::string& expected : row.files)
    {
        std::string source = expected.substr(expected.find('=') + 1);
        if (source[0] == '<')
            earlier[source] = ReadAll(Fill(source, folder));
    }
    title = dist.Title();
    args = Fill(row.args, folder, "", s.Dir());
    if (!Option(system, "planted").empty())
        planted.reset(new Planted(s, "fernwick.exe", false));
    ready = true;
}

void RowRun::Start(const std::vector<std::string>& boxes, bool atPackage)
{
    ExpectBoxes(s, boxes, atPackage, title, folder);
    DeleteFileA(InstallerLogPath().c_str());
    ASSERT_TRUE(s.Start(args));
    if (row.selection[0] != 0)
        Select(s, title, row.selection);
}

// A layout of the distribution from the server into the scenario's folder
// "layout". A row whose code is not 0 is the layout's own run (a cancel): no
// file under its final name may then differ from the delivered one, and the
// folder has no marker yet. Otherwise a second layout fetches nothing, a
// third fetches only the file damaged in the layout, and with the server
// stopped the installation from the layout (the row's boxes and code) is the
// run that the whole run's checks judge, as they judge a WEB installation.
void RowRun::LayOut()
{
    const std::string layout = s.Folder("layout"), damaged = "LU\\ms.mdb.zsi";
    auto layOut = [&](const std::vector<std::string>& boxes, int code) {
        ExpectBoxes(s, boxes, false, title, folder);
        ASSERT_TRUE(s.Start("/o \"" + layout + "\""));
        Interfere(s, *server, system, title);
        EXPECT_EQ(code, s.Wait(120000));
        server->ReleaseStalls();
    };
    if (rc != 0)
    {
        layOut(row.boxes, rc);
        int placed = 0;
        for (const auto& file : files)
        {
            std::string bytes;
            if (ReadBytes(layout + "\\" + file.first, bytes) && ++placed)
                EXPECT_TRUE(bytes == file.second) << file.first << " differs from the delivered file";
            EXPECT_TRUE(FileAbsent(layout + "\\" + file.first + ".fwlayout"));
        }
        EXPECT_LT(0, placed) << "the layout was not cancelled in the middle";
        EXPECT_TRUE(FileAbsent(layout + "\\_FW_LOCAL_.txt"));
        return;
    }
    const std::vector<std::string> complete = {"I:The layout in '" + layout + "' is complete."};
    layOut(complete, 0);
    EXPECT_TRUE(s.Log().InOrder({"\tLayout: 'LU\\ms.mdb.zsi' obtained and verified.",
                                 "\tLayout: 'setup\\instmsia.exe' obtained and verified."}));
    const size_t requests = server->Requests().size();
    layOut(complete, 0);
    EXPECT_EQ(requests, server->Requests().size()) << "the second layout fetched files again";
    EXPECT_TRUE(s.Log().HasLine("\tLayout: 'setup\\sys_fr.msi' in place."));
    ASSERT_TRUE(WriteBytes(layout + "\\" + damaged, files[damaged] + "damaged"));
    layOut(complete, 0);
    std::vector<std::string> all = server->Requests();
    EXPECT_EQ(std::vector<std::string>({"lu/ms.mdb.zsi"}), std::vector<std::string>(all.begin() + requests, all.end()));
    EXPECT_TRUE(ReadAll(layout + "\\" + damaged) == files[damaged]);
    server->Stop();
    s.SetCurrentDir(layout);
    Start(row.boxes, false);
    EXPECT_EQ(rc, s.Wait(120000));
}

void RowRun::Run()
{
    if (!Option(system, "layout").empty())
        return LayOut();
    Start(row.boxes, row.rc == AT_PACKAGE);
    Interfere(s, *server, system, title);
    EXPECT_EQ(rc, s.Wait(120000));
    held.reset();
    server->ReleaseStalls();
    if (!keptData.empty())
    {
        EXPECT_TRUE(keptData == EarlierData()) << "the earlier installation's data changed";
    }
}

void RowRun::Check()
{
    std::string target = InstalledFolder();
    LogView log = s.Log();
    std::vector<std::string> lines;
    for (const std::string& line : row.log)
        lines.push_back(Fill(line, folder, target, s.Dir()));
    if (row.rc == AT_PACKAGE)
        lines.push_back(NO_PACKAGE + s.Path("sys_" + dist.FirstLanguage() + ".msi") + "'.");
    else
    {
        EXPECT_TRUE(log.Lacks(NO_PACKAGE));
    }
    if (kill.empty())
        lines.push_back("\t**> Main return code '" + std::to_string(rc) + "'.");
    else
    {
        EXPECT_TRUE(log.Lacks(kill == "package" ? "**> Installation returned" : "**> Main return code"));
    }
    EXPECT_TRUE(log.InOrder(lines));
    EXPECT_TRUE(log.Lacks(NOT_IN_THIS_BUILD));
    for (const std::string& expected : row.files)
    {
        size_t eq = expected.find('=');
        std::string file = target + "\\" + expected.substr(0, eq), source = expected.substr(eq + 1);
        if (source == "-")
            EXPECT_TRUE(FileAbsent(file));
        else
            EXPECT_TRUE(ReadAll(file) == (source[0] == '<' ? earlier[source] : files[source]))
                << file << " differs from " << source;
    }
    if (whole && row.rc == 0)
        CheckComplete(s, PackageRelease(row.dist), shortcut);
    if (planted)
    {
        EXPECT_EQ("", planted->Loaded());
    }
    CheckAfter(Fill(row.after, folder, target), s, args, *standIns);
    // Every outside program ran as itself, with its own options.
    std::string programs;
    for (const std::string& call : blank ? standIns->Calls() : std::vector<std::string>())
    {
        std::string program = call.substr(0, call.find('|'));
        programs += program + " ";
        EXPECT_EQ(program + "|" + OptionsOf(program), call.substr(0, program.size() + 1 + OptionsOf(program).size()));
    }
    if (blank)
    {
        EXPECT_EQ("dotnetfx.exe dotnetsp11.exe mdac_typ.exe instmsiw.exe caspol.exe caspol.exe ", programs);
    }
    if (!whole)
    {
        EXPECT_EQ(before, Snapshot(machine.Root(), row.after, staged)) << "the run changed the machine";
    }
}

// The run again with the good release, which ends with 0.
void RowRun::Rerun()
{
    SCOPED_TRACE("run again with the good release");
    std::string stalled = Option(system, "stall");
    server->SetBehaviour(stalled.empty() ? "none" : stalled, HttpTestServer::SERVE_NORMAL);
    for (const auto& file : files)
        ASSERT_TRUE(s.WriteFile(file.first, file.second));
    bool restart = !Option(system, "restart").empty();
    if (restart)
    {
        std::string command = standIns->RestartCommand(), program = "\"" + s.ExePath() + "\"";
        ASSERT_EQ(0u, command.find(program)) << command;
        args = command.substr(program.size());
        args.erase(0, args.find_first_not_of(' '));
        EXPECT_EQ(0, RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, RUN_ONCE_KEY_PATH, "Fernwick"));
        s.SetCurrentDir(s.Folder("after restart"));
    }
    if (!Option(system, "full").empty())
    {
        ASSERT_TRUE(DeleteFileA(ballast.c_str()));
    }
    Start(row.rerunBoxes, false);
    EXPECT_EQ(0, s.Wait(120000));
    CheckComplete(s, PackageRelease(row.dist), shortcut);
    if (restart)
    {
        EXPECT_EQ("", standIns->RestartCommand()) << "a restart registered again";
    }
    if (planted)
    {
        EXPECT_EQ("", planted->Loaded()) << "in the run again";
    }
    if (!keptData.empty())
    {
        EXPECT_TRUE(keptData == EarlierData());
    }
    std::string big = Option(system, "big");
    if (!big.empty())
    {
        EXPECT_TRUE(ReadAll(InstalledFolder() + "\\LU_New" + big.substr(2)) == files[big]);
        EXPECT_TRUE(FileAbsent(InstalledFolder() + "\\LU_New" + big.substr(2) + ".fwpart"));
    }
}

void RunRow(const Row& row, bool whole)
{
    SCOPED_TRACE(row.name);
    RowRun run(row, whole);
    run.Arrange();
    if (!run.ready)
        return;
    run.Run();
    run.Check();
    if (!row.rerunBoxes.empty())
        run.Rerun();
}

// The prerequisites' question listing the components to install, answered.
std::string Ask(const std::string& components, const char* answer = "yes")
{
    return "Q:Install the missing system components?\n\n\n" + components + "\n>" + answer;
}
const char N11[] = "   Microsoft .NET Framework V1.1\n";
const char SP11[] = "   Microsoft .NET Framework V1.1 Service Pack 1\n";
const char N20[] = "   Microsoft .NET Framework V2.0\n";
const char MDAC[] = "   Microsoft Data Access Components V2.8 (MDAC)\n";
const char FAIL_PRE[] = "E:An error occurred:\nA system component could not be installed.";
// The step's end: the failure and why.
std::string PreFailed(const std::string& why)
{
    return "E:A system component could not be installed.\n[" + why + "]";
}
const char RESTART[] = "W:Please restart the computer.";
const char ABANDONED[] = "E:The installation was abandoned.";
const char NO_ENGINE[] = "E:An error occurred:\nThe Windows Installer could not be upgraded.";
const char NOT_ON_THIS_SYSTEM[] = "E:The system components cannot be installed on this system.";

// The log line of an installer that ran (from the distribution's setup
// folder) with the options it is given, and its exit code.
std::string Ran(const std::string& installer, long code)
{
    return "\tGood so far, '\"<dist>\\setup\\" + installer + "\" " + OptionsOf(installer) + "' returned '" +
           std::to_string(code) + "'";
}

// Machines with some of the .NET edition's prerequisites.
#define MDAC_28 "mdac=2.81.1117.0"
#define NET11 "net=v1.1.4322 " MDAC_28
#define PREREQS "net=v1.1.4322+SP " MDAC_28
// The installers a LOCAL distribution offers.
#define PRE_V11 "DotNet=yes; standin=setup\\dotnetfx.exe; standin=setup\\dotnetsp11.exe; standin=setup\\mdac_typ.exe"
#define PRE_ALL PRE_V11 "; standin=setup\\dotnetfx_20.exe"
#define ENGINE "MSI_Version=999; CheckMSIVersion=$SKIP$; AskMSIUpgrade=no; standin=setup\\"

const std::vector<Row> ROWS = {
    // Refusals before anything is installed.
    {"QRT package over the .NET edition's data", &STATE_DOTNET_SERVER, "", "", "",
     {"W:An error occurred:\n*** ZAPH.NET ***"}, 1223,
     {"W\tZAPH.NET version should not be upgraded to ZAPH.QRT!", "\tCancelled by the user."}},
    {".NET package for a client before its server", &STATE_QRT_CLIENT, "", "DotNet=yes", "",
     {"W:Please upgrade the server first."}, 1223, {"\tDotNet=No", "\tCancelled by the user."}},
    {"installed data newer than the package", &STATE_QRT_NEWER, "", "", "",
     {"E:The installation was abandoned.\n***There is nothing to upgrade.***\n\n\t\tV6.2 vs. V6.3\n"}, 13,
     {"\tINIFILE '<folder>\\LU\\setup\\Zaph.ini' setting 'VERSION=V6.3' HIGHER than 'V6.2'"}},
    {"backup not made", &STATE_QRT_OLDER, "", "", "",
     {"Q:Have you made a backup of your data?>no", "W:Please make a backup first."}, 1223,
     {"\tRegistry info about ZAPH is '<folder>\\'", "\tCancelled by the user."}},
    {"update mode with nothing to upgrade", &STATE_QRT_EQUAL, "", "", "/u", {BACKUP_YES, "W:There is nothing to upgrade."},
     232, {"\tAUTOUPGRADE", "\tINIFILE '<folder>\\LU\\setup\\Zaph.ini' setting 'VERSION=V6.2' SAME as 'V6.2'"}},
    {"product in use", &STATE_QRT_OLDER, "hold=Login.exe", "@MadeBackup-", "",
     {"E:ZAPH is in use. Please close it first."}, 148, {"\tFound ZAPH in '<folder>'"}},

    // Runs that pass every check of this build.
    {"QRT package where the registry says .NET but no data", &STATE_DOTNET_SERVER, "",
     "MemberState=BE; @MadeBackup-; file=BE\\ms.mdb.zsi; file=BE\\news.txt.zip", "", {SUCCESS}, 0,
     {"\tNo ZAPH.NET data of member state 'BE' there: going on without the engine and the product package.",
      "\t=== SkipMSI: Installation of MSI will be skipped!"},
     "", "DotNet=Yes; staged=<folder>\\BE_New"},
    {"Multi-MS without the target folder", nullptr, "", "@MadeBackup-", "/m /t C:\\nowhere\\zaph",
     {"W:There is no usable installation in C:\\nowhere\\zaph."}, AT_PACKAGE,
     {"W\t=== Multi-MS: Directory 'C:\\nowhere\\zaph' doesn't exist. *not* skipping MSI step."}},
    {"Multi-MS over a folder without a package", &STATE_QRT_OLDER, "", "@MadeBackup-", "/m", {}, AT_PACKAGE,
     {"\t=== Multi-MS: Directory '<folder>' exists.", "W\t=== Multi-MS: Need to run MSI."}},
    {"the engine bypassed", nullptr, "", "MSI_Version=$SKIP$", "", {"E:HARD Bypass of MSI installation!"}, AT_PACKAGE},

    // The .NET edition's prerequisites: what is missing decides what is
    // installed, from what the distribution offers.
    {"prerequisites: none present, 2.0 and MDAC, restart", nullptr, "", PRE_ALL, "/l EN",
     {Ask(std::string(N20) + MDAC), AT_PACKAGE_ERROR, RESTART}, AT_PACKAGE,
     {Ran("dotnetfx_20.exe", 0), Ran("mdac_typ.exe", 0)}, "", "RunOnce"},
    {"prerequisites: only 1.1 offered, its pack slipstreamed", nullptr, MDAC_28, PRE_V11, "",
     {Ask(std::string(N11) + SP11)}, AT_PACKAGE, {Ran("dotnetfx.exe", 0), Ran("dotnetsp11.exe", 0)}},
    {"prerequisites: 1.1 without its pack", nullptr, MDAC_28, "DotNet=yes; standin=setup\\dotnetfx.exe", "",
     {Ask(N11), "W:Please install the service pack of the .NET Framework 1.1."}, AT_PACKAGE, {Ran("dotnetfx.exe", 0)}},
    {"prerequisites: 1.1 present, the pack only", nullptr, NET11, PRE_ALL, "", {Ask(SP11)}, AT_PACKAGE,
     {Ran("dotnetsp11.exe", 0)}},
    // Settings the run only logs: a member state it does not know, no version.
    {"prerequisites: MDAC 2.7 is enough", nullptr, "net=v2.0.50727 mdac=2.71.9030.0",
     PRE_ALL "; MemberState=LUX; IniVersion-", "", {}, AT_PACKAGE,
     {"W\tINIFILE setting 'MS' missing/incorrect!", "W\tINIFILE setting 'IniVersion' missing/incorrect!",
      "\tMDAC is up-to-date enough"}},
    {"prerequisites: old MDAC, the restart skipped by the settings", nullptr, "net=v2.0.50727 mdac=2.50.4403.12",
     PRE_ALL "; Reboot=$SKIP$", "", {Ask(MDAC), AT_PACKAGE_ERROR, RESTART}, AT_PACKAGE, {Ran("mdac_typ.exe", 0)}},
    {"prerequisites: NT 4.0 SP6 with the hotfix takes 1.1", nullptr, "nt40 sp6 hotfix " MDAC_28, PRE_ALL, "",
     {Ask(std::string(N11) + SP11)}, AT_PACKAGE,
     {"W\tNT 4.0 SP6 detected. Will use MSI V2.0", Ran("dotnetfx.exe", 0), Ran("dotnetsp11.exe", 0)}},
    {"prerequisites: NT 4.0 SP6 without the hotfix", nullptr, "nt40 sp6 " PREREQS, "DotNet=yes", "",
     {NOT_ON_THIS_SYSTEM}, 2, {"W\tNT 4.0 SP6 detected. Will use MSI V2.0"}},
    {"prerequisites: declined", nullptr, "", PRE_ALL, "", {Ask(std::string(N20) + MDAC, "no"), PreFailed("Aborted by user")},
     995},
    {"prerequisites: no installer offered", nullptr, MDAC_28, "DotNet=yes", "",
     {PreFailed(".NET Framework V1.1 installer is missing")}, 2,
     {"E\tNo Microsoft .NET Framework detected but no installer available."}},
    {"prerequisites: not for this platform", nullptr, "winxp " NET11 " exit=dotnetsp11.exe:1633",
     "DotNet=yes; standin=setup\\dotnetsp11.exe", "", {Ask(SP11), FAIL_PRE, NOT_ON_THIS_SYSTEM}, 1633,
     {"W\tMicrosoft .NET Framework v1.1.4322 installed *without* service pack."}},
    {"prerequisites: an installer cancelled", nullptr, "exit=dotnetfx_20.exe:1602", PRE_ALL, "",
     {Ask(std::string(N20) + MDAC), PreFailed("User cancelled the instmsi upgrade.")}, 1602,
     {"W\tInstallPreconditions abandoned."}},
    {"prerequisites: an installer crashes", nullptr, "crash=dotnetfx_20.exe " MDAC_28, PRE_ALL, "",
     {Ask(N20), FAIL_PRE, PreFailed("Unexpected failure")}, (int)0xC0000005},
    {"prerequisites: MDAC fails after a restart request", nullptr, "exit=dotnetfx_20.exe:3010 exit=mdac_typ.exe:1603",
     PRE_ALL, "",
     {Ask(std::string(N20) + MDAC), FAIL_PRE, PreFailed("Error opening installation log file. Verify that the specified "
                                                         "log file location exists and is writable.")},
     1603, {Ran("dotnetfx_20.exe", 3010)}, "", "RunOnce"},
    {"prerequisites: the pack fails after the framework's restart request", nullptr,
     "exit=dotnetfx.exe:3010 exit=dotnetsp11.exe:1603 " MDAC_28, PRE_V11, "",
     {Ask(std::string(N11) + SP11), FAIL_PRE, PreFailed("Error opening installation log file. Verify that the specified "
                                                         "log file location exists and is writable.")},
     1603, {Ran("dotnetfx.exe", 3010), "W\tInstallPreconditions abandoned."}, "", "RunOnce"},
    // Unattended, their restart ends the run after the engine step, also when
    // the engine needs nothing: the registered command goes on after it.
    {"prerequisites: update mode ends for their restart", nullptr, "", PRE_ALL, "/u",
     {Ask(std::string(N20) + MDAC), RESTART}, 3010,
     {Ran("dotnetfx_20.exe", 0), Ran("mdac_typ.exe", 0),
      "\tNo Windows Installer upgrade is necessary. We need 200 and we have 405",
      "\tUpdate mode: the run ends here for the restart."},
     "", "RunOnce"},
    {"prerequisites: an installer's own restart is kept", nullptr,
     "exit=dotnetfx.exe:3010 exit=dotnetsp11.exe:1641 restartby=dotnetsp11.exe " MDAC_28, PRE_V11, "",
     {Ask(std::string(N11) + SP11), AT_PACKAGE_ERROR, RESTART}, AT_PACKAGE,
     {Ran("dotnetfx.exe", 3010), Ran("dotnetsp11.exe", 1641)}, "", "RunOnce:written by dotnetsp11.exe"},

    // The Windows Installer engine.
    {"engine: MSI_Version below 110", nullptr, "", "MSI_Version=100", "",
     {"E:The setting 'MSI_Version' of the settings file is missing or invalid.", ABANDONED}, 13},
    {"engine: restart asked", nullptr, "exit=instmsiw.exe:3010",
     "MSI_Version=999; CheckMSIVersion=$skip$; standin=setup\\instmsiw.exe", "",
     {"Q:Upgrade the Windows Installer?>yes", AT_PACKAGE_ERROR, RESTART}, AT_PACKAGE,
     {"\tExecuting '<dist>\\setup\\instmsiw.exe'", "\tDoInstallMSI wants a reboot."}, "", "RunOnce"},
    {"engine: update mode ends for the restart", nullptr, "exit=instmsiw.exe:3010", ENGINE "instmsiw.exe", "/u",
     {RESTART}, 3010, {"\tDoInstallMSI wants a reboot."}, "", "RunOnce"},
    {"engine: upgrade declined", nullptr, "", "MSI_Version=999; standin=setup\\instmsiw.exe", "",
     {"Q:Upgrade the Windows Installer?>no", ABANDONED}, 995},
    {"engine: installer without a version", nullptr, "", "MSI_Version=999; AskMSIUpgrade=no; standin=setup\\instmsiw.exe",
     "", {NO_ENGINE, ABANDONED}, 2, {"W\tCan't obtain version information '<dist>\\setup\\instmsiw.exe'."}},
    {"engine: installer fails", nullptr, "exit=instmsiw.exe:1603", ENGINE "instmsiw.exe", "", {NO_ENGINE, ABANDONED},
     1603, {"\tWindows Installer upgrade is required. System Version = 405."}},
    {"engine: installer cancelled", nullptr, "exit=instmsiw.exe:1602", ENGINE "instmsiw.exe", "", {ABANDONED}, 1602},
    {"engine: Windows 98 takes MSI_9X", nullptr, "win98", ENGINE "instmsia.exe", "", {}, AT_PACKAGE,
     {"\t'setup\\instmsia.exe' obtained as '<dist>\\setup\\instmsia.exe'", "\tExecuting '<dist>\\setup\\instmsia.exe'"}},
    {"engine: NT 4.0 SP5 reverts to 1.2", nullptr, "nt40 sp5", ENGINE "instmsiw12.exe", "", {}, AT_PACKAGE,
     {"W\tNT 4.0 SP5 detected. Will revert to MSI V1.2 (setup\\instmsiw12.exe)",
      "\tDelayed reboot mode of InstMSI is *NOT* supported."}},

    // The language selection.
    {"QRT upgrade keeps its languages", &STATE_QRT_OLDER_EN_DE, "", "@MadeBackup-; langs=EN FR DE", "", {}, AT_PACKAGE,
     {"\tIGNORED found language 'IT' in '<folder>\\LU\\*' (not available)", "\tLanguage 'DE' selected.",
      "\tLanguage 'EN' selected.", "\tVerifyInstallation deemed OK."},
     "= EN DE"},
    {".NET upgrade keeps its languages", &STATE_DOTNET_OLDER, PREREQS, "DotNet=yes; @MadeBackup-; langs=EN FR", "",
     {}, AT_PACKAGE,
     {"\tINIFILE '<folder>\\LU\\setup\\Zaph.ini' setting 'VERSION=V16.1' LOWER than 'V16.2'", "\tLanguage 'EN' selected.",
      "\tVerifyInstallation deemed OK."},
     "= EN"},
    {"cancel at the language selection", nullptr, "", "langs=EN FR", "", {"Q:Stop the setup?>yes"}, 1223,
     {"\tCancelled by the user."}, "cancel-yes"},
    {"cancel at the language selection withdrawn", nullptr, "", "langs=EN FR", "", {"Q:Stop the setup?>no"},
     AT_PACKAGE, {"\tLanguage 'EN' selected.", "\tLanguage 'FR' selected."}, "cancel-no"},
    {"cancel without its question's label goes on", nullptr, "", "langs=EN FR; @ConfirmCancel-", "",
     {"W:?!Missing Confirm message.\nPlease contact your supplier."}, AT_PACKAGE,
     {"\tConfirm <no message text available>", "\tLanguage 'EN' selected."}, "cancel-no"},

    // The product package and the relocation, where they end the run.
    {"protected folder on Vista", &STATE_PROTECTED, "vista", "@MadeBackup-", "", {}, AT_PACKAGE,
     {"\tDefault dir = C:\\users\\Public\\ZAPH ",
      "W\t'<programfiles>\\zaph_fwstate' is in a protected directory '<programfiles>'."}},
    {"failing package leaves the earlier installation", &STATE_QRT_PACKAGE, "", "package=6.2.0-failing; @MadeBackup-",
     "", {AT_PACKAGE_ERROR}, 1627, {"\t**> Installation returned '1627' '$$ErrorOccurred'."}, "",
     "prop:AUTOUPGRADE=true; keypaths=<folder>"},
    {"move refused by a file held open", &STATE_QRT_PACKAGE, "hold=LU\\PSI\\data.mdb",
     "package=6.2.0-moved; @MadeBackup-", "",
     {"E:<folder> could not be copied to <moved>.", "E:An error occurred:\nChecking the installed system"}, 266,
     {"E\t'<folder>\\LU\\PSI\\data.mdb' could not be copied to '<moved>\\LU\\PSI\\data.mdb' [32].",
      "W\tCleanup after failure. Restore to original location '<folder>'.",
      "\tUpdated SOFTWARE\\Ombrant\\ZAPH QRT with <folder>\\"},
     "", "IntendedPath=<moved>\\; ProductCode={3456789A-5A1E-4B7D-8C20-91F3C6A0D4E8}; keypaths=<folder>"},
    {"move refused by a folder that cannot be listed", &STATE_QRT_PACKAGE, "hold=LU\\PSI",
     "package=6.2.0-moved; @MadeBackup-", "",
     {"E:<folder> could not be copied to <moved>.", "E:An error occurred:\nChecking the installed system"}, 266,
     {"E\tCopyFolderTree could not list '<folder>\\LU\\PSI' [32]", "E\tCould not copy <folder> to <moved> [32]",
      "W\tCleanup after failure. Restore to original location '<folder>'."},
     "", "IntendedPath=<moved>\\; ProductCode={3456789A-5A1E-4B7D-8C20-91F3C6A0D4E8}; keypaths=<folder>"},
};

const char SUCCESS_RESTART[] = "W:ZAPH has been installed successfully.\n\n***\nPlease restart the computer.\n***\n\n";
#define DOTNET_RELEASE "DotNet=yes; package=6.2.0-dotnet; standin=setup\\dotnetfx.exe; standin=setup\\dotnetsp11.exe; " \
                       "standin=setup\\mdac_typ.exe"

const std::vector<Row> WHOLE_ROWS = {
    {"fresh LOCAL, two languages, libraries planted beside the program", nullptr, "planted", "", "", {SUCCESS}, 0,
     {"W\tNo previous MSI registration found.\tClient-server prompt / Folder prompt.",
      "\t**> Installation returned '0' '<>'.", "\t--- Install components MS='LU' LANG='FR' SECTION='3'.",
      "\tUncompressed '<target>\\Login.exe.zip' OK."},
     "EN FR", "prop:AUTOUPGRADE=false; prop:FORCEFOLDER=false; prop:DEFAULTDIR=<target>; keypaths=<target>",
     {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi", "LU_New\\EN\\labels.mdb.zsi=LU\\EN\\labels.mdb.zsi",
      "LU_New\\FR\\labels.mdb.zsi=LU\\FR\\labels.mdb.zsi", "LU_New\\news.txt.zip=LU\\news.txt.zip"}},
    // The rules of the data lines: a source of another name and folder, a
    // packed extension of its own, existence tests that skip or keep, and a
    // copy found anywhere below the target for any member state.
    {"fresh LOCAL, data lines with rules", nullptr, "",
     "+Components=<MS>\\docs\\guide.pdf=|Source=manuals\\handbook.pdf; "
     "+Components=<MS>\\forms.dat=|Extension=.dat|Multi=on; "
     "+Components=<MS>\\skipped.pdf=|IfExists=handbook.pdf|Then=$SKIP$; "
     "+Components=<MS>\\kept.pdf=|IfNotExists=handbook.pdf|Then=$SKIP$; "
     "+Components=<MS>\\elsed.pdf=|IfNotExists=handbook.pdf|Else=$SKIP$; "
     "+Components=<MS>\\handbook.pdf=Any|MS=Any; "
     "file=manuals\\handbook.pdf; file=LU\\forms.dat.dat; file=LU\\kept.pdf",
     "", {SUCCESS}, 0,
     {"\t\tCopied '<dist>\\manuals\\handbook.pdf' to 'LU_New\\docs\\handbook.pdf'",
      "\t\tCopied '<dist>\\lu\\forms.dat.dat' to 'LU_New\\forms.dat.dat'",
      "\t[Non] Existence condition on '<target>\\LU_New\\docs\\handbook.pdf' met. THEN skip rule '<MS>\\skipped.pdf'",
      "\t\tCopied '<dist>\\lu\\kept.pdf' to 'LU_New\\kept.pdf'",
      "\t[Non] Existence condition on '<target>\\LU_New\\docs\\handbook.pdf' *NOT* met. ELSE skip rule "
      "'<MS>\\elsed.pdf'",
      "\t\tCopied '<target>\\LU_New\\docs\\handbook.pdf' to 'LU_New\\handbook.pdf'"},
     "EN", "",
     {"LU_New\\docs\\handbook.pdf=manuals\\handbook.pdf", "manuals\\handbook.pdf=-",
      "LU_New\\forms.dat.dat=LU\\forms.dat.dat", "LU_New\\skipped.pdf=-", "LU_New\\kept.pdf=LU\\kept.pdf",
      "LU_New\\elsed.pdf=-", "LU_New\\handbook.pdf=manuals\\handbook.pdf"}},
    {"fresh WEB from an https server, two languages", nullptr, "web https planted", "", "", {SUCCESS}, 0,
     {"\t--- Install components MS='LU' LANG='FR' SECTION='3'."}, "EN FR", "",
     {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi", "LU_New\\FR\\labels.mdb.zsi=LU\\FR\\labels.mdb.zsi"}},
    // Only the proxy reaches the server.
    {"WEB through the proxy of the Internet settings", nullptr, "web proxy", "", "", {SUCCESS}, 0, {}, "EN", "",
     {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi", "LU_New\\FR\\labels.mdb.zsi=-"}},
    {"upgrade reuses the up-to-date database", &STATE_QRT_PACKAGE, "", "", "", {BACKUP_YES, SUCCESS}, 0,
     {"W\tPrevious MSI registration found and directory <folder> exists.", "\tTarget directory <folder> *not* changed",
      "\t\tCopied '<folder>\\LU\\ms.mdb' to 'LU_New\\ms.mdb'",
      "\t\tCopied '<dist>\\lu\\en\\labels.mdb.zsi' to 'LU_New\\EN\\labels.mdb.zsi'"},
     "EN", "InstallPath=<folder>\\; prop:AUTOUPGRADE=true; prop:LNS=1; keypaths=<folder>",
     {"LU_New\\ms.mdb=<folder>\\LU\\ms.mdb", "LU_New\\ms.mdb.zsi=-", "LU_New\\EN\\labels.mdb.zsi=LU\\EN\\labels.mdb.zsi",
      "LU\\PSI\\data.mdb=<folder>\\LU\\PSI\\data.mdb"}},
    {"upgrade that moves the product", &STATE_QRT_PACKAGE, "", "package=6.2.0-moved", "",
     {BACKUP_YES, "W:ZAPH has moved from <folder> to <moved>.", SUCCESS}, 0,
     {"W\tTarget directory *has* changed from <folder> to <moved>", "\tOK. Deleted <folder>"},
     "EN", "InstallPath=<moved>\\; nofile=<folder>; removed=<moved>; InstallPath-; ProductCode-",
     {"LU\\PSI\\data.mdb=<folder>\\LU\\PSI\\data.mdb", "LU\\setup\\Zaph.ini=<folder>\\LU\\setup\\Zaph.ini",
      "LU\\EN\\labels.mdb=<folder>\\LU\\EN\\labels.mdb", "Bin\\dzip32.dll=<folder>\\Bin\\dzip32.dll"}},
    // The folder the package leaves behind holds a database of another
    // installation, newer than the one in use: the one in use still wins.
    {"upgrade that moves the product over a leftover", &STATE_QRT_PACKAGE, "leftover=LU\\EN\\labels.mdb",
     "package=6.2.0-moved", "", {BACKUP_YES, "W:ZAPH has moved from <folder> to <moved>.", SUCCESS}, 0,
     {"\t'<moved>\\LU\\EN\\labels.mdb' replaced by '<folder>\\LU\\EN\\labels.mdb'.", "\tOK. Deleted <folder>"},
     "EN", "InstallPath=<moved>\\; nofile=<folder>; keypaths=<moved>",
     {"LU\\EN\\labels.mdb=<folder>\\LU\\EN\\labels.mdb"}},
    // Another spelling of the same folder is no move.
    {"upgrade over InstallPath spelled with a doubled backslash", &STATE_QRT_PACKAGE, "spelled=double", "", "",
     {BACKUP_YES, SUCCESS}, 0, {"\tTarget directory <folder> *not* changed"}, "EN",
     "InstallPath=<folder>\\; keypaths=<folder>",
     {"LU\\PSI\\data.mdb=<folder>\\LU\\PSI\\data.mdb", "LU\\EN\\labels.mdb=<folder>\\LU\\EN\\labels.mdb"}},
    {"update mode into the given folder", &STATE_QRT_PACKAGE, "", "@MadeBackup-", "/u /t <folder>", {SUCCESS}, 0,
     {"\tCommand line info about ZAPH is '<folder>'", "\tInstalled version is lower. We will *not* skip SYS_LN step."},
     "", "InstallPath=<folder>\\; prop:AUTOUPGRADE=true; keypaths=<folder>",
     {"LU_New\\EN\\labels.mdb.zsi=LU\\EN\\labels.mdb.zsi"}},
    {"update mode skips the package it has", &STATE_QRT_PACKAGE, "", "@MadeBackup-; package=6.1.0; SYSLNVersion=6.1.0",
     "/u /t <folder>", {SUCCESS}, 0, {"\tInstalled version is higher/equal. We will skip SYS_LN step!"}, "",
     "InstallPath=<folder>\\; keypaths=<folder>"},
    {"client", nullptr, "", "package=6.2.0-client", "", {SUCCESS}, 0,
     {"\tClient installation requested. Finito!."}, "EN", "", {"LU_New\\ms.mdb.zsi=-", "LU_New\\setup\\Zaph.ini=-"}},
    {".NET edition on a bare machine, then the restart's command", nullptr, "restart planted",
     "DotNet=yes; package=6.2.0-dotnet; standin=setup\\dotnetfx.exe; standin=setup\\dotnetsp11.exe; "
     "standin=setup\\mdac_typ.exe", "",
     {Ask(std::string(N11) + SP11 + MDAC), "W:ZAPH has been installed successfully.\n\n***\nPlease restart the computer.\n***\n\n"},
     0,
     {"\tInstallation of ZAPH.NET", "\tInstallPreconditions (MDAC) wants a reboot.", "\tCASPOL on '<target>\\Zaph.exe'."},
     "EN", "RunOnce; prop:DOTNET=true",
     {"LU_New\\ms.mdb.zip=LU_New\\ms.mdb.zip", "LU_New\\EN\\labels.mdb.zip=LU_New\\EN\\labels.mdb.zip"},
     {BACKUP_YES, SUCCESS}},
    // Settings named by their full path: the run after the restart, started
    // in another folder, takes its files from where the first run did.
    {".NET edition with its settings named by /i, then the restart's command", nullptr, "restart", DOTNET_RELEASE,
     "/i <dist>\\Zaph.ini", {Ask(std::string(N11) + SP11 + MDAC), SUCCESS_RESTART}, 0,
     {"\tINIFILE='<dist>\\Zaph.ini'", "\t'LOCAL' Installation", "\tInstallPreconditions (MDAC) wants a reboot."}, "EN",
     "RunOnce", {"LU_New\\ms.mdb.zip=LU_New\\ms.mdb.zip"}, {BACKUP_YES, SUCCESS}},
    // Every outside program (the prerequisites, the engine, the policy tool)
    // is started by its own path, never by the first word of it.
    {".NET edition from a folder with a blank in its path", nullptr, "blank", DOTNET_RELEASE "; " ENGINE "instmsiw.exe",
     "", {Ask(std::string(N11) + SP11 + MDAC), SUCCESS_RESTART}, 0,
     {Ran("dotnetfx.exe", 0), Ran("dotnetsp11.exe", 0), Ran("mdac_typ.exe", 0),
      "\tExecuting '<dist>\\setup\\instmsiw.exe'", "\tCASPOL on '<target>\\Zaph.exe'."},
     "EN", "RunOnce", {"LU_New\\ms.mdb.zip=LU_New\\ms.mdb.zip"}},
    {"damaged archive, then the good one", nullptr, "damaged=LU\\ms.mdb.zsi", "", "",
     {"E:An error occurred:\nInstalling the data"}, 23, {"\t--- Install components MS='LU' LANG='EN' SECTION='1'."},
     "EN", "", {NO_COMPLETION}, {BACKUP_YES, SUCCESS}},
    // Multi-MS over the installed package: no package to install, so the
    // first download is the program's own.
    {"WEB from an https server whose certificate no one trusts", &STATE_QRT_PACKAGE, "web https=stranger",
     "@MadeBackup-; @FailFile=Cannot obtain %hs.", "/m",
     {"E:Cannot obtain Login.exe.zip.", "E:An error occurred:\nInstalling the data"}, 2,
     {"E\tThe server's certificate is not accepted (problem 12045): the download is refused."}, "", "",
     {NO_COMPLETION}},
    {"cancelled download, then a full run", nullptr, "web stall=LU/ms.mdb.zsi", "Threading=On", "",
     {"Q:Stop the setup?>yes"}, 1223, {"\tCancel requested by the user.", "\tCancelled by the user."}, "EN", "",
     {NO_COMPLETION}, {BACKUP_YES, SUCCESS}},
    // Under Wine the installer runs inside the killed process and nothing rolls
    // back: the earlier package is gone, so the run again installs anew; the
    // earlier data stays where it was.
    {"killed in the product package, then run again", &STATE_QRT_PACKAGE, "kill=package", "", "", {BACKUP_YES},
     KILLED, {"\tAssimilation imminent; 7 of 9"}, "EN", "", {NO_COMPLETION}, {SUCCESS}},
    {"killed while a data file is copied, then run again", &STATE_QRT_PACKAGE, "big=LU\\EN\\labels.mdb.zsi kill=data",
     "", "", {BACKUP_YES}, KILLED, {"\t\tCopied '<folder>\\LU\\ms.mdb' to 'LU_New\\ms.mdb'"}, "EN", "",
     {NO_COMPLETION, "LU_New\\EN\\labels.mdb.zsi=-"}, {BACKUP_YES, SUCCESS}},
    {"a second start during a download", nullptr, "web stall=LU/ms.mdb.zsi second", "Threading=On", "", {SUCCESS},
     0, {}, "EN", "", {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi"}},
    {"completion record cannot be written, then can", nullptr, "locked=LU_New\\FW_Complete.lol", "", "",
     {"E:An error occurred:\nInstalling the data"}, 266,
     {"E\tCould not write the completion record 'FW_Complete.lol' below '<target>\\LU_New' [32]."}, "EN", "", {},
     {BACKUP_YES, SUCCESS}},
    {"disk full during the data, then room again", nullptr, "full big=LU\\EN\\labels.mdb.zsi",
     "DefaultTargetDir=S:\\ZAPH", "", {"E:An error occurred:\nInstalling the data"}, 266, {}, "EN", "",
     {NO_COMPLETION, "LU_New\\EN\\labels.mdb.zsi=-"}, {BACKUP_YES, SUCCESS}},

    // Layouts (RowRun::LayOut): the installation from the layout, offline,
    // is checked as the WEB installation of two languages is.
    {"layout from the WEB server, then LOCAL from it offline", nullptr, "web layout", "", "", {SUCCESS}, 0,
     {"\t'LOCAL' Installation", "\t--- Install components MS='LU' LANG='FR' SECTION='3'."}, "EN FR", "",
     {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi", "LU_New\\EN\\labels.mdb.zsi=LU\\EN\\labels.mdb.zsi",
      "LU_New\\FR\\labels.mdb.zsi=LU\\FR\\labels.mdb.zsi", "LU_New\\news.txt.zip=LU\\news.txt.zip"}},
    {"layout cancelled in the middle", nullptr, "web layout stall=LU/EN/labels.mdb.zsi", "Threading=On", "",
     {"Q:Stop the setup?>yes"}, 1223,
     {"\tLayout: 'LU\\ms.mdb.zsi' obtained and verified.", "\tCancel requested by the user.",
      "\tLayout: 'LU\\EN\\labels.mdb.zsi' cancelled.", "\tCancelled by the user."}},
    {"layout of a file the server delivers damaged", nullptr, "web layout damaged=LU\\EN\\labels.mdb.zsi",
     "@FailFile=Cannot obtain %hs.", "", {"E:Cannot obtain LU\\EN\\labels.mdb.zsi."}, 23,
     {"\tLayout: 'Login.exe.zip' obtained and verified.", "E\tLayout: 'LU\\EN\\labels.mdb.zsi' failed [23], not kept."}},
};

// FW_SYSTEMS: only the rows whose Windows version is one of these words (the
// older systems, in a session on a 32-bit Windows).
std::vector<Row> Selected(const std::vector<Row>& rows, bool whole)
{
    const char* systems = getenv("FW_SYSTEMS");
    std::vector<Row> selected;
    for (const Row& row : rows)
    {
        std::vector<std::string> words = Words((whole ? "winxp " : "") + std::string(row.system));
        for (const std::string& wanted : Words(systems ? systems : ""))
            if (std::find(words.begin(), words.end(), wanted) != words.end())
            {
                selected.push_back(row);
                break;
            }
        if (systems == nullptr)
            selected.push_back(row);
    }
    return selected;
}

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

using Scenarios = ::testing::TestWithParam<Row>;
using WholeRuns = ::testing::TestWithParam<Row>;

TEST_P(Scenarios, Row)
{
    RunRow(GetParam(), false);
}

TEST_P(WholeRuns, Row)
{
    RunRow(GetParam(), true);
}

INSTANTIATE_TEST_SUITE_P(Install, Scenarios, ::testing::ValuesIn(Selected(ROWS, false)), TestName<Row>);
INSTANTIATE_TEST_SUITE_P(Install, WholeRuns, ::testing::ValuesIn(Selected(WHOLE_ROWS, true)), TestName<Row>);
} // namespace
