#include "UpgradeMSI.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "Assert.h"
#include "CDownloadManager.h"
#include "CResource.h"
#include "FileUtil.h"
#include "FileVersion.h"
#include "InstallerTrust.h"
#include "Log.h"
#include "ResultCodes.h"
#include "SystemLibrary.h"
#include "Prerequisites.h"
#include "RunState.h"
#include "SystemInfo.h"
#include "TextUtil.h"
#include "WideAPI.h"
#include "UserMessages.h"

const char* const DELAYED_REBOOT_OPTION = " /c:\"msiinst /delayreboot\"";
const char* const ENGINE_12_SUFFIX = "12.exe";

// Below this a required version cannot be meant (engine 1.1).
static const int LOWEST_ENGINE_VERSION = 110;
static const char* const ENGINE_LIBRARY_NAME = "\\MSI.DLL";

// Replaces the first ".exe" of name (size bytes) by ENGINE_12_SUFFIX; false
// when there is none or the result would not fit.
static bool UseEngine12Installer(char* name, size_t size)
{
    char* place = strstr(name, ".exe");
    if (place == NULL)
        return false;
    std::string changed(name, place - name);
    changed += ENGINE_12_SUFFIX;
    changed += place + 4;
    if (changed.size() >= size)
        return false;
    memcpy(name, changed.c_str(), changed.size() + 1);
    return true;
}

// Major * 100 + minor of a file's version; false when it has none.
static bool EngineVersionOf(const char* path, long& version)
{
    DWORD most = 0, least = 0;
    if (GetFileVersionNumbers(path, &most, &least) != 0)
        return false;
    version = (long)HIWORD(most) * 100 + (long)LOWORD(most);
    return true;
}

bool NeedsEngineUpgrade(int required)
{
    char path[MAX_PATH + 16];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        path[0] = 0;
    strcat(path, ENGINE_LIBRARY_NAME);

    HMODULE library = LoadLibraryFromPath(path);
    if (library == NULL)
    {
        LogMessage(2, LOG_INFO, "Can't load '%hs'; assuming upgrade is necessary\n", path);
        return true;
    }
    FreeLibrary(library);

    long version = 0;
    if (!EngineVersionOf(path, version))
    {
        LogMessage(2, LOG_INFO,
                   "Can't obtain version information from '%hs'; assuming upgrade is necessary.\n",
                   path);
        return true;
    }
    if (version >= required)
    {
        LogMessage(2, LOG_INFO,
                   "No Windows Installer upgrade is necessary. We need %d and we have %d\n",
                   required, (int)version);
        return false;
    }
    LogMessage(2, LOG_INFO, "Windows Installer upgrade is required. System Version = %d.\n",
               (int)version);
    return true;
}

bool CheckEngineInstallerVersion(int required, const char* installerPath, bool checkSkipped)
{
    if (installerPath == NULL || !FileExists(installerPath))
        return false;
    if (checkSkipped)
    {
        LogMessage(2, LOG_INFO, "'%hs' version check skipped\n", installerPath);
        return true;
    }
    long version = 0;
    if (!EngineVersionOf(installerPath, version))
    {
        LogMessage(2, LOG_WARNING, "Can't obtain version information '%hs'.\n", installerPath);
        return false;
    }
    if (version >= required)
    {
        LogMessage(3, LOG_INFO, "'%hs' has version = %ld\n", installerPath, version);
        return true;
    }
    LogMessage(2, LOG_WARNING, "'%hs' has version = %ld i.s.o. %d\n", installerPath, version,
               required);
    return false;
}

DWORD DoInstallMSI(const char* installerPath, bool delayedRebootUnsupported)
{
    if (installerPath == NULL || !FileExists(installerPath))
        return RC_FILE_NOT_FOUND;
    LogMessage(2, LOG_INFO, "Executing '%hs'\n", installerPath);
    // The path in quotes and given as the program: from a folder with a blank
    // in its name the system would otherwise start whatever lies at the path's
    // first word.
    std::string command = std::string("\"") + installerPath + "\"";
    if (!delayedRebootUnsupported)
        command += DELAYED_REBOOT_OPTION;
    // CreateProcessA may write into the command line.
    char* text = TextDuplicate(command.c_str());
    if (text == NULL)
        return RC_OUTOFMEMORY;
    LogMessage(2, LOG_INFO, delayedRebootUnsupported
                                ? "Delayed reboot mode of InstMSI is *NOT* supported.\n"
                                : "Delayed reboot mode of InstMSI is supported OK.\n");

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof(process));
    BOOL started = CreateProcessA(installerPath, text, NULL, NULL, TRUE, NORMAL_PRIORITY_CLASS, NULL, NULL,
                                  &startup, &process);
    DWORD error = GetLastError();
    free(text);
    if (!started)
        return error != 0 ? error : RC_FUNCTION_NOT_CALLED;
    if (process.hProcess == NULL)
    {
        error = GetLastError();
        if (error == 0)
            error = RC_FUNCTION_NOT_CALLED;
        LogMessage(2, LOG_ERROR, "CreateProcess did not return a process '%ld'\n", (long)error);
        return error;
    }
    if (process.hThread != NULL)
        CloseHandle(process.hThread);
    DWORD waited = WaitWithMessages(process.hProcess);
    if (waited != 0)
    {
        CloseHandle(process.hProcess);
        return waited;
    }
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.hProcess, &exitCode))
        exitCode = GetLastError();
    CloseHandle(process.hProcess);
    return exitCode;
}

// The setting's name as the user reads it in "InvalidValue".
static void ShowInvalidSetting(const wchar_t* name)
{
    TellFormatted(MESSAGE_ERROR, LABEL_INVALID_VALUE, NULL, name);
}

static bool EngineFailure(DWORD result, CResource* settings)
{
    const wchar_t* reason = settings->GetLabel(LABEL_FAIL_INSTALL_MSI);
    std::wstring reasonText = reason ? reason : L"";
    const wchar_t* formatted = settings->FormatLabel(LABEL_ERROR_OCCURRED, reasonText.c_str());
    std::wstring message = formatted ? formatted : L"";
    LogMessage(2, LOG_ERROR, "%ws. DoInstallMSI returned '%ld'\n", message.c_str(), (long)result);
    // A cancel in the installer's own window needs no second word from us.
    if (result != (DWORD)RC_INSTALL_USEREXIT)
        TellText(MESSAGE_ERROR, message.c_str());
    return false;
}

namespace
{
// One setting as the step read it at its start. A missing one is reported
// where the step first needs it, in the settings reader's words, so that the
// log reads as the step goes.
struct StepSetting
{
    const wchar_t* key;
    bool present;
    std::string value;

    void Read(CResource* settings, const wchar_t* name)
    {
        key = name;
        const char* text = settings->GetSetting(name, false);
        present = text != NULL;
        value = text != NULL ? text : "";
    }
    const char* Use() const
    {
        if (present)
            return value.c_str();
        LogMessage(2, LOG_WARNING, "Setting '%ws' missing!\n", key);
        return NULL;
    }
};

// Every setting of the engine step, read once.
struct EngineSettings
{
    StepSetting required;      // "MsiVersion"
    StepSetting ask;           // "AskMsiUpgrade"
    StepSetting source;        // the redistributable of this system's family
    StepSetting checkVersion;  // "CheckMsiVersion"

    explicit EngineSettings(CResource* settings)
    {
        required.Read(settings, SETTING_MSI_VERSION);
        ask.Read(settings, SETTING_ASK_MSI_UPGRADE);
        source.Read(settings, isWinNT ? SETTING_MSI_NT : SETTING_MSI_9X);
        checkVersion.Read(settings, SETTING_CHECK_MSI_VERSION);
    }
};
}  // namespace

// NT 4.0 before service pack 6 takes the engine 1.2 redistributable (its
// name changed in place), which cannot delay its restart; true then.
static bool AdaptToOldNt(char* sourceName, size_t size)
{
    DWORD major = 0, minor = 0, servicePack = 0;
    bool isWin9x = GetWindowsVersion(&major, &minor, &servicePack, NULL);
    if (!isWin9x && major == 4 && minor == 0 && servicePack < 6)
    {
        if (!UseEngine12Installer(sourceName, size))
            LogMessage(2, LOG_WARNING, "No '.exe' in '%hs' to change.\n", sourceName);
        LogMessage(2, LOG_WARNING, "NT 4.0 SP%d detected. Will revert to MSI V1.2 (%hs)\n",
                   (int)servicePack, sourceName);
        return true;
    }
    return false;
}

// Obtains, verifies, checks and runs the engine installer, and judges its
// exit code.
static bool InstallEngine(const char* sourceName, int required, const StepSetting& checkVersion,
                          bool delayedRebootUnsupported, DWORD& result, CResource* settings)
{
    char localPath[DOWNLOAD_PATH_SIZE];
    localPath[0] = 0;
    LoadTrustLibraries();
    result = ObtainSourceFile(sourceName, localPath);
    if (result != 0 || localPath[0] == 0)
        return false;
    LogMessage(3, LOG_INFO, "'%hs' obtained as '%hs'\n", sourceName, localPath);
    // Nothing runs elevated that is not what the release meant to run, and
    // it runs from the very copy that was checked.
    CVerifiedInstaller verified;
    if (!VerifyObtainedInstaller(sourceName, localPath, verified, result))
        return false;

    const char* check = checkVersion.Use();
    bool checkSkipped = check != NULL && TextEqualNoCase(check, SETTING_SKIP_VALUE);
    if (!CheckEngineInstallerVersion(required, verified.Path(), checkSkipped))
    {
        result = 0;
        return EngineFailure(result, settings);
    }

    HCURSOR previous = SetCursor(LoadCursor(NULL, IDC_WAIT));
    result = DoInstallMSI(verified.Path(), delayedRebootUnsupported);
    SetCursor(previous);

    if (IsRestartCode((long)result))
    {
        RegisterRebootResume("DoInstallMSI", settings);
        result = RC_SUCCESS_REBOOT_REQUIRED;
    }
    else if (result != 0)
    {
        return EngineFailure(result, settings);
    }
    LogMessage(2, LOG_INFO, "Good so far, DoInstallMSI returned '%ld'\n", (long)result);
    return true;
}

bool UpgradeInstallerEngine(DWORD& result, CResource* settings)
{
    result = 0;
    FW_ASSERT(settings != NULL);
    if (settings == NULL)
        return false;

    const EngineSettings read(settings);
    const char* requiredText = read.required.Use();
    long required = requiredText != NULL ? strtol(requiredText, NULL, 10) : 0;
    if (required < LOWEST_ENGINE_VERSION)
    {
        ShowInvalidSetting(SETTING_MSI_VERSION);
        LogMessage(3, LOG_ERROR, "%ws = %ld\n", SETTING_MSI_VERSION, required);
        result = RC_INVALID_DATA;
        return false;
    }
    LogMessage(3, LOG_INFO, "Required %ws >= %d\n", SETTING_MSI_VERSION, (int)required);
    if (!NeedsEngineUpgrade((int)required))
        return true;

    if (!RunState.isAdmin)
    {
        Tell(MESSAGE_ERROR, LABEL_MUST_BE_ADMIN);
        result = RC_NO_SUCH_PRIVILEGE;
        return false;
    }

    const char* ask = read.ask.Use();
    if (ask != NULL && TextEqualNoCase(ask, "no"))
    {
        LogMessage(3, LOG_INFO, "AllowUpdateMSI question suppressed by setting '%S'\n",
                   SETTING_ASK_MSI_UPGRADE);
    }
    else if (!Ask(LABEL_ALLOW_UPDATE_MSI))
    {
        result = RC_OPERATION_ABORTED;
        return false;
    }

    const wchar_t* sourceSetting = read.source.key;
    const char* sourceValue = read.source.Use();
    if (sourceValue == NULL || sourceValue[0] == 0)
    {
        ShowInvalidSetting(sourceSetting);
        result = RC_INVALID_DATA;
        return false;
    }
    char sourceName[MAX_PATH];
    lstrcpynA(sourceName, sourceValue, sizeof(sourceName));
    LogMessage(3, LOG_INFO, "%ws=%hs\n", sourceSetting, sourceName);

    bool delayedRebootUnsupported = AdaptToOldNt(sourceName, sizeof(sourceName));
    return InstallEngine(sourceName, (int)required, read.checkVersion, delayedRebootUnsupported, result,
                         settings);
}
