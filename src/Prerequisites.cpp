#include "Prerequisites.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "AppObjects.h"
#include "CDownloadManager.h"
#include "CMSI.h"
#include "CMainUI.h"
#include "CResource.h"
#include "Dialogs.h"
#include "FileUtil.h"
#include "InstallerTrust.h"
#include "Log.h"
#include "Registry.h"
#include "ResultCodes.h"
#include "RunState.h"
#include "SystemInfo.h"
#include "TextUtil.h"
#include "WideAPI.h"

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

bool prereqAbandoned = false;
bool prereqCancelled = false;
bool rebootResumeRegistered = false;
const char* lastPrereqMessage = "";
char caspolPath[MAX_PATH] = "";

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

void ResetPrerequisiteState()
{
    prereqAbandoned = prereqCancelled = rebootResumeRegistered = false;
    lastPrereqMessage = "";
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

bool AcceptInstallerResult(long exitCode)
{
    prereqCancelled = false;
    lastPrereqMessage = "";
    switch (exitCode)
    {
    case RC_SUCCESS:
        return true;
    case RC_SUCCESS_REBOOT_REQUIRED:
    case RC_SUCCESS_REBOOT_INITIATED:
        RunState.prereqRebootNeeded = true;
        return true;
    case RC_FILE_NOT_FOUND:
        lastPrereqMessage = "Instmsi executable not found.";
        break;
    case RC_INSTALL_SERVICE_FAILURE:
        lastPrereqMessage = "The Windows Installer service could not be accessed. Contact your "
                            "support personnel to verify that the Windows Installer service is "
                            "properly registered.";
        break;
    case RC_INSTALL_USEREXIT:
        lastPrereqMessage = "User cancelled the instmsi upgrade.";
        prereqCancelled = true;
        break;
    case RC_INSTALL_FAILURE:
        lastPrereqMessage = "Error opening installation log file. Verify that the specified log "
                            "file location exists and is writable.";
        break;
    case RC_FUNCTION_NOT_CALLED:
        lastPrereqMessage = "Instmsi executable not executed.";
        break;
    case RC_INSTALL_PLATFORM_UNSUPPORTED:
        lastPrereqMessage = "This installation package is not supported on this platform. "
                            "Contact your application vendor.";
        break;
    default:
        lastPrereqMessage = "Unexpected failure";
        break;
    }
    prereqAbandoned = true;
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
    if (out == NULL || size == 0)
        return false;
    out[0] = 0;
    if (programPath == NULL || programPath[0] == 0)
        return false;
    // The arguments stay as they were written, each with its own quotes, so
    // that the next start parses the same options.
    int n = (rawArguments == NULL || rawArguments[0] == 0)
                ? _snprintf(out, size, "\"%s\"", programPath)
                : _snprintf(out, size, "\"%s\" %s", programPath, rawArguments);
    if (n < 0 || (size_t)n >= size)
    {
        out[0] = 0;
        return false;
    }
    return true;
}

bool RegisterRebootResume(const char* name)
{
    LogMessage(2, LOG_INFO, "%hs wants a reboot.\n", name ? name : "");
    const char* reboot = g_resource ? g_resource->GetSetting(SETTING_REBOOT) : NULL;
    if (reboot != NULL && TextEqualNoCase(reboot, SETTING_SKIP_VALUE))
    {
        LogMessage(2, LOG_INFO, "%hs Reboot request skipped\n", name ? name : "");
        return true;
    }
    if (rebootResumeRegistered)
        return true;
    rebootResumeRegistered = true;

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
        if (g_mainUI != NULL && g_resource != NULL)
            g_mainUI->ShowMessage(false, g_resource->GetLabel(LABEL_REBOOT));
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

// Obtains and runs one installer. False when the installer could not be
// obtained (result holds the code, or is left alone for an empty path); else
// accepted tells the verdict on its exit code.
static bool RunPrerequisite(const PrerequisiteInstaller& installer, const char* busyText,
                            DWORD& result, bool& accepted, CMainUI* ui, CResource* settings)
{
    char localPath[DOWNLOAD_PATH_SIZE];
    localPath[0] = 0;
    DWORD code = ObtainSourceFile(installer.file, localPath);
    if (code != 0)
    {
        result = code;
        return false;
    }
    if (localPath[0] == 0)
        return false;
    // Nothing runs elevated that is not what the release meant to run.
    if (!VerifyObtainedInstaller(installer.file, localPath, code))
    {
        result = code;
        prereqAbandoned = true;
        lastPrereqMessage = "The installer is neither signed by its publisher nor matches its listed digest.";
        return false;
    }

    char command[COMMAND_SIZE];
    if (!MakeCommandLine(localPath, installer.options, command, sizeof(command)))
    {
        LogMessage(2, LOG_ERROR, "Command for '%hs' too long.\n", localPath);
        result = RC_FILENAME_EXCED_RANGE;
        return false;
    }
    SetBusyText(busyText);
    result = RunAndWait(localPath, command, busyThread);

    accepted = AcceptInstallerResult((long)result);
    if (accepted)
    {
        LogMessage(2, LOG_INFO, "Good so far, '%hs' returned '%ld'\n", command, (long)result);
        return true;
    }
    std::wstring message = FailureMessage(settings, LABEL_FAIL_INSTALL_PRE);
    LogMessage(2, LOG_ERROR, "%ws. '%hs' returned '%ld'\n", message.c_str(), command, (long)result);
    if (!prereqCancelled)
        ui->ShowMessage(true, message.c_str());
    return true;
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

bool InstallPreconditions(DWORD& result, CMainUI* ui, CResource* settings)
{
    result = 0;
    if (ui == NULL || settings == NULL)
        return false;

    IsDotNetInstalled(DOTNET_V10, false);
    IsDotNetInstalled(DOTNET_V30, false);
    bool netV20 = IsDotNetInstalled(DOTNET_V20, false);
    bool netV11 = IsDotNetInstalled(DOTNET_V11, false);
    bool spV11 = IsDotNetInstalled(DOTNET_V11, true);

    bool v11 = InstallerAvailable(settings, SETTING_V11_INSTALLER, INSTALLER_DOTNET11.file, true);
    bool spV11Available =
        InstallerAvailable(settings, SETTING_SPV11_INSTALLER, INSTALLER_DOTNET11_SP1.file, false);
    bool v20 = InstallerAvailable(settings, SETTING_V20_INSTALLER, INSTALLER_DOTNET20.file, false);

    LogMessage(2, LOG_INFO, " *dbg* V11InstallerAvailable = %hs.\n", YesNo(v11));
    LogMessage(2, LOG_INFO, " *dbg* SPV11InstallerAvailable = %hs.\n", YesNo(spV11Available));
    LogMessage(2, LOG_INFO, " *dbg* V20InstallerAvailable = %hs.\n", YesNo(v20));
    LogMessage(2, LOG_INFO, " *dbg* NetV20 = %hs.\n", YesNo(netV20));
    LogMessage(2, LOG_INFO, " *dbg* NetV11 = %hs.\n", YesNo(netV11));
    LogMessage(2, LOG_INFO, " *dbg* SPV11 = %hs.\n", YesNo(spV11));

    if (v20)
    {
        DWORD major = 0, minor = 0, servicePack = 0;
        bool isWin9x = GetWindowsVersion(&major, &minor, &servicePack, NULL);
        C_String explorer;
        ReadRegistryString(HKEY_LOCAL_MACHINE, EXPLORER_KEY, EXPLORER_VERSION_VALUE, explorer);
        if (!MayInstallDotNet20(explorer.GetNarrow(), isWin9x, major, minor, servicePack,
                                GetInstallerVersion()))
        {
            LogMessage(2, LOG_WARNING, " *dbg* Disabling installation of .NET V2.0\n");
            v20 = false;
        }
    }

    const PrerequisiteInstaller* step = NULL;
    bool slipstream = false;
    if (netV11 && spV11)
    {
        LogMessage(2, LOG_INFO,
                   "The minimally required Microsoft .NET Framework(s) is(are) up to date.\n");
    }
    else if (netV11)
    {
        LogMessage(2, LOG_WARNING, "Microsoft .NET Framework %hs installed *without* service pack.\n",
                   DOTNET_V11);
        if (!RunState.checkOnly && spV11Available)
        {
            LogMessage(2, LOG_INFO, "           We will be installating the service pack only.\n");
            step = &INSTALLER_DOTNET11_SP1;
        }
        else
        {
            LogMessage(2, LOG_WARNING, "           Skipping installation of the service pack!\n");
            ui->ShowMessage(false, settings->GetLabel(LABEL_SHOULD_UPGRADE_V11));
        }
    }
    else if (netV20)
    {
        LogMessage(2, LOG_INFO,
                   "Microsoft .NET Framework %hs installed, don't need to install another one.\n",
                   DOTNET_V20);
    }
    else if (v20)
    {
        LogMessage(2, LOG_INFO, "No Microsoft .NET Framework detected. Will be installing %hs.\n",
                   DOTNET_V20);
        step = &INSTALLER_DOTNET20;
    }
    else if (v11)
    {
        LogMessage(2, LOG_INFO, "No Microsoft .NET Framework detected. Will be installing %hs.\n",
                   DOTNET_V11);
        step = &INSTALLER_DOTNET11;
        slipstream = true;
        if (spV11Available)
            LogMessage(2, LOG_INFO, "            *and* its service pack as slipstream installation.\n");
        else
            LogMessage(2, LOG_WARNING, "            *but* its service pack is not available.\n");
    }
    else
    {
        LogMessage(2, LOG_ERROR, "No Microsoft .NET Framework detected but no installer available.\n");
        result = RC_FILE_NOT_FOUND;
        lastPrereqMessage = ".NET Framework V1.1 installer is missing";
        return false;
    }

    C_String mdacVersion;
    bool haveMdacVersion =
        ReadRegistryString(HKEY_LOCAL_MACHINE, DATA_ACCESS_KEY, MDAC_FULL_VERSION_VALUE, mdacVersion);
    if (haveMdacVersion)
        LogMessage(2, LOG_INFO, "MDAC FullInstallVer %hs\n", mdacVersion.GetNarrow());
    bool mdacNeeded = NeedsMdac(haveMdacVersion ? mdacVersion.GetNarrow() : NULL);
    C_String mdacShortVersion;
    if (ReadRegistryString(HKEY_LOCAL_MACHINE, DATA_ACCESS_KEY, MDAC_VERSION_VALUE, mdacShortVersion))
        LogMessage(2, LOG_INFO, "MDAC Version %hs\n", mdacShortVersion.GetNarrow());
    LogMessage(2, LOG_INFO, mdacNeeded ? "MDAC must be installed\n" : "MDAC is up-to-date enough\n");

    if (step == NULL && !mdacNeeded)
        return true;

    if (!RunState.isAdmin)
    {
        ui->ShowMessage(true, settings->GetLabel(LABEL_MUST_BE_ADMIN));
        result = RC_NO_SUCH_PRIVILEGE;
        lastPrereqMessage = "Not administrator";
        return false;
    }

    const wchar_t* allow = settings->GetLabel(LABEL_ALLOW_PRE_UPGRADE);
    std::wstring question = allow ? allow : L"";
    question += L"\n\n\n";
    if (step != NULL)
        question += L"   Microsoft .NET Framework " + std::wstring(A2W(step->name)) + L"\n";
    if (slipstream && spV11Available)
        question += L"   Microsoft .NET Framework V1.1 Service Pack 1\n";
    if (mdacNeeded)
        question += L"   Microsoft Data Access Components V2.8 (MDAC)\n";
    question += L"\n";
    if (!ui->Confirm(question.c_str()))
    {
        lastPrereqMessage = "Aborted by user";
        result = RC_OPERATION_ABORTED;
        return false;
    }

    ShowLogWindow(NULL, NULL, NULL, NULL);
    StartLogWindowAnimation();

    bool accepted = true;
    while (step != NULL)
    {
        LogMessage(2, LOG_INFO, "Installing Microsoft .NET Framework %hs\n", step->name);
        SetBusyText(step->file);
        char busyText[128];
        _snprintf(busyText, sizeof(busyText), "Microsoft .NET Framework %s", step->name);
        busyText[sizeof(busyText) - 1] = 0;
        if (!RunPrerequisite(*step, busyText, result, accepted, ui, settings))
            return false;
        if (RunState.prereqRebootNeeded)
        {
            // A refused step keeps its own code: a restart asked for by an
            // earlier step does not make it a success.
            if (accepted)
                result = RC_SUCCESS_REBOOT_REQUIRED;
            RegisterRebootResume(busyText);
        }
        step = NULL;
        if (slipstream && accepted)
        {
            slipstream = false;
            if (spV11Available)
                step = &INSTALLER_DOTNET11_SP1;
            else
                ui->ShowMessage(false, settings->GetLabel(LABEL_SHOULD_UPGRADE_V11));
        }
    }

    if (prereqAbandoned)
    {
        LogMessage(2, LOG_WARNING, "InstallPreconditions abandoned.\n");
        return false;
    }

    if (mdacNeeded)
    {
        LogMessage(2, LOG_INFO, "Installing MDAC\n");
        SetBusyText(INSTALLER_MDAC.file);
        if (!RunPrerequisite(INSTALLER_MDAC, INSTALLER_MDAC.name, result, accepted, ui, settings))
            return false;
        if (accepted)
        {
            // MDAC needs a restart whatever its installer says.
            result = RC_SUCCESS_REBOOT_REQUIRED;
            RunState.prereqRebootNeeded = true;
        }
        if (RunState.prereqRebootNeeded)
        {
            // A failed MDAC keeps its own code: the run must not go on as if
            // only a restart were pending.
            if (accepted)
                result = RC_SUCCESS_REBOOT_REQUIRED;
            RegisterRebootResume("InstallPreconditions (MDAC)");
        }
    }
    return accepted;
}
