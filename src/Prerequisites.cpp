#include "Prerequisites.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "CDownloadManager.h"
#include "CMSI.h"
#include "CResource.h"
#include "LogWindow.h"
#include "FileUtil.h"
#include "InstallerTrust.h"
#include "Log.h"
#include "Registry.h"
#include "ResultCodes.h"
#include "RunState.h"
#include "SystemInfo.h"
#include "TextUtil.h"
#include "WideAPI.h"
#include "UserMessages.h"

const char* const NDP_KEY = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP";
const char* const FRAMEWORK_KEY = "SOFTWARE\\Microsoft\\.NETFramework";
const char* const FRAMEWORK_ROOT_VALUE = "InstallRoot";
const char* const EXPLORER_KEY = "SOFTWARE\\Microsoft\\Internet Explorer";
const char* const DATA_ACCESS_KEY = "SOFTWARE\\Microsoft\\DataAccess";
const char* const RUN_ONCE_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char* const RUN_ONCE_VALUE = "Fernwick";
const char* const CASPOL_FILE_NAME = "caspol.exe";

const char* const DOTNET_V10 = "v1.0";
const char* const DOTNET_V11 = "v1.1.4322";
const char* const DOTNET_V20 = "v2.0";
const char* const DOTNET_V30 = "v3.0";

const PrerequisiteInstaller INSTALLER_DOTNET11 = {"setup\\dotnetfx.exe",
                                                  "/q:a /c:\"install /l /q \"", "V1.1"};
const PrerequisiteInstaller INSTALLER_DOTNET11_SP1 = {"setup\\dotnetsp11.exe", "/I /Q",
                                                      "V1.1 Service Pack 1"};
const PrerequisiteInstaller INSTALLER_DOTNET20 = {"setup\\dotnetfx_20.exe",
                                                  "/q:a /c:\"install /l /q \"", "V2.0"};
const PrerequisiteInstaller INSTALLER_MDAC = {"setup\\mdac_typ.exe", "/q /c:\"setup /QNT \"",
                                              "Microsoft MDAC V2.8"};

char caspolPath[MAX_PATH] = "";
// The restart resume is written once per run, whichever step asks first.
static bool s_resumeRegistered = false;

// A version text of this length or more names its registry key in full.
static const size_t FULL_VERSION_LENGTH = 9;
static const int COMMAND_SIZE = 1040;
static const int RESUME_COMMAND_SIZE = 2 * MAX_PATH + 1040;

static const char* const MDAC_FULL_VERSION_VALUE = "FullInstallVer";
static const char* const MDAC_VERSION_VALUE = "Version";
static const char* const EXPLORER_VERSION_VALUE = "Version";

static const char* YesNo(bool value)
{
    return value ? "yes" : "no";
}

// Version 3 and 1.0 are only logged: presence alone decides for them.
static bool IsPresenceOnlyVersion(const char* version)
{
    size_t length = strlen(version);
    if (length >= 2 && version[1] == '3')
        return true;
    return length >= 4 && version[1] == '1' && version[3] == '0';
}

PrerequisiteOutcome::PrerequisiteOutcome()
    : code(0), message(""), abandoned(false), cancelled(false), restartNeeded(false)
{
}

PrerequisiteMachine::PrerequisiteMachine()
    : netV20(false), netV11(false), spV11(false), v11Offered(false), spV11Offered(false),
      v20Offered(false), v20Allowed(false), checkOnly(false), haveMdacFullVersion(false),
      haveMdacVersion(false)
{
}

PrerequisitePlan::PrerequisitePlan()
    : framework(FRAMEWORK_UP_TO_DATE), v20Disabled(false), stepCount(0), mdacNeeded(false),
      packMissing(false)
{
    steps[0] = steps[1] = steps[2] = NULL;
}

void ResetPrerequisiteState()
{
    s_resumeRegistered = false;
    caspolPath[0] = 0;
}

bool IsDotNetInstalled(const char* version, bool servicePackRequired)
{
    if (version == NULL || version[0] == 0)
        return false;
    C_String fullVersion(version);
    if (strlen(version) < FULL_VERSION_LENGTH)
    {
        C_String found;
        if (FindRegistrySubkey(HKEY_LOCAL_MACHINE, NDP_KEY, version, found))
            fullVersion = found;
    }
    const char* name = fullVersion.GetNarrow();
    bool versionThree = strlen(name) >= 2 && name[1] == '3';

    char key[MAX_PATH + 64];
    _snprintf(key, sizeof(key), versionThree ? "%s\\%s\\Setup" : "%s\\%s", NDP_KEY, name);
    key[sizeof(key) - 1] = 0;
    DWORD installed = 0;
    if (!ReadRegistryDword(HKEY_LOCAL_MACHINE, key, versionThree ? "InstallSuccess" : "Install",
                           installed) ||
        installed != 1)
    {
        LogMessage(2, IsPresenceOnlyVersion(name) ? LOG_INFO : LOG_WARNING,
                   "Microsoft .NET Framework %hs not available\n", name);
        return false;
    }
    LogMessage(2, LOG_INFO, "Microsoft .NET Framework %hs available\n", name);
    if (IsPresenceOnlyVersion(name))
        return true;

    bool answer = true;
    LogMessage(2, LOG_INFO, "  Service Pack: ");
    DWORD servicePack = 0;
    if (ReadRegistryDword(HKEY_LOCAL_MACHINE, key, "SP", servicePack) && servicePack >= 1)
    {
        LogMessage(2, LOG_INFO, "%ld.\n", (long)servicePack);
    }
    else
    {
        LogMessage(2, LOG_INFO, "*not* detected.\n");
        if (servicePackRequired)
            answer = false;
    }
    if (servicePackRequired)
        return answer;

    C_String root;
    if (ReadRegistryString(HKEY_LOCAL_MACHINE, FRAMEWORK_KEY, FRAMEWORK_ROOT_VALUE, root) &&
        !root.IsEmpty())
    {
        LogMessage(2, LOG_INFO, "Microsoft .NET Framework %hs path '%hs'.\n", name,
                   root.GetNarrow());
        // The root is recorded with its final backslash.
        int n = _snprintf(caspolPath, sizeof(caspolPath), "%s%s\\%s", root.GetNarrow(), name,
                          CASPOL_FILE_NAME);
        if (n < 0 || n >= (int)sizeof(caspolPath))
            caspolPath[0] = 0;
        if (caspolPath[0] != 0 && FileExists(caspolPath))
        {
            LogMessage(2, LOG_INFO, "CASPOL: found '%hs'.\n", caspolPath);
        }
        else
        {
            LogMessage(2, LOG_WARNING, "CASPOL '%hs' not found.\n", caspolPath);
            caspolPath[0] = 0;
        }
    }
    else
    {
        LogMessage(2, LOG_WARNING, "Microsoft .NET Framework %hs path could not be determined.\n",
                   name);
    }
    return true;
}

bool MayInstallDotNet20(const char* explorerVersion, bool isWin9x, DWORD major, DWORD minor,
                        DWORD servicePack, DWORD engineVersion)
{
    std::string explorer = explorerVersion ? explorerVersion : "";
    explorer += "00000";
    if (explorer[0] < '5' || (explorer[0] == '5' && explorer[2] == '0' && explorer[3] == '0'))
        return false;
    if (isWin9x)
        return major == 4 && minor == 10 && engineVersion >= 200;
    if (major <= 4)
        return false;
    if (major == 5 && minor == 0)
        return engineVersion >= 300 && servicePack >= 3;
    if (major == 5 && minor == 1)
        return engineVersion >= 300 && servicePack >= 2;
    if (major == 5 && minor == 2)
        return engineVersion >= 300;
    return true;
}

bool NeedsMdac(const char* fullInstallVersion)
{
    if (fullInstallVersion == NULL)
        return true;
    return strlen(fullInstallVersion) >= 3 && fullInstallVersion[0] == '2' &&
           fullInstallVersion[1] == '.' && fullInstallVersion[2] >= '0' &&
           fullInstallVersion[2] <= '6';
}

bool AcceptInstallerResult(long exitCode, PrerequisiteOutcome& outcome)
{
    outcome.cancelled = false;
    outcome.message = "";
    switch (exitCode)
    {
    case RC_SUCCESS:
        return true;
    case RC_SUCCESS_REBOOT_REQUIRED:
    case RC_SUCCESS_REBOOT_INITIATED:
        outcome.restartNeeded = true;
        return true;
    case RC_FILE_NOT_FOUND:
        outcome.message = "Instmsi executable not found.";
        break;
    case RC_INSTALL_SERVICE_FAILURE:
        outcome.message = "The Windows Installer service could not be accessed. Contact your "
                            "support personnel to verify that the Windows Installer service is "
                            "properly registered.";
        break;
    case RC_INSTALL_USEREXIT:
        outcome.message = "User cancelled the instmsi upgrade.";
        outcome.cancelled = true;
        break;
    case RC_INSTALL_FAILURE:
        outcome.message = "Error opening installation log file. Verify that the specified log "
                            "file location exists and is writable.";
        break;
    case RC_FUNCTION_NOT_CALLED:
        outcome.message = "Instmsi executable not executed.";
        break;
    case RC_INSTALL_PLATFORM_UNSUPPORTED:
        outcome.message = "This installation package is not supported on this platform. "
                            "Contact your application vendor.";
        break;
    default:
        outcome.message = "Unexpected failure";
        break;
    }
    outcome.abandoned = true;
    return false;
}

const char* SkipProgramName(const char* commandLine)
{
    if (commandLine == NULL)
        return "";
    const char* p = commandLine;
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p == '"')
    {
        ++p;
        while (*p != 0 && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    }
    while (*p != 0 && *p != ' ' && *p != '\t')
        ++p;
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

bool MakeResumeCommand(const char* programPath, const char* rawArguments, char* out, size_t size)
{
    // The arguments stay as they were written, each with its own quotes, so
    // that the next start parses the same options.
    return MakeCommandLine(programPath, rawArguments, out, size);
}

bool RegisterRebootResume(const char* name, CResource* settings)
{
    LogMessage(2, LOG_INFO, "%hs wants a reboot.\n", name ? name : "");
    const char* reboot = settings ? settings->GetSetting(SETTING_REBOOT) : NULL;
    if (reboot != NULL && TextEqualNoCase(reboot, SETTING_SKIP_VALUE))
    {
        LogMessage(2, LOG_INFO, "%hs Reboot request skipped\n", name ? name : "");
        return true;
    }
    if (s_resumeRegistered)
        return true;
    s_resumeRegistered = true;

    // The full path: the restart does not start us in the folder we were
    // started from, where a relative name would lead nowhere.
    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, program, sizeof(program));
    if (length == 0 || length >= sizeof(program))
        program[0] = 0;
    char command[RESUME_COMMAND_SIZE];
    bool made = MakeResumeCommand(program, SkipProgramName(GetCommandLineA()), command,
                                  sizeof(command));
    if (!made || !EnsureRegistryKey(HKEY_LOCAL_MACHINE, RUN_ONCE_KEY) ||
        !WriteRegistryString(HKEY_LOCAL_MACHINE, RUN_ONCE_KEY, RUN_ONCE_VALUE, command))
    {
        Tell(MESSAGE_WARNING, LABEL_REBOOT);
        LogMessage(2, LOG_PLAIN, "Could not write '%hs'='%hs' to HKLM\\...\\RunOnce.\n",
                   RUN_ONCE_VALUE, command);
    }
    return true;
}

// The label "ErrorOccurred" around the text of "FailInstallPre".
static std::wstring FailureMessage(CResource* settings, const wchar_t* reasonKey)
{
    const wchar_t* reason = settings->GetLabel(reasonKey);
    std::wstring reasonText = reason ? reason : L"";
    const wchar_t* message = settings->FormatLabel(LABEL_ERROR_OCCURRED, reasonText.c_str());
    return message ? message : L"";
}

static void SetBusyText(const char* text)
{
    SetLogWindowStatus(text);
}

// Availability of an installer from its setting ("yes"), or in LOCAL mode
// from the file itself.
static bool InstallerAvailable(CResource* settings, const wchar_t* setting, const char* file,
                               bool whenMissing)
{
    if (settings->IsLocal())
        return FileExistsIn(settings->GetLocalBase(), file);
    const char* value = settings->GetSetting(setting);
    if (value == NULL)
        return whenMissing;
    return TextEqualNoCase(value, "yes");
}

// Obtains and runs one installer. False when the installer could not be
// obtained (outcome.code holds the code, or is left alone for an empty path); else
// accepted tells the verdict on its exit code.
static bool RunPrerequisite(const PrerequisiteInstaller& installer, const char* busyText,
                            bool& accepted, PrerequisiteOutcome& outcome,
                            CResource* settings)
{
    char localPath[DOWNLOAD_PATH_SIZE];
    localPath[0] = 0;
    LoadTrustLibraries();
    DWORD code = ObtainSourceFile(installer.file, localPath);
    if (code != 0)
    {
        outcome.code = code;
        return false;
    }
    if (localPath[0] == 0)
        return false;
    // Nothing runs elevated that is not what the release meant to run, and
    // it runs from the very copy that was checked.
    CVerifiedInstaller verified;
    if (!VerifyObtainedInstaller(installer.file, localPath, verified, code))
    {
        outcome.code = code;
        outcome.abandoned = true;
        outcome.message = code == (DWORD)RC_INVALID_IMAGE_HASH
                              ? "The installer is neither signed by its publisher nor matches its listed digest."
                              : "The installer could not be copied into a protected folder.";
        return false;
    }

    char command[COMMAND_SIZE];
    if (!MakeCommandLine(verified.Path(), installer.options, command, sizeof(command)))
    {
        LogMessage(2, LOG_ERROR, "Command for '%hs' too long.\n", verified.Path());
        outcome.code = RC_FILENAME_EXCED_RANGE;
        return false;
    }
    SetBusyText(busyText);
    DWORD result = RunAndWait(verified.Path(), command, busyThread);
    outcome.code = result;

    accepted = AcceptInstallerResult((long)result, outcome);
    if (accepted)
    {
        LogMessage(2, LOG_INFO, "Good so far, '%hs' returned '%ld'\n", command, (long)result);
        return true;
    }
    std::wstring message = FailureMessage(settings, LABEL_FAIL_INSTALL_PRE);
    LogMessage(2, LOG_ERROR, "%ws. '%hs' returned '%ld'\n", message.c_str(), command, (long)result);
    if (!outcome.cancelled)
        TellText(MESSAGE_ERROR, message.c_str());
    return true;
}


void DetectPrerequisites(PrerequisiteMachine& machine, CResource* settings)
{
    IsDotNetInstalled(DOTNET_V10, false);
    IsDotNetInstalled(DOTNET_V30, false);
    machine.netV20 = IsDotNetInstalled(DOTNET_V20, false);
    machine.netV11 = IsDotNetInstalled(DOTNET_V11, false);
    machine.spV11 = IsDotNetInstalled(DOTNET_V11, true);

    machine.v11Offered =
        InstallerAvailable(settings, SETTING_V11_INSTALLER, INSTALLER_DOTNET11.file, true);
    machine.spV11Offered =
        InstallerAvailable(settings, SETTING_SPV11_INSTALLER, INSTALLER_DOTNET11_SP1.file, false);
    machine.v20Offered =
        InstallerAvailable(settings, SETTING_V20_INSTALLER, INSTALLER_DOTNET20.file, false);

    LogMessage(2, LOG_INFO, " *dbg* V11InstallerAvailable = %hs.\n", YesNo(machine.v11Offered));
    LogMessage(2, LOG_INFO, " *dbg* SPV11InstallerAvailable = %hs.\n", YesNo(machine.spV11Offered));
    LogMessage(2, LOG_INFO, " *dbg* V20InstallerAvailable = %hs.\n", YesNo(machine.v20Offered));
    LogMessage(2, LOG_INFO, " *dbg* NetV20 = %hs.\n", YesNo(machine.netV20));
    LogMessage(2, LOG_INFO, " *dbg* NetV11 = %hs.\n", YesNo(machine.netV11));
    LogMessage(2, LOG_INFO, " *dbg* SPV11 = %hs.\n", YesNo(machine.spV11));

    // The system's figures are only read (and the engine's version logged)
    // when 2.0 is offered at all.
    if (machine.v20Offered)
    {
        DWORD major = 0, minor = 0, servicePack = 0;
        bool isWin9x = GetWindowsVersion(&major, &minor, &servicePack, NULL);
        C_String explorer;
        ReadRegistryString(HKEY_LOCAL_MACHINE, EXPLORER_KEY, EXPLORER_VERSION_VALUE, explorer);
        machine.v20Allowed = MayInstallDotNet20(explorer.GetNarrow(), isWin9x, major, minor,
                                                servicePack, GetInstallerVersion());
    }
    machine.checkOnly = RunState.checkOnly;
    C_String version;
    machine.haveMdacFullVersion =
        ReadRegistryString(HKEY_LOCAL_MACHINE, DATA_ACCESS_KEY, MDAC_FULL_VERSION_VALUE, version);
    if (machine.haveMdacFullVersion)
        machine.mdacFullVersion = version.GetNarrow();
    C_String shortVersion;
    machine.haveMdacVersion =
        ReadRegistryString(HKEY_LOCAL_MACHINE, DATA_ACCESS_KEY, MDAC_VERSION_VALUE, shortVersion);
    if (machine.haveMdacVersion)
        machine.mdacVersion = shortVersion.GetNarrow();
}

static void AddStep(PrerequisitePlan& plan, const PrerequisiteInstaller& installer)
{
    plan.steps[plan.stepCount++] = &installer;
}

PrerequisitePlan PlanPrerequisites(const PrerequisiteMachine& machine)
{
    PrerequisitePlan plan;
    bool v20 = machine.v20Offered && machine.v20Allowed;
    plan.v20Disabled = machine.v20Offered && !machine.v20Allowed;
    if (machine.netV11 && machine.spV11)
    {
        plan.framework = FRAMEWORK_UP_TO_DATE;
    }
    else if (machine.netV11)
    {
        plan.framework = !machine.checkOnly && machine.spV11Offered ? FRAMEWORK_PACK_ONLY
                                                                    : FRAMEWORK_PACK_SKIPPED;
        if (plan.framework == FRAMEWORK_PACK_ONLY)
            AddStep(plan, INSTALLER_DOTNET11_SP1);
    }
    else if (machine.netV20)
    {
        plan.framework = FRAMEWORK_V20_PRESENT;
    }
    else if (v20)
    {
        plan.framework = FRAMEWORK_INSTALL_V20;
        AddStep(plan, INSTALLER_DOTNET20);
    }
    else if (machine.v11Offered)
    {
        plan.framework = FRAMEWORK_INSTALL_V11;
        AddStep(plan, INSTALLER_DOTNET11);
        if (machine.spV11Offered)
            AddStep(plan, INSTALLER_DOTNET11_SP1);
        else
            plan.packMissing = true;
    }
    else
    {
        plan.framework = FRAMEWORK_NO_INSTALLER;
        return plan;
    }
    plan.mdacNeeded =
        NeedsMdac(machine.haveMdacFullVersion ? machine.mdacFullVersion.c_str() : NULL);
    if (plan.mdacNeeded)
        AddStep(plan, INSTALLER_MDAC);
    return plan;
}

// The log lines of the frameworks' decision; the skipped pack is also told
// to the user.
static void ReportFrameworkDecision(const PrerequisitePlan& plan, CResource* settings)
{
    if (plan.v20Disabled)
        LogMessage(2, LOG_WARNING, " *dbg* Disabling installation of .NET V2.0\n");
    switch (plan.framework)
    {
    case FRAMEWORK_UP_TO_DATE:
        LogMessage(2, LOG_INFO,
                   "The minimally required Microsoft .NET Framework(s) is(are) up to date.\n");
        break;
    case FRAMEWORK_PACK_ONLY:
    case FRAMEWORK_PACK_SKIPPED:
        LogMessage(2, LOG_WARNING, "Microsoft .NET Framework %hs installed *without* service pack.\n",
                   DOTNET_V11);
        if (plan.framework == FRAMEWORK_PACK_ONLY)
        {
            LogMessage(2, LOG_INFO, "           We will be installating the service pack only.\n");
            break;
        }
        LogMessage(2, LOG_WARNING, "           Skipping installation of the service pack!\n");
        Tell(MESSAGE_WARNING, LABEL_SHOULD_UPGRADE_V11);
        break;
    case FRAMEWORK_V20_PRESENT:
        LogMessage(2, LOG_INFO,
                   "Microsoft .NET Framework %hs installed, don't need to install another one.\n",
                   DOTNET_V20);
        break;
    case FRAMEWORK_INSTALL_V20:
    case FRAMEWORK_INSTALL_V11:
        LogMessage(2, LOG_INFO, "No Microsoft .NET Framework detected. Will be installing %hs.\n",
                   plan.framework == FRAMEWORK_INSTALL_V20 ? DOTNET_V20 : DOTNET_V11);
        if (plan.framework == FRAMEWORK_INSTALL_V20)
            break;
        if (plan.packMissing)
            LogMessage(2, LOG_WARNING, "            *but* its service pack is not available.\n");
        else
            LogMessage(2, LOG_INFO, "            *and* its service pack as slipstream installation.\n");
        break;
    case FRAMEWORK_NO_INSTALLER:
        LogMessage(2, LOG_ERROR, "No Microsoft .NET Framework detected but no installer available.\n");
        break;
    }
}

static void ReportMdac(const PrerequisiteMachine& machine, const PrerequisitePlan& plan)
{
    if (machine.haveMdacFullVersion)
        LogMessage(2, LOG_INFO, "MDAC FullInstallVer %hs\n", machine.mdacFullVersion.c_str());
    if (machine.haveMdacVersion)
        LogMessage(2, LOG_INFO, "MDAC Version %hs\n", machine.mdacVersion.c_str());
    LogMessage(2, LOG_INFO, plan.mdacNeeded ? "MDAC must be installed\n" : "MDAC is up-to-date enough\n");
}

// The question naming every installer of the plan; true when the user agrees.
static bool ConfirmPlan(const PrerequisitePlan& plan, CResource* settings)
{
    const wchar_t* allow = settings->GetLabel(LABEL_ALLOW_PRE_UPGRADE);
    std::wstring question = allow ? allow : L"";
    question += L"\n\n\n";
    for (int i = 0; i < plan.stepCount; ++i)
    {
        if (plan.steps[i] != &INSTALLER_MDAC)
            question += L"   Microsoft .NET Framework " + std::wstring(A2W(plan.steps[i]->name)) + L"\n";
    }
    if (plan.mdacNeeded)
        question += L"   Microsoft Data Access Components V2.8 (MDAC)\n";
    question += L"\n";
    return AskText(question.c_str());
}

// Runs the frameworks of the plan in order, each only after the one before
// was accepted. False when one could not be obtained.
static bool RunFrameworks(const PrerequisitePlan& plan, bool& accepted, PrerequisiteOutcome& outcome, CResource* settings)
{
    for (int i = 0; i < plan.stepCount && accepted; ++i)
    {
        const PrerequisiteInstaller* step = plan.steps[i];
        if (step == &INSTALLER_MDAC)
            break;
        LogMessage(2, LOG_INFO, "Installing Microsoft .NET Framework %hs\n", step->name);
        SetBusyText(step->file);
        char busyText[128];
        _snprintf(busyText, sizeof(busyText), "Microsoft .NET Framework %s", step->name);
        busyText[sizeof(busyText) - 1] = 0;
        if (!RunPrerequisite(*step, busyText, accepted, outcome, settings))
            return false;
        if (outcome.restartNeeded)
        {
            // A refused step keeps its own code: a restart asked for by an
            // earlier step does not make it a success.
            if (accepted)
                outcome.code = RC_SUCCESS_REBOOT_REQUIRED;
            RegisterRebootResume(busyText, settings);
        }
    }
    if (accepted && plan.packMissing)
        Tell(MESSAGE_WARNING, LABEL_SHOULD_UPGRADE_V11);
    return true;
}

bool InstallPreconditions(PrerequisiteOutcome& outcome, CResource* settings)
{
    outcome = PrerequisiteOutcome();
    if (settings == NULL)
        return false;

    PrerequisiteMachine machine;
    DetectPrerequisites(machine, settings);
    PrerequisitePlan plan = PlanPrerequisites(machine);
    ReportFrameworkDecision(plan, settings);
    if (plan.framework == FRAMEWORK_NO_INSTALLER)
    {
        outcome.code = RC_FILE_NOT_FOUND;
        outcome.message = ".NET Framework V1.1 installer is missing";
        return false;
    }
    ReportMdac(machine, plan);
    if (plan.stepCount == 0)
        return true;

    if (!RunState.isAdmin)
    {
        Tell(MESSAGE_ERROR, LABEL_MUST_BE_ADMIN);
        outcome.code = RC_NO_SUCH_PRIVILEGE;
        outcome.message = "Not administrator";
        return false;
    }
    if (!ConfirmPlan(plan, settings))
    {
        outcome.message = "Aborted by user";
        outcome.code = RC_OPERATION_ABORTED;
        return false;
    }

    ShowLogWindow(NULL, NULL, NULL, NULL);
    StartLogWindowAnimation();

    bool accepted = true;
    if (!RunFrameworks(plan, accepted, outcome, settings))
        return false;
    if (outcome.abandoned)
    {
        LogMessage(2, LOG_WARNING, "InstallPreconditions abandoned.\n");
        return false;
    }
    if (!plan.mdacNeeded)
        return accepted;

    LogMessage(2, LOG_INFO, "Installing MDAC\n");
    SetBusyText(INSTALLER_MDAC.file);
    if (!RunPrerequisite(INSTALLER_MDAC, INSTALLER_MDAC.name, accepted, outcome, settings))
        return false;
    if (accepted)
    {
        // MDAC needs a restart whatever its installer says.
        outcome.code = RC_SUCCESS_REBOOT_REQUIRED;
        outcome.restartNeeded = true;
    }
    if (outcome.restartNeeded)
    {
        // A failed MDAC keeps its own code: the run must not go on as if
        // only a restart were pending.
        RegisterRebootResume("InstallPreconditions (MDAC)", settings);
    }
    return accepted;
}
