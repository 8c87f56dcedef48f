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
//    "",                                     // Windows: "" (the prefix's), "win98", "winxp",
//                                            //   "vista", "nt40 sp4", "nt40 sp6", "nt40 sp6 hotfix"
//    "@AfterBackup=Back up, then start again.",  // changes to the distribution
//                                            //   (Distribution::Apply: "Key=V; Key-; @Label=T; langs=EN FR")
//    "",                                     // command line; <folder> is the state's folder
//    {"Q:Have you made a backup of your data?>no",   // boxes in order: icon E/W/I/Q, ':', the
//     "W:Back up, then start again."},       //   exact text, then ">yes"/">no" for questions
//    1223,                                   // exit code
//    {"W\tZAPH.NET version should not ..."},  // log lines, in this order (<folder> replaced)
//    "",                                     // the language selection: "" none waited for, or
//                                            //   "EN+* FR- proceed": each choice checked (+) or
//                                            //   not (-), "*" when marked as installed, then
//                                            //   proceed, cancel-yes or cancel-no (then Proceed)
//    ""},                                    // registry after the run: "Value=data; Value-"
//                                            //   of the product key; "" nothing changed
//
// Every box is owned by the progress window and bears its caption. A run that
// ends with 50 has reached the end of what this build does: it must say so in
// its log and show the error box of the step in progress. Unless the row says
// otherwise, the product's registry values and the state's files are exactly
// as before the run.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Distribution.h"
#include "MachineStates.h"
#include "Scenario.h"
#include "TestSupport.h"
#include "resource.h"

using namespace fwe2e;
using namespace fwtest;

namespace
{
const char PRODUCT_KEY[] = "HKLM\\SOFTWARE\\Ombrant\\ZAPH QRT";
const char* const PRODUCT_VALUES[] = {"InstallPath", "SetupType", "DotNet", "MultiMSVersion",
                                      "IntendedPath", "ProductCode"};
const char STOPS_HERE[] = "is not available in this build: the run stops here.";

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
    const char* windows;
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

// The machine as a run could change it: the product's values and every file
// of the states' folders with its size.
std::string Snapshot(const std::string& root)
{
    std::string text;
    for (const char* name : PRODUCT_VALUES)
        text += std::string(name) + "=" + RegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY + 5, name) + "\n";
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
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                folders.push_back(folder + "\\" + name);
            text += folder + "\\" + name + " " + std::to_string(found.nFileSizeLow) + "\n";
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    return text;
}

void SetWindows(Scenario& s, const std::string& windows)
{
    std::vector<std::string> words = Words(windows);
    if (words.empty())
        return;
    s.SetWindowsVersion(words[0]);
    for (size_t i = 1; i < words.size(); ++i)
    {
        if (words[i].compare(0, 2, "sp") == 0)
        {
            EXPECT_TRUE(s.SetRegDword("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Windows", "CSDVersion",
                                      (DWORD)std::stoul(words[i].substr(2)) << 8));
        }
        else if (words[i] == "hotfix")
        {
            EXPECT_TRUE(s.SetRegDword("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009",
                                      "Installed", 1));
        }
    }
}

void ExpectBoxes(Scenario& s, const Row& row, const std::string& title, const std::string& folder)
{
    for (const std::string& box : row.boxes)
    {
        BoxExpectation& expect = s.ExpectBox().TitleEquals(title).Owned(true);
        std::string text = Replace(box.substr(2), "<folder>", folder);
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
    // The end of this build: the error named by the step in progress.
    if (row.rc == 50)
        s.ExpectBox().TitleEquals(title).Owned(true).Icon(ICON_ERROR).TextStartsWith("An error occurred:\n");
}

// The language selection: the choices as expected, then the row's action.
void Select(Scenario& s, const std::string& title, const std::string& selection)
{
    static const char* const CODES[] = {"DA", "DE", "EL", "EN", "ES", "FI", "FR", "IT", "NL", "PT", "SV", "LU",
                                        "EU", "CY", "CZ", "EE", "HU", "LV", "LT", "MT", "PL", "SI", "SK"};
    ProgramWindow window = s.FindWindow(title);
    ASSERT_TRUE(window);
    ASSERT_TRUE(window.WaitForText(IDC_INFO_TEXT, "Choose the languages.", 20000)) << window.Describe();
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
            EXPECT_TRUE(window.Click(IDCANCEL));
            EXPECT_TRUE(s.WaitForBoxes(20000));
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

void CheckAfter(const Row& row, const std::string& before, const std::string& root)
{
    if (row.after[0] == 0)
    {
        EXPECT_EQ(before, Snapshot(root)) << "the run changed the machine";
        return;
    }
    for (const std::string& change : Words(row.after, ';'))
    {
        size_t eq = change.find('=');
        if (eq == std::string::npos)
            EXPECT_TRUE(RegValueAbsent(PRODUCT_KEY, change.substr(0, change.size() - 1)));
        else
            EXPECT_TRUE(RegValueIs(PRODUCT_KEY, change.substr(0, eq), change.substr(eq + 1)));
    }
}

void RunRow(const Row& row)
{
    SCOPED_TRACE(row.name);
    MachineState machine;
    std::string folder = row.machine ? machine.Apply(*row.machine) : "";
    Scenario s;
    SetWindows(s, row.windows);
    Distribution dist;
    dist.Apply(row.dist);
    ASSERT_TRUE(dist.WriteTo(s));
    ExpectBoxes(s, row, dist.Title(), folder);
    std::string before = Snapshot(machine.Root());

    std::string args = Replace(row.args, "<folder>", folder);
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
    EXPECT_EQ(row.rc, rc);

    LogView log = s.Log();
    std::vector<std::string> lines;
    for (const std::string& line : row.log)
        lines.push_back(Replace(line, "<folder>", folder));
    lines.push_back("\t**> Main return code '" + std::to_string(row.rc) + "'.");
    EXPECT_TRUE(log.InOrder(lines));
    if (row.rc == 50)
        EXPECT_TRUE(log.Contains(STOPS_HERE));
    else
        EXPECT_TRUE(log.Lacks(STOPS_HERE));
    CheckAfter(row, before, machine.Root());
}

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
    {"fresh machine", nullptr, "winxp", "", "", {}, 50,
     {"\tDotNet registry information not detected. Don't know.",
      "\tNo information about previous ZAPH installation.", "\tDefault dir = C:\\Program Files\\ZAPH ",
      "\t=== Multi-MS: no version detected."},
     "", ""},
    {"QRT upgrade, backup made", &STATE_QRT_OLDER, "winxp", "", "",
     {"Q:Have you made a backup of your data?>yes"}, 50,
     {"\tDotNet=No", "\tFound ZAPH in '<folder>'",
      "\tINIFILE '<folder>\\LU\\setup\\Zaph.ini' setting 'VERSION=V6.1' LOWER than 'V6.2'",
      "\tFound language 'EN' in '<folder>\\LU\\*'", "\tDefault dir = C:\\Program Files\\ZAPH "},
     "", ""},
    {"no backup question without its label", &STATE_QRT_OLDER, "", "@MadeBackup-", "", {}, 50,
     {"\tFound ZAPH in '<folder>'"}, "", ""},
    {"update mode with an older installation", &STATE_QRT_OLDER, "", "@MadeBackup-", "/u", {}, 50,
     {"\tAUTOUPGRADE", "\tINIFILE '<folder>\\LU\\setup\\Zaph.ini' setting 'VERSION=V6.1' LOWER than 'V6.2'"},
     "", ""},
    {".NET package over the .NET edition", &STATE_DOTNET_OLDER, "", "DotNet=yes; @MadeBackup-", "", {}, 50,
     {"\tDotNet=Yes", "\tINIFILE '<folder>\\LU\\setup\\Zaph.ini' setting 'VERSION=V16.1' LOWER than 'V16.2'"},
     "", ""},
    {"QRT package where the registry says .NET but no data", &STATE_DOTNET_SERVER, "",
     "MemberState=BE; @MadeBackup-", "", {}, 50,
     {"W\tZAPH.NET version should not be upgraded to ZAPH.QRT!",
      "\tWe're checking for ZAPH.NET presence in '<folder>\\'!"},
     "", ""},
    {"Multi-MS without the target folder", nullptr, "", "@MadeBackup-", "/m /t C:\\nowhere\\zaph", {}, 50,
     {"\tMULTIMODE", "\t=== Multi-MS: no version detected.",
      "W\t=== Multi-MS: Directory 'C:\\nowhere\\zaph' doesn't exist. *not* skipping MSI step."},
     "", ""},
    {"Multi-MS over a folder without a package", &STATE_QRT_OLDER, "", "@MadeBackup-", "/m", {}, 50,
     {"\t=== Multi-MS: Directory '<folder>' exists.", "\t=== Multi-MS: Find product code matching '-5A1E-4B7D-8C20-91F3C6A0D4E8}'",
      "W\t=== Multi-MS: Need to run MSI."},
     "", ""},
    {"Vista's default folder", nullptr, "vista", "", "", {}, 50,
     {"\tDefault dir = C:\\users\\Public\\ZAPH "}, "", ""},
};

TEST(Install, Scenarios)
{
    for (const Row& row : ROWS)
        RunRow(row);
}
} // namespace
