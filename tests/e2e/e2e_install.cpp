// Runs of fernwick.exe, one row each: a machine state, a distribution folder,
// a Windows version and a command line, with the robot answering the boxes;
// then the boxes seen, the exit code, the log lines that show each decision
// and the machine afterwards. Every row is one Scenario; one driver runs both
// tables (one wine process for each).
//
// A row, in the order of its fields:
//
//   {"upgrade declines the backup",          // name
//    &fwtest::STATE_QRT_OLDER,               // earlier installation (null: none)
//    "",                                     // the system: a Windows version ("" the prefix's
//                                            //   Windows 7, "win98", "winxp", "vista", "nt40"),
//                                            //   then "sp4" (service pack), "hotfix" (Q246009),
//                                            //   "prereqs" (.NET 1.1 SP1 and MDAC 2.8 present),
//                                            //   "net11" (the same without the service pack),
//                                            //   "inuse" (the state's main program held open),
//                                            //   "hold=<file>" (that file of the state held open),
//                                            //   "exit=<installer>:<code>" (a stand-in's exit code),
//                                            //   "crash=<installer>", "net=v2.0.50727" or
//                                            //   "net=v1.1.4322+SP" (the Framework present),
//                                            //   "mdac=<FullInstallVer>", "restartby=<installer>"
//                                            //   (it registers a restart of its own); whole runs:
//                                            //   see WHOLE_ROWS
//    "@AfterBackup=Back up, then start again.",  // changes to the distribution
//                                            //   (Distribution::Apply: "Key=V; Key-; @Label=T;
//                                            //   langs=EN FR; standin=<relative path>;
//                                            //   package=<release folder>")
//    "",                                     // command line; <folder> is the state's folder,
//                                            //   <moved> where the moving release installs
//    {"Q:Have you made a backup of your data?>no",   // boxes in order: icon E/W/I/Q, ':', the
//     "W:Back up, then start again."},       //   exact text, then ">yes"/">no" for questions
//    1223,                                   // exit code
//    {"W\tZAPH.NET version should not ..."},  // log lines, in this order (<folder>, <dist>,
//                                            //   <target> replaced)
//    "",                                     // the language selection: "" none waited for, or
//                                            //   "EN+* FR- proceed": each choice checked (+) or
//                                            //   not (-), "*" when marked as installed, then
//                                            //   proceed, cancel-yes or cancel-no (then Proceed);
//                                            //   "EN FR": exactly these chosen, then Proceed
//    ""},                                    // after the run: "Value=data; Value-" of the
//                                            //   product key, "RunOnce" (the restart is registered;
//                                            //   "RunOnce:<text>": that text is registered),
//                                            //   "prop:NAME=value" (what the package received, from
//                                            //   the installer's log), "keypaths=<dir>" (msi.dll
//                                            //   reports the key files there), "nofile=<path>",
//                                            //   "staged=<dir>" (the run put new files there),
//                                            //   "removed=<dir>" (then the product is removed and
//                                            //   leaves none of its files there nor its values),
//                                            //   "obtained=<n>" (files copied from the distribution)
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
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CheckSum.h"
#include "Distribution.h"
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
                                      "IntendedPath", "ProductCode"};
// The run passes every check and reaches the product package, which these
// distributions do not hold: it ends there with 13 and the error box of the
// step in progress.
const int AT_PACKAGE = -1;
const char STEP_ERROR[] = "An error occurred:\nInstalling the system";
const char NO_PACKAGE[] = "E\t*local* MSI file doesn't exist '";
const char NOT_IN_THIS_BUILD[] = "is not available in this build";
const char ALLOW_PRE[] = "Install the missing system components?";
// In the boxes of an AT_PACKAGE row: where the package's error box comes
// when boxes of the shut-down follow it (else it is the last).
const char PACKAGE_BOX[] = "PACKAGE";
// The question on a machine without any of the .NET edition's prerequisites.
const std::string ALLOW_ALL = "Q:" + std::string(ALLOW_PRE) + "\n\n\n   Microsoft .NET Framework V1.1\n"
                              "   Microsoft .NET Framework V1.1 Service Pack 1\n"
                              "   Microsoft Data Access Components V2.8 (MDAC)\n\n>yes";
// Where the release's package installs when no earlier installation says otherwise.
const char PACKAGE_FOLDER[] = "C:\\Program Files\\ZAPH";
// A drive of a few megabytes where the machine allows one (scripts/small-drive.sh).
const std::string SMALL_DRIVE = "S:\\";
// The words of a whole run's system that the driver acts on itself.
const std::string RUN_WORDS = " web proxy https damaged stall planted restart second kill big full ";

// A QRT client whose server is not upgraded yet (no ms.xml, no zaph.exe).
const StateRow STATE_QRT_CLIENT = {"qrtclient", KIND_PRODUCT, "6.1", false, "Client", "EN", "", 0, true, false};
// An earlier installation with two languages of the distribution and one it lacks.
const StateRow STATE_QRT_OLDER_EN_DE = {"qrt61ende", KIND_PRODUCT, "6.1", false, "Server", "EN DE IT", "LU", 0,
                                        true, false};
const StateRow STATE_DOTNET_OLDER = {"net61", KIND_PRODUCT, "6.1", true, "Server", "EN", "LU", 0, true, false};

struct Row
{
    const char* name;
    const StateRow* machine;
    const char* system;
    const char* dist;
    const char* args;
    std::vector<std::string> boxes;
    int rc;
    std::vector<std::string> log;
    const char* selection;
    const char* after;
    // Whole runs: the target's files afterwards ("relative=<dist file>" equal
    // to a delivered file, "relative=<folder>\\<file>" equal to the earlier
    // installation's file as it was before the run, "relative=-" absent), and
    // the run again with the good release: its boxes and code (-1: none).
    std::vector<std::string> files = {};
    std::vector<std::string> rerunBoxes = {};
    int rerunRc = -1;
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

std::string InstalledFolder()
{
    std::string path = RegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY + 5, "InstallPath");
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

// The machine as a run could change it: the product's values, the restart
// entry and every file of the states' folders with a checksum of its bytes.
struct MachineSnapshot
{
    std::map<std::string, std::string> values;
    std::string files;
};

MachineSnapshot Snapshot(const std::string& root)
{
    MachineSnapshot snapshot;
    for (const char* name : PRODUCT_VALUES)
        snapshot.values[name] = RegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY + 5, name);
    snapshot.values["RunOnce"] = RegString(HKEY_LOCAL_MACHINE, RUN_ONCE_KEY_PATH, "Fernwick");
    std::string& text = snapshot.files;
    std::vector<std::string> folders = {root};
    while (!folders.empty())
    {
        std::string folder = folders.back();
        folders.pop_back();
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE)
            continue;
        do
        {
            std::string name = found.cFileName;
            // The run's logs go into the target's Log folder: that is wanted.
            if (name == "." || name == ".." || name == "Log")
                continue;
            std::string path = folder + "\\" + name, bytes;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                folders.push_back(path);
            else
                ReadBytes(path, bytes);
            text += path + " " + std::to_string(CheckSum::Update(0, bytes.data(), bytes.size())) + "\n";
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    return snapshot;
}

// The key files of the test package and their components.
const char* const KEY_FILES[][2] = {{"Login.exe", "{F7B1E49C-80A3-5D62-1E7B-0FA4C9D3E682}"},
                                    {"Bin\\VBC.dll", "{6A3D80F5-1E2C-97B4-0A6D-3F81B2C79E54}"},
                                    {"Bin\\dunzip32.dll", "{C9402B7E-F6A1-8D35-C8F0-B2E7D4913A06}"},
                                    {"Zaph.exe", "{B70E1C3A-29D5-6F84-1B0E-4CD7928F6A51}"}};

// Where msi.dll says the installed product's key files are ("" for one it
// does not know as installed).
std::vector<std::string> KeyPaths(const std::string& product)
{
    std::vector<std::string> paths;
    for (const auto& file : KEY_FILES)
    {
        char path[MAX_PATH] = "";
        DWORD size = sizeof(path);
        paths.push_back(MsiGetComponentPathA(product.c_str(), file[1], path, &size) == INSTALLSTATE_LOCAL ? path : "");
    }
    return paths;
}

// The key files lie in dir by msi.dll's records; with remove, the product is
// then removed and must leave neither its files there nor its values.
void CheckKeyPaths(const std::string& dir, bool remove)
{
    std::string product = RegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY + 5, "ProductCode");
    std::vector<std::string> paths = KeyPaths(product);
    for (size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(dir + "\\" + KEY_FILES[i][0], paths[i]);
    if (!remove)
        return;
    TestPackageSetup().RemoveAll();
    for (const std::string& path : KeyPaths(product))
        EXPECT_EQ("", path);
    for (const auto& file : KEY_FILES)
        EXPECT_TRUE(FileAbsent(dir + "\\" + file[0]));
    EXPECT_TRUE(RegValueAbsent(PRODUCT_KEY, "InstallPath"));
    EXPECT_TRUE(RegValueAbsent(PRODUCT_KEY, "ProductCode"));
}

// The installer's log of a run: MSI_<day>.log beside the program's own.
std::string InstallerLogPath()
{
    return Expand(DefaultLogPath(), "\\Fern_", "\\MSI_");
}

// What the package received, from the property list of the installer's log.
std::string Received(const std::string& installerLog, const std::string& name)
{
    std::string marker = "Property(S): " + name + " = ";
    size_t at = installerLog.rfind(marker);
    if (at == std::string::npos)
        return "(not in the installer's log)";
    at += marker.size();
    return installerLog.substr(at, installerLog.find_first_of("\r\n", at) - at);
}

// The after field's checks (its places filled in); returns the product
// values it names.
std::set<std::string> CheckNamed(const std::string& after, const Scenario& s, const std::string& args,
                                 const StandIns& standIns)
{
    std::set<std::string> named;
    std::string installerLog;
    ReadBytes(InstallerLogPath(), installerLog);
    for (const std::string& word : Words(after, ';'))
    {
        size_t eq = word.find('=');
        std::string key = word.substr(0, eq == std::string::npos ? word.size() - 1 : eq);
        std::string value = eq == std::string::npos ? "" : word.substr(eq + 1);
        if (word.compare(0, 7, "RunOnce") == 0)
        {
            key = "RunOnce";
            std::string command = "\"" + s.ExePath() + "\"" + (args.empty() ? "" : " " + args);
            EXPECT_EQ(word == key ? command : word.substr(8), standIns.RestartCommand());
        }
        else if (key.compare(0, 5, "prop:") == 0)
            EXPECT_EQ(value, Received(installerLog, key.substr(5))) << key;
        else if (key == "keypaths" || key == "removed")
            CheckKeyPaths(value, key == "removed");
        else if (key == "nofile")
            EXPECT_TRUE(FileAbsent(value));
        else if (key == "staged")
            EXPECT_TRUE(DirExists(value));
        else if (key == "obtained")
        {
            // The program, the labels of this release and the news; not the database.
            std::string prefix = "\t\tCopied '" + s.Dir() + "\\";
            int obtained = 0;
            LogView log = s.Log();
            for (const std::string& line : log.Lines())
                obtained += line.size() > prefix.size() && _strnicmp(line.c_str(), prefix.c_str(), prefix.size()) == 0;
            EXPECT_EQ(std::stoi(value), obtained);
        }
        else if (eq == std::string::npos)
            EXPECT_TRUE(RegValueAbsent(PRODUCT_KEY, key));
        else
            EXPECT_TRUE(RegValueIs(PRODUCT_KEY, key, value));
        named.insert(key);
    }
    return named;
}

// A file that another program holds open while the run needs it.
struct Held
{
    HANDLE file = INVALID_HANDLE_VALUE;
    void Release()
    {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    ~Held() { Release(); }
};

// The system of a row.
void SetSystem(Scenario& s, StandIns& standIns, const std::string& system, const std::string& folder, Held& held)
{
    for (const std::string& word : Words(system))
    {
        size_t eq = word.find('=');
        std::string key = word.substr(0, eq), value = eq == std::string::npos ? "" : word.substr(eq + 1);
        if (key.compare(0, 3, "win") == 0 || key == "vista" || key == "nt40")
            s.SetWindowsVersion(key);
        else if (key == "prereqs" || key == "net11")
        {
            standIns.SetFramework("v1.1.4322", key == "prereqs" ? 1 : 0, false);
            standIns.SetMdac("2.81.1117.0");
        }
        else if (key == "inuse" || key == "hold" || key == "locked")
        {
            // A file of the state, or one made below the target beforehand.
            std::string path = key == "locked" ? PACKAGE_FOLDER + std::string("\\") + value
                                               : folder + "\\" + (key == "inuse" ? "Login.exe" : value);
            if (key == "locked")
            {
                EXPECT_TRUE(s.WriteFile(path, ""));
            }
            held.file = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
            EXPECT_NE(INVALID_HANDLE_VALUE, held.file);
        }
        else if (key == "exit")
        {
            size_t colon = value.find(':');
            standIns.ExitWith(value.substr(0, colon), (DWORD)std::stoul(value.substr(colon + 1)));
        }
        else if (key == "net")
        {
            // "net=v2.0.50727", "net=v1.1.4322+SP" (with its service pack)
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

void ExpectBoxes(Scenario& s, const std::vector<std::string>& boxes, bool atPackage, const std::string& title,
                 const std::string& folder)
{
    bool packagePlaced = false;
    for (const std::string& box : boxes)
    {
        BoxExpectation& expect = s.ExpectBox().TitleEquals(title).Owned(true);
        if (box == PACKAGE_BOX)
        {
            expect.Icon(ICON_ERROR).TextEquals(STEP_ERROR);
            packagePlaced = true;
            continue;
        }
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
    // The end of this build: the error named by the step in progress (unless
    // the row lists it, followed by what comes after it).
    if (atPackage && !packagePlaced &&
        std::find(boxes.begin(), boxes.end(), std::string("E:") + STEP_ERROR) == boxes.end())
        s.ExpectBox().TitleEquals(title).Owned(true).Icon(ICON_ERROR).TextEquals(STEP_ERROR);
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

// The languages of the selection, in the order of their check boxes.
const char* const CODES[] = {"DA", "DE", "EL", "EN", "ES", "FI", "FR", "IT", "NL", "PT", "SV", "LU",
                             "EU", "CY", "CZ", "EE", "HU", "LV", "LT", "MT", "PL", "SI", "SK"};

// The language selection: the choices as expected, then the row's action;
// or exactly the languages given chosen, then Proceed.
void Select(Scenario& s, const std::string& title, const std::string& selection)
{
    ProgramWindow window = ProgressWindow(s, title);
    ASSERT_TRUE(window);
    ASSERT_TRUE(window.WaitForText(IDC_INFO_TEXT, "Choose the languages.", 30000));
    std::string action = "proceed";
    std::set<int> chosen;
    for (const std::string& word : Words(selection))
    {
        int index = -1;
        for (int i = 0; i < 23; ++i)
            if (word.compare(0, 2, CODES[i]) == 0 && (word.size() == 2 || word[2] == '+' || word[2] == '-'))
                index = i;
        if (index < 0)
            action = word;
        else if (word.size() == 2)
            chosen.insert(index);
        else
        {
            bool marked = word.find('*') != std::string::npos;
            EXPECT_EQ(word[2] == '+', window.IsChecked(IDC_LANGUAGE_FIRST + index)) << word << window.Describe();
            EXPECT_EQ("Language " + word.substr(0, 2) + (marked ? " *" : ""),
                      window.ControlText(IDC_LANGUAGE_FIRST + index));
        }
    }
    for (int i = 0, id = IDC_LANGUAGE_FIRST; i < 23 && !chosen.empty(); ++i, ++id)
        if (window.HasControl(id) && window.IsChecked(id) != (chosen.count(i) > 0))
        {
            EXPECT_TRUE(window.Click(id));
        }
    if (action == "cancel-no")
    {
        // The question answered and gone: its owner takes clicks again.
        size_t seen = s.Boxes().size();
        EXPECT_TRUE(window.Click(IDCANCEL));
        DWORD start = GetTickCount();
        while ((s.Boxes().size() == seen || !IsWindowEnabled(window.Handle())) && s.Running() &&
               GetTickCount() - start < 20000)
            Sleep(25);
    }
    if (action == "proceed" || action == "cancel-no")
    {
        EXPECT_TRUE(window.IsEnabled(IDC_PROCEED)) << window.Describe();
        EXPECT_TRUE(window.Click(IDC_PROCEED));
    }
    else if (action == "cancel-yes")
    {
        EXPECT_TRUE(window.Click(IDCANCEL));
    }
    else
    {
        ADD_FAILURE() << "unknown selection action '" << action << "'";
    }
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

// The version marker that delivered data carries, in 16-bit characters.
std::string Marker(const std::string& version)
{
    std::string marker, text = "OMBRANT_--V" + version + "--_OMBRANT";
    for (char c : text)
        marker += std::string(1, c) + '\0';
    return marker;
}

// A data file larger than the marker search's first window, ending in its marker.
std::string Data(const std::string& what, const std::string& version)
{
    std::string bytes;
    while (bytes.size() < 40000)
        bytes += what + " data, release " + version + ".\r\n";
    return bytes + Marker(version);
}

uint32_t Crc32(const std::string& bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes)
    {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// A zip archive with one stored member.
std::string StoredZip(const std::string& name, const std::string& bytes)
{
    auto le = [](uint32_t value, int width) {
        std::string out;
        for (int i = 0; i < width; ++i)
            out += (char)((value >> (8 * i)) & 0xFF);
        return out;
    };
    uint32_t crc = Crc32(bytes), size = (uint32_t)bytes.size(), nameSize = (uint32_t)name.size();
    std::string common = le(20, 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(0x21, 2) + le(crc, 4) + le(size, 4) +
                         le(size, 4) + le(nameSize, 2) + le(0, 2);
    std::string local = le(0x04034b50, 4) + common + name + bytes;
    std::string central = le(0x02014b50, 4) + le(20, 2) + common + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 4) +
                          le(0, 4) + name;
    return local + central + le(0x06054b50, 4) + le(0, 2) + le(0, 2) + le(1, 2) + le(1, 2) +
           le((uint32_t)central.size(), 4) + le((uint32_t)local.size(), 4) + le(0, 2);
}

std::string CheckSumText(const std::string& bytes)
{
    char text[16];
    sprintf(text, "%08lX", (unsigned long)CheckSum::Update(0, bytes.data(), bytes.size()));
    return text;
}

// The files of the release in the distribution folder, by relative name.
// The .NET edition's main program is Zaph.exe; its distribution holds the
// member state's data in <MS>_New, the databases packed as .zip.
std::string MainProgram(bool dotNet)
{
    return dotNet ? "Zaph.exe" : "Login.exe";
}

std::map<std::string, std::string> ReleaseFiles(bool dotNet)
{
    std::string main = MainProgram(dotNet), packed = dotNet ? ".zip" : ".zsi", ms = dotNet ? "LU_New\\" : "LU\\";
    std::map<std::string, std::string> files = {
        {main + ".zip", StoredZip(main, "ZAPH " + main + ", release " + RELEASE_VERSION)},
        {ms + "ms.mdb" + packed, StoredZip("ms.mdb", Data("ms", RELEASE_VERSION))},
        {ms + "news.txt.zip", StoredZip("news.txt", "What is new.\r\n")}};
    for (const std::string lang : {"EN", "FR"})
        files[ms + lang + "\\labels.mdb" + packed] = StoredZip("labels.mdb", Data("labels " + lang, RELEASE_VERSION));
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

std::string ShellFolder(const char* name)
{
    return RegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", name);
}

std::string DesktopShortcut()
{
    return ShellFolder("Common Desktop") + "\\GESTION BALVORA.lnk";
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

void CheckComplete(Scenario& s, const TestRelease& release)
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
    EXPECT_TRUE(FileExists(DesktopShortcut()));
    EXPECT_TRUE(RegKeyAbsent("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZAPH QVL"));
    if (!client)
    {
        std::string main = MainProgram(dotNet);
        EXPECT_EQ("ZAPH " + main + ", release " + RELEASE_VERSION, ReadAll(target + "\\" + main));
        EXPECT_TRUE(FileAbsent(target + "\\" + main + ".zip"));
    }
}

// The product values the row does not name and the states' files are as
// before the run; what the run staged is new.
void CheckUnchanged(const MachineSnapshot& before, const std::set<std::string>& named, const std::string& root,
                    const std::string& staged)
{
    MachineSnapshot now = Snapshot(root);
    for (const auto& value : before.values)
        if (named.count(value.first) == 0)
        {
            EXPECT_EQ(value.second, now.values[value.first]) << value.first << " changed";
        }
    std::string files;
    std::istringstream lines(now.files);
    for (std::string line; std::getline(lines, line);)
        if (staged.empty() || line.compare(0, staged.size(), staged) != 0)
            files += line + "\n";
    EXPECT_EQ(before.files, files) << "the run changed the states' files";
}

// The release's data files, a big one and a damaged one as the row says; the
// distribution then offers them with their checksums.
std::map<std::string, std::string> AddRelease(Distribution& dist, const std::string& changes,
                                              const std::string& system)
{
    if (Option(changes, "package", ';').empty())
        dist.Apply("package=6.2.0");
    bool dotNet = &PackageRelease(changes) == &RELEASE_620_DOTNET;
    dist.Line("Components", MainProgram(dotNet) + ".zip=V6.2.0.5");
    dist.Line("Components", "<MS>\\<Lang>\\labels.mdb=V6.2.0.0");
    std::map<std::string, std::string> files = ReleaseFiles(dotNet);
    std::string big = Option(system, "big");
    if (!big.empty())
    {
        std::string member = big.substr(big.rfind('\\') + 1);
        member.resize(member.size() - 4);
        files[big] = StoredZip(member, std::string(32 << 20, 'z') + Data(member, RELEASE_VERSION));
    }
    for (const auto& file : files)
    {
        dist.Line("CheckSums", file.first + "=" + CheckSumText(file.second));
        dist.File(file.first, file.first == Option(system, "damaged") ? file.second + "damaged" : file.second);
    }
    return files;
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
            EXPECT_TRUE(other.Log().HasLine("**** Fernwick START ****."));
            EXPECT_TRUE(other.Log().LacksLine("**** Fernwick END ****."));
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

void RunRow(const Row& row, bool whole)
{
    SCOPED_TRACE(row.name);
    std::string system = (whole ? "winxp " : "") + std::string(row.system);
    TestPackageSetup packages({PACKAGE_FOLDER, MovedFolder()});
    MachineState machine;
    std::string folder = row.machine ? machine.Apply(*row.machine) : "";
    if (whole && row.machine)
        AddEarlierData(folder);
    // Before any file is held open.
    MachineSnapshot before = Snapshot(machine.Root());
    Scenario s;
    StandIns standIns(s.Folder("machine"));
    Held held;
    SetSystem(s, standIns, system, folder, held);
    Distribution dist;
    std::map<std::string, std::string> files;
    if (whole)
    {
        dist.Apply(RELEASE_SETTINGS);
        dist.Apply(row.dist);
        files = AddRelease(dist, row.dist, system);
        // Where the .NET edition keeps the login program's language and member state.
        ASSERT_TRUE(s.GuardRegKey("HKCU\\Software\\Ombrant\\ZAPH.NET"));
        s.GuardPath(DesktopShortcut());
        s.GuardPath(ShellFolder("Common Programs") + "\\MORV OSKE");
    }
    else
        dist.Apply(row.dist);
    HttpTestServer server(s.Dir());
    TlsRelay relay;
    if (!Option(system, "web").empty())
    {
        ServeWeb(s, dist, server, relay, system);
        if (::testing::Test::HasFatalFailure())
            return;
    }
    ASSERT_TRUE(dist.WriteTo(s));
    std::string ballast = SMALL_DRIVE + "ballast";
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
    // The earlier installation's data, which no killed run may lose; and the
    // files that the row compares, as they were.
    std::string kill = Option(system, "kill");
    auto earlierData = [&] { return ReadAll(folder + "\\LU\\ms.mdb") + ReadAll(folder + "\\LU\\EN\\labels.mdb"); };
    std::string keptData = row.machine && !kill.empty() ? earlierData() : "";
    std::map<std::string, std::string> earlier;
    for (const std::string& expected : row.files)
        if (expected.find("=<folder>") != std::string::npos)
            earlier[expected] = ReadAll(Fill(expected.substr(expected.find('=') + 1), folder));

    std::string title = dist.Title();
    ExpectBoxes(s, row.boxes, row.rc == AT_PACKAGE, title, folder);
    DeleteFileA(InstallerLogPath().c_str());
    std::string args = Fill(row.args, folder);
    std::unique_ptr<Planted> planted;
    if (!Option(system, "planted").empty())
        planted.reset(new Planted(s, "fernwick.exe", false));
    ASSERT_TRUE(s.Start(args));
    if (row.selection[0] != 0)
        Select(s, title, row.selection);
    Interfere(s, server, system, title);
    EXPECT_EQ(row.rc == AT_PACKAGE ? 13 : row.rc, s.Wait(120000));
    held.Release();
    server.ReleaseStalls();
    if (!keptData.empty())
    {
        EXPECT_TRUE(keptData == earlierData()) << "the earlier installation's data changed";
    }

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
        lines.push_back("\t**> Main return code '" + std::to_string(row.rc == AT_PACKAGE ? 13 : row.rc) + "'.");
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
            EXPECT_TRUE(ReadAll(file) == (source.find("<folder>") == 0 ? earlier[expected] : files[source]))
                << file << " differs from " << source;
    }
    if (!Option(system, "proxy").empty())
    {
        EXPECT_LT(0, (int)server.Requests().size());
    }
    const TestRelease& release = PackageRelease(row.dist);
    if (whole && row.rc == 0)
        CheckComplete(s, release);
    if (planted)
    {
        EXPECT_EQ("", planted->Loaded());
    }
    std::string after = Fill(row.after, folder, target);
    std::set<std::string> named = CheckNamed(after, s, args, standIns);
    if (!whole)
        CheckUnchanged(before, named, machine.Root(), Option(after, "staged", ';'));

    if (row.rerunRc < 0)
        return;
    SCOPED_TRACE("run again with the good release");
    std::string stalled = Option(system, "stall");
    server.SetBehaviour(stalled.empty() ? "none" : stalled, HttpTestServer::SERVE_NORMAL);
    for (const auto& file : files)
        ASSERT_TRUE(s.WriteFile(file.first, file.second));
    bool restart = !Option(system, "restart").empty();
    if (restart)
    {
        std::string command = standIns.RestartCommand(), program = "\"" + s.ExePath() + "\"";
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
    ExpectBoxes(s, row.rerunBoxes, false, title, folder);
    ASSERT_TRUE(s.Start(args));
    if (row.selection[0] != 0)
        Select(s, title, row.selection);
    EXPECT_EQ(row.rerunRc, s.Wait(120000));
    if (row.rerunRc == 0)
        CheckComplete(s, release);
    if (restart)
    {
        EXPECT_TRUE(s.Log().HasLine("\tWorking in '" + s.Dir() + "', where the program and its settings file are."));
        EXPECT_EQ("", standIns.RestartCommand()) << "a restart registered again";
    }
    if (!keptData.empty())
    {
        EXPECT_TRUE(keptData == earlierData());
    }
    std::string big = Option(system, "big");
    if (!big.empty())
    {
        EXPECT_TRUE(ReadAll(InstalledFolder() + "\\LU_New" + big.substr(2)) == files[big]);
        EXPECT_TRUE(FileAbsent(InstalledFolder() + "\\LU_New" + big.substr(2) + ".fwpart"));
    }
}

// The prerequisites' question listing the components to install, answered.
std::string Ask(const std::string& components, const char* answer = "yes")
{
    return "Q:" + std::string(ALLOW_PRE) + "\n\n\n" + components + "\n>" + answer;
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
// A run that reaches the product package with a restart due: the package's
// error, then the restart is asked for.
const std::string AT_PACKAGE_ERROR = std::string("E:") + STEP_ERROR;
const char RESTART[] = "W:Please restart the computer.";
const char ABANDONED[] = "E:The installation was abandoned.";

// The log line of an installer that ran (from the distribution's setup
// folder) with the options it is given, and its exit code.
std::string Ran(const std::string& installer, long code)
{
    const char* options = installer == "dotnetsp11.exe" ? "/I /Q"
                          : installer == "mdac_typ.exe"  ? "/q /c:\"setup /QNT \""
                                                         : "/q:a /c:\"install /l /q \"";
    return "\tGood so far, '<dist>\\setup\\" + installer + " " + options + "' returned '" + std::to_string(code) +
           "'";
}

// The installers a LOCAL distribution offers.
#define PRE_V11 "DotNet=yes; standin=setup\\dotnetfx.exe; standin=setup\\dotnetsp11.exe; standin=setup\\mdac_typ.exe"
#define PRE_ALL PRE_V11 "; standin=setup\\dotnetfx_20.exe"
#define MDAC_28 "mdac=2.81.1117.0"
#define ENGINE "MSI_Version=999; CheckMSIVersion=$SKIP$; AskMSIUpgrade=no; "

const Row ROWS[] = {
    // Refusals before anything is installed.
    {"QRT package over the .NET edition's data", &STATE_DOTNET_SERVER, "", "", "",
     {"W:An error occurred:\n*** ZAPH.NET ***"}, 1223,
     {"\tDotNet=Yes", "W\tZAPH.NET version should not be upgraded to ZAPH.QRT!",
      "\tWe're checking for ZAPH.NET presence in '<folder>\\'!", "\tCancelled by the user."},
     "", ""},
    {".NET package for a client before its server", &STATE_QRT_CLIENT, "", "DotNet=yes", "",
     {"W:Please upgrade the server first."}, 1223,
     {"\tDotNet=No", "\tCancelled by the user."}, "", ""},
    {"installed data newer than the package", &STATE_QRT_NEWER, "", "", "",
     {"E:The installation was abandoned.\n***There is nothing to upgrade.***\n\n\t\tV6.2 vs. V6.3\n"}, 13,
     {"\tFound ZAPH in '<folder>'", "\tINIFILE '<folder>\\LU\\setup\\Zaph.ini' setting 'VERSION=V6.3' HIGHER than 'V6.2'"},
     "", ""},
    {"backup not made", &STATE_QRT_OLDER, "", "", "",
     {"Q:Have you made a backup of your data?>no", "W:Please make a backup first."}, 1223,
     {"\tRegistry info about ZAPH is '<folder>\\'", "\tCancelled by the user."}, "", ""},
    {"update mode with nothing to upgrade", &STATE_QRT_EQUAL, "", "", "/u",
     {"Q:Have you made a backup of your data?>yes", "W:There is nothing to upgrade."}, 232,
     {"\tAUTOUPGRADE", "\tINIFILE '<folder>\\LU\\setup\\Zaph.ini' setting 'VERSION=V6.2' SAME as 'V6.2'"},
     "", ""},

    // Runs that pass every check of this build.
    {"fresh machine", nullptr, "winxp", "", "", {}, AT_PACKAGE,
     {"\tDotNet registry information not detected. Don't know.",
      "\tNo information about previous ZAPH installation.", "\tDefault dir = C:\\Program Files\\ZAPH ",
      "\t=== Multi-MS: no version detected."},
     "", ""},
    {"QRT upgrade, backup made", &STATE_QRT_OLDER, "winxp", "", "",
     {"Q:Have you made a backup of your data?>yes"}, AT_PACKAGE,
     {"\tAdmin='yes', WINNT='yes'.", "\tDotNet=No", "\tFound ZAPH in '<folder>'",
      "\tINIFILE '<folder>\\LU\\setup\\Zaph.ini' setting 'VERSION=V6.1' LOWER than 'V6.2'",
      "\tFound language 'EN' in '<folder>\\LU\\*'", "\tDefault dir = C:\\Program Files\\ZAPH "},
     "", ""},
    {"no backup question without its label", &STATE_QRT_OLDER, "", "@MadeBackup-", "", {}, AT_PACKAGE,
     {"\tFound ZAPH in '<folder>'"}, "", ""},
    {"update mode with an older installation", &STATE_QRT_OLDER, "", "@MadeBackup-", "/u", {}, AT_PACKAGE,
     {"\tAUTOUPGRADE", "\tINIFILE '<folder>\\LU\\setup\\Zaph.ini' setting 'VERSION=V6.1' LOWER than 'V6.2'"},
     "", ""},
    {".NET package over the .NET edition", &STATE_DOTNET_OLDER, "prereqs", "DotNet=yes; @MadeBackup-", "", {}, AT_PACKAGE,
     {"\tDotNet=Yes", "\tINIFILE '<folder>\\LU\\setup\\Zaph.ini' setting 'VERSION=V16.1' LOWER than 'V16.2'"},
     "", ""},
    {"QRT package where the registry says .NET but no data", &STATE_DOTNET_SERVER, "",
     "MemberState=BE; @MadeBackup-; file=BE\\ms.mdb.zsi; file=BE\\news.txt.zip", "", {"I:ZAPH has been installed successfully."}, 0,
     {"W\tZAPH.NET version should not be upgraded to ZAPH.QRT!",
      "\tWe're checking for ZAPH.NET presence in '<folder>\\'!",
      "\tNo ZAPH.NET data of member state 'BE' there: going on without the engine and the product package.",
      "\t=== SkipMSI: Installation of MSI will be skipped!",
      "\tSkip of install SYS_LN due to lack of Admin privileges, Multi-MS mode or not necessary.",
      "\t--- Install components MS='BE' LANG='EN' SECTION='1'."},
     "", "DotNet=Yes; staged=<folder>\\BE_New"},
    {"Multi-MS without the target folder", nullptr, "", "@MadeBackup-", "/m /t C:\\nowhere\\zaph",
     {"W:There is no usable installation in C:\\nowhere\\zaph."}, AT_PACKAGE,
     {"\tMULTIMODE", "\t=== Multi-MS: no version detected.",
      "W\t=== Multi-MS: Directory 'C:\\nowhere\\zaph' doesn't exist. *not* skipping MSI step."},
     "", ""},
    {"Multi-MS over a folder without a package", &STATE_QRT_OLDER, "", "@MadeBackup-", "/m", {}, AT_PACKAGE,
     {"\t=== Multi-MS: Directory '<folder>' exists.", "\t=== Multi-MS: Find product code matching '-5A1E-4B7D-8C20-91F3C6A0D4E8}'",
      "W\t=== Multi-MS: Need to run MSI."},
     "", ""},
    {"member state and version only logged", nullptr, "prereqs", "MemberState=LUX; IniVersion-; DotNet=YES", "",
     {}, AT_PACKAGE,
     {"\tInstallation of ZAPH.NET", "W\tINIFILE setting 'MS' missing/incorrect!",
      "W\tINIFILE setting 'IniVersion' missing/incorrect!"},
     "", ""},
    {"Vista's default folder", nullptr, "vista", "", "", {}, AT_PACKAGE,
     {"\tDefault dir = C:\\users\\Public\\ZAPH "}, "", ""},
    // The .NET edition's systems and prerequisites.
    {".NET edition on Windows 98", nullptr, "win98 prereqs", "DotNet=yes", "", {}, AT_PACKAGE,
     {"\tAdmin='yes', WINNT='no'.", "\tThe minimally required Microsoft .NET Framework(s) is(are) up to date.",
      "\tMDAC is up-to-date enough", "\tUI Language is 'EN'."},
     "", ""},
    {".NET edition on NT 4.0 SP4", nullptr, "nt40 sp4 prereqs", "DotNet=yes", "",
     {"E:The system components cannot be installed on this system."}, 2,
     {"W\tNT 4.0 SP4 detected. Will revert to MSI V1.2"}, "", ""},
    {".NET edition on NT 4.0 SP6 without the hotfix", nullptr, "nt40 sp6 prereqs", "DotNet=yes", "",
     {"E:The system components cannot be installed on this system."}, 2,
     {"W\tNT 4.0 SP6 detected. Will use MSI V2.0"}, "", ""},
    {".NET edition on NT 4.0 SP6 with the hotfix", nullptr, "nt40 sp6 hotfix prereqs", "DotNet=yes", "", {}, AT_PACKAGE,
     {"W\tNT 4.0 SP6 detected. Will use MSI V2.0", "\tMDAC is up-to-date enough", "\tUI Language is 'EN'."},
     "", ""},
    {"QRT edition on NT 4.0 SP4 needs no prerequisites", nullptr, "nt40 sp4", "", "", {}, AT_PACKAGE,
     {"W\tNT 4.0 SP4 detected. Will revert to MSI V1.2", "\tUI Language is 'EN'."}, "", ""},
    {"a prerequisite fails", nullptr, "winxp exit=dotnetfx.exe:1603", "DotNet=yes; standin=setup\\dotnetfx.exe", "",
     {"Q:" + std::string(ALLOW_PRE) + "\n\n\n   Microsoft .NET Framework V1.1\n"
      "   Microsoft Data Access Components V2.8 (MDAC)\n\n>yes",
      "E:An error occurred:\nA system component could not be installed.",
      "E:A system component could not be installed.\n[Error opening installation log file. Verify that the "
      "specified log file location exists and is writable.]"},
     1603, {"W\tInstallPreconditions abandoned."}, "", ""},
    {"a prerequisite not for this platform", nullptr, "winxp net11 exit=dotnetsp11.exe:1633",
     "DotNet=yes; standin=setup\\dotnetsp11.exe", "",
     {"Q:" + std::string(ALLOW_PRE) + "\n\n\n   Microsoft .NET Framework V1.1 Service Pack 1\n\n>yes",
      "E:An error occurred:\nA system component could not be installed.",
      "E:The system components cannot be installed on this system."},
     1633, {"W\tMicrosoft .NET Framework v1.1.4322 installed *without* service pack."}, "", ""},
    {"the engine installer fails", nullptr, "exit=instmsiw.exe:1603",
     "MSI_Version=999; AskMSIUpgrade=no; CheckMSIVersion=$SKIP$; standin=setup\\instmsiw.exe", "",
     {"E:An error occurred:\nThe Windows Installer could not be upgraded.", "E:The installation was abandoned."},
     1603, {"\tWindows Installer upgrade is required. System Version = 405."}, "", ""},
    {"the engine bypassed", nullptr, "", "MSI_Version=$SKIP$", "", {"E:HARD Bypass of MSI installation!"}, AT_PACKAGE,
     {"\tUI Language is 'EN'."}, "", ""},
    {".NET edition on a bare machine", nullptr, "winxp",
     "DotNet=yes; langs=EN FR; standin=setup\\dotnetfx.exe; standin=setup\\dotnetsp11.exe; standin=setup\\mdac_typ.exe", "",
     {ALLOW_ALL, PACKAGE_BOX, "W:Please restart the computer."},
     AT_PACKAGE,
     {"\tInstalling Microsoft .NET Framework V1.1", "\tInstalling MDAC", "\tInstallPreconditions (MDAC) wants a reboot.",
      "\tLanguage 'EN' selected."},
     "EN+ FR+ proceed", "RunOnce"},
    {"update mode ends for the engine's restart", nullptr, "exit=instmsiw.exe:3010",
     "MSI_Version=999; AskMSIUpgrade=no; CheckMSIVersion=$SKIP$; standin=setup\\instmsiw.exe", "/u",
     {"W:Please restart the computer."}, 3010, {"\tDoInstallMSI wants a reboot."}, "", "RunOnce"},

    // What is missing decides what is installed, from what the distribution offers.
    {"prerequisites: none present, 2.0 and MDAC, restart", nullptr, "", PRE_ALL, "/l EN",
     {Ask(std::string(N20) + MDAC), AT_PACKAGE_ERROR, RESTART}, AT_PACKAGE, {Ran("dotnetfx_20.exe", 0), Ran("mdac_typ.exe", 0)},
     "", "RunOnce"},
    {"prerequisites: only 1.1 offered, its pack slipstreamed", nullptr, MDAC_28, PRE_V11, "",
     {Ask(std::string(N11) + SP11)}, AT_PACKAGE, {Ran("dotnetfx.exe", 0), Ran("dotnetsp11.exe", 0)}, "", ""},
    {"prerequisites: 1.1 without its pack", nullptr, MDAC_28, "DotNet=yes; standin=setup\\dotnetfx.exe", "",
     {Ask(N11), "W:Please install the service pack of the .NET Framework 1.1."}, AT_PACKAGE,
     {Ran("dotnetfx.exe", 0)}, "", ""},
    {"prerequisites: 1.1 present, the pack only", nullptr, "net11", PRE_ALL, "", {Ask(SP11)}, AT_PACKAGE,
     {Ran("dotnetsp11.exe", 0)}, "", ""},
    {"prerequisites: 2.0 present, old MDAC", nullptr, "net=v2.0.50727 mdac=2.50.4403.12", PRE_ALL, "",
     {Ask(MDAC), AT_PACKAGE_ERROR, RESTART}, AT_PACKAGE, {Ran("mdac_typ.exe", 0)}, "", "RunOnce"},
    {"prerequisites: MDAC 2.7 is enough", nullptr, "net=v2.0.50727 mdac=2.71.9030.0", PRE_ALL, "", {}, AT_PACKAGE,
     {"\tMDAC is up-to-date enough", "\tNo Windows Installer upgrade is necessary. We need 200 and we have 405"}, "",
     ""},
    {"prerequisites: restart skipped by the settings", nullptr, "net=v2.0.50727 mdac=2.50.4403.12",
     PRE_ALL "; Reboot=$SKIP$", "", {Ask(MDAC), AT_PACKAGE_ERROR, RESTART}, AT_PACKAGE, {Ran("mdac_typ.exe", 0)}, "", ""},
    {"prerequisites: Windows 98 takes 2.0", nullptr, "win98 " MDAC_28, PRE_ALL, "", {Ask(N20)}, AT_PACKAGE,
     {Ran("dotnetfx_20.exe", 0)}, "", ""},
    {"prerequisites: NT 4.0 takes 1.1", nullptr, "nt40 sp6 hotfix " MDAC_28, PRE_ALL, "", {Ask(std::string(N11) + SP11)},
     AT_PACKAGE, {Ran("dotnetfx.exe", 0), Ran("dotnetsp11.exe", 0)}, "", ""},
    {"prerequisites: XP SP1 takes 1.1", nullptr, "winxp sp1 " MDAC_28, PRE_ALL, "", {Ask(std::string(N11) + SP11)},
     AT_PACKAGE, {Ran("dotnetfx.exe", 0), Ran("dotnetsp11.exe", 0)}, "", ""},
    {"prerequisites: XP SP3 takes 2.0", nullptr, "winxp sp3 " MDAC_28, PRE_ALL, "", {Ask(N20)}, AT_PACKAGE,
     {Ran("dotnetfx_20.exe", 0)}, "", ""},
    {"prerequisites: declined", nullptr, "", PRE_ALL, "", {Ask(std::string(N20) + MDAC, "no"), PreFailed("Aborted by user")},
     995, {}, "", ""},
    {"prerequisites: no installer offered", nullptr, MDAC_28, "DotNet=yes", "",
     {PreFailed(".NET Framework V1.1 installer is missing")}, 2,
     {"E\tNo Microsoft .NET Framework detected but no installer available."}, "", ""},
    {"prerequisites: an installer cancelled", nullptr, "exit=dotnetfx_20.exe:1602", PRE_ALL, "",
     {Ask(std::string(N20) + MDAC), PreFailed("User cancelled the instmsi upgrade.")}, 1602,
     {"W\tInstallPreconditions abandoned."}, "", ""},
    {"prerequisites: an installer crashes", nullptr, "crash=dotnetfx_20.exe " MDAC_28, PRE_ALL, "", {Ask(N20), FAIL_PRE,
     PreFailed("Unexpected failure")}, (int)0xC0000005, {}, "", ""},
    {"prerequisites: MDAC fails after a restart request", nullptr, "exit=dotnetfx_20.exe:3010 exit=mdac_typ.exe:1603",
     PRE_ALL, "",
     {Ask(std::string(N20) + MDAC), FAIL_PRE, PreFailed("Error opening installation log file. Verify that the specified "
                                                         "log file location exists and is writable.")},
     1603, {Ran("dotnetfx_20.exe", 3010)}, "", "RunOnce"},
    {"prerequisites: an installer's own restart is kept", nullptr,
     "exit=dotnetfx.exe:3010 exit=dotnetsp11.exe:1641 restartby=dotnetsp11.exe " MDAC_28, PRE_V11, "",
     {Ask(std::string(N11) + SP11), AT_PACKAGE_ERROR, RESTART}, AT_PACKAGE, {Ran("dotnetfx.exe", 3010), Ran("dotnetsp11.exe", 1641)}, "",
     "RunOnce:written by dotnetsp11.exe"},
    // The Windows Installer engine.
    {"engine: MSI_Version below 110", nullptr, "", "MSI_Version=100", "",
     {"E:The setting 'MSI_Version' of the settings file is missing or invalid.", ABANDONED}, 13, {}, "", ""},
    {"engine: restart asked", nullptr, "exit=instmsiw.exe:3010",
     "MSI_Version=999; CheckMSIVersion=$skip$; standin=setup\\instmsiw.exe", "", {"Q:Upgrade the Windows Installer?>yes",
     AT_PACKAGE_ERROR, RESTART}, AT_PACKAGE, {"\tExecuting '<dist>\\setup\\instmsiw.exe'", "\tDoInstallMSI wants a reboot."}, "", "RunOnce"},
    {"engine: upgrade declined", nullptr, "", "MSI_Version=999; standin=setup\\instmsiw.exe", "",
     {"Q:Upgrade the Windows Installer?>no", ABANDONED}, 995, {}, "", ""},
    {"engine: installer without a version", nullptr, "", "MSI_Version=999; AskMSIUpgrade=no; standin=setup\\instmsiw.exe",
     "", {"E:An error occurred:\nThe Windows Installer could not be upgraded.", ABANDONED}, 2,
     {"W\tCan't obtain version information '<dist>\\setup\\instmsiw.exe'."}, "", ""},
    {"engine: installer cancelled", nullptr, "exit=instmsiw.exe:1602", ENGINE "standin=setup\\instmsiw.exe", "", {ABANDONED},
     1602, {}, "", ""},
    {"engine: Windows 98 takes MSI_9X", nullptr, "win98", ENGINE "standin=setup\\instmsia.exe", "", {}, AT_PACKAGE,
     {"\t'setup\\instmsia.exe' obtained as '<dist>\\setup\\instmsia.exe'", "\tExecuting '<dist>\\setup\\instmsia.exe'"},
     "", ""},
    {"engine: NT 4.0 SP5 reverts to 1.2", nullptr, "nt40 sp5", ENGINE "standin=setup\\instmsiw12.exe", "", {}, AT_PACKAGE,
     {"W\tNT 4.0 SP5 detected. Will revert to MSI V1.2 (setup\\instmsiw12.exe)",
      "\tDelayed reboot mode of InstMSI is *NOT* supported."},
     "", ""},

    // The language selection and the check of the installation.
    {"QRT upgrade keeps its languages", &STATE_QRT_OLDER_EN_DE, "", "@MadeBackup-; langs=EN FR DE", "", {}, AT_PACKAGE,
     {"\tFound language 'EN' in '<folder>\\LU\\*'", "\tIGNORED found language 'IT' in '<folder>\\LU\\*' (not available)",
      "\tLanguage 'DE' selected.", "\tLanguage 'EN' selected.", "\tVerifyInstallation deemed OK."},
     "EN+* FR- DE+* proceed", ""},
    {".NET upgrade keeps its languages", &STATE_DOTNET_OLDER, "prereqs", "DotNet=yes; @MadeBackup-; langs=EN FR", "",
     {}, AT_PACKAGE, {"\tLanguage 'EN' selected.", "\tVerifyInstallation deemed OK."}, "EN+* FR- proceed", ""},
    {"cancel at the language selection", nullptr, "", "langs=EN FR", "", {"Q:Stop the setup?>yes"}, 1223,
     {"\tCancelled by the user."}, "EN+ FR+ cancel-yes", ""},
    {"cancel at the language selection withdrawn", nullptr, "", "langs=EN FR", "", {"Q:Stop the setup?>no"},
     AT_PACKAGE, {"\tLanguage 'EN' selected.", "\tLanguage 'FR' selected.", "\tUI Language is 'EN'."},
     "EN+ FR+ cancel-no", ""},
    {"cancel without its question's label goes on", nullptr, "", "langs=EN FR; @ConfirmCancel-", "",
     {"W:?!Missing Confirm message.\nPlease contact your supplier."}, AT_PACKAGE,
     {"\tConfirm <no message text available>", "\tLanguage 'EN' selected."}, "EN+ FR+ cancel-no", ""},
    {"product in use", &STATE_QRT_OLDER, "inuse", "@MadeBackup-", "", {"E:ZAPH is in use. Please close it first."},
     148, {"\tFound ZAPH in '<folder>'"}, "", ""},

    // The product package and the relocation, where they end the run.
    {"protected folder on Vista", &STATE_PROTECTED, "vista", "@MadeBackup-", "", {}, AT_PACKAGE,
     {"W\t'c:\\program files\\zaph_fwstate' is in a protected directory 'c:\\program files'."}, "", ""},
    {"failing package leaves the earlier installation", &STATE_QRT_PACKAGE, "", "package=6.2.0-failing; @MadeBackup-",
     "", {"E:An error occurred:\nInstalling the system"}, 1627,
     {"\t**> Installation returned '1627' '$$ErrorOccurred'."}, "", "prop:AUTOUPGRADE=true; keypaths=<folder>"},
    {"move refused by a file held open", &STATE_QRT_PACKAGE, "hold=LU\\PSI\\data.mdb",
     "package=6.2.0-moved; @MadeBackup-", "",
     {"E:<folder> could not be copied to <moved>.", "E:An error occurred:\nChecking the installed system"}, 266,
     {"\tCopying <folder> to <moved> ...",
      "E\t'<folder>\\LU\\PSI\\data.mdb' could not be copied to '<moved>\\LU\\PSI\\data.mdb' [32].",
      "E\tCould not copy <folder> to <moved> [32]", "W\tCleanup after failure. Restore to original location '<folder>'.",
      "\tUpdated SOFTWARE\\Ombrant\\ZAPH QRT with <folder>\\"},
     "", "IntendedPath=<moved>\\; ProductCode={3456789A-5A1E-4B7D-8C20-91F3C6A0D4E8}; keypaths=<folder>"},
};

const Row WHOLE_ROWS[] = {
    {"fresh LOCAL, two languages", nullptr, "", "", "", {SUCCESS}, 0,
     {"W\tNo previous MSI registration found.\tClient-server prompt / Folder prompt.",
      "\t**> Installation returned '0' '<>'.", "\tTarget directory after install = '<target>'",
      "\t[2] Client or server = 'Server'.", "\tZAPH will be installed in '<target>' and 'SetupType=Server'.",
      "\t--- Install components MS='LU' LANG='EN' SECTION='1'.", "\t--- Install components MS='LU' LANG='EN' SECTION='3'.",
      "\t--- Install components MS='LU' LANG='FR' SECTION='1'.", "\t--- Install components MS='LU' LANG='FR' SECTION='3'.",
      "\tUncompressed '<target>\\Login.exe.zip' OK."},
     "EN FR", "prop:AUTOUPGRADE=false; prop:FORCEFOLDER=false; prop:DEFAULTDIR=<target>; keypaths=<target>",
     {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi", "LU_New\\EN\\labels.mdb.zsi=LU\\EN\\labels.mdb.zsi",
      "LU_New\\FR\\labels.mdb.zsi=LU\\FR\\labels.mdb.zsi", "LU_New\\news.txt.zip=LU\\news.txt.zip"}},
    {"fresh WEB from the loopback server", nullptr, "web", "", "", {SUCCESS}, 0,
     {"\t--- Install components MS='LU' LANG='FR' SECTION='3'."}, "EN FR", "",
     {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi", "LU_New\\FR\\labels.mdb.zsi=LU\\FR\\labels.mdb.zsi"}},
    {"WEB through the proxy of the Internet settings", nullptr, "web proxy", "", "", {SUCCESS}, 0, {}, "EN", "",
     {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi", "LU_New\\FR\\labels.mdb.zsi=-"}},
    {"upgrade reuses the up-to-date database", &STATE_QRT_PACKAGE, "", "", "", {BACKUP_YES, SUCCESS}, 0,
     {"\t[1] Client or server = 'Server'.", "W\tPrevious MSI registration found and directory <folder> exists.",
      "\tTarget directory <folder> *not* changed", "\tRegistry value '<folder>' is up-to-date.",
      "\t\tCopied '<folder>\\LU\\ms.mdb' to 'LU_New\\ms.mdb'", "\t\tCopied '<dist>\\lu\\en\\labels.mdb.zsi' to 'LU_New\\EN\\labels.mdb.zsi'"},
     "EN", "InstallPath=<folder>\\; prop:AUTOUPGRADE=true; prop:LNS=1; keypaths=<folder>; obtained=3",
     {"LU_New\\ms.mdb=<folder>\\LU\\ms.mdb", "LU_New\\ms.mdb.zsi=-", "LU_New\\EN\\labels.mdb.zsi=LU\\EN\\labels.mdb.zsi",
      "LU\\PSI\\data.mdb=<folder>\\LU\\PSI\\data.mdb"}},
    {"upgrade that moves the product", &STATE_QRT_PACKAGE, "", "package=6.2.0-moved", "",
     {BACKUP_YES, "W:ZAPH has moved from <folder> to <moved>.", SUCCESS}, 0,
     {"W\tTarget directory *has* changed from <folder> to <moved>", "\tMay Move Directory <folder> to <moved>?",
      "\tYES.", "\tCopying <folder> to <moved> ...", "\tOK. Deleted <folder>",
      "\tZAPH will be installed in '<moved>' and 'SetupType=Server'."},
     "EN", "InstallPath=<moved>\\; nofile=<folder>; removed=<moved>",
     {"LU\\PSI\\data.mdb=<folder>\\LU\\PSI\\data.mdb", "LU\\setup\\Zaph.ini=<folder>\\LU\\setup\\Zaph.ini",
      "LU\\EN\\labels.mdb=<folder>\\LU\\EN\\labels.mdb", "Bin\\dzip32.dll=<folder>\\Bin\\dzip32.dll"}},
    {"update mode into the given folder", &STATE_QRT_PACKAGE, "", "@MadeBackup-", "/u /t <folder>", {SUCCESS}, 0,
     {"\tAUTOUPGRADE", "\tCommand line info about ZAPH is '<folder>'", "\tReal upgrade. Checking MSI skip.",
      "\tInstalled version is lower. We will *not* skip SYS_LN step.", "\t**> Installation returned '0' '<>'.",
      "\tTarget directory after install = '<folder>'"},
     "", "InstallPath=<folder>\\; prop:AUTOUPGRADE=true; keypaths=<folder>",
     {"LU_New\\EN\\labels.mdb.zsi=LU\\EN\\labels.mdb.zsi"}},
    {"update mode skips the package it has", &STATE_QRT_PACKAGE, "", "@MadeBackup-; package=6.1.0; SYSLNVersion=6.1.0",
     "/u /t <folder>", {SUCCESS}, 0,
     {"\tInstalled version is higher/equal. We will skip SYS_LN step!",
      "\tSkip of install SYS_LN due to lack of Admin privileges, Multi-MS mode or not necessary.",
      "\tTarget directory after install = '<folder>'"},
     "", "InstallPath=<folder>\\; keypaths=<folder>"},
    {"client", nullptr, "", "package=6.2.0-client", "", {SUCCESS}, 0,
     {"\t[2] Client or server = 'Client'.", "\tClient installation requested. Finito!."}, "EN", "",
     {"LU_New\\ms.mdb.zsi=-", "LU_New\\setup\\Zaph.ini=-"}},
    {".NET edition", nullptr, "prereqs", "DotNet=yes; package=6.2.0-dotnet", "", {SUCCESS}, 0,
     {"\tInstallation of ZAPH.NET", "\t**> Installation returned '0' '<>'.",
      "\tZAPH will be installed in '<target>' and 'SetupType=Server'."},
     "EN", "prop:DOTNET=true", {"LU_New\\ms.mdb.zip=LU_New\\ms.mdb.zip"}},
    {".NET edition on a bare machine, then the restart's command", nullptr, "restart",
     "DotNet=yes; package=6.2.0-dotnet; standin=setup\\dotnetfx.exe; standin=setup\\dotnetsp11.exe; "
     "standin=setup\\mdac_typ.exe", "",
     {ALLOW_ALL, "W:ZAPH has been installed successfully.\n\n***\nPlease restart the computer.\n***\n\n"}, 0,
     {"\tInstallPreconditions (MDAC) wants a reboot.", "\tLanguage 'EN' selected.",
      "\tUncompressed '<target>\\Zaph.exe.zip' OK.", "\tCASPOL on '<target>\\Zaph.exe'."},
     "EN", "RunOnce",
     {"LU_New\\ms.mdb.zip=LU_New\\ms.mdb.zip", "LU_New\\EN\\labels.mdb.zip=LU_New\\EN\\labels.mdb.zip"},
     {BACKUP_YES, SUCCESS}, 0},
    {"damaged archive, then the good one", nullptr, "damaged=LU\\ms.mdb.zsi", "", "",
     {"E:An error occurred:\nInstalling the data"}, 23, {"\t--- Install components MS='LU' LANG='EN' SECTION='1'."},
     "EN", "", {NO_COMPLETION}, {BACKUP_YES, SUCCESS}, 0},
    {"fresh LOCAL with libraries planted beside the program", nullptr, "planted", "", "", {SUCCESS}, 0, {}, "EN", ""},
    {"WEB from an https server", nullptr, "web https", "", "", {SUCCESS}, 0, {}, "EN", "",
     {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi"}},
    // Multi-MS over the installed package: no package to install, so the
    // first download is the program's own.
    {"WEB from an https server whose certificate no one trusts", &STATE_QRT_PACKAGE, "web https=stranger",
     "@MadeBackup-; @FailFile=Cannot obtain %hs.", "/m",
     {"E:Cannot obtain Login.exe.zip.", "E:An error occurred:\nInstalling the data"}, 2,
     {"E\tThe server's certificate is not accepted (problem 12045): the download is refused."}, "", "",
     {NO_COMPLETION}},
    {"cancelled download, then a full run", nullptr, "web stall=LU/ms.mdb.zsi", "Threading=On", "",
     {"Q:Stop the setup?>yes"}, 1223, {"\tCancel requested by the user.", "\tCancelled by the user."}, "EN", "",
     {NO_COMPLETION}, {BACKUP_YES, SUCCESS}, 0},
    // Under Wine the installer runs inside the killed process and nothing rolls
    // back: the earlier package is gone, so the run again installs anew; the
    // earlier data stays where it was.
    {"killed in the product package, then run again", &STATE_QRT_PACKAGE, "kill=package", "", "", {BACKUP_YES},
     KILLED, {"\tAssimilation imminent; 7 of 9"}, "EN", "", {NO_COMPLETION}, {SUCCESS}, 0},
    {"killed while a data file is copied, then run again", &STATE_QRT_PACKAGE, "big=LU\\EN\\labels.mdb.zsi kill=data",
     "", "", {BACKUP_YES}, KILLED, {"\t\tCopied '<folder>\\LU\\ms.mdb' to 'LU_New\\ms.mdb'"}, "EN", "",
     {NO_COMPLETION, "LU_New\\EN\\labels.mdb.zsi=-"}, {BACKUP_YES, SUCCESS}, 0},
    {"a second start during a download", nullptr, "web stall=LU/ms.mdb.zsi second", "Threading=On", "", {SUCCESS},
     0, {}, "EN", "", {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi"}},
    {"completion record cannot be written, then can", nullptr, "locked=LU_New\\FW_Complete.lol", "", "",
     {"E:An error occurred:\nInstalling the data"}, 266,
     {"E\tCould not write the completion record 'FW_Complete.lol' below '<target>\\LU_New' [32]."}, "EN", "", {},
     {BACKUP_YES, SUCCESS}, 0},
    {"disk full during the data, then room again", nullptr, "full big=LU\\EN\\labels.mdb.zsi",
     "DefaultTargetDir=S:\\ZAPH", "", {"E:An error occurred:\nInstalling the data"}, 266, {}, "EN", "",
     {NO_COMPLETION, "LU_New\\EN\\labels.mdb.zsi=-"}, {BACKUP_YES, SUCCESS}, 0},
};

TEST(Install, Scenarios)
{
    const char* only = getenv("FW_ROW");
    for (const Row& row : ROWS)
        if (only == nullptr || std::string(row.name).find(only) != std::string::npos)
            RunRow(row, false);
}

TEST(Install, WholeRuns)
{
    const char* only = getenv("FW_ROW");
    for (const Row& row : WHOLE_ROWS)
        if (only == nullptr || std::string(row.name).find(only) != std::string::npos)
            RunRow(row, true);
}
} // namespace
