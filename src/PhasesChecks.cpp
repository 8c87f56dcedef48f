// The checks before installation: the settings file and the language, the
// progress window, the source of the files, the member state, the versions and
// the base of every source name.
#include "Phases.h"

#include <string.h>

#include <string>

#include "AppObjects.h"
#include "CDownloadManager.h"
#include "CMSI.h"
#include "CMainUI.h"
#include "CResource.h"
#include "CodeTables.h"
#include "FileUtil.h"
#include "FileVersion.h"
#include "LanguageSelection.h"
#include "Log.h"
#include "LogWindow.h"
#include "Migration.h"
#include "Prerequisites.h"
#include "PreviousInstallation.h"
#include "Registry.h"
#include "RunState.h"
#include "Shortcuts.h"
#include "SystemInfo.h"
#include "SystemLibrary.h"
#include "TextUtil.h"
#include "UpgradeMSI.h"
#include "UserMessages.h"
#include "WideAPI.h"
#include "resource.h"

const char* const LOCAL_MARKER_FILE = "_FW_LOCAL_.txt";
const char* const LOCAL_PROGRAM_NAME = "setup.exe";

static const char* const MAIN_EXE_QRT = "Login.exe";
static const char* const MAIN_EXE_DOTNET = "Zaph.exe";
static const char* const THREADING_OFF = "Off";
static const char* const DOTNET_YES = "yes";
static const int MEMBER_STATE_LENGTH = 2;

// A narrow text (path, code) inside a fixed wide message. A2W's buffer is
// shared, so the converted text is copied at once.
static std::wstring Wide(const char* text)
{
    return std::wstring(A2W(text ? text : ""));
}

SequenceLocals::SequenceLocals()
{
    Reset();
}

void SequenceLocals::Reset()
{
    rc = 0;
    stepKey = NULL;
    languageCode.Clear();
    iniFile.Clear();
    ownVersion[0] = 0;
    versionLabel[0] = 0;
    winMajor = winMinor = winServicePack = 0;
    isVista = false;
    skipMsi = skipProductPackage = qrtRegistered = false;
    previousFound = noUpgradeNeeded = abandonUpgrade = isClient = false;
    installedVersion[0] = 0;
    detectedDir.Clear();
    relocation.Reset();
    endPhases = false;
}

void GetProgramFileName(char* out)
{
    out[0] = 0;
    // The module's own path rather than argument 0: an administrator who types
    // "setup" in a console gives no extension there, and the name decides
    // where the files come from.
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
    {
        LogSystemError("The program's file name could not be read", GetLastError());
        return;
    }
    const char* name = strrchr(path, '\\');
    strcpy(out, name ? name + 1 : path);
}

bool IsLocalRun(const char* programName)
{
    HANDLE marker = CreateFileA(LOCAL_MARKER_FILE, GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker != INVALID_HANDLE_VALUE)
    {
        CloseHandle(marker);
        return true;
    }
    return programName != NULL && TextEqualNoCase(programName, LOCAL_PROGRAM_NAME);
}

// Whether the file at path (as the system completes it) lies in the folder.
static bool LiesInFolder(const char* path, const char* folder)
{
    char full[FW_PATH_SIZE];
    char* name = NULL;
    DWORD length = GetFullPathNameA(path, sizeof(full), full, &name);
    if (length == 0 || length >= sizeof(full) || name == NULL || name == full || !FileExists(full))
        return false;
    name[-1] = 0;
    return IsSameFolder(full, folder);
}

// The distribution is the folder the program is started from, and normally
// the current folder. After a restart Windows starts the registered command
// in a folder of its own choosing: when the settings file is not found from
// the current folder but lies beside the program (named as a file there, or
// by its full path in the program's folder), the program's folder becomes the
// current one, so that the settings file, the LOCAL marker and the files of a
// LOCAL run are all found where the program lies, as in the run before.
static void WorkFromProgramFolder(const char* iniName)
{
    const char* name = iniName != NULL ? iniName : SETTINGS_FILE_NAME;
    // A share's path ("\\server\dist\Zaph.ini") is a full path too: a
    // distribution started from a share restarts from it.
    bool fullPath = IsAbsoluteSource(name) || (name[0] == '\\' && name[1] == '\\');
    if (!fullPath && (name[0] == '\\' || FileExists(name)))
        return;
    char folder[FW_PATH_SIZE], current[FW_PATH_SIZE];
    DWORD length = GetModuleFileNameA(NULL, folder, sizeof(folder));
    char* slash = length > 0 && length < sizeof(folder) ? strrchr(folder, '\\') : NULL;
    if (slash == NULL)
        return;
    *slash = 0;
    if (GetCurrentFolder(current) && IsSameFolder(current, folder))
        return;
    if (fullPath ? !LiesInFolder(name, folder) : !FileExistsIn(folder, name))
        return;
    if (SetCurrentDirectoryA(folder))
        LogMessage(2, LOG_INFO, "Working in '%hs', where the program and its settings file are.\n", folder);
    else
        LogSystemError("The program's folder could not be made the current one", GetLastError());
}

void PhaseSettingsAndLanguage(SequenceLocals& locals)
{
    CResource* settings = g_resource;

    const char* iniName = locals.iniFile.IsEmpty() ? NULL : locals.iniFile.GetNarrow();
    WorkFromProgramFolder(iniName);
    if (!settings->Load(iniName))
    {
        // The path tried, or the name given when it could not even be made.
        const char* shown = settings->GetIniFile();
        if (shown[0] == 0)
            shown = iniName ? iniName : SETTINGS_FILE_NAME;
        std::wstring text = L"Initialisation file '" + Wide(shown) +
                            L"' not OK\nIt may be missing or corrupted.";
        TellText(MESSAGE_ERROR, text.c_str());
        locals.rc = RC_INVALID_DATA;
        return;
    }

    const char* logging = settings->GetSetting(SETTING_LOGGING, false);
    if (logging != NULL && logging[0] != 0)
    {
        // Copied whole: a name cut to the log's buffer would send the lines to
        // another file; SetLogFile refuses a name that is too long (and logs it).
        std::string logFile = logging;
        // The old log says where the rest of the run went.
        LogMessage(2, LOG_INFO, "Logging continues in '%hs' (setting %S).\n", logFile.c_str(),
                   SETTING_LOGGING);
        SetLogFile(logFile.c_str());
    }

    const char* threading = settings->GetSetting(SETTING_THREADING, true);
    if (threading != NULL && TextEqualNoCase(threading, THREADING_OFF))
    {
        g_downloadManager->SetUseWorkerThread(false);
        LogMessage(3, LOG_INFO, "Downloads run without the worker thread.\n");
    }

    const char* dotNet = settings->GetSetting(SETTING_DOTNET, true);
    RunState.mainExeName = MAIN_EXE_QRT;
    if (dotNet != NULL && TextEqualNoCase(dotNet, DOTNET_YES))
    {
        RunState.dotNetEdition = true;
        RunState.mainExeName = MAIN_EXE_DOTNET;
        LogMessage(2, LOG_INFO, "Installation of ZAPH.NET\n");
    }

    const char* code = locals.languageCode.IsEmpty() ? NULL : locals.languageCode.GetNarrow();
    if (!settings->ChooseLanguage(code))
    {
        std::wstring text = L"Language '" + Wide(code) + L"' not found in file '" +
                            Wide(settings->GetIniFile()) + L"'";
        TellText(MESSAGE_ERROR, text.c_str());
        locals.rc = RC_INVALID_DATA;
    }
}

// IniVersion: a value of 1 to 31 characters is taken; anything else is
// logged as missing and leaves the version label empty.
static void TakeIniVersion(SequenceLocals& locals)
{
    const char* value = g_resource->GetSetting(SETTING_INI_VERSION, true);
    size_t length = TextLength(value);
    if (length == 0 || length >= (size_t)VERSION_LABEL_SIZE)
    {
        LogMessage(2, LOG_WARNING, "INIFILE setting '%S' missing/incorrect!\n",
                   SETTING_INI_VERSION);
        return;
    }
    char iniVersion[VERSION_LABEL_SIZE];
    strcpy(iniVersion, value);
    LogMessage(3, LOG_INFO, "INIFILE setting '%S' = '%hs'\n", SETTING_INI_VERSION, iniVersion);
    if (!MakeVersionLabel(iniVersion, locals.versionLabel, sizeof(locals.versionLabel),
                          RunState.dotNetEdition))
        LogMessage(2, LOG_WARNING, "Version label of '%hs' does not fit; none is used.\n",
                   iniVersion);
}

void PhaseWindowAndSource(SequenceLocals& locals)
{
    CResource* settings = g_resource;
    CMainUI* ui = g_mainUI;

    ui->m_iPreferredLanguage = settings->GetPreferredLanguage();
    // The window's default language is the first one it is told of; its
    // font's character set follows that language from the start.
    if (ui->m_iDefaultLanguage < 0)
    {
        ui->m_iDefaultLanguage = settings->GetLanguage();
        ui->FontManager().SetCharSet(LanguageCharSet(settings->GetLanguage()));
    }
    ui->m_bLanguageFixed = !locals.languageCode.IsEmpty();
    // A quiet run has no one at the screen: it makes no window at all, and
    // what the phases tell the window is then kept or let go by it. It still
    // holds the common controls, as the window would: the installer library
    // brings them along, and without a hold they would go with it after the
    // engine check and be loaded again with the product package.
    if (RunState.quiet)
        LoadCommonControls();
    else if (!ui->Create(NULL))
        LogMessage(0, LOG_ERROR, "The run goes on without its progress window.\n");
    ui->SetItemText(IDC_STATUS_LOWER, L"");
    ui->SetItemText(IDC_STATUS_UPPER, L"");
    ui->SetInfoKey(LABEL_INITIALISING);
    FillWindowTexts();
    HWND proceed = ui->GetWindow() ? GetDlgItem(ui->GetWindow(), IDC_PROCEED) : NULL;
    if (proceed != NULL)
        SetFocus(proceed);
    ui->StepProgress(1, 5);

    char programName[MAX_PATH];
    GetProgramFileName(programName);
    if (programName[0] != 0)
        LogMessage(3, LOG_INFO, "My name is '%hs'\n", programName);

    settings->SetLocal(IsLocalRun(programName));

    const char* memberState = settings->GetSetting(SETTING_MEMBER_STATE, true);
    if (memberState != NULL && strlen(memberState) == MEMBER_STATE_LENGTH &&
        IsMemberStateCode(memberState))
    {
        RunState.memberState = memberState;
        LogMessage(3, LOG_INFO, "INIFILE setting 'MS' = '%hs'\n", RunState.memberState.GetNarrow());
    }
    else
    {
        RunState.memberState.Clear();
        LogMessage(2, LOG_WARNING, "INIFILE setting 'MS' missing/incorrect!\n");
    }

    TakeIniVersion(locals);

    const char* exeVersion = settings->GetSetting(SETTING_EXE_VERSION, false);
    LogMessage(3, LOG_INFO, "INIFILE variable '%S' = '%hs'\n", SETTING_EXE_VERSION,
               exeVersion ? exeVersion : "");

    locals.stepKey = LABEL_INITIALISING;

    const char* baseUrl = settings->GetSetting(SETTING_BASE_URL, true);
    if (baseUrl == NULL || baseUrl[0] == 0)
    {
        TellFormatted(MESSAGE_ERROR, LABEL_INVALID_VALUE, NULL, SETTING_BASE_URL);
        locals.rc = RC_INVALID_DATA;
        return;
    }
    g_downloadManager->SetBaseUrl(baseUrl);

    ui->SetItemText(IDC_STATUS_UPPER, A2W(RunState.memberState.GetNarrow()));
}

// ---------------------------------------------------------------------------
// Phases 3 to 15: the checks before anything is installed
// ---------------------------------------------------------------------------

static const char* const PROGRAM_FILES_PLACEHOLDER = "<ProgramFiles>";
static const char* const SHELL_FOLDERS_KEY_PATH =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
static const char* const COMMON_DOCUMENTS_VALUE = "Common Documents";
// Multi-MS: an installed package of version 7 or later is the QRT edition's.
static const char* const MULTI_MS_QRT_FROM = "7+";
static const char* const MULTI_MS_TAG = "Multi-MS";
// The hotfix that NT 4.0 with service pack 6 needs for the .NET edition.
static const char* const HOTFIX_Q246009_KEY =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";
static const char* const HOTFIX_INSTALLED_VALUE = "Installed";

// A label's text kept beyond the next look-up ("" when missing).
static std::wstring Label(const wchar_t* key)
{
    const wchar_t* text = g_resource->GetLabel(key);
    return std::wstring(text ? text : L"");
}

static std::string ProductValue(const char* name, bool* present)
{
    C_String value;
    *present = ReadRegistryString(HKEY_LOCAL_MACHINE, ProductRegistryKey, name, value);
    return *present ? std::string(value.GetNarrow()) : std::string();
}

static void TrimTrailingBackslashes(std::string& path)
{
    while (!path.empty() && path[path.size() - 1] == '\\')
        path.erase(path.size() - 1);
}

void PhaseEditionConflict(SequenceLocals& locals)
{
    bool present = false;
    std::string dotNet = ProductValue(PRODUCT_VALUE_DOTNET, &present);
    if (!present)
    {
        bool hasPath = false, hasType = false;
        ProductValue(PRODUCT_VALUE_INSTALL_PATH, &hasPath);
        ProductValue(PRODUCT_VALUE_SETUP_TYPE, &hasType);
        if (hasPath && hasType)
        {
            locals.qrtRegistered = true;
            LogMessage(2, LOG_INFO, "%hs registry information not detected, QRT detected OK.\n",
                       PRODUCT_VALUE_DOTNET);
        }
        else
        {
            LogMessage(2, LOG_INFO, "%hs registry information not detected. Don't know.\n",
                       PRODUCT_VALUE_DOTNET);
        }
        return;
    }

    LogMessage(2, LOG_INFO, "%hs=%hs\n", PRODUCT_VALUE_DOTNET, dotNet.c_str());
    bool registeredDotNet = TextEqualNoCase(dotNet.c_str(), DOTNET_YES);
    if (!registeredDotNet || RunState.dotNetEdition)
    {
        locals.qrtRegistered = !registeredDotNet;
        return;
    }

    // A QRT package must not overwrite the .NET edition: neither the engine
    // nor the package is touched, and where the .NET edition's member-state
    // data is present the run stops.
    LogMessage(2, LOG_WARNING, "ZAPH.NET version should not be upgraded to ZAPH.QRT!\n");
    locals.skipMsi = true;
    bool hasPath = false;
    std::string folder = RunState.targetDir.IsEmpty()
                             ? ProductValue(PRODUCT_VALUE_INSTALL_PATH, &hasPath)
                             : std::string(RunState.targetDir.GetNarrow());
    if (folder.empty())
    {
        LogMessage(2, LOG_WARNING, "Could not determine where ZAPH.NET is!\n");
        return;
    }
    LogMessage(2, LOG_INFO, "We're checking for ZAPH.NET presence in '%hs'!\n", folder.c_str());
    TrimTrailingBackslashes(folder);
    std::string manifest = folder + "\\" + RunState.memberState.GetNarrow() + "\\" + MEMBER_STATE_MANIFEST;
    if (FileExists(manifest.c_str()) || FileExists((manifest + ".zip").c_str()))
    {
        TellFormatted(MESSAGE_WARNING, LABEL_ERROR_OCCURRED, NULL, L"*** ZAPH.NET ***");
        locals.rc = RC_CANCELLED;
        return;
    }
    // Another member state beside the .NET edition: its data goes in, while
    // the engine, the package and the edition recorded stay as they are.
    LogMessage(2, LOG_INFO, "No ZAPH.NET data of member state '%hs' there: going on without the engine and the "
               "product package.\n", RunState.memberState.GetNarrow());
}

void PhaseClientServerOrder(SequenceLocals& locals)
{
    if (!CheckClientServerOrder())
        locals.rc = RC_CANCELLED;
}

void PhaseEarlierInstallation(SequenceLocals& locals)
{
    C_String folder(RunState.targetDir);
    const char* memberState = RunState.memberState.IsEmpty() ? NULL : RunState.memberState.GetNarrow();
    locals.installedVersion[0] = 0;
    locals.previousFound = DetectPreviousInstallation(memberState, locals.versionLabel, folder,
                                                      locals.noUpgradeNeeded, locals.abandonUpgrade,
                                                      locals.installedVersion);
    locals.detectedDir = folder;
    if (!locals.abandonUpgrade)
        return;

    // Newer data than this release would be replaced by older: refused.
    locals.stepKey = NULL;
    std::wstring text = Label(LABEL_WAS_ABANDONED) + L"\n***" + Label(LABEL_NO_UPGRADE) + L"***\n\n" +
                        Wide(locals.installedVersion) + L"\n";
    TellText(MESSAGE_ERROR, text.c_str());
    locals.rc = RC_INVALID_DATA;
}

// The folder that stands for <ProgramFiles>: on Windows Vista the parent of
// the common documents folder, elsewhere (and when Vista's is unknown) the
// Program Files folder.
static std::string ProgramFilesStandIn(const SequenceLocals& locals)
{
    if (locals.winMajor == 6)
    {
        C_String documents;
        if (ReadRegistryString(HKEY_LOCAL_MACHINE, SHELL_FOLDERS_KEY_PATH, COMMON_DOCUMENTS_VALUE,
                               documents) &&
            !documents.IsEmpty())
        {
            std::string parent = documents.GetNarrow();
            TrimTrailingBackslashes(parent);
            size_t slash = parent.rfind('\\');
            if (slash != std::string::npos && slash < MAX_PATH)
                return parent.substr(0, slash);
        }
    }
    char programFiles[MAX_PATH];
    return GetProgramFilesDir(PROGRAM_FILES_VALUE, programFiles);
}

void PhaseDefaultTargetDir(SequenceLocals& locals)
{
    const char* setting = g_resource->GetSetting(SETTING_DEFAULT_TARGET_DIR, false);
    if (setting != NULL)
    {
        std::string value = setting;
        size_t at = value.find(PROGRAM_FILES_PLACEHOLDER);
        if (at != std::string::npos)
            value.replace(at, strlen(PROGRAM_FILES_PLACEHOLDER), ProgramFilesStandIn(locals));
        RunState.defaultTargetDir = value.c_str();
        LogMessage(2, LOG_INFO, "Default dir = %hs \n", value.c_str());
    }

    std::string target = RunState.targetDir.GetNarrow();
    if (target.empty() && !locals.detectedDir.IsEmpty())
        target = locals.detectedDir.GetNarrow();
    TrimTrailingBackslashes(target);
    RunState.targetDir = target.c_str();
}

void PhaseBackupConfirmation(SequenceLocals& locals)
{
    std::wstring question = Label(LABEL_MADE_BACKUP);
    if (question.empty())
        return;
    if (!AskText(question.c_str()))
    {
        Tell(MESSAGE_WARNING, LABEL_AFTER_BACKUP);
        locals.rc = RC_CANCELLED;
    }
}

void PhaseMultiMs(SequenceLocals& locals)
{
    bool present = false;
    std::string version = ProductValue(PRODUCT_VALUE_MULTI_MS_VERSION, &present);
    if (present)
        LogMessage(2, LOG_INFO, "=== Multi-MS: version detected '%hs'.\n", version.c_str());
    else
        LogMessage(2, LOG_INFO, "=== Multi-MS: no version detected.\n");
    if (!RunState.multiMode)
        return;

    const char* target = RunState.targetDir.GetNarrow();
    if (!IsFolder(target))
    {
        LogMessage(2, LOG_WARNING,
                   "=== Multi-MS: Directory '%hs' doesn't exist. *not* skipping MSI step.\n", target);
        return;
    }
    LogMessage(2, LOG_INFO, "=== Multi-MS: Directory '%hs' exists.\n", target);
    C_String installed, productCode;
    if (!FindProductCode(installed, productCode, MULTI_MS_TAG))
    {
        LogMessage(2, LOG_WARNING, "=== Multi-MS: Need to run MSI.\n");
        return;
    }
    // The version as recorded: one that is missing or empty compares with
    // nothing, rather than as 0.0.0.0.
    if (CompareVersions(MULTI_MS_QRT_FROM, installed.GetNarrow()) != VERSION_B_LOWER)
    {
        LogMessage(2, LOG_INFO, "=== Multi-MS: Installed MSI is QRT.\n");
        locals.skipMsi = !RunState.dotNetEdition;
    }
    else
    {
        LogMessage(2, LOG_INFO, "=== Multi-MS: Installed MSI is NET.\n");
        locals.skipMsi = true;
    }
}

void PhaseNothingToUpgrade(SequenceLocals& locals)
{
    locals.stepKey = NULL;
    Tell(MESSAGE_WARNING, LABEL_NO_UPGRADE);
    locals.rc = RC_NO_DATA;
}

void PhaseFilesInUse(SequenceLocals& locals)
{
    RunState.phase = 1;
    locals.stepKey = NULL;
    if (!RunState.dotNetEdition && IsProductInUse())
    {
        Tell(MESSAGE_ERROR, LABEL_IN_USE);
        locals.rc = RC_PATH_BUSY;
    }
}

void PhaseAdministratorWarning(SequenceLocals& locals)
{
    std::wstring status = Wide(RunState.memberState.GetNarrow());
    if (!RunState.targetDir.IsEmpty())
        status += L" - " + Wide(RunState.targetDir.GetNarrow());
    g_mainUI->SetItemText(IDC_STATUS_UPPER, status.c_str());

    locals.skipProductPackage = locals.skipMsi;
    if (!locals.skipMsi && !RunState.isAdmin)
    {
        Tell(MESSAGE_WARNING, LABEL_WARN_NOT_ADMIN);
        // Unattended or aimed at a given folder, the package would fail
        // half-way without the rights: it is left out.
        if (RunState.autoUpgrade || RunState.targetGiven)
            locals.skipProductPackage = true;
    }
    g_mainUI->StepProgress(1, 5);
}

// The .NET edition's systems: Windows 98 and Millennium, NT 4.0 from service
// pack 5 (service pack 6 only with hotfix Q246009), and every later system.
static bool IsSystemAllowedForDotNet(const SequenceLocals& locals)
{
    if (locals.winMajor == 0)
        return false;
    if (locals.winMajor != 4 || locals.winMinor != 0)
        return true;
    if (locals.winServicePack == 6)
    {
        DWORD installed = 0;
        return ReadRegistryDword(HKEY_LOCAL_MACHINE, HOTFIX_Q246009_KEY, HOTFIX_INSTALLED_VALUE, installed) &&
               installed == 1;
    }
    return locals.winServicePack >= 5;
}

void PhaseSystemAndPrerequisites(SequenceLocals& locals)
{
    if (!IsSystemAllowedForDotNet(locals))
    {
        Tell(MESSAGE_ERROR, LABEL_CANNOT_INSTALL_PRE);
        locals.rc = RC_FILE_NOT_FOUND;
        return;
    }

    PrerequisiteOutcome outcome;
    if (InstallPreconditions(outcome, g_resource))
    {
        locals.rc = (long)outcome.code;
        if (outcome.restartNeeded)
            RunState.rebootNeeded = true;
        // Logs which frameworks are there now.
        IsDotNetInstalled(DOTNET_V30, false);
        IsDotNetInstalled(DOTNET_V20, false);
        IsDotNetInstalled(DOTNET_V11, false);
        return;
    }

    StopLogWindowAnimation();
    locals.rc = outcome.code != 0 ? (long)outcome.code : RC_FILE_NOT_FOUND;
    if (locals.rc == RC_INSTALL_PLATFORM_UNSUPPORTED)
    {
        Tell(MESSAGE_ERROR, LABEL_CANNOT_INSTALL_PRE);
        return;
    }
    std::wstring text = Label(LABEL_FAIL_INSTALL_PRE) + L"\n[" + Wide(outcome.message) + L"]";
    TellText(MESSAGE_ERROR, text.c_str());
}

void PhaseInstallerEngine(SequenceLocals& locals)
{
    // A restart that the prerequisites asked for stays asked for, whatever
    // the engine step does when it succeeds.
    long pendingRestart = IsRestartCode(locals.rc) ? locals.rc : 0;
    const char* required = g_resource->GetSetting(SETTING_MSI_VERSION, true);
    if (locals.skipMsi)
    {
        LogMessage(2, LOG_INFO, "=== SkipMSI: Installation of MSI will be skipped!\n");
    }
    else if (required != NULL && TextEqualNoCase(required, SETTING_SKIP_VALUE))
    {
        TellText(MESSAGE_ERROR, L"HARD Bypass of MSI installation!");
        locals.rc = pendingRestart;
    }
    else
    {
        DWORD result = 0;
        if (UpgradeInstallerEngine(result, g_resource))
        {
            locals.rc = result != 0 ? (long)result : pendingRestart;
        }
        else
        {
            locals.rc = result != 0 ? (long)result : RC_FILE_NOT_FOUND;
            Tell(MESSAGE_ERROR, LABEL_WAS_ABANDONED);
        }
    }

    if (IsRestartCode(locals.rc))
        RunState.rebootNeeded = true;
    RunState.phase = 2;
    StopLogWindowAnimation();
    g_mainUI->StepProgress(1, 1);
}

void PhaseLanguageSelection(SequenceLocals& locals)
{
    if (RunState.autoUpgrade)
    {
        // The earlier installation's languages stand; a restart still due
        // from the engine or the prerequisites ends an unattended run here.
        LogMessage(2, LOG_INFO, "Update mode: the %d language(s) of the earlier installation are kept.\n",
                   RunState.languageCount);
        if (RunState.commandLanguageCount > 0)
            LogMessage(2, LOG_WARNING, "Update mode: the languages of the command line are not used.\n");
        if (IsRestartCode(locals.rc))
            LogMessage(2, LOG_INFO, "Update mode: the run ends here for the restart.\n");
        return;
    }
    DWORD result = 0;
    RunLanguageSelection(result, locals.previousFound);
    locals.rc = (long)result;
}

void PhaseInstallationCheck(SequenceLocals& locals)
{
    LogMessage(2, LOG_INFO, "UI Language is '%hs'.\n", g_resource->GetLanguageCode());
    g_mainUI->StepProgress(1, 10);
    locals.stepKey = LABEL_INSTALL_SYSTEM;
    std::wstring step = Label(LABEL_INSTALL_SYSTEM);
    g_mainUI->SetItemText(IDC_STATUS_LOWER, g_resource->FormatLabel(LABEL_PLEASE_WAIT, step.c_str()));

    DWORD result = 0;
    if (!VerifyInstallation(result))
    {
        locals.rc = result != 0 ? (long)result : RC_FILE_NOT_FOUND;
        return;
    }
    // The earlier package's removal wants a restart: the new installation
    // may go on, the restart is announced at the end.
    if (IsRestartCode((long)result))
        RunState.rebootNeeded = true;
}
