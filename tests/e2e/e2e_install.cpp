// Whole runs of fernwick.exe, one row each: a machine state, a distribution
// folder, a Windows version and a command line, with the robot answering the
// boxes; then the boxes seen, the exit code, the log lines that show each
// decision and the machine afterwards. Every row is one Scenario; one driver
// runs them all (one wine process for the table).
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
//                                            //   (it registers a restart of its own)
//    "@AfterBackup=Back up, then start again.",  // changes to the distribution
//                                            //   (Distribution::Apply: "Key=V; Key-; @Label=T;
//                                            //   langs=EN FR; standin=<relative path>;
//                                            //   package=<release folder>")
//    "",                                     // command line; <folder> is the state's folder,
//                                            //   <moved> where the moving release installs
//    {"Q:Have you made a backup of your data?>no",   // boxes in order: icon E/W/I/Q, ':', the
//     "W:Back up, then start again."},       //   exact text, then ">yes"/">no" for questions
//    1223,                                   // exit code
//    {"W\tZAPH.NET version should not ..."},  // log lines, in this order (<folder>, <dist> replaced)
//    "",                                     // the language selection: "" none waited for, or
//                                            //   "EN+* FR- proceed": each choice checked (+) or
//                                            //   not (-), "*" when marked as installed, then
//                                            //   proceed, cancel-yes or cancel-no (then Proceed)
//    ""},                                    // after the run: "Value=data; Value-" of the
//                                            //   product key, "RunOnce" (the restart is registered;
//                                            //   "RunOnce:<text>": that text is registered),
//                                            //   "prop:NAME=value" (what the package received, from
//                                            //   the installer's log), "keypaths=<dir>" (msi.dll
//                                            //   reports the key files there), "nofile=<path>",
//                                            //   "staged=<dir>" (the run put new files there),
//                                            //   "removed=<dir>" (then the product is removed and
//                                            //   leaves none of its files there nor its values)
//
// Every box is owned by the progress window and bears its caption. A row whose
// code is AT_PACKAGE passes every check and ends at the product package, which
// the distribution lacks (code 13, the step's error box). The product's
// registry values the row does not name and the states' files are, byte for
// byte, as before the run.
#include <gtest/gtest.h>

#include "HttpTestServer.h" // winsock2.h before windows.h

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
const char ALLOW_PRE[] = "Install the missing system components?";
// In the boxes of an AT_PACKAGE row: where the package's error box comes
// when boxes of the shut-down follow it (else it is the last).
const char PACKAGE_BOX[] = "PACKAGE";
// The question on a machine without any of the .NET edition's prerequisites.
const std::string ALLOW_ALL = "Q:" + std::string(ALLOW_PRE) + "\n\n\n   Microsoft .NET Framework V1.1\n"
                              "   Microsoft .NET Framework V1.1 Service Pack 1\n"
                              "   Microsoft Data Access Components V2.8 (MDAC)\n\n>yes";

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
};

std::string Replace(std::string text, const std::string& what, const std::string& with)
{
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

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

std::string Expand(std::string text, const std::string& folder, const std::string& target = "",
                   const std::string& dist = "")
{
    std::string moved = MovedFolder();
    text = Replace(Replace(text, "<folder>", folder), "<moved>", moved.substr(0, moved.size() - 1));
    return Replace(Replace(text, "<target>", target), "<dist>", dist);
}

// The value of key in "key=value; ..." ("yes" for a bare key), "" without it.
std::string Option(const std::string& changes, const std::string& key)
{
    for (const std::string& item : Words(changes, ';'))
        if (item.compare(0, key.size(), key) == 0)
            return item.size() > key.size() && item[key.size()] == '=' ? item.substr(key.size() + 1) : "yes";
    return "";
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

typedef int(WINAPI* GetComponentPathFn)(const char*, const char*, char*, DWORD*);
typedef int(WINAPI* SetInternalUIFn)(int, HWND*);
typedef UINT(WINAPI* ConfigureProductExFn)(const char*, int, int, const char*);

// Where msi.dll says the installed product's key files are ("" for one it
// does not know as installed).
std::vector<std::string> KeyPaths(HMODULE msi, const std::string& product)
{
    GetComponentPathFn getPath = (GetComponentPathFn)(void*)GetProcAddress(msi, "MsiGetComponentPathA");
    std::vector<std::string> paths;
    for (const auto& file : KEY_FILES)
    {
        char path[MAX_PATH] = "";
        DWORD size = sizeof(path);
        paths.push_back(getPath && getPath(product.c_str(), file[1], path, &size) == 3 ? path : "");
    }
    return paths;
}

// The key files lie in dir by msi.dll's records; with remove, the product is
// then removed and must leave neither its files there nor its values.
void CheckKeyPaths(const std::string& dir, bool remove)
{
    std::string product = RegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY + 5, "ProductCode");
    HMODULE msi = LoadLibraryA("msi.dll");
    ASSERT_TRUE(msi != NULL);
    std::vector<std::string> paths = KeyPaths(msi, product);
    for (size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(dir + "\\" + KEY_FILES[i][0], paths[i]);
    if (remove)
    {
        ((SetInternalUIFn)(void*)GetProcAddress(msi, "MsiSetInternalUI"))(2, NULL);
        EXPECT_EQ(0u, ((ConfigureProductExFn)(void*)GetProcAddress(msi, "MsiConfigureProductExA"))(product.c_str(),
                                                                                                   0, 2, ""));
        for (const std::string& path : KeyPaths(msi, product))
            EXPECT_EQ("", path);
        for (const auto& file : KEY_FILES)
            EXPECT_TRUE(FileAbsent(dir + "\\" + file[0]));
        EXPECT_TRUE(RegValueAbsent(PRODUCT_KEY, "InstallPath"));
        EXPECT_TRUE(RegValueAbsent(PRODUCT_KEY, "ProductCode"));
    }
    FreeLibrary(msi);
}

// The installer's log of a run: MSI_<day>.log beside the program's own.
std::string InstallerLogPath()
{
    return Replace(DefaultLogPath(), "\\Fern_", "\\MSI_");
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

// The after field's checks (its placeholders replaced); returns the product
// values it names.
std::set<std::string> CheckNamed(const std::string& after, const std::string& restartCommand,
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
        if (word == "RunOnce")
        {
            key = word;
            EXPECT_EQ(restartCommand, standIns.RestartCommand());
        }
        else if (word.compare(0, 8, "RunOnce:") == 0)
        {
            key = "RunOnce";
            EXPECT_EQ(word.substr(8), standIns.RestartCommand());
        }
        else if (key.compare(0, 5, "prop:") == 0)
            EXPECT_EQ(value, Received(installerLog, key.substr(5))) << key;
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
        named.insert(key);
    }
    return named;
}

// The system of a row; returns the handle of a file held open ("inuse").
HANDLE SetSystem(Scenario& s, StandIns& standIns, const std::string& system, const std::string& folder)
{
    HANDLE held = INVALID_HANDLE_VALUE;
    std::vector<std::string> words = Words(system);
    for (size_t i = 0; i < words.size(); ++i)
    {
        if (words[i].compare(0, 3, "win") == 0 || words[i] == "vista" || words[i] == "nt40")
        {
            s.SetWindowsVersion(words[i]);
        }
        else if (words[i] == "prereqs" || words[i] == "net11")
        {
            standIns.SetFramework("v1.1.4322", words[i] == "prereqs" ? 1 : 0, false);
            standIns.SetMdac("2.81.1117.0");
        }
        else if (words[i] == "inuse" || words[i].compare(0, 5, "hold=") == 0)
        {
            std::string file = words[i] == "inuse" ? "Login.exe" : words[i].substr(5);
            held = CreateFileA((folder + "\\" + file).c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
            EXPECT_NE(INVALID_HANDLE_VALUE, held);
        }
        else if (words[i].compare(0, 5, "exit=") == 0)
        {
            size_t colon = words[i].find(':');
            standIns.ExitWith(words[i].substr(5, colon - 5), (DWORD)std::stoul(words[i].substr(colon + 1)));
        }
        else if (words[i].compare(0, 4, "net=") == 0)
        {
            // "net=v2.0.50727", "net=v1.1.4322+SP" (with its service pack)
            std::string version = words[i].substr(4);
            bool sp = version.size() > 3 && version.compare(version.size() - 3, 3, "+SP") == 0;
            standIns.SetFramework(sp ? version.substr(0, version.size() - 3) : version, sp ? 1 : 0, false);
        }
        else if (words[i].compare(0, 5, "mdac=") == 0)
        {
            standIns.SetMdac(words[i].substr(5));
        }
        else if (words[i].compare(0, 6, "crash=") == 0)
        {
            standIns.Crash(words[i].substr(6));
        }
        else if (words[i].compare(0, 10, "restartby=") == 0)
        {
            standIns.WriteRestartOnRun(words[i].substr(10), "written by " + words[i].substr(10));
        }
        else if (words[i].compare(0, 2, "sp") == 0)
        {
            EXPECT_TRUE(s.SetRegDword("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Windows", "CSDVersion",
                                      (DWORD)std::stoul(words[i].substr(2)) << 8));
        }
        else if (words[i] == "hotfix")
        {
            EXPECT_TRUE(s.SetRegDword("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009",
                                      "Installed", 1));
        }
        else
        {
            ADD_FAILURE() << "unknown system word '" << words[i] << "'";
        }
    }
    return held;
}

void ExpectBoxes(Scenario& s, const Row& row, const std::string& title, const std::string& folder)
{
    bool packagePlaced = false;
    for (const std::string& box : row.boxes)
    {
        if (box == PACKAGE_BOX)
        {
            s.ExpectBox().TitleEquals(title).Owned(true).Icon(ICON_ERROR).TextEquals(STEP_ERROR);
            packagePlaced = true;
            continue;
        }
        BoxExpectation& expect = s.ExpectBox().TitleEquals(title).Owned(true);
        std::string text = Expand(box.substr(2), folder);
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
    if (row.rc == AT_PACKAGE && !packagePlaced &&
        std::find(row.boxes.begin(), row.boxes.end(), std::string("E:") + STEP_ERROR) == row.boxes.end())
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

// The progress window once it shows the language selection; a false window
// (with the failure recorded) when it never does.
ProgramWindow SelectionWindow(Scenario& s, const std::string& title, DWORD timeoutMs)
{
    ProgramWindow window = ProgressWindow(s, title);
    if (!window)
    {
        ADD_FAILURE() << "no progress window '" << title << "'";
        return window;
    }
    if (!window.WaitForText(IDC_INFO_TEXT, "Choose the languages.", timeoutMs))
    {
        ADD_FAILURE() << "no language selection: " << window.Describe();
        return ProgramWindow();
    }
    return window;
}

// The language selection: the choices as expected, then the row's action.
void Select(Scenario& s, const std::string& title, const std::string& selection)
{
    ProgramWindow window = SelectionWindow(s, title, 20000);
    ASSERT_TRUE(window);
    std::string action;
    for (const std::string& word : Words(selection))
    {
        int index = -1;
        for (int i = 0; i < 23; ++i)
            if (word.compare(0, 2, CODES[i]) == 0 && word.size() > 2 && (word[2] == '+' || word[2] == '-'))
                index = i;
        if (index < 0)
        {
            action = word;
            continue;
        }
        bool marked = word.find('*') != std::string::npos;
        EXPECT_EQ(word[2] == '+', window.IsChecked(IDC_LANGUAGE_FIRST + index)) << word << window.Describe();
        EXPECT_EQ("Language " + word.substr(0, 2) + (marked ? " *" : ""),
                  window.ControlText(IDC_LANGUAGE_FIRST + index));
    }
    if (action == "proceed" || action == "cancel-no")
    {
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

void CheckAfter(const Row& row, const MachineSnapshot& before, const std::string& root, const std::string& folder,
                const std::string& restartCommand, const StandIns& standIns)
{
    std::string after = Expand(row.after, folder);
    std::set<std::string> named = CheckNamed(after, restartCommand, standIns);
    MachineSnapshot now = Snapshot(root);
    for (const auto& value : before.values)
        if (named.count(value.first) == 0)
        {
            EXPECT_EQ(value.second, now.values[value.first]) << value.first << " changed";
        }
    // What the run staged is new; everything else is as it was.
    std::string staged = Option(after, "staged"), files;
    std::istringstream lines(now.files);
    for (std::string line; std::getline(lines, line);)
        if (staged.empty() || line.compare(0, staged.size(), staged) != 0)
            files += line + "\n";
    EXPECT_EQ(before.files, files) << "the run changed the states' files";
}

void RunRow(const Row& row)
{
    SCOPED_TRACE(row.name);
    MachineState machine;
    std::string folder = row.machine ? machine.Apply(*row.machine) : "";
    // Before any file is held open.
    MachineSnapshot before = Snapshot(machine.Root());
    Scenario s;
    s.GuardPath(Expand("<moved>", ""));
    StandIns standIns(s.Folder("machine"));
    HANDLE held = SetSystem(s, standIns, row.system, folder);
    Distribution dist;
    dist.Apply(row.dist);
    ASSERT_TRUE(dist.WriteTo(s));
    ExpectBoxes(s, row, dist.Title(), folder);
    DeleteFileA(InstallerLogPath().c_str());

    std::string args = Expand(row.args, folder);
    int rc = -1;
    if (row.selection[0] == 0)
    {
        rc = s.Run(args);
    }
    else
    {
        ASSERT_TRUE(s.Start(args));
        Select(s, dist.Title(), row.selection);
        rc = s.Wait();
    }
    EXPECT_EQ(row.rc == AT_PACKAGE ? 13 : row.rc, rc);
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);

    LogView log = s.Log();
    std::vector<std::string> lines;
    for (const std::string& line : row.log)
        lines.push_back(Expand(line, folder, "", s.Dir()));
    if (row.rc == AT_PACKAGE)
        lines.push_back(NO_PACKAGE + s.Path("sys_" + dist.FirstLanguage() + ".msi") + "'.");
    lines.push_back("\t**> Main return code '" + std::to_string(row.rc == AT_PACKAGE ? 13 : row.rc) + "'.");
    EXPECT_TRUE(log.InOrder(lines));
    if (row.rc != AT_PACKAGE)
    {
        EXPECT_TRUE(log.Lacks(NO_PACKAGE));
    }
    CheckAfter(row, before, machine.Root(), folder, "\"" + s.ExePath() + "\"" + (args.empty() ? "" : " " + args),
               standIns);
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

TEST(Install, Scenarios)
{
    const char* only = getenv("FW_ROW");
    for (const Row& row : ROWS)
        if (only == nullptr || std::string(row.name).find(only) != std::string::npos)
            RunRow(row);
}
} // namespace

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
namespace
{
const char NOT_IN_THIS_BUILD[] = "is not available in this build";
const char RELEASE_VERSION[] = "6.2.0.5";
const char COMPLETION[] = "LU_New\\FW_Complete.lol";

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

std::string ReadAll(const std::string& path)
{
    std::string bytes;
    return ReadBytes(path, bytes) ? bytes : "<missing>";
}

// The files of the release in the distribution folder, by relative name.
// The .NET edition's main program is Zaph.exe; its distribution holds the
// member state's data in <MS>_New, the databases packed as .zip.
std::string MainProgram(bool dotNet)
{
    return dotNet ? "Zaph.exe" : "Login.exe";
}

std::map<std::string, std::string> ReleaseFiles(const std::vector<std::string>& languages, bool dotNet = false)
{
    std::string main = MainProgram(dotNet), packed = dotNet ? ".zip" : ".zsi", ms = dotNet ? "LU_New\\" : "LU\\";
    std::map<std::string, std::string> files = {
        {main + ".zip", StoredZip(main, "ZAPH " + main + ", release " + RELEASE_VERSION)},
        {ms + "ms.mdb" + packed, StoredZip("ms.mdb", Data("ms", RELEASE_VERSION))},
        {ms + "news.txt.zip", StoredZip("news.txt", "What is new.\r\n")}};
    for (const std::string& lang : languages)
        files[ms + lang + "\\labels.mdb" + packed] = StoredZip("labels.mdb", Data("labels " + lang, RELEASE_VERSION));
    return files;
}

struct WholeRow
{
    const char* name;
    const StateRow* machine;
    // Distribution::Apply changes ("package=" when not 6.2.0), and: "web"
    // (from the loopback server), "proxy" (only through the proxy of the
    // Internet settings), "system=<words>" (as in ROWS, besides Windows XP),
    // "https" (WEB through an https://localhost front whose certificate the
    // test authority issued; "https=stranger": one that no one trusts),
    // "damaged=<file>" (the delivered file differs from its checksum),
    // "stall=<file>" (the download stalls; the run is cancelled there),
    // "planted" (a recording library under the name of every library the
    // program loads, beside it: none may be loaded), "restart" (the run
    // again is the restart command the first run registered, started as
    // Windows does after the restart: the value gone, in another folder),
    // "second" (instead of the cancel, a second start meets the stall, then
    // the download goes on), "kill=package|data" (the program is killed once
    // the upgrade has removed the earlier package, or while "big=<file>", a
    // large data file, is half copied), "locked=<relative>" (another program
    // holds that file below the target open while the run writes it), "full"
    // (the target is on the small drive S:, which the big file fills up; the
    // room comes back for the run again).
    const char* dist;
    const char* args;
    const char* languages;           // chosen in the selection ("" none shown)
    std::vector<std::string> boxes; // as in ROWS
    int rc;
    std::vector<std::string> log;   // in order; <folder>, <moved>, <target>, <dist> replaced
    // Target files afterwards: "relative=<dist file>" equal to a delivered
    // file, "relative=<folder>\\<file>" equal to the earlier installation's
    // file as it was before the run, "relative=-" absent.
    std::vector<std::string> files;
    // The run again with the good release: its boxes and code (-1: no rerun).
    std::vector<std::string> rerunBoxes;
    int rerunRc;
    // Files obtained from the distribution (copy lines of the log); -1: not counted.
    int obtained = -1;
    const char* after = ""; // as in ROWS: the values named, the package's properties, key paths
};

const char SUCCESS[] = "I:ZAPH has been installed successfully.";
const int KILLED = 0xDEAD; // the exit code Scenario::Kill gives
// Where the release's package installs when no earlier installation says otherwise.
const char PACKAGE_FOLDER[] = "C:\\Program Files\\ZAPH";
// A drive of a few megabytes where the machine allows one (scripts/small-drive.sh).
const char SMALL_DRIVE[] = "S:\\";
const char BACKUP_YES[] = "Q:Have you made a backup of your data?>yes";

// The earlier release's data: the database already of this release, the
// labels older than it requires; and the last of the libraries that make the
// installation complete.
void AddEarlierData(const std::string& folder)
{
    ASSERT_TRUE(WriteBytes(folder + "\\Bin\\dzip32.dll", "zip library"));
    ASSERT_TRUE(WriteBytes(folder + "\\LU\\ms.mdb", Data("ms", RELEASE_VERSION)));
    ASSERT_TRUE(WriteBytes(folder + "\\LU\\EN\\labels.mdb", Data("labels EN", "6.1.0.2")));
}

const WholeRow WHOLE_ROWS[] = {
    {"fresh LOCAL, two languages", nullptr, "", "", "EN FR", {SUCCESS}, 0,
     {"W\tNo previous MSI registration found.\tClient-server prompt / Folder prompt.",
      "\t**> Installation returned '0' '<>'.", "\tTarget directory after install = '<target>'",
      "\t[2] Client or server = 'Server'.", "\tZAPH will be installed in '<target>' and 'SetupType=Server'.",
      "\t--- Install components MS='LU' LANG='EN' SECTION='1'.", "\t--- Install components MS='LU' LANG='EN' SECTION='3'.",
      "\t--- Install components MS='LU' LANG='FR' SECTION='1'.", "\t--- Install components MS='LU' LANG='FR' SECTION='3'.",
      "\tUncompressed '<target>\\Login.exe.zip' OK."},
     {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi", "LU_New\\EN\\labels.mdb.zsi=LU\\EN\\labels.mdb.zsi",
      "LU_New\\FR\\labels.mdb.zsi=LU\\FR\\labels.mdb.zsi", "LU_New\\news.txt.zip=LU\\news.txt.zip"},
     {}, -1, -1, "prop:AUTOUPGRADE=false; prop:FORCEFOLDER=false; prop:DEFAULTDIR=<target>; keypaths=<target>"},
    {"fresh WEB from the loopback server", nullptr, "web", "", "EN FR", {SUCCESS}, 0,
     {"\t--- Install components MS='LU' LANG='FR' SECTION='3'."},
     {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi", "LU_New\\FR\\labels.mdb.zsi=LU\\FR\\labels.mdb.zsi"}, {}, -1},
    {"WEB through the proxy of the Internet settings", nullptr, "web; proxy", "", "EN", {SUCCESS}, 0, {},
     {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi", "LU_New\\FR\\labels.mdb.zsi=-"}, {}, -1},
    {"upgrade reuses the up-to-date database", &STATE_QRT_PACKAGE, "", "", "EN", {BACKUP_YES, SUCCESS}, 0,
     {"\t[1] Client or server = 'Server'.", "W\tPrevious MSI registration found and directory <folder> exists.",
      "\tTarget directory <folder> *not* changed", "\tRegistry value '<folder>' is up-to-date.",
      "\t\tCopied '<folder>\\LU\\ms.mdb' to 'LU_New\\ms.mdb'", "\t\tCopied '<dist>\\lu\\en\\labels.mdb.zsi' to 'LU_New\\EN\\labels.mdb.zsi'"},
     {"LU_New\\ms.mdb=<folder>\\LU\\ms.mdb", "LU_New\\ms.mdb.zsi=-", "LU_New\\EN\\labels.mdb.zsi=LU\\EN\\labels.mdb.zsi",
      "LU\\PSI\\data.mdb=<folder>\\LU\\PSI\\data.mdb"},
     {}, -1, 3, "InstallPath=<folder>\\; prop:AUTOUPGRADE=true; prop:LNS=1; keypaths=<folder>"},
    {"upgrade that moves the product", &STATE_QRT_PACKAGE, "package=6.2.0-moved", "", "EN",
     {BACKUP_YES, "W:ZAPH has moved from <folder> to <moved>.", SUCCESS}, 0,
     {"W\tTarget directory *has* changed from <folder> to <moved>", "\tMay Move Directory <folder> to <moved>?",
      "\tYES.", "\tCopying <folder> to <moved> ...", "\tOK. Deleted <folder>",
      "\tZAPH will be installed in '<moved>' and 'SetupType=Server'."},
     {"LU\\PSI\\data.mdb=<folder>\\LU\\PSI\\data.mdb", "LU\\setup\\Zaph.ini=<folder>\\LU\\setup\\Zaph.ini",
      "LU\\EN\\labels.mdb=<folder>\\LU\\EN\\labels.mdb", "Bin\\dzip32.dll=<folder>\\Bin\\dzip32.dll"},
     {}, -1, -1, "InstallPath=<moved>\\; nofile=<folder>; removed=<moved>"},
    {"update mode into the given folder", &STATE_QRT_PACKAGE, "@MadeBackup-", "/u /t <folder>", "", {SUCCESS}, 0,
     {"\tAUTOUPGRADE", "\tCommand line info about ZAPH is '<folder>'", "\tReal upgrade. Checking MSI skip.",
      "\tInstalled version is lower. We will *not* skip SYS_LN step.", "\t**> Installation returned '0' '<>'.",
      "\tTarget directory after install = '<folder>'"},
     {"LU_New\\EN\\labels.mdb.zsi=LU\\EN\\labels.mdb.zsi"}, {}, -1, -1,
     "InstallPath=<folder>\\; prop:AUTOUPGRADE=true; keypaths=<folder>"},
    {"update mode skips the package it has", &STATE_QRT_PACKAGE, "@MadeBackup-; package=6.1.0; SYSLNVersion=6.1.0",
     "/u /t <folder>", "", {SUCCESS}, 0,
     {"\tInstalled version is higher/equal. We will skip SYS_LN step!",
      "\tSkip of install SYS_LN due to lack of Admin privileges, Multi-MS mode or not necessary.",
      "\tTarget directory after install = '<folder>'"},
     {}, {}, -1, -1, "InstallPath=<folder>\\; keypaths=<folder>"},
    {"client", nullptr, "package=6.2.0-client", "", "EN", {SUCCESS}, 0,
     {"\t[2] Client or server = 'Client'.", "\tClient installation requested. Finito!."},
     {"LU_New\\ms.mdb.zsi=-", "LU_New\\setup\\Zaph.ini=-"}, {}, -1},
    {".NET edition", nullptr, "system=prereqs; DotNet=yes; package=6.2.0-dotnet", "", "EN", {SUCCESS}, 0,
     {"\tInstallation of ZAPH.NET", "\t**> Installation returned '0' '<>'.",
      "\tZAPH will be installed in '<target>' and 'SetupType=Server'."},
     {"LU_New\\ms.mdb.zip=LU_New\\ms.mdb.zip"}, {}, -1, -1, "prop:DOTNET=true"},
    {".NET edition on a bare machine, then the restart's command", nullptr,
     "restart; DotNet=yes; package=6.2.0-dotnet; standin=setup\\dotnetfx.exe; standin=setup\\dotnetsp11.exe; "
     "standin=setup\\mdac_typ.exe", "", "EN",
     {ALLOW_ALL, "W:ZAPH has been installed successfully.\n\n***\nPlease restart the computer.\n***\n\n"}, 0,
     {"\tInstallPreconditions (MDAC) wants a reboot.", "\tLanguage 'EN' selected.",
      "\tUncompressed '<target>\\Zaph.exe.zip' OK.", "\tCASPOL on '<target>\\Zaph.exe'."},
     {"LU_New\\ms.mdb.zip=LU_New\\ms.mdb.zip", "LU_New\\EN\\labels.mdb.zip=LU_New\\EN\\labels.mdb.zip"},
     {BACKUP_YES, SUCCESS}, 0, -1, "RunOnce"},
    {"damaged archive, then the good one", nullptr, "damaged=LU\\ms.mdb.zsi", "", "EN",
     {"E:An error occurred:\nInstalling the data"}, 23, {"\t--- Install components MS='LU' LANG='EN' SECTION='1'."},
     {COMPLETION + std::string("=-")}, {BACKUP_YES, SUCCESS}, 0},
    {"fresh LOCAL with libraries planted beside the program", nullptr, "planted", "", "EN", {SUCCESS}, 0, {}, {}, {},
     -1},
    {"WEB from an https server", nullptr, "web; https", "", "EN", {SUCCESS}, 0, {},
     {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi"}, {}, -1},
    // Multi-MS over the installed package: no package to install, so the
    // first download is the program's own.
    {"WEB from an https server whose certificate no one trusts", &STATE_QRT_PACKAGE,
     "web; https=stranger; @MadeBackup-; @FailFile=Cannot obtain %hs.", "/m", "",
     {"E:Cannot obtain Login.exe.zip.", "E:An error occurred:\nInstalling the data"}, 2,
     {"E\tThe server's certificate is not accepted (problem 12045): the download is refused."},
     {COMPLETION + std::string("=-")}, {}, -1},
    {"cancelled download, then a full run", nullptr, "web; Threading=On; stall=LU/ms.mdb.zsi", "", "EN", {"Q:Stop the setup?>yes"},
     1223, {"\tCancel requested by the user.", "\tCancelled by the user."}, {COMPLETION + std::string("=-")},
     {BACKUP_YES, SUCCESS}, 0},
    // Under Wine the installer runs inside the killed process and nothing rolls
    // back: the earlier package is gone, so the run again installs anew; the
    // earlier data stays where it was.
    {"killed in the product package, then run again", &STATE_QRT_PACKAGE, "kill=package", "", "EN", {BACKUP_YES},
     KILLED, {"\tAssimilation imminent; 7 of 9"}, {COMPLETION + std::string("=-")}, {SUCCESS}, 0},
    {"killed while a data file is copied, then run again", &STATE_QRT_PACKAGE, "big=LU\\EN\\labels.mdb.zsi; kill=data",
     "", "EN", {BACKUP_YES}, KILLED, {"\t\tCopied '<folder>\\LU\\ms.mdb' to 'LU_New\\ms.mdb'"},
     {COMPLETION + std::string("=-"), "LU_New\\EN\\labels.mdb.zsi=-"}, {BACKUP_YES, SUCCESS}, 0},
    {"a second start during a download", nullptr, "web; Threading=On; stall=LU/ms.mdb.zsi; second", "", "EN",
     {SUCCESS}, 0, {}, {"LU_New\\ms.mdb.zsi=LU\\ms.mdb.zsi"}, {}, -1},
    {"completion record cannot be written, then can", nullptr, "locked=LU_New\\FW_Complete.lol", "", "EN",
     {"E:An error occurred:\nInstalling the data"}, 266,
     {"E\tCould not write the completion record 'FW_Complete.lol' below '<target>\\LU_New' [32]."}, {},
     {BACKUP_YES, SUCCESS}, 0},
    {"disk full during the data, then room again", nullptr, "full; big=LU\\EN\\labels.mdb.zsi; DefaultTargetDir=S:\\ZAPH",
     "", "EN", {"E:An error occurred:\nInstalling the data"}, 266, {}, {COMPLETION + std::string("=-"), "LU_New\\EN\\labels.mdb.zsi=-"},
     {BACKUP_YES, SUCCESS}, 0},
};

// Picks exactly the languages given, then Proceed.
void Choose(Scenario& s, const std::string& title, const std::string& languages)
{
    ProgramWindow window = SelectionWindow(s, title, 30000);
    ASSERT_TRUE(window);
    for (int i = 0; i < 23; ++i)
    {
        bool wanted = languages.find(CODES[i]) != std::string::npos;
        if (window.HasControl(IDC_LANGUAGE_FIRST + i) && window.IsChecked(IDC_LANGUAGE_FIRST + i) != wanted)
        {
            EXPECT_TRUE(window.Click(IDC_LANGUAGE_FIRST + i));
        }
    }
    EXPECT_TRUE(window.Click(IDC_PROCEED)) << window.Describe();
}

std::string InstalledFolder()
{
    std::string path = RegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY + 5, "InstallPath");
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

std::string DesktopShortcut()
{
    return RegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                     "Common Desktop") + "\\GESTION BALVORA.lnk";
}

// The release of the row's package.
const TestRelease& PackageRelease(const std::string& changes)
{
    static const TestRelease* const RELEASES[] = {&RELEASE_610, &RELEASE_620_MOVED, &RELEASE_620_CLIENT,
                                                  &RELEASE_620_DOTNET};
    for (const TestRelease* release : RELEASES)
        if (Option(changes, "package") == release->folder)
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

void RunWholeRow(const WholeRow& row)
{
    SCOPED_TRACE(row.name);
    TestPackageSetup packages({PACKAGE_FOLDER, MovedFolder()});
    MachineState machine;
    std::string folder = row.machine ? machine.Apply(*row.machine) : "";
    if (row.machine)
        AddEarlierData(folder);
    Scenario s;
    StandIns standIns(s.Folder("machine"));
    SetSystem(s, standIns, "winxp " + Option(row.dist, "system"), folder);
    s.GuardPath(DesktopShortcut());
    s.GuardPath(RegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                          "Common Programs") + "\\MORV OSKE");

    std::string changes = row.dist;
    std::vector<std::string> languages = {"EN", "FR"};
    Distribution dist;
    dist.Apply("langs=EN FR; NumComponents=3; SYS_LN_DIR=setup; SYSLNVersion=6.2.0; ExeVersion=6.2.0.5; "
               "@InstallComponents=Installing the data; @PostInstallCheck=Checking the installation");
    for (const std::string& item : Words(changes, ';'))
    {
        bool own = false;
        for (const char* option : {"web", "proxy", "system", "https", "damaged", "stall", "planted", "restart",
                                   "second", "kill", "big", "locked", "full"})
            own = own || item.find(option) == 0;
        if (!own)
            dist.Apply(item);
    }
    if (Option(changes, "package").empty())
        dist.Apply("package=6.2.0");
    bool dotNet = &PackageRelease(changes) == &RELEASE_620_DOTNET;
    dist.Line("Components", MainProgram(dotNet) + ".zip=V6.2.0.5");
    dist.Line("Components", "<MS>\\<Lang>\\labels.mdb=V6.2.0.0");
    std::map<std::string, std::string> files = ReleaseFiles(languages, dotNet);
    // Where the .NET edition keeps the login program's language and member state.
    ASSERT_TRUE(s.GuardRegKey("HKCU\\Software\\Ombrant\\ZAPH.NET"));
    std::string big = Option(changes, "big");
    if (!big.empty())
    {
        std::string member = big.substr(big.rfind('\\') + 1);
        member.resize(member.size() - 4);
        files[big] = StoredZip(member, std::string(32 << 20, 'z') + Data(member, RELEASE_VERSION));
    }
    for (const auto& file : files)
    {
        dist.Line("CheckSums", file.first + "=" + CheckSumText(file.second));
        dist.File(file.first, file.first == Option(changes, "damaged") ? file.second + "damaged" : file.second);
    }

    HttpTestServer server(s.Dir());
    TlsRelay relay;
    bool web = !Option(changes, "web").empty();
    if (web)
    {
        ASSERT_TRUE(server.Start());
        std::string base = server.BaseUrl();
        std::string https = Option(changes, "https");
        if (!https.empty())
        {
            ASSERT_TRUE(relay.Start(server.Port(), https == "yes"));
            base = Replace(base, "http://127.0.0.1:" + std::to_string(server.Port()),
                           "https://localhost:" + std::to_string(relay.Port()));
        }
        if (!Option(changes, "proxy").empty())
        {
            // Only the proxy reaches the server; the address names no machine here.
            server.SetProxyOnly(true);
            base = Replace(base, "127.0.0.1", "zaph.example");
            const char* internet = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
            ASSERT_TRUE(s.GuardRegKey(internet));
            ASSERT_TRUE(s.SetRegDword(internet, "ProxyEnable", 1));
            ASSERT_TRUE(s.SetRegString(internet, "ProxyServer", "127.0.0.1:" + std::to_string(server.Port())));
        }
        dist.Web().Set("BASE_URL", base);
    }
    std::string stalled = Option(changes, "stall");
    if (!stalled.empty())
        server.SetBehaviour(stalled, HttpTestServer::SERVE_STALL);
    ASSERT_TRUE(dist.WriteTo(s));

    std::string locked = Option(changes, "locked");
    struct Lock
    {
        HANDLE file = INVALID_HANDLE_VALUE;
        void Release()
        {
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
            file = INVALID_HANDLE_VALUE;
        }
        ~Lock() { Release(); }
    } lock;
    if (!locked.empty())
    {
        std::string path = PACKAGE_FOLDER + std::string("\\") + locked;
        ASSERT_TRUE(s.WriteFile(path, ""));
        lock.file = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, lock.file);
    }
    bool full = !Option(changes, "full").empty();
    if (full)
    {
        ULARGE_INTEGER room, total;
        if (!GetDiskFreeSpaceExA(SMALL_DRIVE, &room, &total, NULL) || total.QuadPart > (200ull << 20))
        {
            printf("[  SKIPPED ] %s: no small drive %s on this machine\n", row.name, SMALL_DRIVE);
            return;
        }
        // Ballast leaves room for half the big file.
        s.GuardPath(std::string(SMALL_DRIVE) + "ZAPH");
        s.GuardPath(std::string(SMALL_DRIVE) + "ballast");
        ASSERT_TRUE(WriteBytes(std::string(SMALL_DRIVE) + "ballast", std::string(room.QuadPart - (16 << 20), 'b')));
    }
    // The earlier installation's data, which no killed run may lose.
    std::string kill = Option(changes, "kill");
    std::string earlierData = row.machine && !kill.empty() ? ReadAll(folder + "\\LU\\ms.mdb") + ReadAll(folder + "\\LU\\EN\\labels.mdb") : "";

    std::string title = dist.Title();
    Row boxes = {row.name, row.machine, "", row.dist, row.args, row.boxes, row.rc, {}, "", ""};
    ExpectBoxes(s, boxes, title, folder);
    // The earlier installation's files that the row compares, as they were.
    std::map<std::string, std::string> earlier;
    for (const std::string& expected : row.files)
        if (expected.find("=<folder>") != std::string::npos)
            ReadBytes(Expand(expected.substr(expected.find('=') + 1), folder), earlier[expected]);
    DeleteFileA(InstallerLogPath().c_str());
    std::string args = Expand(row.args, folder);
    std::unique_ptr<Planted> planted;
    if (!Option(changes, "planted").empty())
        planted.reset(new Planted(s, "fernwick.exe", false));
    ASSERT_TRUE(s.Start(args));
    if (row.languages[0] != 0)
        Choose(s, title, row.languages);
    if (!stalled.empty())
    {
        ASSERT_TRUE(server.WaitForStall(60000));
        if (!Option(changes, "second").empty())
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
    if (!kill.empty())
    {
        // Killed once the upgrade has removed the earlier package (the new one
        // is not yet in place), or while the big file's partial copy lies
        // beside the place it is meant for.
        std::string partial = big.empty() ? "" : "\\LU_New" + big.substr(2) + ".fwpart";
        DWORD start = GetTickCount();
        while (s.Running() && GetTickCount() - start < 60000 &&
               (kill == "package" ? IsInstalled(RELEASE_610)
                                  : GetFileAttributesA((InstalledFolder() + partial).c_str()) == INVALID_FILE_ATTRIBUTES))
            Sleep(5);
        s.Kill();
    }
    EXPECT_EQ(row.rc, s.Wait(120000));
    server.ReleaseStalls();
    if (!earlierData.empty())
    {
        EXPECT_TRUE(earlierData == ReadAll(folder + "\\LU\\ms.mdb") + ReadAll(folder + "\\LU\\EN\\labels.mdb"))
            << "the earlier installation's data changed";
    }

    std::string target = InstalledFolder();
    LogView log = s.Log();
    std::vector<std::string> lines;
    for (const std::string& line : row.log)
        lines.push_back(Expand(line, folder, target, s.Dir()));
    if (kill.empty())
        lines.push_back("\t**> Main return code '" + std::to_string(row.rc) + "'.");
    else
        EXPECT_TRUE(log.Lacks(kill == "package" ? "**> Installation returned" : "**> Main return code"));
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
    if (row.obtained >= 0)
    {
        // The program, the labels of this release and the news; not the database.
        std::string prefix = "\t\tCopied '" + s.Dir() + "\\";
        int obtained = 0;
        for (const std::string& line : log.Lines())
            obtained += line.size() > prefix.size() && _strnicmp(line.c_str(), prefix.c_str(), prefix.size()) == 0;
        EXPECT_EQ(row.obtained, obtained);
    }
    if (web && !Option(changes, "proxy").empty())
    {
        EXPECT_LT(0, (int)server.Requests().size());
    }
    if (row.rc == 0)
        CheckComplete(s, PackageRelease(changes));
    if (planted)
    {
        EXPECT_EQ("", planted->Loaded());
    }
    CheckNamed(Expand(row.after, folder, target), "\"" + s.ExePath() + "\"" + (args.empty() ? "" : " " + args),
               standIns);

    if (row.rerunRc < 0)
        return;
    SCOPED_TRACE("run again with the good release");
    server.SetBehaviour(stalled.empty() ? "none" : stalled, HttpTestServer::SERVE_NORMAL);
    for (const auto& file : files)
        ASSERT_TRUE(s.WriteFile(file.first, file.second));
    bool restart = !Option(changes, "restart").empty();
    if (restart)
    {
        std::string command = standIns.RestartCommand(), program = "\"" + s.ExePath() + "\"";
        ASSERT_EQ(0u, command.find(program)) << command;
        args = command.substr(program.size());
        args.erase(0, args.find_first_not_of(' '));
        EXPECT_EQ(0, RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, RUN_ONCE_KEY_PATH, "Fernwick"));
        s.SetCurrentDir(s.Folder("after restart"));
    }
    lock.Release();
    if (full)
    {
        ASSERT_TRUE(DeleteFileA((std::string(SMALL_DRIVE) + "ballast").c_str()));
    }
    Row again = {row.name, row.machine, "", row.dist, row.args, row.rerunBoxes, row.rerunRc, {}, "", ""};
    ExpectBoxes(s, again, title, folder);
    ASSERT_TRUE(s.Start(args));
    if (row.languages[0] != 0)
        Choose(s, title, row.languages);
    EXPECT_EQ(row.rerunRc, s.Wait(120000));
    if (row.rerunRc == 0)
        CheckComplete(s, PackageRelease(changes));
    if (restart)
    {
        EXPECT_TRUE(s.Log().HasLine("\tWorking in '" + s.Dir() + "', where the program and its settings file are."));
        EXPECT_EQ("", standIns.RestartCommand()) << "a restart registered again";
    }
    if (!earlierData.empty())
    {
        EXPECT_TRUE(earlierData == ReadAll(folder + "\\LU\\ms.mdb") + ReadAll(folder + "\\LU\\EN\\labels.mdb"));
    }
    if (!big.empty())
    {
        EXPECT_TRUE(ReadAll(InstalledFolder() + "\\LU_New" + big.substr(2)) == files[big]);
        EXPECT_TRUE(FileAbsent(InstalledFolder() + "\\LU_New" + big.substr(2) + ".fwpart"));
    }
}
} // namespace

TEST(Install, WholeRuns)
{
    const char* only = getenv("FW_ROW");
    for (const WholeRow& row : WHOLE_ROWS)
        if (only == nullptr || std::string(row.name).find(only) != std::string::npos)
            RunWholeRow(row);
}
