// What the .NET edition needs before its package: the Framework and MDAC
// prerequisites over machine states and Windows versions, the installers'
// exit codes, the restart registration and its second start, the Windows
// Installer engine upgrade, the language selection, and the repair of the
// security policy (/r) through fernwick.exe. The steps that no phase runs yet
// run in fw_prereqhost.exe, which starts as fernwick.exe does; the outside
// installers and tools are fw_standin.exe under their names.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "MachineStates.h"
#include "HttpTestServer.h"
#include "Scenario.h"
#include "Sha256.h"
#include "StandIns.h"
#include "TestSupport.h"
#include "resource.h"

using namespace fwe2e;

namespace
{
const char* const HOST = "fw_prereqhost.exe";
const char* const TITLE = "Ombrant ZAPH Setup [EN] 2.1";
const char* const ALLOW = "Install the missing system components?";
const char* const SHOULD_UPGRADE = "Please install the service pack of the .NET Framework 1.1.";
const char* const FAIL_PRE = "An error occurred:\nA system component could not be installed.";
const char* const FAIL_MSI = "An error occurred:\nThe Windows Installer could not be upgraded.";

std::string Settings(const std::string& extra, const std::vector<std::string>& languages = {"EN"})
{
    std::string text = "[Settings]\nBASE_URL=http://downloads.example/LU/2.1/\nMemberState=LU\n"
                       "IniVersion=2.1\nExeVersion=2.1.0.5\nDotNet=yes\nThreading=Off\n" + extra +
                       "[Components]\n<MS>\\ms.mdb=V2.1.0.0\n[Additional]\n<MS>\\news.txt=Any\n"
                       "[CheckSums]\n<MS>\\ms.mdb=00000000\n";
    for (const std::string& code : languages)
        text += "[Labels_" + code + "]\n"
                "Caption=%s ZAPH Setup [%hs]\nOrganisation=Ombrant\nCancelButton=Cancel\n"
                "ProceedButton=Proceed\nErrorOccurred=An error occurred:|%s\n"
                "InvalidValue=The setting '%s' is missing or invalid.\n"
                "AllowPreUpgrade=Install the missing system components?\n"
                "ShouldUpgradeV11=Please install the service pack of the .NET Framework 1.1.\n"
                "FailInstallPre=A system component could not be installed.\n"
                "MustBeAdmin=Only an administrator can do this.\n"
                "Reboot=Please restart the computer.\nInstallSystem=Installing system components\n"
                "AllowUpdateMSI=Upgrade the Windows Installer?\n"
                "FailInstallMSI=The Windows Installer could not be upgraded.\n"
                "ConfirmCancel=Stop the setup?\nLanguageSelection=Choose the languages.\n"
                "SelectLanguage=Language " + code + "\n";
    return text;
}

std::vector<std::string> Split(const std::string& text, char separator = ' ')
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, separator))
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

// What each installer is started with, as the stand-in records it.
std::string CallOf(const std::string& name)
{
    if (name == "dotnetfx.exe" || name == "dotnetfx_20.exe")
        return name + "|/q:a /c:\"install /l /q \"";
    if (name == "dotnetsp11.exe")
        return name + "|/I /Q";
    if (name == "mdac_typ.exe")
        return name + "|/q /c:\"setup /QNT \"";
    return name + "|/c:\"msiinst /delayreboot\"";   // the engine installers
}

// Test names from the rows' own names: letters and digits only, numbered.
template <class Row>
std::string RowName(const ::testing::TestParamInfo<Row>& info)
{
    std::string name;
    for (const char* p = info.param.name; *p; ++p)
        if (isalnum((unsigned char)*p))
            name += *p;
    return std::to_string(info.index) + "_" + name;
}

std::string HostLine(const char* step, int ok, long result, int reboot)
{
    return "HOST " + std::string(step) + " ok=" + std::to_string(ok) +
           " result=" + std::to_string(result) + " reboot=" + std::to_string(reboot);
}

// A run of the host in LOCAL mode over a distribution holding the given
// stand-ins below setup\.
struct HostRun
{
    Scenario s;
    fwtest::StandIns standIns;
    explicit HostRun(const char* step)
        : standIns(s.Folder("machine"))
    {
        s.SetExeName(HOST);
        EXPECT_TRUE(s.CopyFromBin(HOST));
        EXPECT_TRUE(s.WriteFile("_FW_LOCAL_.txt", ""));
        SetEnvironmentVariableA("FW_HOST_STEP", step);
    }
    ~HostRun() { SetEnvironmentVariableA("FW_HOST_STEP", NULL); }
    void Place(const std::string& names)
    {
        for (const std::string& name : Split(names))
            EXPECT_TRUE(standIns.Place(s.Path("setup\\" + name))) << name;
    }
    // "name=code" or "name=crash" pairs.
    void Exits(const std::string& pairs)
    {
        for (const std::string& pair : Split(pairs))
        {
            size_t eq = pair.find('=');
            std::string name = pair.substr(0, eq), code = pair.substr(eq + 1);
            if (code == "crash")
                standIns.Crash(name);
            else
                standIns.ExitWith(name, (DWORD)std::stoul(code));
        }
    }
    std::vector<std::string> ExpectedCalls(const std::string& names)
    {
        std::vector<std::string> calls;
        for (const std::string& name : Split(names))
            calls.push_back(CallOf(name));
        return calls;
    }
};

// One machine state, what the distribution offers, and what must happen.
struct PrereqRow
{
    const char* name;
    const char* windows;    // per-program Windows version; "" the prefix's
    DWORD csd;              // CSDVersion (service pack << 8); 0 leaves it
    const char* framework;  // "v1.1.4322", "v1.1.4322+SP", "v2.0.50727" or ""
    const char* mdac;       // FullInstallVer, "" none
    const char* installers; // stand-ins in setup\ (LOCAL mode: what is available)
    const char* exits;      // "name=code" pairs
    const char* extra;      // settings lines and command-line options ("args:/c")
    const char* question;   // lines listed in the one question, '|'-separated; "" none; "!" answers no
    const char* calls;      // installers run, in order
    const char* box;        // "should", "fail" or ""
    long result;
    int ok;
    const char* restart;    // "cmd": registered; "": nothing; else the value expected
};

const char* const ALL = "dotnetfx.exe dotnetsp11.exe dotnetfx_20.exe mdac_typ.exe";
const char* const V11 = "dotnetfx.exe dotnetsp11.exe mdac_typ.exe";
const char* const NEW_MDAC = "2.81.1117.0";
const char* const OLD_MDAC = "2.50.4403.12";

std::string Question(const std::string& lines)
{
    std::string text = std::string(ALLOW) + "\n\n\n";
    for (const std::string& line : Split(lines, '|'))
        text += line + "\n";
    return text + "\n";
}

const PrereqRow PREREQ_ROWS[] = {
    {"nothing: 2.0 and MDAC", "", 0, "", "", ALL, "", "", "   Microsoft .NET Framework V2.0|   Microsoft Data Access Components V2.8 (MDAC)",
     "dotnetfx_20.exe mdac_typ.exe", "", 3010, 1, "cmd"},
    {"nothing, 1.1 only: slipstream", "", 0, "", NEW_MDAC, V11, "", "", "   Microsoft .NET Framework V1.1|   Microsoft .NET Framework V1.1 Service Pack 1",
     "dotnetfx.exe dotnetsp11.exe", "", 0, 1, ""},
    {"nothing, 1.1 without its pack", "", 0, "", NEW_MDAC, "dotnetfx.exe", "", "", "   Microsoft .NET Framework V1.1",
     "dotnetfx.exe", "should", 0, 1, ""},
    {"1.1 without SP: the pack only", "", 0, "v1.1.4322", NEW_MDAC, ALL, "", "", "   Microsoft .NET Framework V1.1 Service Pack 1",
     "dotnetsp11.exe", "", 0, 1, ""},
    {"1.1 without SP, check only", "", 0, "v1.1.4322", NEW_MDAC, ALL, "", "args:/c", "", "", "should", 0, 1, ""},
    {"1.1 SP1 and MDAC 2.8: nothing", "", 0, "v1.1.4322+SP", NEW_MDAC, ALL, "", "", "", "", "", 0, 1, ""},
    {"2.0, MDAC old", "", 0, "v2.0.50727", OLD_MDAC, ALL, "", "", "   Microsoft Data Access Components V2.8 (MDAC)",
     "mdac_typ.exe", "", 3010, 1, "cmd"},
    {"2.0, MDAC 2.7 current", "", 0, "v2.0.50727", "2.71.9030.0", ALL, "", "", "", "", "", 0, 1, ""},
    {"2.0, MDAC old, Reboot $SKIP$", "", 0, "v2.0.50727", OLD_MDAC, ALL, "", "Reboot=$SKIP$\n",
     "   Microsoft Data Access Components V2.8 (MDAC)", "mdac_typ.exe", "", 3010, 1, ""},
    {"Windows 98: 2.0", "win98", 0, "", NEW_MDAC, ALL, "", "", "   Microsoft .NET Framework V2.0", "dotnetfx_20.exe", "", 0, 1, ""},
    {"NT 4.0: no 2.0", "nt40", 0x600, "", NEW_MDAC, ALL, "", "", "   Microsoft .NET Framework V1.1|   Microsoft .NET Framework V1.1 Service Pack 1",
     "dotnetfx.exe dotnetsp11.exe", "", 0, 1, ""},
    {"XP SP1: no 2.0", "winxp", 0x100, "", NEW_MDAC, ALL, "", "", "   Microsoft .NET Framework V1.1|   Microsoft .NET Framework V1.1 Service Pack 1",
     "dotnetfx.exe dotnetsp11.exe", "", 0, 1, ""},
    {"XP SP3: 2.0", "winxp", 0x300, "", NEW_MDAC, ALL, "", "", "   Microsoft .NET Framework V2.0", "dotnetfx_20.exe", "", 0, 1, ""},
    {"Vista: 2.0", "vista", 0, "", NEW_MDAC, ALL, "", "", "   Microsoft .NET Framework V2.0", "dotnetfx_20.exe", "", 0, 1, ""},
    {"settings name the installers", "", 0, "", NEW_MDAC, ALL, "",
     "notlocal V11InstallerAvailable=yes\nSPV11InstallerAvailable=no\nV20InstallerAvailable=no\n",
     "   Microsoft .NET Framework V1.1", "dotnetfx.exe", "should", 0, 1, ""},
    {"declined", "", 0, "", "", ALL, "", "", "!   Microsoft .NET Framework V2.0|   Microsoft Data Access Components V2.8 (MDAC)",
     "", "", 995, 0, ""},
    {"no installer at all", "", 0, "", NEW_MDAC, "", "", "", "", "", "", 2, 0, ""},
    {"1602: cancelled, no box, no MDAC", "", 0, "", "", ALL, "dotnetfx_20.exe=1602", "",
     "   Microsoft .NET Framework V2.0|   Microsoft Data Access Components V2.8 (MDAC)", "dotnetfx_20.exe", "", 1602, 0, ""},
    {"1603: failure", "", 0, "", NEW_MDAC, ALL, "dotnetfx_20.exe=1603", "", "   Microsoft .NET Framework V2.0",
     "dotnetfx_20.exe", "fail", 1603, 0, ""},
    {"crash", "", 0, "", NEW_MDAC, ALL, "dotnetfx_20.exe=crash", "", "   Microsoft .NET Framework V2.0",
     "dotnetfx_20.exe", "fail", (long)0xC0000005, 0, ""},
    {"MDAC fails after a restart request", "", 0, "", "", ALL, "dotnetfx_20.exe=3010 mdac_typ.exe=1603", "",
     "   Microsoft .NET Framework V2.0|   Microsoft Data Access Components V2.8 (MDAC)",
     "dotnetfx_20.exe mdac_typ.exe", "fail", 1603, 0, "cmd"},
    {"3010 then 1641: one registration", "", 0, "", NEW_MDAC, V11, "dotnetfx.exe=3010 dotnetsp11.exe=1641",
     "restart-overwritten-by:dotnetsp11.exe", "   Microsoft .NET Framework V1.1|   Microsoft .NET Framework V1.1 Service Pack 1",
     "dotnetfx.exe dotnetsp11.exe", "", 3010, 1, "changed by the stand-in"},
};

void PrintTo(const PrereqRow& row, std::ostream* out)
{
    *out << row.name;
}

class Prerequisites : public ::testing::TestWithParam<PrereqRow>
{
};

TEST_P(Prerequisites, ChoiceQuestionCallsAndVerdict)
{
    const PrereqRow& row = GetParam();
    HostRun run("prereq");
    Scenario& s = run.s;
    std::string extra = row.extra, args;
    if (extra.rfind("args:", 0) == 0)
    {
        args = extra.substr(5);
        extra.clear();
    }
    if (extra.rfind("notlocal ", 0) == 0)
    {
        extra = extra.substr(9);
        DeleteFileA(s.Path("_FW_LOCAL_.txt").c_str());
        extra = "BASE_URL=" + s.Dir() + "\\\n" + extra;
    }
    if (extra.rfind("restart-overwritten-by:", 0) == 0)
    {
        run.standIns.WriteRestartOnRun(extra.substr(23), row.restart);
        extra.clear();
    }
    // A later BASE_URL line would not count: the first one is read.
    std::string settings = Settings(extra);
    if (extra.rfind("BASE_URL=", 0) == 0)
        settings.replace(settings.find("BASE_URL=http"), settings.find('\n', settings.find("BASE_URL=http")) -
                                                             settings.find("BASE_URL=http") + 1, "");
    ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", settings));
    run.Place(row.installers);
    run.Exits(row.exits);
    if (row.windows[0])
        s.SetWindowsVersion(row.windows);
    if (row.csd)
    {
        ASSERT_TRUE(s.SetRegDword("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Windows", "CSDVersion", row.csd));
    }
    std::string framework = row.framework;
    if (!framework.empty())
    {
        bool sp = framework.size() > 3 && framework.substr(framework.size() - 3) == "+SP";
        run.standIns.SetFramework(sp ? framework.substr(0, framework.size() - 3) : framework, sp ? 1 : 0, true);
    }
    if (row.mdac[0])
        run.standIns.SetMdac(row.mdac);

    std::string question = row.question;
    if (std::string(row.box) == "should" && question.empty())
        s.ExpectBox().TitleEquals(TITLE).TextEquals(SHOULD_UPGRADE).Icon(ICON_WARNING);
    if (!question.empty())
    {
        bool no = question[0] == '!';
        s.ExpectBox().TitleEquals(TITLE).TextEquals(Question(no ? question.substr(1) : question))
            .Icon(ICON_QUESTION).Press(no ? IDNO : IDYES);
    }
    if (std::string(row.box) == "should" && !question.empty())
        s.ExpectBox().TitleEquals(TITLE).TextEquals(SHOULD_UPGRADE).Icon(ICON_WARNING);
    if (std::string(row.box) == "fail")
        s.ExpectBox().TitleEquals(TITLE).TextEquals(FAIL_PRE).Icon(ICON_ERROR);

    EXPECT_EQ((int)row.result, s.Run(args)) << row.name;
    EXPECT_EQ(run.ExpectedCalls(row.calls), run.standIns.Calls()) << row.name;
    LogView log = s.Log();
    EXPECT_TRUE(log.HasLine(HostLine("prereq", row.ok, row.result, row.restart[0] || row.result == 3010 ? 1 : 0)))
        << row.name << log.Describe();
    std::string restart = run.standIns.RestartCommand();
    if (std::string(row.restart) == "cmd")
    {
        EXPECT_EQ("\"" + s.ExePath() + "\"" + (args.empty() ? "" : " " + args), restart) << row.name;
    }
    else
    {
        EXPECT_EQ(row.restart, restart) << row.name;
    }
    if (std::string(row.name).find("1602") != std::string::npos)
    {
        EXPECT_TRUE(log.HasLine("W\tInstallPreconditions abandoned.")) << row.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, Prerequisites, ::testing::ValuesIn(PREREQ_ROWS), RowName<PrereqRow>);

// The registered command starts the same program with the same options from
// wherever the restart starts it.
TEST(Restart, RegisteredCommandRestartsWithTheSameOptions)
{
    HostRun run("prereq");
    Scenario& s = run.s;
    ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", Settings("")));
    run.Place(ALL);
    run.standIns.SetFramework("v2.0.50727", 0, false);
    run.standIns.SetMdac(OLD_MDAC);
    s.ExpectBox().Press(IDYES);
    std::string target = s.Root() + "\\target dir";
    std::string log = s.Root() + "\\resume log.txt";
    std::string args = "/d3 \"" + log + "\" /l EN /t \"" + target + "\"";
    EXPECT_EQ(3010, s.Run(args));
    std::string command = run.standIns.RestartCommand();
    EXPECT_EQ("\"" + s.ExePath() + "\" " + args, command);

    // The restart: another folder, nothing of this run's state but the command.
    SetEnvironmentVariableA("FW_HOST_STEP", NULL);
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    std::string elsewhere = s.Folder("elsewhere");
    ASSERT_TRUE(CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, elsewhere.c_str(),
                               &startup, &process));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 30000));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    LogView resumed = s.LogFile(log);
    EXPECT_EQ(2, resumed.Count("\tLanguage='EN'")) << resumed.Describe();
    EXPECT_EQ(2, resumed.Count("\tTARGETDIR='" + target + "'")) << resumed.Describe();
    EXPECT_EQ(1, resumed.Count("HOST  ok=1 result=0 reboot=0")) << resumed.Describe();
}

// The engine upgrade: (settings lines, Windows version, stand-in exit, answer) -> outcome.
struct EngineRow
{
    const char* name;
    const char* windows;
    const char* extra;
    const char* installer;  // stand-in placed in setup\ ("" none)
    DWORD exit;
    const char* question;   // "yes", "no" or "" (none)
    const char* box;        // "invalid", "fail" or ""
    long result;
    int ok;
    const char* call;       // "" none
    const char* logLine;
};

const EngineRow ENGINE_ROWS[] = {
    {"engine new enough", "", "MSI_Version=200\n", "instmsiw.exe", 0, "", "", 0, 1, "",
     "\tNo Windows Installer upgrade is necessary. We need 200 and we have 405"},
    {"MSI_Version below 110", "", "MSI_Version=100\n", "instmsiw.exe", 0, "", "invalid", 13, 0, "", ""},
    {"older engine, version check skipped", "",
     "MSI_Version=500\nMSI_NT=setup\\instmsiw.exe\nCheckMSIVersion=$SKIP$\nAskMSIUpgrade=no\n",
     "instmsiw.exe", 0, "", "", 0, 1, "instmsiw.exe", "\t'setup\\instmsiw.exe' obtained as '%DIR%\\setup\\instmsiw.exe'"},
    {"older engine, restart asked", "", "MSI_Version=500\nMSI_NT=setup\\instmsiw.exe\nCheckMSIVersion=$skip$\n",
     "instmsiw.exe", 3010, "yes", "", 3010, 1, "instmsiw.exe", "\tDoInstallMSI wants a reboot."},
    {"older engine, declined", "", "MSI_Version=500\nMSI_NT=setup\\instmsiw.exe\n", "instmsiw.exe", 0, "no",
     "", 995, 0, "", ""},
    {"installer without a version", "", "MSI_Version=500\nMSI_NT=setup\\instmsiw.exe\nAskMSIUpgrade=no\n",
     "instmsiw.exe", 0, "", "fail", 0, 0, "", "W\tCan't obtain version information '%DIR%\\setup\\instmsiw.exe'."},
    {"installer cancelled", "", "MSI_Version=500\nMSI_NT=setup\\instmsiw.exe\nCheckMSIVersion=$SKIP$\nAskMSIUpgrade=no\n",
     "instmsiw.exe", 1602, "", "", 1602, 0, "instmsiw.exe", ""},
    {"Windows 98 takes MSI_9X", "win98", "MSI_Version=500\nMSI_9X=setup\\instmsia.exe\nCheckMSIVersion=$SKIP$\nAskMSIUpgrade=no\n",
     "instmsia.exe", 0, "", "", 0, 1, "instmsia.exe", ""},
    {"NT 4.0 SP5 reverts to engine 1.2", "nt40",
     "MSI_Version=500\nMSI_NT=setup\\instmsiw.exe\nCheckMSIVersion=$SKIP$\nAskMSIUpgrade=no\n", "instmsiw12.exe", 0,
     "", "", 0, 1, "instmsiw12.exe|", "W\tNT 4.0 SP5 detected. Will revert to MSI V1.2 (setup\\instmsiw12.exe)"},
};

void PrintTo(const EngineRow& row, std::ostream* out)
{
    *out << row.name;
}

class Engine : public ::testing::TestWithParam<EngineRow>
{
};

TEST_P(Engine, UpgradeOutcome)
{
    const EngineRow& row = GetParam();
    HostRun run("engine");
    Scenario& s = run.s;
    ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", Settings(row.extra)));
    if (row.installer[0])
        run.Place(row.installer);
    run.standIns.ExitWith(row.installer, row.exit);
    if (row.windows[0])
        s.SetWindowsVersion(row.windows);
    if (std::string(row.windows) == "nt40")
    {
        ASSERT_TRUE(s.SetRegDword("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Windows", "CSDVersion", 0x500));
    }
    if (row.question[0])
        s.ExpectBox().TitleEquals(TITLE).TextEquals("Upgrade the Windows Installer?")
            .Press(std::string(row.question) == "yes" ? IDYES : IDNO);
    if (std::string(row.box) == "invalid")
        s.ExpectBox().TextEquals("The setting 'MSI_Version' is missing or invalid.").Icon(ICON_ERROR);
    if (std::string(row.box) == "fail")
        s.ExpectBox().TextEquals(FAIL_MSI).Icon(ICON_ERROR);

    EXPECT_EQ((int)row.result, s.Run()) << row.name;
    std::vector<std::string> calls;
    std::string call = row.call;
    if (call.size() && call.back() == '|')
        calls.push_back(call);   // run without the delayed-restart option
    else if (call.size())
        calls.push_back(CallOf(call));
    EXPECT_EQ(calls, run.standIns.Calls()) << row.name;
    LogView log = s.Log();
    EXPECT_TRUE(log.HasLine(HostLine("engine", row.ok, row.result, 0))) << row.name << log.Describe();
    std::string line = row.logLine;
    size_t dir = line.find("%DIR%");
    if (dir != std::string::npos)
        line.replace(dir, 5, s.Dir());
    if (!line.empty())
    {
        EXPECT_TRUE(log.HasLine(line)) << row.name;
    }
    EXPECT_EQ(row.result == 3010 ? "\"" + s.ExePath() + "\"" : "", run.standIns.RestartCommand());
}

INSTANTIATE_TEST_SUITE_P(Rows, Engine, ::testing::ValuesIn(ENGINE_ROWS), RowName<EngineRow>);

// The language selection, read and clicked as a user would.
TEST(LanguageSelection, AllCheckedThenProceed)
{
    HostRun run("language");
    Scenario& s = run.s;
    ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", Settings("", {"EN", "FR", "DE", "XX"})));
    ASSERT_TRUE(s.Start());
    ProgramWindow w = s.FindWindow(TITLE);
    if (!w)
        return;
    const int EN = IDC_LANGUAGE_FIRST + 3, FR = IDC_LANGUAGE_FIRST + 6, DE = IDC_LANGUAGE_FIRST + 1;
    for (int id : {EN, FR, DE})
        EXPECT_TRUE(w.IsChecked(id) && w.IsEnabled(id)) << id;
    EXPECT_EQ("Language FR", w.ControlText(FR));
    EXPECT_EQ("Choose the languages.", w.ControlText(IDC_INFO_TEXT));
    EXPECT_TRUE(w.Click(FR));   // unticked: the window stays in English
    EXPECT_TRUE(w.Click(IDC_PROCEED));
    EXPECT_EQ(0, s.Wait());
    EXPECT_TRUE(s.Log().HasLine("HOST languages=DE,EN count=2"));
}

TEST(LanguageSelection, PreselectionNeedsOneLanguageAndCancelAsks)
{
    HostRun run("language");
    Scenario& s = run.s;
    ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", Settings("", {"EN", "FR", "DE"})));
    SetEnvironmentVariableA("FW_HOST_PRESELECT", "DE");
    SetEnvironmentVariableA("FW_HOST_TARGET", "C:\\ZAPH");
    ASSERT_TRUE(s.Start());
    SetEnvironmentVariableA("FW_HOST_PRESELECT", NULL);
    SetEnvironmentVariableA("FW_HOST_TARGET", NULL);
    ProgramWindow w = s.FindWindow(TITLE);
    if (!w)
        return;
    const int EN = IDC_LANGUAGE_FIRST + 3, FR = IDC_LANGUAGE_FIRST + 6, DE = IDC_LANGUAGE_FIRST + 1;
    EXPECT_TRUE(w.IsChecked(DE));
    EXPECT_EQ("Language DE *", w.ControlText(DE));
    EXPECT_FALSE(w.IsChecked(EN));
    EXPECT_FALSE(w.IsChecked(FR));
    EXPECT_TRUE(w.IsEnabled(IDC_PROCEED));
    EXPECT_TRUE(w.Click(DE));
    EXPECT_FALSE(w.IsEnabled(IDC_PROCEED));   // at least one language
    EXPECT_TRUE(w.Click(FR));
    EXPECT_TRUE(w.IsEnabled(IDC_PROCEED));
    EXPECT_EQ("Ombrant ZAPH Setup [FR] 2.1", w.Title());   // ticking switches the language
    s.ExpectBox().TextEquals("Stop the setup?").Press(IDNO);
    EXPECT_TRUE(w.Click(IDCANCEL));
    EXPECT_TRUE(s.WaitForBoxes());
    EXPECT_TRUE(s.Running());
    s.ExpectBox().TextEquals("Stop the setup?").Press(IDYES);
    EXPECT_TRUE(w.Click(IDCANCEL));
    EXPECT_EQ(1223, s.Wait());
    EXPECT_TRUE(s.Log().HasLine("HOST languages=FR count=1"));
}

TEST(LanguageSelection, SingleLanguageNeedsNoChoice)
{
    HostRun run("language");
    Scenario& s = run.s;
    ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", Settings("")));
    EXPECT_EQ(0, s.Run());
    EXPECT_TRUE(s.Log().HasLine("HOST languages=EN count=1"));
}

// Repair mode through fernwick.exe: (earlier installation, command line,
// Framework) -> the policy tool's calls and the one box; always code 0.
struct RepairRow
{
    const char* name;
    const fwtest::StateRow* state;
    bool folderGiven;        // /r names another folder holding Zaph.exe
    bool framework;
    const char* box;         // the one box, warning unless it is the failure
};

const RepairRow REPAIR_ROWS[] = {
    {"installed", &fwtest::STATE_DOTNET_SERVER, false, true, "Repair successfull."},
    {"folder given overrides the registry", &fwtest::STATE_DOTNET_SERVER, true, true, "Repair successfull."},
    {"no installation", &fwtest::STATE_NOTHING, false, true, "Did not find ZAPH installation path. Could not repair."},
    {"no Framework", &fwtest::STATE_DOTNET_SERVER, false, false, "One or more repair attempts have failed."},
    {"older line without Zaph.exe", &fwtest::STATE_OLDER_LINE, false, true, "One or more repair attempts have failed."},
};

void PrintTo(const RepairRow& row, std::ostream* out)
{
    *out << row.name;
}

class Repair : public ::testing::TestWithParam<RepairRow>
{
};

TEST_P(Repair, CaspolCallsAndBox)
{
    const RepairRow& row = GetParam();
    Scenario s;
    fwtest::MachineState machine;
    fwtest::StandIns standIns(s.Folder("machine"));
    std::string folder = machine.Apply(*row.state);
    std::string args = "/r";
    if (row.folderGiven)
    {
        folder = s.Folder("given");
        ASSERT_TRUE(s.WriteFile(folder + "\\Zaph.exe", "MZ"));
        args += " \"" + folder + "\"";
    }
    if (row.framework)
        standIns.SetFramework("v1.1.4322", 1, true);
    bool failed = std::string(row.box).find("failed") != std::string::npos;
    s.ExpectBox().TitleEquals("MORV_TELA Setup and Upgrade Tool").TextEquals(row.box)
        .Icon(failed ? ICON_ERROR : ICON_WARNING);
    EXPECT_EQ(0, s.Run(args)) << row.name;

    std::vector<std::string> calls;
    if (!failed && !folder.empty())
        calls = {"caspol.exe|-q -machine -remgroup ZAPH",
                 "caspol.exe|-q -machine -ag 1 -strong -file \"" + folder +
                     "\\Zaph.exe\" -noname -noversion FullTrust -description \"ZAPH.NET by Ombrant\" -name ZAPH"};
    EXPECT_EQ(calls, standIns.Calls()) << row.name;
    LogView log = s.Log();
    if (!row.framework)
    {
        EXPECT_TRUE(log.HasLine("W\tCASPOL: command not found.")) << log.Describe();
    }
    EXPECT_TRUE(log.HasLine("\t**> Main return code '0'.")) << log.Describe();
}

INSTANTIATE_TEST_SUITE_P(Rows, Repair, ::testing::ValuesIn(REPAIR_ROWS), RowName<RepairRow>);
} // namespace

// Installers fetched from the network (WEB mode, a loopback server) run only
// when signed by their publisher through an authority the system trusts, or
// when they match the digest the settings file lists; a refused one is not
// run and ends the step with the refusal box.
struct DownloadRow
{
    const char* name;
    const char* program;  // below bin\: the stand-in served as setup\mdac_typ.exe
    bool oneByteChanged;
    bool authorityTrusted;
    const char* digest;   // "" none listed, "right" or "wrong"
    bool runs;
};

const DownloadRow DOWNLOAD_ROWS[] = {
    {"signed", "signed\\fw_standin_ms.exe", false, true, "", true},
    {"signed, one byte changed", "signed\\fw_standin_ms.exe", true, true, "", false},
    {"unsigned", "fw_standin.exe", false, true, "", false},
    {"another publisher", "signed\\fw_standin_other.exe", false, true, "", false},
    {"authority not trusted", "signed\\fw_standin_ms.exe", false, false, "", false},
    {"unsigned, digest listed", "fw_standin.exe", false, false, "right", true},
    {"unsigned, wrong digest", "fw_standin.exe", false, false, "wrong", false},
    {"signed, wrong digest", "signed\\fw_standin_ms.exe", false, true, "wrong", false},
};

void PrintTo(const DownloadRow& row, std::ostream* out)
{
    *out << row.name;
}

// Runs bin\fw_trust.exe: the test authority in or out of the user's root store.
bool Trust(const char* what)
{
    std::string line = "\"" + fwtest::BinDir() + "\\fw_trust.exe\" " + what + " \"" + fwtest::BinDir() +
                       "\\signed\\ca.der\"";
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back(0);
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, buffer.data(), NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code == 0;
}

class DownloadedInstaller : public ::testing::TestWithParam<DownloadRow>
{
};

TEST_P(DownloadedInstaller, RunsOnlyWhenSignedOrListed)
{
    const DownloadRow& row = GetParam();
    HostRun run("prereq");
    Scenario& s = run.s;
    DeleteFileA(s.Path("_FW_LOCAL_.txt").c_str());
    std::string bytes;
    ASSERT_TRUE(fwtest::ReadBytes(fwtest::BinDir() + "\\" + row.program, bytes));
    if (row.oneByteChanged)
        bytes[0x400] ^= 1;
    const std::string served = s.Folder("web") + "\\setup\\mdac_typ.exe";
    ASSERT_TRUE(s.WriteFile(served, bytes));
    fwtest::HttpTestServer server(s.Folder("web"));
    ASSERT_TRUE(server.Start());

    std::string settings = Settings("");
    settings.replace(settings.find("http://downloads.example/LU/2.1/"), 32, server.BaseUrl());
    if (row.digest[0])
    {
        char digest[SHA256_TEXT_SIZE];
        ASSERT_NE(SHA256_FAILED, Sha256OfFile(served.c_str(), digest));
        settings += std::string("[SHA256]\nsetup\\mdac_typ.exe=") +
                    (std::string(row.digest) == "right" ? digest : std::string(64, 'a')) + "\n";
    }
    ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", settings));
    run.standIns.SetFramework("v2.0.50727", 0, false);
    run.standIns.SetMdac(OLD_MDAC);
    ASSERT_TRUE(Trust(row.authorityTrusted ? "add" : "remove"));

    s.ExpectBox().TitleEquals(TITLE).TextEquals(Question("   Microsoft Data Access Components V2.8 (MDAC)"))
        .Press(IDYES);
    if (!row.runs)
        s.ExpectBox().TitleEquals(TITLE).TextContains("setup\\mdac_typ.exe").TextContains("It was not run.")
            .Icon(ICON_ERROR);
    int code = s.Run();
    Trust("remove");
    EXPECT_EQ(row.runs ? 3010 : 577, code) << row.name;
    bool ran = false;
    for (const std::string& call : run.standIns.Calls())
        ran = ran || call.find("mdac_typ") != std::string::npos;
    EXPECT_EQ(row.runs, ran) << row.name;
    LogView log = s.Log();
    EXPECT_EQ(!row.runs, (bool)log.Contains("refused: it is not run.")) << row.name << log.Describe();
}

INSTANTIATE_TEST_SUITE_P(Rows, DownloadedInstaller, ::testing::ValuesIn(DOWNLOAD_ROWS), RowName<DownloadRow>);
