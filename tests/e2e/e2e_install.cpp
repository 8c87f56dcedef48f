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
#include <iterator>
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

// A QRT client whose server is not upgraded yet (no ms.xml, no zaph.exe).
const StateRow STATE_QRT_CLIENT = {"qrtclient", KIND_PRODUCT, "6.1", false, "Client", "EN", "", 0, true, false};
// An earlier installation with two languages of the distribution and one it lacks.
const StateRow STATE_QRT_OLDER_EN_DE = {"qrt61ende", KIND_PRODUCT, "6.1", false, "Server", "EN DE IT", "LU", 0,
                                        true, false};
const StateRow STATE_DOTNET_OLDER = {"net61", KIND_PRODUCT, "6.1", true, "Server", "EN", "LU", 0, true, false};
// The earlier release's package with French beside the English of its data.
const StateRow STATE_QRT_PACKAGE_FR = {"qrtpkgfr", KIND_PRODUCT, "6.1", false, "Server", "FR", "LU", 1, true, false};

// A message box: its icon, its exact text and the button pressed.
struct Box
{
    BoxIcon icon;
    std::string text;
    int answer;
};
Box Error(const std::string& text) { return {ICON_ERROR, text, IDOK}; }
Box Warning(const std::string& text) { return {ICON_WARNING, text, IDOK}; }
Box Info(const std::string& text) { return {ICON_INFORMATION, text, IDOK}; }
Box Question(const std::string& text, int answer) { return {ICON_QUESTION, text, answer}; }
const Box AT_PACKAGE_ERROR = Error("An error occurred:\nInstalling the system");

// What the machine and the run meet, chained on System() (Windows "": the prefix's Windows 7).
struct System
{
    std::string windows, framework, mdac, crash, restartBy, held, locked, leftover, stall, damaged, big, kill;
    std::string drop, busy, missing;
    DWORD servicePack = 0, frameworkPack = 0;
    std::vector<std::pair<std::string, DWORD>> exits;
    bool hotfix = false, spelledDouble = false, web = false, proxy = false, https = false, trusted = true;
    bool secondStart = false, planted = false, restart = false, blank = false, full = false, layout = false;
    bool runAgain = false, elsewhere = false;

    System& Windows(const std::string& v, DWORD pack = 0) { windows = v, servicePack = pack; return *this; }
    System& Hotfix() { hotfix = true; return *this; } // Q246009
    System& Framework(const std::string& v, DWORD pack = 0) { framework = v, frameworkPack = pack; return *this; }
    System& Mdac(const std::string& fullInstallVer) { mdac = fullInstallVer; return *this; }
    System& Exits(const std::string& installer, DWORD code) { exits.push_back({installer, code}); return *this; }
    System& Crashes(const std::string& installer) { crash = installer; return *this; }
    System& RegistersRestart(const std::string& installer) { restartBy = installer; return *this; } // its own
    System& Holds(const std::string& ofState) { held = ofState; return *this; } // a file or folder held open
    System& Locked(const std::string& inTarget) { locked = inTarget; return *this; } // made there and held open
    // A file of another installation where the moving release installs; InstallPath names the state's folder
    // with a doubled backslash.
    System& Leftover(const std::string& relative) { leftover = relative; return *this; }
    System& SpelledDouble() { spelledDouble = true; return *this; }
    // The distribution from the loopback server: only through the Internet
    // settings' proxy; through an https front, trusted or not.
    System& Web() { web = true; return *this; }
    System& Proxy() { proxy = true; return *this; }
    System& Https(bool trustedFront = true) { https = true, trusted = trustedFront; return *this; }
    // That download stalls: the user cancels, or another start meets it.
    System& Stalls(const std::string& path) { stall = path; return *this; }
    System& SecondStart() { secondStart = true; return *this; }
    // Every file's first answer is cut off half-way: the rest then served as
    // ranges, or (false) by a server that ignores them and sends it whole.
    System& DropsOnce(bool ranges = true) { drop = ranges ? "ranges" : "whole"; return *this; }
    System& Busy(const std::string& path) { busy = path; return *this; }       // 503 twice, then served
    System& Missing(const std::string& path) { missing = path; return *this; } // 404
    // A kill while the stalled download waits for the rest (Stalls, Big).
    System& KilledInDownload() { kill = "download"; return *this; }
    System& Damaged(const std::string& file) { damaged = file; return *this; } // a release file
    System& Big(const std::string& file) { big = file; return *this; }        // 32 MB more
    // A kill once the upgrade has removed the earlier package, or while big is copied.
    System& KilledInPackage() { kill = "package"; return *this; }
    System& KilledInData() { kill = "data"; return *this; }
    System& Planted() { planted = true; return *this; }        // libraries beside the program
    System& RerunIsRestart() { restart = true; return *this; } // the run again: the registered command
    // The distribution and the Framework's tools below folders whose names hold
    // a blank, and a recording program at the first word of their paths.
    System& Blank() { blank = true; return *this; }
    System& DiskFull() { full = true; return *this; } // the target on the small drive
    // The run again although it shows no box (an unattended run's).
    System& RunsAgain() { runAgain = true; return *this; }
    // Started as a distribution system starts it: from a folder of its own, by the full path.
    System& StartedElsewhere() { elsewhere = true; return *this; }
    // The run is a layout of the distribution into a folder (RowRun::LayOut).
    System& LaysOut() { layout = true; return *this; }
};

// The language selection: exactly these chosen, or exactly these found
// checked; then Proceed. Or Cancel, its question answered so (IDNO: then Proceed).
struct Selection
{
    std::vector<std::string> choose, checked;
    int cancel;
    bool Waits() const { return !choose.empty() || !checked.empty() || cancel != 0; }
};
template <class... Codes> Selection Choose(Codes... codes) { return {{codes...}, {}, 0}; }
template <class... Codes> Selection Checked(Codes... codes) { return {{}, {codes...}, 0}; }
Selection Cancel(int answer) { return {{}, {}, answer}; }

// A check of the machine after the run, in the row's order.
struct After
{
    enum Kind { VALUE, NO_VALUE, RUN_ONCE, PROPERTY, KEY_PATHS, REMOVED, NO_FILE, STAGED, PROTECTED } kind;
    std::string name, value;
};
// A value of the product key, or its absence; the restart registered (the run's own command, or that text);
// what the package received (the installer's log).
After Value(const std::string& name, const std::string& data) { return {After::VALUE, name, data}; }
After NoValue(const std::string& name) { return {After::NO_VALUE, name, ""}; }
After RunOnce(const std::string& text = "") { return {After::RUN_ONCE, "RunOnce", text}; }
After Property(const std::string& name, const std::string& value) { return {After::PROPERTY, name, value}; }
// msi.dll reports the key files in dir; Removed: then the product is removed
// and leaves none of its files there (the checks after it see what is left).
After KeyPaths(const std::string& dir) { return {After::KEY_PATHS, "", dir}; }
After Removed(const std::string& dir) { return {After::REMOVED, "", dir}; }
After NoFile(const std::string& path) { return {After::NO_FILE, "", path}; }
After Staged(const std::string& dir) { return {After::STAGED, "", dir}; } // the run put new files there
// Every outside installer ran from a folder of its own below the temporary
// folder (the protected copy of its download), which is gone now.
After RanProtected() { return {After::PROTECTED, "", ""}; }

// Whole runs: a file of the target afterwards (relative to it), equal to a
// delivered file, to the earlier installation's file as it was before the
// run (relative to its folder), or absent. Without a source, the same path.
struct TargetFile
{
    enum From { DELIVERED, EARLIER, ABSENT } from;
    std::string path, source;
    std::string Source() const { return source.empty() ? path : source; }
};
TargetFile Delivered(const std::string& path, const std::string& from = "") { return {TargetFile::DELIVERED, path, from}; }
TargetFile Earlier(const std::string& path, const std::string& from = "") { return {TargetFile::EARLIER, path, from}; }
TargetFile Absent(const std::string& path) { return {TargetFile::ABSENT, path, ""}; }

// A row. Texts may name places: <folder> the state's folder, <moved> where
// the moving release installs, <dist> the distribution, <target> the
// installation, <programfiles> (lower case). New rows use the helpers above:
//   system      System().Windows("nt40", 6).Framework("v1.1.4322", 1).Mdac(..)
//               .Exits("x.exe", 3010).Crashes(..).Holds("Login.exe").Web().Https()
//               .Stalls("LU/ms.mdb.zsi").Big(..).KilledInData() ...; {} none
//   boxes       Error("text"), Warning(..), Info(..), Question("text", IDYES/IDNO)
//   selection   Choose("EN", "FR"), Checked("EN", "DE"), Cancel(IDYES/IDNO); {} none
//   after       Value("InstallPath", "<folder>\\"), NoValue(..), RunOnce(), RunOnce("text"),
//               Property("AUTOUPGRADE", "true"), KeyPaths(dir), Removed(dir), NoFile(path), Staged(dir)
//   files       Delivered("LU_New\\ms.mdb.zsi", "LU\\ms.mdb.zsi"), Earlier("LU\\ms.mdb"), Absent(..)
struct Row
{
    const char* name;
    const StateRow* machine; // the earlier installation (null: none)
    System system;           // whole runs: on Windows XP
    const char* dist;        // changes to the distribution (Distribution::Apply)
    const char* args;
    std::vector<Box> boxes; // in this order
    int rc;
    std::vector<std::string> log; // log lines in this order
    Selection selection = {};     // none waited for
    std::vector<After> after = {};
    std::vector<TargetFile> files = {};
    std::vector<Box> rerunBoxes = {}; // the run again with the good release, which ends with 0 (none: no run again)
};

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
// entry but those the after checks name, and every file of the states'
// folders but those below skip, with a checksum of its bytes.
std::string Snapshot(const std::string& root, const std::vector<After>& after, const std::string& skip)
{
    std::set<std::string> named;
    for (const After& check : after)
        if (check.kind == After::VALUE || check.kind == After::NO_VALUE || check.kind == After::RUN_ONCE)
            named.insert(check.name);
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

// The row's after checks, their places filled in.
void CheckAfter(const Row& row, const Scenario& s, const std::string& args, const StandIns& standIns,
                const std::string& folder, const std::string& target)
{
    std::string command = "\"" + s.ExePath() + "\"" + (args.empty() ? "" : " " + args);
    for (const After& check : row.after)
    {
        std::string value = Fill(check.value, folder, target);
        switch (check.kind)
        {
        case After::VALUE: EXPECT_TRUE(RegValueIs(PRODUCT_KEY, check.name, value)); break;
        case After::NO_VALUE: EXPECT_TRUE(RegValueAbsent(PRODUCT_KEY, check.name)); break;
        case After::RUN_ONCE: EXPECT_EQ(value.empty() ? command : value, standIns.RestartCommand()); break;
        case After::PROPERTY:
            EXPECT_TRUE(s.LogFile(InstallerLogPath()).HasLine("Property(S): " + check.name + " = " + value));
            break;
        case After::KEY_PATHS:
        case After::REMOVED: CheckKeyPaths(value, check.kind == After::REMOVED); break;
        case After::NO_FILE: EXPECT_TRUE(FileAbsent(value)); break;
        case After::STAGED: EXPECT_TRUE(DirExists(value)); break;
        case After::PROTECTED:
        {
            char temp[MAX_PATH] = "";
            GetTempPathA(sizeof(temp), temp);
            int downloaded = 0;
            for (const std::string& call : standIns.Calls())
            {
                std::string program = call.substr(0, call.find('|')), from = standIns.StartedFrom(program);
                if (program == "caspol.exe") // the Framework's own tool, not downloaded
                    continue;
                ++downloaded;
                EXPECT_EQ(0u, from.find(std::string(temp) + "Fernwick-")) << program << " ran from " << from;
                EXPECT_FALSE(DirExists(from.substr(0, from.rfind('\\')))) << from;
            }
            EXPECT_LT(0, downloaded);
            break;
        }
        }
    }
}

std::string Data(const std::string& what, const std::string& version);

// The system of a row; a file held open stays so until held is reset.
void SetSystem(Scenario& s, StandIns& standIns, const System& system, const std::string& folder,
               std::shared_ptr<void>& held)
{
    if (!system.windows.empty())
        s.SetWindowsVersion(system.windows);
    if (system.servicePack != 0)
    {
        EXPECT_TRUE(s.SetRegDword("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Windows", "CSDVersion",
                                  system.servicePack << 8));
    }
    if (system.hotfix)
    {
        EXPECT_TRUE(s.SetRegDword("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009",
                                  "Installed", 1));
    }
    if (!system.framework.empty())
        standIns.SetFramework(system.framework, system.frameworkPack, false);
    if (!system.mdac.empty())
        standIns.SetMdac(system.mdac);
    for (const auto& exit : system.exits)
        standIns.ExitWith(exit.first, exit.second);
    if (!system.crash.empty())
        standIns.Crash(system.crash);
    if (!system.restartBy.empty())
        standIns.WriteRestartOnRun(system.restartBy, "written by " + system.restartBy);
    if (!system.leftover.empty()) // written now: newer than the earlier installation's copy
    {
        EXPECT_TRUE(s.WriteFile(MovedFolder() + system.leftover, Data("leftover", "6.0.0.1")));
    }
    if (system.spelledDouble)
    {
        std::string doubled = folder;
        doubled.insert(doubled.rfind('\\'), "\\");
        EXPECT_TRUE(s.SetRegString(PRODUCT_KEY, "InstallPath", doubled + "\\"));
    }
    if (!system.locked.empty())
    {
        EXPECT_TRUE(s.WriteFile(PACKAGE_FOLDER + "\\" + system.locked, ""));
    }
    if (!system.held.empty() || !system.locked.empty())
    {
        std::string path = system.locked.empty() ? folder + "\\" + system.held : PACKAGE_FOLDER + "\\" + system.locked;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
        EXPECT_NE(INVALID_HANDLE_VALUE, file);
        held.reset(file, CloseHandle);
    }
}

void ExpectBoxes(Scenario& s, std::vector<Box> boxes, bool atPackage, const std::string& title,
                 const std::string& folder)
{
    auto isAtPackage = [](const Box& box) { return box.text == AT_PACKAGE_ERROR.text; };
    if (atPackage && std::none_of(boxes.begin(), boxes.end(), isAtPackage))
        boxes.push_back(AT_PACKAGE_ERROR);
    for (const Box& box : boxes)
        s.ExpectBox().TitleEquals(title).Owned(true).Icon(box.icon).TextEquals(Fill(box.text, folder)).Press(box.answer)
            .Buttons(box.icon == ICON_QUESTION ? std::vector<int>{IDYES, IDNO} : std::vector<int>{IDOK});
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

// The language selection as the row says.
void Select(Scenario& s, const std::string& title, const Selection& selection)
{
    ProgramWindow window = ProgressWindow(s, title);
    ASSERT_TRUE(window);
    ASSERT_TRUE(window.WaitForText(IDC_INFO_TEXT, "Choose the languages.", 30000));
    bool found = !selection.checked.empty();
    const std::vector<std::string>& words = found ? selection.checked : selection.choose;
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
    if (selection.cancel == IDNO)
    {
        // The question answered and gone: its owner takes clicks again.
        size_t seen = s.Boxes().size();
        EXPECT_TRUE(window.Click(IDCANCEL));
        for (DWORD start = GetTickCount(); (s.Boxes().size() == seen || !IsWindowEnabled(window.Handle())) &&
                                           s.Running() && GetTickCount() - start < 20000;)
            Sleep(25);
    }
    if (selection.cancel == IDYES)
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
const TargetFile NO_COMPLETION = Absent(COMPLETION);
const Box SUCCESS = Info("ZAPH has been installed successfully.");
const int KILLED = 0xDEAD; // the exit code Scenario::Kill gives
const Box BACKUP_YES = Question("Have you made a backup of your data?", IDYES);
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
const TestRelease& PackageRelease(const Distribution& dist)
{
    static const TestRelease* const RELEASES[] = {&RELEASE_610, &RELEASE_620_MOVED, &RELEASE_620_CLIENT,
                                                  &RELEASE_620_DOTNET};
    for (const TestRelease* release : RELEASES)
        if (dist.Package() == release->folder)
            return *release;
    return RELEASE_620;
}

// The release's data files, a big one and a damaged one as the row says, in
// the distribution with their checksums; returns them by relative name.
std::map<std::string, std::string> AddRelease(Distribution& dist, const System& system)
{
    if (dist.Package().empty())
        dist.Apply("package=6.2.0");
    // The .NET edition's main program is Zaph.exe; its distribution holds the
    // member state's data in <MS>_New, the databases packed as .zip.
    bool dotNet = &PackageRelease(dist) == &RELEASE_620_DOTNET;
    std::string main = dotNet ? "Zaph.exe" : "Login.exe", packed = dotNet ? ".zip" : ".zsi", ms = dotNet ? "LU_New\\" : "LU\\";
    dist.Line("Components", main + ".zip=V6.2.0.5");
    dist.Line("Components", "<MS>\\<Lang>\\labels.mdb=V6.2.0.0");
    std::map<std::string, std::string> files = {
        {main + ".zip", StoredZip(main, "ZAPH " + main + ", release " + RELEASE_VERSION)},
        {ms + "ms.mdb" + packed, StoredZip("ms.mdb", Data("ms", RELEASE_VERSION))},
        {ms + "news.txt.zip", StoredZip("news.txt", "What is new.\r\n")}};
    for (const std::string lang : {"EN", "FR"})
        files[ms + lang + "\\labels.mdb" + packed] = StoredZip("labels.mdb", Data("labels " + lang, RELEASE_VERSION));
    if (!system.big.empty())
    {
        std::string member = system.big.substr(system.big.rfind('\\') + 1);
        member.resize(member.size() - 4);
        files[system.big] = StoredZip(member, std::string(32 << 20, 'z') + Data(member, RELEASE_VERSION));
    }
    for (const auto& file : files)
    {
        char sum[16];
        sprintf(sum, "%08lX", (unsigned long)CheckSum::Update(0, file.second.data(), file.second.size()));
        dist.Line("CheckSums", file.first + "=" + sum);
        dist.File(file.first, file.first == system.damaged ? file.second + "damaged" : file.second);
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
void ServeWeb(Scenario& s, Distribution& dist, HttpTestServer& server, TlsRelay& relay, const System& system)
{
    ASSERT_TRUE(server.Start());
    std::string base = server.BaseUrl();
    if (system.https)
    {
        ASSERT_TRUE(relay.Start(server.Port(), system.trusted));
        base = Expand(base, "http://127.0.0.1:" + std::to_string(server.Port()),
                      "https://localhost:" + std::to_string(relay.Port()));
    }
    if (system.proxy)
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
    if (!system.stall.empty())
        server.SetBehaviour(system.stall, HttpTestServer::SERVE_STALL);
    if (!system.drop.empty())
    {
        server.SetDefaultBehaviour(system.drop == "ranges" ? HttpTestServer::SERVE_DROP_ONCE
                                                           : HttpTestServer::SERVE_DROP_ONCE_NO_RANGES);
        // msi.dll fetches the product package itself, without any resume.
        for (const char* package : {"setup/sys_en.msi", "setup/sys_fr.msi"})
            server.SetBehaviour(package, HttpTestServer::SERVE_NORMAL);
    }
    if (!system.busy.empty())
        server.SetBehaviour(system.busy, HttpTestServer::SERVE_BUSY);
    if (!system.missing.empty())
        server.SetBehaviour(system.missing, HttpTestServer::SERVE_MISSING);
}

// The body bytes the server sent for one path in its answers from the first'th on.
size_t ServedOf(const HttpTestServer& server, const std::string& path, size_t first = 0, bool* ranged = nullptr)
{
    std::vector<HttpTestServer::Served> log = server.Log();
    size_t bytes = 0;
    for (size_t i = first; i < log.size(); ++i)
        if (_stricmp(log[i].path.c_str(), path.c_str()) == 0)
        {
            bytes += log[i].bytes;
            if (ranged != nullptr)
                *ranged = *ranged || (log[i].status == 206 && !log[i].range.empty());
        }
    return bytes;
}

// What the downloads met, from the server's log and the program's: with
// ranges no byte of a cut file went twice (a few KB of slack), without them
// every cut file went once more whole; a busy path was tried again twice,
// each try logged with its reason; a missing one was not tried again.
void CheckDownloads(const HttpTestServer& server, const System& system, const LogView& log, const std::string& dir)
{
    if (!system.drop.empty())
    {
        std::set<std::string> paths;
        bool ranged = false;
        for (const HttpTestServer::Served& answer : server.Log())
            if (answer.path.find(".msi") == std::string::npos)
                paths.insert(answer.path);
        for (const std::string& path : paths)
        {
            std::string bytes;
            ASSERT_TRUE(ReadBytes(dir + "\\" + path, bytes)) << path;
            size_t served = ServedOf(server, path, 0, &ranged);
            EXPECT_GE(served, bytes.size()) << path;
            EXPECT_LE(served, system.drop == "ranges" ? bytes.size() + 4096 : bytes.size() + bytes.size() / 2 + 1)
                << path;
        }
        EXPECT_EQ(system.drop == "ranges", ranged) << "range answers";
        EXPECT_TRUE(log.Contains(system.drop == "ranges" ? "': resuming at byte " : "starting over."));
    }
    if (!system.busy.empty())
    {
        EXPECT_EQ(3, server.RequestCount(system.busy));
        EXPECT_TRUE(log.Contains("': try 1 of 4 failed (HTTP 503) [0/0]; trying again in 1000 ms."));
        EXPECT_TRUE(log.Contains("': try 2 of 4 failed (HTTP 503) [0/0]; trying again in 2000 ms."));
        EXPECT_TRUE(log.Contains("': 3 tries, 3000 ms spent waiting between them."));
    }
    if (!system.missing.empty())
    {
        EXPECT_EQ(1, server.RequestCount(system.missing));
        EXPECT_TRUE(log.Lacks("trying again"));
    }
}

// What the run is to meet while it runs: a stalled download that the user
// cancels or that a second start meets, or a kill once the upgrade has
// removed the earlier package (the new one is not yet in place) or while the
// big file's partial copy lies beside the place it is meant for.
void Interfere(Scenario& s, HttpTestServer& server, const System& system, const std::string& title)
{
    if (!system.stall.empty() && system.kill != "download")
    {
        ASSERT_TRUE(server.WaitForStall(60000));
        if (system.secondStart)
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
    if (system.kill == "download")
    {
        // Half the archive sent, the server silent: the bytes that came are
        // in the partial file but the last block's.
        ASSERT_TRUE(server.WaitForStall(60000));
        Sleep(2000);
        s.Kill();
        return;
    }
    if (system.kill.empty())
        return;
    std::string partial = system.big.empty() ? "" : "\\LU_New" + system.big.substr(2) + ".fwpart";
    DWORD start = GetTickCount();
    while (s.Running() && GetTickCount() - start < 60000 &&
           (system.kill == "package" ? IsInstalled(RELEASE_610)
                              : GetFileAttributesA((InstalledFolder() + partial).c_str()) == INVALID_FILE_ATTRIBUTES))
        Sleep(5);
    s.Kill();
}

// Whole runs are XP runs.
System SystemOf(const Row& row, bool whole)
{
    System system = row.system;
    if (whole && system.windows.empty())
        system.windows = "winxp";
    return system;
}

// One row's run. Arrange sets up what the run, the checks and the run again
// share; the members are put back in the reverse of their order.
struct RowRun
{
    RowRun(const Row& row, bool whole)
        : row(row), whole(whole), system(SystemOf(row, whole)), packages({PACKAGE_FOLDER, MovedFolder()}),
          rc(row.rc == AT_PACKAGE ? 13 : row.rc)
    {
    }
    void Arrange();
    void Run();
    void Check();
    void Rerun();
    void Start(const std::vector<Box>& boxes, bool atPackage);
    void LayOut();
    // The earlier installation's data, which no killed run may lose.
    std::string EarlierData() const
    {
        return ReadAll(folder + "\\LU\\ms.mdb") + ReadAll(folder + "\\LU\\EN\\labels.mdb");
    }

    const Row& row;
    const bool whole;
    const System system;
    TestPackageSetup packages;
    MachineState machine;
    std::string folder, staged, before;
    Scenario s;
    std::unique_ptr<StandIns> standIns;
    std::shared_ptr<void> held;
    Distribution dist;
    std::map<std::string, std::string> files, earlier;
    std::string shortcut, ballast = SMALL_DRIVE + "ballast", keptData, title, args;
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
    for (const After& check : row.after)
        if (check.kind == After::STAGED)
            staged = Fill(check.value, folder);
    before = whole ? "" : Snapshot(machine.Root(), row.after, staged);
    if (system.blank)
    {
        s.SetDistName("ZAPH Setup");
        ASSERT_TRUE(s.CopyFromBin("fw_standin.exe", s.Root() + "\\ZAPH.exe"));
    }
    standIns.reset(new StandIns(s.Folder(system.blank ? "ZAPH Tools" : "machine")));
    SetSystem(s, *standIns, system, folder, held);
    dist.Apply(whole ? RELEASE_SETTINGS : "");
    dist.Apply(row.dist);
    if (whole)
    {
        files = AddRelease(dist, system);
        if (system.layout)
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
    if (system.web)
    {
        ServeWeb(s, dist, *server, relay, system);
        if (::testing::Test::HasFatalFailure())
            return;
    }
    ASSERT_TRUE(dist.WriteTo(s));
    if (system.full)
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
    keptData = row.machine && !system.kill.empty() ? EarlierData() : "";
    for (const TargetFile& expected : row.files)
        if (expected.from == TargetFile::EARLIER)
            earlier[expected.Source()] = ReadAll(folder + "\\" + expected.Source());
    title = dist.Title();
    args = Fill(row.args, folder, "", s.Dir());
    if (system.elsewhere)
        s.SetCurrentDir(s.Folder("elsewhere"));
    if (system.planted)
        planted.reset(new Planted(s, "fernwick.exe", false));
    ready = true;
}

void RowRun::Start(const std::vector<Box>& boxes, bool atPackage)
{
    ExpectBoxes(s, boxes, atPackage, title, folder);
    // Unattended: the robot fails the row on a window it must not show.
    std::istringstream words(row.args);
    std::set<std::string> given{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
    if (given.count("/q"))
        s.ExpectNoWindow();
    else if (given.count("/b"))
        s.ExpectOnlyProgress();
    DeleteFileA(InstallerLogPath().c_str());
    ASSERT_TRUE(s.Start(args));
    if (row.selection.Waits())
        Select(s, title, row.selection);
}

// A layout of the distribution from the server into the scenario's folder
// "layout". A row whose code is not 0 is the layout's own run (a cancel, a
// damaged file): no file under its final name may then differ from the
// delivered one, and the folder has no marker yet. Otherwise a second layout
// fetches nothing, a third fetches only the file damaged in the layout, and
// with the server stopped the installation from the layout (the row's boxes
// and code) is the run that the whole run's checks judge, as they judge a
// WEB installation.
void RowRun::LayOut()
{
    const std::string layout = s.Folder("layout"), damaged = "LU\\ms.mdb.zsi";
    auto layOut = [&](const std::vector<Box>& boxes, int code) {
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
            {
                EXPECT_TRUE(bytes == file.second) << file.first << " differs from the delivered file";
            }
            EXPECT_TRUE(FileAbsent(layout + "\\" + file.first + ".fwlayout"));
        }
        EXPECT_LT(0, placed) << "the layout did not end in the middle";
        EXPECT_TRUE(FileAbsent(layout + "\\_FW_LOCAL_.txt"));
        return;
    }
    const std::vector<Box> complete = {Info("The layout in '" + layout + "' is complete.")};
    layOut(complete, 0);
    EXPECT_TRUE(s.Log().InOrder({"\tLayout: 'LU\\ms.mdb.zsi' obtained and verified.",
                                 "\tLayout: 'setup\\instmsia.exe' obtained and verified."}));
    auto bytesServed = [&] {
        size_t bytes = 0;
        for (const HttpTestServer::Served& answer : server->Log())
            bytes += answer.bytes;
        return bytes;
    };
    const size_t requests = server->Requests().size(), bytes = bytesServed();
    layOut(complete, 0);
    EXPECT_EQ(requests, server->Requests().size()) << "the second layout fetched files again";
    EXPECT_EQ(bytes, bytesServed());
    EXPECT_TRUE(s.Log().HasLine("\tLayout: 'setup\\sys_fr.msi' in place."));
    ASSERT_TRUE(WriteBytes(layout + "\\" + damaged, files[damaged] + "damaged"));
    layOut(complete, 0);
    std::vector<std::string> all = server->Requests();
    EXPECT_EQ(std::vector<std::string>({"lu/ms.mdb.zsi"}), std::vector<std::string>(all.begin() + requests, all.end()));
    EXPECT_EQ(bytes + files[damaged].size(), bytesServed());
    EXPECT_TRUE(ReadAll(layout + "\\" + damaged) == files[damaged]);
    server->Stop();
    s.SetCurrentDir(layout);
    Start(row.boxes, false);
    EXPECT_EQ(rc, s.Wait(120000));
}

void RowRun::Run()
{
    if (system.layout)
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
    if (system.kill.empty())
        lines.push_back("\t**> Main return code '" + std::to_string(rc) + "'.");
    else
    {
        EXPECT_TRUE(log.Lacks(system.kill == "package" ? "**> Installation returned" : "**> Main return code"));
    }
    EXPECT_TRUE(log.InOrder(lines));
    EXPECT_TRUE(log.Lacks(NOT_IN_THIS_BUILD));
    for (const TargetFile& expected : row.files)
    {
        std::string file = target + "\\" + expected.path;
        if (expected.from == TargetFile::ABSENT)
            EXPECT_TRUE(FileAbsent(file));
        else
            EXPECT_TRUE(ReadAll(file) == (expected.from == TargetFile::EARLIER ? earlier : files)[expected.Source()])
                << file << " differs from " << expected.Source();
    }
    if (whole && row.rc == 0)
        CheckComplete(s, PackageRelease(dist), shortcut);
    if (planted)
    {
        EXPECT_EQ("", planted->Loaded());
    }
    CheckDownloads(*server, system, log, s.Dir());
    CheckAfter(row, s, args, *standIns, folder, target);
    // Every outside program ran as itself, with its own options.
    std::string programs;
    for (const std::string& call : system.blank ? standIns->Calls() : std::vector<std::string>())
    {
        std::string program = call.substr(0, call.find('|'));
        programs += program + " ";
        EXPECT_EQ(program + "|" + OptionsOf(program), call.substr(0, program.size() + 1 + OptionsOf(program).size()));
    }
    if (system.blank)
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
    server->SetBehaviour(system.stall.empty() ? "none" : system.stall, HttpTestServer::SERVE_NORMAL);
    for (const auto& file : files)
        ASSERT_TRUE(s.WriteFile(file.first, file.second));
    if (system.restart)
    {
        std::string command = standIns->RestartCommand(), program = "\"" + s.ExePath() + "\"";
        ASSERT_EQ(0u, command.find(program)) << command;
        args = command.substr(program.size());
        args.erase(0, args.find_first_not_of(' '));
        EXPECT_EQ(0, RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, RUN_ONCE_KEY_PATH, "Fernwick"));
        s.SetCurrentDir(s.Folder("after restart"));
    }
    if (system.full)
    {
        ASSERT_TRUE(DeleteFileA(ballast.c_str()));
    }
    size_t answered = server->Log().size(), sentBefore = ServedOf(*server, system.stall);
    Start(row.rerunBoxes, false);
    EXPECT_EQ(0, s.Wait(120000));
    CheckComplete(s, PackageRelease(dist), shortcut);
    if (system.kill == "download")
    {
        // Resumed, not restarted: only the rest was asked for, and came (at
        // most the killed run's last block of 256 KB again, and a few KB).
        std::string bytes;
        ASSERT_TRUE(ReadBytes(s.Dir() + "\\" + system.big, bytes));
        bool ranged = false;
        size_t again = ServedOf(*server, system.stall, answered, &ranged);
        EXPECT_TRUE(ranged) << "no range asked for " << system.stall;
        EXPECT_LE(again, bytes.size() - sentBefore + (256 << 10) + 4096) << "of " << bytes.size();
    }
    if (system.restart)
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
    if (!system.big.empty())
    {
        std::string big = InstalledFolder() + "\\LU_New" + system.big.substr(2);
        EXPECT_TRUE(ReadAll(big) == files[system.big]);
        EXPECT_TRUE(FileAbsent(big + ".fwpart"));
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
    if (!row.rerunBoxes.empty() || run.system.runAgain)
        run.Rerun();
}

// The prerequisites' question listing the components to install, answered.
Box Ask(const std::string& components, int answer = IDYES)
{
    return Question("Install the missing system components?\n\n\n" + components + "\n", answer);
}
const std::string N11 = "   Microsoft .NET Framework V1.1\n";
const std::string SP11 = "   Microsoft .NET Framework V1.1 Service Pack 1\n";
const std::string N20 = "   Microsoft .NET Framework V2.0\n";
const std::string MDAC = "   Microsoft Data Access Components V2.8 (MDAC)\n";
const Box FAIL_PRE = Error("An error occurred:\nA system component could not be installed.");
// The step's end: the failure and why.
Box PreFailed(const std::string& why)
{
    return Error("A system component could not be installed.\n[" + why + "]");
}
const Box RESTART = Warning("Please restart the computer.");
const Box ABANDONED = Error("The installation was abandoned.");
const Box NO_ENGINE = Error("An error occurred:\nThe Windows Installer could not be upgraded.");
const Box NOT_ON_THIS_SYSTEM = Error("The system components cannot be installed on this system.");
const Box STOP_YES = Question("Stop the setup?", IDYES);
const Box CANNOT_COPY = Error("<folder> could not be copied to <moved>.");
const Box CHECK_FAILED = Error("An error occurred:\nChecking the installed system");
const Box DATA_FAILED = Error("An error occurred:\nInstalling the data");
const Box MOVED = Warning("ZAPH has moved from <folder> to <moved>.");

// The log line of an installer that ran (from the distribution's setup
// folder) with the options it is given, and its exit code.
std::string Ran(const std::string& installer, long code)
{
    return "\tGood so far, '\"<dist>\\setup\\" + installer + "\" " + OptionsOf(installer) + "' returned '" +
           std::to_string(code) + "'";
}

// Machines with some of the .NET edition's prerequisites.
const char MDAC_28[] = "2.81.1117.0";
System Net11() { return System().Framework("v1.1.4322").Mdac(MDAC_28); }
System Prereqs() { return System().Framework("v1.1.4322", 1).Mdac(MDAC_28); }
// The installers a LOCAL distribution offers.
#define PRE_V11 "DotNet=yes; standin=setup\\dotnetfx.exe; standin=setup\\dotnetsp11.exe; standin=setup\\mdac_typ.exe"
#define PRE_ALL PRE_V11 "; standin=setup\\dotnetfx_20.exe"
#define ENGINE "MSI_Version=999; CheckMSIVersion=$SKIP$; AskMSIUpgrade=no; standin=setup\\"
// The move that a file or folder held open refuses: put back, the package kept.
const std::vector<After> MOVE_REFUSED = {Value("IntendedPath", "<moved>\\"),
                                         Value("ProductCode", "{3456789A-5A1E-4B7D-8C20-91F3C6A0D4E8}"),
                                         KeyPaths("<folder>")};

const std::vector<Row> ROWS = {
    // Refusals before anything is installed.
    {"QRT package over the .NET edition's data", &STATE_DOTNET_SERVER, {}, "", "",
     {Warning("An error occurred:\n*** ZAPH.NET ***")}, 1223,
     {"W\tZAPH.NET version should not be upgraded to ZAPH.QRT!", "\tCancelled by the user."}},
    {".NET package for a client before its server", &STATE_QRT_CLIENT, {}, "DotNet=yes", "",
     {Warning("Please upgrade the server first.")}, 1223, {"\tDotNet=No", "\tCancelled by the user."}},
    {"installed data newer than the package", &STATE_QRT_NEWER, {}, "", "",
     {Error("The installation was abandoned.\n***There is nothing to upgrade.***\n\n\t\tV6.2 vs. V6.3\n")}, 13,
     {"\tINIFILE '<folder>\\LU\\setup\\Zaph.ini' setting 'VERSION=V6.3' HIGHER than 'V6.2'"}},
    {"backup not made", &STATE_QRT_OLDER, {}, "", "",
     {Question("Have you made a backup of your data?", IDNO), Warning("Please make a backup first.")}, 1223,
     {"\tRegistry info about ZAPH is '<folder>\\'", "\tCancelled by the user."}},
    {"update mode with nothing to upgrade", &STATE_QRT_EQUAL, {}, "", "/u",
     {BACKUP_YES, Warning("There is nothing to upgrade.")}, 232,
     {"\tAUTOUPGRADE", "\tINIFILE '<folder>\\LU\\setup\\Zaph.ini' setting 'VERSION=V6.2' SAME as 'V6.2'"}},
    {"product in use", &STATE_QRT_OLDER, System().Holds("Login.exe"), "@MadeBackup-", "",
     {Error("ZAPH is in use. Please close it first.")}, 148, {"\tFound ZAPH in '<folder>'"}},

    // Runs that pass every check of this build.
    {"QRT package where the registry says .NET but no data", &STATE_DOTNET_SERVER, {},
     "MemberState=BE; @MadeBackup-; file=BE\\ms.mdb.zsi; file=BE\\news.txt.zip", "", {SUCCESS}, 0,
     {"\tNo ZAPH.NET data of member state 'BE' there: going on without the engine and the product package.",
      "\t=== SkipMSI: Installation of MSI will be skipped!"}, {}, {Value("DotNet", "Yes"), Staged("<folder>\\BE_New")}},
    {"Multi-MS without the target folder", nullptr, {}, "@MadeBackup-", "/m /t C:\\nowhere\\zaph",
     {Warning("There is no usable installation in C:\\nowhere\\zaph.")}, AT_PACKAGE,
     {"W\t=== Multi-MS: Directory 'C:\\nowhere\\zaph' doesn't exist. *not* skipping MSI step."}},
    {"Multi-MS over a folder without a package", &STATE_QRT_OLDER, {}, "@MadeBackup-", "/m", {}, AT_PACKAGE,
     {"\t=== Multi-MS: Directory '<folder>' exists.", "W\t=== Multi-MS: Need to run MSI."}},
    {"the engine bypassed", nullptr, {}, "MSI_Version=$SKIP$", "", {Error("HARD Bypass of MSI installation!")},
     AT_PACKAGE},

    // The .NET edition's prerequisites: what is missing decides what is
    // installed, from what the distribution offers.
    {"prerequisites: none present, 2.0 and MDAC, restart", nullptr, {}, PRE_ALL, "/l EN",
     {Ask(N20 + MDAC), AT_PACKAGE_ERROR, RESTART}, AT_PACKAGE,
     {Ran("dotnetfx_20.exe", 0), Ran("mdac_typ.exe", 0)}, {}, {RunOnce()}},
    {"prerequisites: only 1.1 offered, its pack slipstreamed", nullptr, System().Mdac(MDAC_28), PRE_V11, "",
     {Ask(N11 + SP11)}, AT_PACKAGE, {Ran("dotnetfx.exe", 0), Ran("dotnetsp11.exe", 0)}},
    {"prerequisites: 1.1 without its pack", nullptr, System().Mdac(MDAC_28), "DotNet=yes; standin=setup\\dotnetfx.exe",
     "", {Ask(N11), Warning("Please install the service pack of the .NET Framework 1.1.")}, AT_PACKAGE,
     {Ran("dotnetfx.exe", 0)}},
    {"prerequisites: 1.1 present, the pack only", nullptr, Net11(), PRE_ALL, "", {Ask(SP11)}, AT_PACKAGE,
     {Ran("dotnetsp11.exe", 0)}},
    // Settings the run only logs: a member state it does not know, no version.
    {"prerequisites: MDAC 2.7 is enough", nullptr, System().Framework("v2.0.50727").Mdac("2.71.9030.0"),
     PRE_ALL "; MemberState=LUX; IniVersion-", "", {}, AT_PACKAGE,
     {"W\tINIFILE setting 'MS' missing/incorrect!", "W\tINIFILE setting 'IniVersion' missing/incorrect!",
      "\tMDAC is up-to-date enough"}},
    {"prerequisites: old MDAC, the restart skipped by the settings", nullptr,
     System().Framework("v2.0.50727").Mdac("2.50.4403.12"), PRE_ALL "; Reboot=$SKIP$", "",
     {Ask(MDAC), AT_PACKAGE_ERROR, RESTART}, AT_PACKAGE, {Ran("mdac_typ.exe", 0)}},
    {"prerequisites: NT 4.0 SP6 with the hotfix takes 1.1", nullptr, System().Windows("nt40", 6).Hotfix().Mdac(MDAC_28),
     PRE_ALL, "", {Ask(N11 + SP11)}, AT_PACKAGE,
     {"W\tNT 4.0 SP6 detected. Will use MSI V2.0", Ran("dotnetfx.exe", 0), Ran("dotnetsp11.exe", 0)}},
    {"prerequisites: NT 4.0 SP6 without the hotfix", nullptr, Prereqs().Windows("nt40", 6), "DotNet=yes", "",
     {NOT_ON_THIS_SYSTEM}, 2, {"W\tNT 4.0 SP6 detected. Will use MSI V2.0"}},
    {"prerequisites: declined", nullptr, {}, PRE_ALL, "", {Ask(N20 + MDAC, IDNO), PreFailed("Aborted by user")}, 995},
    {"prerequisites: no installer offered", nullptr, System().Mdac(MDAC_28), "DotNet=yes", "",
     {PreFailed(".NET Framework V1.1 installer is missing")}, 2,
     {"E\tNo Microsoft .NET Framework detected but no installer available."}},
    {"prerequisites: not for this platform", nullptr, Net11().Windows("winxp").Exits("dotnetsp11.exe", 1633),
     "DotNet=yes; standin=setup\\dotnetsp11.exe", "", {Ask(SP11), FAIL_PRE, NOT_ON_THIS_SYSTEM}, 1633,
     {"W\tMicrosoft .NET Framework v1.1.4322 installed *without* service pack."}},
    {"prerequisites: an installer cancelled", nullptr, System().Exits("dotnetfx_20.exe", 1602), PRE_ALL, "",
     {Ask(N20 + MDAC), PreFailed("User cancelled the instmsi upgrade.")}, 1602, {"W\tInstallPreconditions abandoned."}},
    {"prerequisites: an installer crashes", nullptr, System().Crashes("dotnetfx_20.exe").Mdac(MDAC_28), PRE_ALL, "",
     {Ask(N20), FAIL_PRE, PreFailed("Unexpected failure")}, (int)0xC0000005},
    {"prerequisites: MDAC fails after a restart request", nullptr,
     System().Exits("dotnetfx_20.exe", 3010).Exits("mdac_typ.exe", 1603), PRE_ALL, "",
     {Ask(N20 + MDAC), FAIL_PRE, PreFailed("Error opening installation log file. Verify that the specified "
                                                         "log file location exists and is writable.")},
     1603, {Ran("dotnetfx_20.exe", 3010)}, {}, {RunOnce()}},
    {"prerequisites: the pack fails after the framework's restart request", nullptr,
     System().Exits("dotnetfx.exe", 3010).Exits("dotnetsp11.exe", 1603).Mdac(MDAC_28), PRE_V11, "",
     {Ask(N11 + SP11), FAIL_PRE, PreFailed("Error opening installation log file. Verify that the specified "
                                                         "log file location exists and is writable.")},
     1603, {Ran("dotnetfx.exe", 3010), "W\tInstallPreconditions abandoned."}, {}, {RunOnce()}},
    // Unattended, their restart ends the run after the engine step, also when
    // the engine needs nothing: the registered command goes on after it.
    {"prerequisites: update mode ends for their restart", nullptr, {}, PRE_ALL, "/u", {Ask(N20 + MDAC), RESTART}, 3010,
     {Ran("dotnetfx_20.exe", 0), Ran("mdac_typ.exe", 0),
      "\tNo Windows Installer upgrade is necessary. We need 200 and we have 405",
      "\tUpdate mode: the run ends here for the restart."}, {}, {RunOnce()}},
    {"prerequisites: an installer's own restart is kept", nullptr,
     System().Exits("dotnetfx.exe", 3010).Exits("dotnetsp11.exe", 1641).RegistersRestart("dotnetsp11.exe").Mdac(MDAC_28),
     PRE_V11, "", {Ask(N11 + SP11), AT_PACKAGE_ERROR, RESTART}, AT_PACKAGE,
     {Ran("dotnetfx.exe", 3010), Ran("dotnetsp11.exe", 1641)}, {}, {RunOnce("written by dotnetsp11.exe")}},

    // The Windows Installer engine.
    {"engine: MSI_Version below 110", nullptr, {}, "MSI_Version=100", "",
     {Error("The setting 'MSI_Version' of the settings file is missing or invalid."), ABANDONED}, 13},
    {"engine: restart asked", nullptr, System().Exits("instmsiw.exe", 3010),
     "MSI_Version=999; CheckMSIVersion=$skip$; standin=setup\\instmsiw.exe", "",
     {Question("Upgrade the Windows Installer?", IDYES), AT_PACKAGE_ERROR, RESTART}, AT_PACKAGE,
     {"\tExecuting '<dist>\\setup\\instmsiw.exe'", "\tDoInstallMSI wants a reboot."}, {}, {RunOnce()}},
    {"engine: update mode ends for the restart", nullptr, System().Exits("instmsiw.exe", 3010), ENGINE "instmsiw.exe",
     "/u", {RESTART}, 3010, {"\tDoInstallMSI wants a reboot."}, {}, {RunOnce()}},
    {"engine: upgrade declined", nullptr, {}, "MSI_Version=999; standin=setup\\instmsiw.exe", "",
     {Question("Upgrade the Windows Installer?", IDNO), ABANDONED}, 995},
    {"engine: installer without a version", nullptr, {}, "MSI_Version=999; AskMSIUpgrade=no; standin=setup\\instmsiw.exe",
     "", {NO_ENGINE, ABANDONED}, 2, {"W\tCan't obtain version information '<dist>\\setup\\instmsiw.exe'."}},
    {"engine: installer fails", nullptr, System().Exits("instmsiw.exe", 1603), ENGINE "instmsiw.exe", "",
     {NO_ENGINE, ABANDONED}, 1603, {"\tWindows Installer upgrade is required. System Version = 405."}},
    {"engine: installer cancelled", nullptr, System().Exits("instmsiw.exe", 1602), ENGINE "instmsiw.exe", "",
     {ABANDONED}, 1602},
    {"engine: Windows 98 takes MSI_9X", nullptr, System().Windows("win98"), ENGINE "instmsia.exe", "", {}, AT_PACKAGE,
     {"\t'setup\\instmsia.exe' obtained as '<dist>\\setup\\instmsia.exe'", "\tExecuting '<dist>\\setup\\instmsia.exe'"}},
    {"engine: NT 4.0 SP5 reverts to 1.2", nullptr, System().Windows("nt40", 5), ENGINE "instmsiw12.exe", "", {},
     AT_PACKAGE, {"W\tNT 4.0 SP5 detected. Will revert to MSI V1.2 (setup\\instmsiw12.exe)",
      "\tDelayed reboot mode of InstMSI is *NOT* supported."}},

    // The language selection.
    {"QRT upgrade keeps its languages", &STATE_QRT_OLDER_EN_DE, {}, "@MadeBackup-; langs=EN FR DE", "", {}, AT_PACKAGE,
     {"\tIGNORED found language 'IT' in '<folder>\\LU\\*' (not available)", "\tLanguage 'DE' selected.",
      "\tLanguage 'EN' selected.", "\tVerifyInstallation deemed OK."}, Checked("EN", "DE")},
    {".NET upgrade keeps its languages", &STATE_DOTNET_OLDER, Prereqs(), "DotNet=yes; @MadeBackup-; langs=EN FR", "",
     {}, AT_PACKAGE,
     {"\tINIFILE '<folder>\\LU\\setup\\Zaph.ini' setting 'VERSION=V16.1' LOWER than 'V16.2'", "\tLanguage 'EN' selected.",
      "\tVerifyInstallation deemed OK."}, Checked("EN")},
    {"cancel at the language selection", nullptr, {}, "langs=EN FR", "", {STOP_YES}, 1223, {"\tCancelled by the user."},
     Cancel(IDYES)},
    {"cancel at the language selection withdrawn", nullptr, {}, "langs=EN FR", "",
     {Question("Stop the setup?", IDNO)}, AT_PACKAGE, {"\tLanguage 'EN' selected.", "\tLanguage 'FR' selected."},
     Cancel(IDNO)},
    {"cancel without its question's label goes on", nullptr, {}, "langs=EN FR; @ConfirmCancel-", "",
     {Warning("?!Missing Confirm message.\nPlease contact your supplier.")}, AT_PACKAGE,
     {"\tConfirm <no message text available>", "\tLanguage 'EN' selected."}, Cancel(IDNO)},

    // The product package and the relocation, where they end the run.
    {"protected folder on Vista", &STATE_PROTECTED, System().Windows("vista"), "@MadeBackup-", "", {}, AT_PACKAGE,
     {"\tDefault dir = C:\\users\\Public\\ZAPH ",
      "W\t'<programfiles>\\zaph_fwstate' is in a protected directory '<programfiles>'."}},
    {"failing package leaves the earlier installation", &STATE_QRT_PACKAGE, {}, "package=6.2.0-failing; @MadeBackup-",
     "", {AT_PACKAGE_ERROR}, 1627, {"\t**> Installation returned '1627' '$$ErrorOccurred'."}, {},
     {Property("AUTOUPGRADE", "true"), KeyPaths("<folder>")}},
    {"move refused by a file held open", &STATE_QRT_PACKAGE, System().Holds("LU\\PSI\\data.mdb"),
     "package=6.2.0-moved; @MadeBackup-", "", {CANNOT_COPY, CHECK_FAILED}, 266,
     {"E\t'<folder>\\LU\\PSI\\data.mdb' could not be copied to '<moved>\\LU\\PSI\\data.mdb' [32].",
      "W\tCleanup after failure. Restore to original location '<folder>'.",
      "\tUpdated SOFTWARE\\Ombrant\\ZAPH QRT with <folder>\\"}, {}, MOVE_REFUSED},
    {"move refused by a folder that cannot be listed", &STATE_QRT_PACKAGE, System().Holds("LU\\PSI"),
     "package=6.2.0-moved; @MadeBackup-", "", {CANNOT_COPY, CHECK_FAILED}, 266,
     {"E\tCopyFolderTree could not list '<folder>\\LU\\PSI' [32]", "E\tCould not copy <folder> to <moved> [32]",
      "W\tCleanup after failure. Restore to original location '<folder>'."}, {}, MOVE_REFUSED},
    // Unattended: a value the command line refuses ends the run before
    // anything is done, with no window, only the log line of the usage box.
    {"quiet: a property the program sets itself is refused", nullptr, {}, "", "/q /p TARGETDIR=C:\\elsewhere", {},
     160, {"E\tProperty 'TARGETDIR=C:\\elsewhere' refused.", "E\tBox not shown (quiet): Usage:",
           "E\tCommand line ERROR: '/p option invalid: TARGETDIR is set by the program'"}},
    {"quiet: a bad language code is refused", nullptr, {}, "", "/s FR,XX /q", {}, 160,
     {"E\tLanguage code 'XX' of /s not known.", "E\tCommand line ERROR: '/s option invalid'"}},
    {"quiet: a language the settings file lacks", nullptr, {}, "langs=EN FR", "/q /s FR,DE", {}, 13,
     {"E\tBox not shown (quiet): Language 'DE' not found in file '<dist>\\Zaph.ini'"}},
};

const Box SUCCESS_RESTART = Warning("ZAPH has been installed successfully.\n\n***\nPlease restart the computer.\n***\n\n");
#define DOTNET_RELEASE "DotNet=yes; package=6.2.0-dotnet; standin=setup\\dotnetfx.exe; standin=setup\\dotnetsp11.exe; " \
                       "standin=setup\\mdac_typ.exe"
const Box DOTNET_ASK = Ask(N11 + SP11 + MDAC);

const std::vector<Row> WHOLE_ROWS = {
    {"fresh LOCAL, two languages, libraries planted beside the program", nullptr, System().Planted(), "", "", {SUCCESS},
     0, {"W\tNo previous MSI registration found.\tClient-server prompt / Folder prompt.",
      "\t**> Installation returned '0' '<>'.", "\t--- Install components MS='LU' LANG='FR' SECTION='3'.",
      "\tUncompressed '<target>\\Login.exe.zip' OK."}, Choose("EN", "FR"),
     {Property("AUTOUPGRADE", "false"), Property("FORCEFOLDER", "false"), Property("DEFAULTDIR", "<target>"),
      KeyPaths("<target>")},
     {Delivered("LU_New\\ms.mdb.zsi", "LU\\ms.mdb.zsi"), Delivered("LU_New\\EN\\labels.mdb.zsi", "LU\\EN\\labels.mdb.zsi"),
      Delivered("LU_New\\FR\\labels.mdb.zsi", "LU\\FR\\labels.mdb.zsi"),
      Delivered("LU_New\\news.txt.zip", "LU\\news.txt.zip")}},
    // The rules of the data lines: a source of another name and folder, a
    // packed extension of its own, existence tests that skip or keep, and a
    // copy found anywhere below the target for any member state.
    {"fresh LOCAL, data lines with rules", nullptr, {},
     "+Components=<MS>\\docs\\guide.pdf=|Source=manuals\\handbook.pdf; "
     "+Components=<MS>\\forms.dat=|Extension=.dat|Multi=on; "
     "+Components=<MS>\\skipped.pdf=|IfExists=handbook.pdf|Then=$SKIP$; "
     "+Components=<MS>\\kept.pdf=|IfNotExists=handbook.pdf|Then=$SKIP$; "
     "+Components=<MS>\\elsed.pdf=|IfNotExists=handbook.pdf|Else=$SKIP$; " "+Components=<MS>\\handbook.pdf=Any|MS=Any; "
     "file=manuals\\handbook.pdf; file=LU\\forms.dat.dat; file=LU\\kept.pdf", "", {SUCCESS}, 0,
     {"\t\tCopied '<dist>\\manuals\\handbook.pdf' to 'LU_New\\docs\\handbook.pdf'",
      "\t\tCopied '<dist>\\lu\\forms.dat.dat' to 'LU_New\\forms.dat.dat'",
      "\t[Non] Existence condition on '<target>\\LU_New\\docs\\handbook.pdf' met. THEN skip rule '<MS>\\skipped.pdf'",
      "\t\tCopied '<dist>\\lu\\kept.pdf' to 'LU_New\\kept.pdf'",
      "\t[Non] Existence condition on '<target>\\LU_New\\docs\\handbook.pdf' *NOT* met. ELSE skip rule "
      "'<MS>\\elsed.pdf'", "\t\tCopied '<target>\\LU_New\\docs\\handbook.pdf' to 'LU_New\\handbook.pdf'"},
     Choose("EN"), {},
     {Delivered("LU_New\\docs\\handbook.pdf", "manuals\\handbook.pdf"), Absent("manuals\\handbook.pdf"),
      Delivered("LU_New\\forms.dat.dat", "LU\\forms.dat.dat"), Absent("LU_New\\skipped.pdf"),
      Delivered("LU_New\\kept.pdf", "LU\\kept.pdf"), Absent("LU_New\\elsed.pdf"),
      Delivered("LU_New\\handbook.pdf", "manuals\\handbook.pdf")}},
    {"fresh WEB from an https server, two languages", nullptr, System().Web().Https().Planted(), "", "", {SUCCESS}, 0,
     {"\t--- Install components MS='LU' LANG='FR' SECTION='3'."}, Choose("EN", "FR"), {},
     {Delivered("LU_New\\ms.mdb.zsi", "LU\\ms.mdb.zsi"), Delivered("LU_New\\FR\\labels.mdb.zsi", "LU\\FR\\labels.mdb.zsi")}},
    // Only the proxy reaches the server.
    {"WEB through the proxy of the Internet settings", nullptr, System().Web().Proxy(), "", "", {SUCCESS}, 0, {},
     Choose("EN"), {}, {Delivered("LU_New\\ms.mdb.zsi", "LU\\ms.mdb.zsi"), Absent("LU_New\\FR\\labels.mdb.zsi")}},
    {"upgrade reuses the up-to-date database", &STATE_QRT_PACKAGE, {}, "", "", {BACKUP_YES, SUCCESS}, 0,
     {"W\tPrevious MSI registration found and directory <folder> exists.", "\tTarget directory <folder> *not* changed",
      "\t\tCopied '<folder>\\LU\\ms.mdb' to 'LU_New\\ms.mdb'",
      "\t\tCopied '<dist>\\lu\\en\\labels.mdb.zsi' to 'LU_New\\EN\\labels.mdb.zsi'"}, Choose("EN"),
     {Value("InstallPath", "<folder>\\"), Property("AUTOUPGRADE", "true"), Property("LNS", "1"), KeyPaths("<folder>")},
     {Earlier("LU_New\\ms.mdb", "LU\\ms.mdb"), Absent("LU_New\\ms.mdb.zsi"),
      Delivered("LU_New\\EN\\labels.mdb.zsi", "LU\\EN\\labels.mdb.zsi"), Earlier("LU\\PSI\\data.mdb")}},
    {"upgrade that moves the product", &STATE_QRT_PACKAGE, {}, "package=6.2.0-moved", "", {BACKUP_YES, MOVED, SUCCESS},
     0, {"W\tTarget directory *has* changed from <folder> to <moved>", "\tOK. Deleted <folder>"}, Choose("EN"),
     {Value("InstallPath", "<moved>\\"), NoFile("<folder>"), Removed("<moved>"), NoValue("InstallPath"),
      NoValue("ProductCode")},
     {Earlier("LU\\PSI\\data.mdb"), Earlier("LU\\setup\\Zaph.ini"), Earlier("LU\\EN\\labels.mdb"),
      Earlier("Bin\\dzip32.dll")}},
    // The folder the package leaves behind holds a database of another
    // installation, newer than the one in use: the one in use still wins.
    {"upgrade that moves the product over a leftover", &STATE_QRT_PACKAGE, System().Leftover("LU\\EN\\labels.mdb"),
     "package=6.2.0-moved", "", {BACKUP_YES, MOVED, SUCCESS}, 0,
     {"\t'<moved>\\LU\\EN\\labels.mdb' replaced by '<folder>\\LU\\EN\\labels.mdb'.", "\tOK. Deleted <folder>"},
     Choose("EN"), {Value("InstallPath", "<moved>\\"), NoFile("<folder>"), KeyPaths("<moved>")},
     {Earlier("LU\\EN\\labels.mdb")}},
    // Another spelling of the same folder is no move.
    {"upgrade over InstallPath spelled with a doubled backslash", &STATE_QRT_PACKAGE, System().SpelledDouble(), "", "",
     {BACKUP_YES, SUCCESS}, 0, {"\tTarget directory <folder> *not* changed"}, Choose("EN"),
     {Value("InstallPath", "<folder>\\"), KeyPaths("<folder>")},
     {Earlier("LU\\PSI\\data.mdb"), Earlier("LU\\EN\\labels.mdb")}},
    {"update mode into the given folder", &STATE_QRT_PACKAGE, {}, "@MadeBackup-", "/u /t <folder>", {SUCCESS}, 0,
     {"\tCommand line info about ZAPH is '<folder>'", "\tInstalled version is lower. We will *not* skip SYS_LN step."},
     {}, {Value("InstallPath", "<folder>\\"), Property("AUTOUPGRADE", "true"), KeyPaths("<folder>")},
     {Delivered("LU_New\\EN\\labels.mdb.zsi", "LU\\EN\\labels.mdb.zsi")}},
    {"update mode skips the package it has", &STATE_QRT_PACKAGE, {}, "@MadeBackup-; package=6.1.0; SYSLNVersion=6.1.0",
     "/u /t <folder>", {SUCCESS}, 0, {"\tInstalled version is higher/equal. We will skip SYS_LN step!"}, {},
     {Value("InstallPath", "<folder>\\"), KeyPaths("<folder>")}},
    {"client", nullptr, {}, "package=6.2.0-client", "", {SUCCESS}, 0, {"\tClient installation requested. Finito!."},
     Choose("EN"), {}, {Absent("LU_New\\ms.mdb.zsi"), Absent("LU_New\\setup\\Zaph.ini")}},
    {".NET edition on a bare machine, then the restart's command", nullptr, System().RerunIsRestart().Planted(),
     DOTNET_RELEASE, "", {DOTNET_ASK, SUCCESS_RESTART}, 0,
     {"\tInstallation of ZAPH.NET", "\tInstallPreconditions (MDAC) wants a reboot.", "\tCASPOL on '<target>\\Zaph.exe'."},
     Choose("EN"), {RunOnce(), Property("DOTNET", "true")},
     {Delivered("LU_New\\ms.mdb.zip"), Delivered("LU_New\\EN\\labels.mdb.zip")}, {BACKUP_YES, SUCCESS}},
    // Settings named by their full path: the run after the restart, started
    // in another folder, takes its files from where the first run did.
    {".NET edition with its settings named by /i, then the restart's command", nullptr, System().RerunIsRestart(),
     DOTNET_RELEASE, "/i <dist>\\Zaph.ini", {DOTNET_ASK, SUCCESS_RESTART}, 0,
     {"\tINIFILE='<dist>\\Zaph.ini'", "\t'LOCAL' Installation", "\tInstallPreconditions (MDAC) wants a reboot."},
     Choose("EN"), {RunOnce()}, {Delivered("LU_New\\ms.mdb.zip")}, {BACKUP_YES, SUCCESS}},
    // Every outside program (the prerequisites, the engine, the policy tool)
    // is started by its own path, never by the first word of it.
    {".NET edition from a folder with a blank in its path", nullptr, System().Blank(),
     DOTNET_RELEASE "; " ENGINE "instmsiw.exe", "", {DOTNET_ASK, SUCCESS_RESTART}, 0,
     {Ran("dotnetfx.exe", 0), Ran("dotnetsp11.exe", 0), Ran("mdac_typ.exe", 0),
      "\tExecuting '<dist>\\setup\\instmsiw.exe'", "\tCASPOL on '<target>\\Zaph.exe'."},
     Choose("EN"), {RunOnce()}, {Delivered("LU_New\\ms.mdb.zip")}},
    {"damaged archive, then the good one", nullptr, System().Damaged("LU\\ms.mdb.zsi"), "", "", {DATA_FAILED}, 23,
     {"\t--- Install components MS='LU' LANG='EN' SECTION='1'."}, Choose("EN"), {}, {NO_COMPLETION},
     {BACKUP_YES, SUCCESS}},
    // Multi-MS over the installed package: no package to install, so the
    // first download is the program's own.
    {"WEB from an https server whose certificate no one trusts", &STATE_QRT_PACKAGE, System().Web().Https(false),
     "@MadeBackup-; @FailFile=Cannot obtain %hs.", "/m", {Error("Cannot obtain Login.exe.zip."), DATA_FAILED}, 2,
     {"E\tThe server's certificate is not accepted (problem 12045): the download is refused."}, {}, {},
     {NO_COMPLETION}},
    {"cancelled download, then a full run", nullptr, System().Web().Stalls("LU/ms.mdb.zsi"), "Threading=On", "",
     {STOP_YES}, 1223, {"\tCancel requested by the user.", "\tCancelled by the user."}, Choose("EN"), {},
     {NO_COMPLETION}, {BACKUP_YES, SUCCESS}},
    // Under Wine the installer runs inside the killed process and nothing rolls
    // back: the earlier package is gone, so the run again installs anew; the
    // earlier data stays where it was.
    {"killed in the product package, then run again", &STATE_QRT_PACKAGE, System().KilledInPackage(), "", "",
     {BACKUP_YES}, KILLED, {"\tAssimilation imminent; 7 of 9"}, Choose("EN"), {}, {NO_COMPLETION}, {SUCCESS}},
    {"killed while a data file is copied, then run again", &STATE_QRT_PACKAGE,
     System().Big("LU\\EN\\labels.mdb.zsi").KilledInData(), "", "", {BACKUP_YES}, KILLED,
     {"\t\tCopied '<folder>\\LU\\ms.mdb' to 'LU_New\\ms.mdb'"}, Choose("EN"), {},
     {NO_COMPLETION, Absent("LU_New\\EN\\labels.mdb.zsi")}, {BACKUP_YES, SUCCESS}},
    {"a second start during a download", nullptr, System().Web().Stalls("LU/ms.mdb.zsi").SecondStart(), "Threading=On",
     "", {SUCCESS}, 0, {}, Choose("EN"), {}, {Delivered("LU_New\\ms.mdb.zsi", "LU\\ms.mdb.zsi")}},
    {"completion record cannot be written, then can", nullptr, System().Locked("LU_New\\FW_Complete.lol"), "", "",
     {DATA_FAILED}, 266,
     {"E\tCould not write the completion record 'FW_Complete.lol' below '<target>\\LU_New' [32]."}, Choose("EN"), {},
     {}, {BACKUP_YES, SUCCESS}},
    {"disk full during the data, then room again", nullptr, System().DiskFull().Big("LU\\EN\\labels.mdb.zsi"),
     "DefaultTargetDir=S:\\ZAPH", "", {DATA_FAILED}, 266, {}, Choose("EN"), {},
     {NO_COMPLETION, Absent("LU_New\\EN\\labels.mdb.zsi")}, {BACKUP_YES, SUCCESS}},
    // What a WEB run downloads is checked before it is installed or run, on a
    // copy of its own that no unelevated program can change.
    {"WEB package with one byte changed is refused", nullptr, System().Web(),
     "tampered=setup\\Sys_EN.msi; @FailFile=Cannot obtain %hs.", "",
     {Error("Cannot obtain setup\\sys_en.msi."), AT_PACKAGE_ERROR}, 577, {}, Choose("EN"), {}, {NO_COMPLETION}},
    {"WEB package checked, then installed", nullptr, System().Web(), "", "", {SUCCESS}, 0,
     {"\t'setup\\sys_en.msi' matches its SHA-256 digest.", "\t**> Installation returned '0' '<>'."}, Choose("EN"),
     {KeyPaths("<target>")}, {Delivered("LU_New\\ms.mdb.zsi", "LU\\ms.mdb.zsi")}},
    {".NET edition from the loopback server runs each installer from a protected folder", nullptr, System().Web(),
     DOTNET_RELEASE "; SPV11InstallerAvailable=yes", "", {DOTNET_ASK, SUCCESS_RESTART}, 0,
     {"\t'setup\\dotnetfx.exe' matches its SHA-256 digest.", "\t'setup\\mdac_typ.exe' matches its SHA-256 digest.",
      "\tInstallPreconditions (MDAC) wants a reboot."},
     Choose("EN"), {RunOnce(), RanProtected()}, {Delivered("LU_New\\ms.mdb.zip")}},
    // Unattended runs, as a software-distribution system starts them: no
    // window (quiet) or only the progress (passive), no box, nothing waits;
    // each box's text is in the log instead.
    {"quiet: fresh LOCAL with two languages from the command line", nullptr, {}, "", "/q /s FR,EN", {}, 0,
     {"\tQUIET", "\tLanguage selection not shown (quiet): the languages of the command line.",
      "\tMSI user interface level 2.", "\t--- Install components MS='LU' LANG='FR' SECTION='3'.",
      "\tBox not shown (quiet): ZAPH has been installed successfully."},
     {}, {Property("LNS", "2"), Property("REBOOT", "ReallySuppress"), KeyPaths("<target>")},
     {Delivered("LU_New\\EN\\labels.mdb.zsi", "LU\\EN\\labels.mdb.zsi"),
      Delivered("LU_New\\FR\\labels.mdb.zsi", "LU\\FR\\labels.mdb.zsi")}},
    {"quiet: upgrade keeps the earlier installation's languages", &STATE_QRT_PACKAGE_FR, {}, "", "/q", {}, 0,
     {"\tBox not shown (quiet): Have you made a backup of your data? => 'yes'",
      "\tLanguage selection not shown (quiet): the languages of the earlier installation.",
      "\tBox not shown (quiet): ZAPH has been installed successfully."},
     {}, {Value("InstallPath", "<folder>\\"), Property("LNS", "2"), Property("AUTOUPGRADE", "true"), KeyPaths("<folder>")},
     {Delivered("LU_New\\FR\\labels.mdb.zsi", "LU\\FR\\labels.mdb.zsi")}},
    {"passive: fresh WEB", nullptr, System().Web(), "", "/b", {}, 0,
     {"\tLanguage selection not shown (passive): the languages of the run.", "\tMSI user interface level 67.",
      "\tBox not shown (passive): ZAPH has been installed successfully."},
     {}, {Property("LNS", "1")},
     {Delivered("LU_New\\EN\\labels.mdb.zsi", "LU\\EN\\labels.mdb.zsi"), Absent("LU_New\\FR\\labels.mdb.zsi")}},
    {"quiet: damaged archive", nullptr, System().Damaged("LU\\ms.mdb.zsi"), "", "/q", {}, 23,
     {"\t--- Install components MS='LU' LANG='EN' SECTION='1'.", "E\tBox not shown (quiet): An error occurred:"},
     {}, {}, {NO_COMPLETION}},
    // The restart is left to whoever started the run; the command it
    // registers keeps /q and /s, and that run completes quietly.
    {"quiet: .NET edition on a bare machine, 3010, then the restart's command", nullptr,
     System().RerunIsRestart().RunsAgain(), DOTNET_RELEASE, "/q /s EN", {}, 3010,
     {"\tBox not shown (quiet): Install the missing system components?", Ran("dotnetfx.exe", 0),
      Ran("dotnetsp11.exe", 0), Ran("mdac_typ.exe", 0), "\tInstallPreconditions (MDAC) wants a reboot.",
      "\tBox not shown (quiet): ZAPH has been installed successfully.",
      "\tRestart needed: the quiet run ends with 3010 and leaves the restart to whoever started it."},
     {}, {RunOnce(), Property("DOTNET", "true"), Property("REBOOT", "ReallySuppress")},
     {Delivered("LU_New\\ms.mdb.zip")}},
    {"quiet: client asked for with a package property", nullptr, {}, "package=6.2.0-client",
     "/q /p SETUPTYPE=Client /p COMPANYNAME=Ombrant", {}, 0,
     {"\tSetting SETUPTYPE=Client.", "\tSetting COMPANYNAME from the command line.",
      "\tClient installation requested. Finito!."},
     {}, {Property("SETUPTYPE", "Client"), Property("COMPANYNAME", "Ombrant")}, {Absent("LU_New\\ms.mdb.zsi")}},
    // As a distribution system runs it: by its full path from another
    // folder, quiet; the code and the log are all it reads.
    {"quiet: started by a distribution system", nullptr, System().StartedElsewhere(), "", "/q", {}, 0,
     {"\tWorking in '<dist>', where the program and its settings file are.", "\t'LOCAL' Installation",
      "\tBox not shown (quiet): ZAPH has been installed successfully."}},
    // Downloads that break off, meet a busy server or a missing file, or a
    // killed run: each file whole and checked, no byte of it fetched twice
    // where the server offers ranges.
    {"WEB from a server that drops every file once, then serves ranges", nullptr, System().Web().DropsOnce(), "", "",
     {SUCCESS}, 0, {}, Choose("EN"), {},
     {Delivered("LU_New\\ms.mdb.zsi", "LU\\ms.mdb.zsi"), Delivered("LU_New\\EN\\labels.mdb.zsi", "LU\\EN\\labels.mdb.zsi")}},
    {"WEB from a server that drops every file once and ignores ranges", nullptr, System().Web().DropsOnce(false), "",
     "", {SUCCESS}, 0, {}, Choose("EN"), {}, {Delivered("LU_New\\ms.mdb.zsi", "LU\\ms.mdb.zsi")}},
    {"WEB from a server busy twice", nullptr, System().Web().Busy("LU/ms.mdb.zsi"), "", "", {SUCCESS}, 0, {},
     Choose("EN"), {}, {Delivered("LU_New\\ms.mdb.zsi", "LU\\ms.mdb.zsi")}},
    {"WEB with an archive the server does not have", nullptr, System().Web().Missing("LU/ms.mdb.zsi"),
     "@FailFile=Cannot obtain %hs.", "", {Error("Cannot obtain LU\\ms.mdb.zsi."), Error("An error occurred:\nInstalling the data")},
     2, {}, Choose("EN"), {}, {Absent(COMPLETION)}},
    {"WEB killed during an archive's download, then run again", nullptr,
     System().Web().Big("LU\\ms.mdb.zsi").Stalls("LU/ms.mdb.zsi").KilledInDownload(), "", "", {}, KILLED, {},
     Choose("EN"), {}, {Absent(COMPLETION)}, {BACKUP_YES, SUCCESS}},

    // Layouts (RowRun::LayOut): the installation from the layout, offline,
    // is checked as the WEB installation of two languages is.
    {"layout from the WEB server, then LOCAL from it offline", nullptr, System().Web().LaysOut(), "", "", {SUCCESS}, 0,
     {"\t'LOCAL' Installation", "\t--- Install components MS='LU' LANG='FR' SECTION='3'."}, Choose("EN", "FR"), {},
     {Delivered("LU_New\\ms.mdb.zsi", "LU\\ms.mdb.zsi"), Delivered("LU_New\\EN\\labels.mdb.zsi", "LU\\EN\\labels.mdb.zsi"),
      Delivered("LU_New\\FR\\labels.mdb.zsi", "LU\\FR\\labels.mdb.zsi"), Delivered("LU_New\\news.txt.zip", "LU\\news.txt.zip")}},
    {"layout cancelled in the middle", nullptr, System().Web().LaysOut().Stalls("LU/EN/labels.mdb.zsi"), "Threading=On",
     "", {Question("Stop the setup?", IDYES)}, 1223,
     {"\tLayout: 'LU\\ms.mdb.zsi' obtained and verified.", "\tCancel requested by the user.",
      "\tLayout: 'LU\\EN\\labels.mdb.zsi' cancelled.", "\tCancelled by the user."}},
    {"layout of a file the server delivers damaged", nullptr, System().Web().LaysOut().Damaged("LU\\EN\\labels.mdb.zsi"),
     "@FailFile=Cannot obtain %hs.", "", {Error("Cannot obtain LU\\EN\\labels.mdb.zsi.")}, 23,
     {"\tLayout: 'Login.exe.zip' obtained and verified.", "E\tLayout: 'LU\\EN\\labels.mdb.zsi' failed [23], not kept."}},
};

// FW_SYSTEMS: only the rows whose Windows version is one of these words (the
// older systems, in a session on a 32-bit Windows).
std::vector<Row> Selected(const std::vector<Row>& rows, bool whole)
{
    const char* systems = getenv("FW_SYSTEMS");
    std::istringstream words(systems ? systems : "");
    std::set<std::string> wanted{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
    std::vector<Row> selected;
    for (const Row& row : rows)
        if (systems == nullptr || wanted.count(SystemOf(row, whole).windows) != 0)
            selected.push_back(row);
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
