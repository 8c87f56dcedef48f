// The last steps of a setup or upgrade: the data of the member state for every
// chosen language, the programs that travel packed, the security policy and
// the shortcuts; and, once the run has succeeded, the records that tell the
// next run and the product what is installed.
#include "Phases.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "AppObjects.h"
#include "CCompression.h"
#include "CDownloadManager.h"
#include "CMSI.h"
#include "CMainUI.h"
#include "CResource.h"
#include "CodeTables.h"
#include "Components.h"
#include "FileUtil.h"
#include "Log.h"
#include "Migration.h"
#include "PreviousInstallation.h"
#include "Registry.h"
#include "RunState.h"
#include "SecurityPolicy.h"
#include "Shortcuts.h"
#include "WideAPI.h"
#include "resource.h"

static const char* const SUPPORT_LIBRARY = "SharpZip.dll";
static const char* const NEW_MAIN_EXE = "zaphnew.exe";
static const char* const LOGIN_PROGRAM = "login.exe";
static const char* const QRT_LOGIN_MEMBER = "QRT_login.exe";
static const char* const LOGIN_SHORTCUT = "Login.lnk";
static const char* const OLDER_LINE_DATA_DIR = "QvlData";
static const char* const OLDER_LINE_UNZIP = "Bin\\dzip32.dll";
static const char* const LOGIN_SETTINGS_KEY = "Software\\Ombrant\\ZAPH.NET\\Login";
static const char* const LOGIN_VALUE_LANGUAGE = "DefaultLanguage";
static const char* const LOGIN_VALUE_MEMBER_STATE = "DefaultMemberState";
// Where a program waits while its packed successor is unpacked (see Unpack).
static const char* const KEPT_SUFFIX = ".fwkeep";
static const UINT BAR_OVERALL = 1;
static const UINT BAR_FILE = 0;

// Fills a path buffer (FW_PATH_SIZE bytes); a path that does not fit leaves
// it empty and answers false rather than naming another file.
static bool Format(char* out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = _vsnprintf(out, FW_PATH_SIZE, format, args);
    va_end(args);
    if (n < 0 || n >= FW_PATH_SIZE)
    {
        out[0] = 0;
        return false;
    }
    return true;
}

static void PumpMessages()
{
    if (g_mainUI != NULL)
        g_mainUI->PumpMessages();
}

// ---------------------------------------------------------------------------
// Phase 25
// ---------------------------------------------------------------------------

static void LogOlderLineLeftover(const char* target, const char* relative, bool folder)
{
    char path[FW_PATH_SIZE];
    if (!Format(path, "%s\\%s", target, relative))
        return;
    if (folder ? IsFolder(path) : FileExists(path))
        LogMessage(2, LOG_INFO, "New installation path does already have '%hs'.\n", relative);
    else
        LogMessage(2, LOG_WARNING, "New installation path doesn't contain '%hs'.\n", relative);
}

void PhaseDataComponents(SequenceLocals& locals)
{
    CMainUI* ui = g_mainUI;
    copyMode = COPY_MODE_CHUNKED;

    const char* value = g_resource->GetSetting(SETTING_NUM_COMPONENTS, true);
    long perLanguage = value != NULL ? strtol(value, NULL, 10) : 0;
    if (perLanguage < 0)
        perLanguage = 0;
    ui->SetProgressRange(BAR_OVERALL, (UINT)(perLanguage * RunState.languageCount));
    ui->SetProgressPos(BAR_OVERALL, 0);
    locals.stepKey = LABEL_INSTALL_COMPONENTS;
    ui->SetBusy(true);
    ui->PumpMessages();

    const char* target = RunState.targetDir.GetNarrow();
    if (RunState.oldPackageRemoved)
    {
        LogOlderLineLeftover(target, OLDER_LINE_DATA_DIR, true);
        LogOlderLineLeftover(target, OLDER_LINE_UNZIP, false);
    }

    // A settings file in the staging folder marks it complete; until this run
    // completes it is not.
    char staged[FW_PATH_SIZE];
    char stagedName[FW_PATH_SIZE];
    if (Format(stagedName, "%s%s\\%s", RunState.memberState.GetNarrow(), STAGING_SUFFIX, INSTALLED_SETTINGS) &&
        Format(staged, "%s\\%s", target, stagedName))
        DeleteFileA(staged);

    // The member state and the target stay the same for every language; their
    // narrow forms are copied so that no conversion below overwrites them.
    std::string memberState = RunState.memberState.GetNarrow();
    std::string targetDir = target;
    for (int index = 0; index < LANGUAGE_SLOTS && locals.rc == 0; ++index)
    {
        if (!RunState.languageSelected[index])
            continue;
        const char* code = LanguageCode(index);
        char bracketed[8];
        _snprintf(bracketed, sizeof(bracketed), "[%s]", code);
        bracketed[sizeof(bracketed) - 1] = 0;
        // A settings file without the label still names the language.
        const wchar_t* label = g_resource->GetLabel(LABEL_INSTALL_COMPONENTS);
        std::wstring step = std::wstring(label != NULL ? label : L"") + A2W(bracketed);
        ui->SetItemText(IDC_STATUS_LOWER, g_resource->FormatLabel(LABEL_PLEASE_WAIT, step.c_str()));

        DWORD result = 0;
        if (InstallComponents(result, memberState.c_str(), code, targetDir.c_str(), SECTION_COMPONENTS))
        {
            PumpMessages();
            // The additional files never decide the outcome of the run.
            DWORD additional = 0;
            InstallComponents(additional, memberState.c_str(), code, targetDir.c_str(), SECTION_ADDITIONAL);
            PumpMessages();
        }
        locals.rc = (long)result;
    }
    ui->SetBusy(false);
}

// ---------------------------------------------------------------------------
// Phase 26
// ---------------------------------------------------------------------------

// Unpacks member from archive into destination. The program already there is
// kept aside until its successor is in place: an archive that cannot be
// unpacked must not leave the installation without the program. Returns the
// unpacking's code (0 success).
static DWORD Unpack(CCompression& unzip, const char* archive, const char* member, const char* destination)
{
    char kept[FW_PATH_SIZE];
    bool keeping = false;
    if (FileExists(destination))
    {
        if (Format(kept, "%s%s", destination, KEPT_SUFFIX))
        {
            ForceDeleteFile(kept);
            keeping = MoveFileA(destination, kept) != 0;
        }
        if (!keeping && !ForceDeleteFile(destination))
            LogMessage(3, LOG_INFO, "Could not delete '%hs'.\n", destination);
    }

    DWORD code = 0;
    if (unzip.Unzip(archive, member, destination))
    {
        LogMessage(3, LOG_INFO, "Uncompressed '%hs' OK.\n", archive);
        ForceDeleteFile(archive);
        if (keeping)
            ForceDeleteFile(kept);
        return 0;
    }
    code = unzip.GetLastErrorCode();
    // The library's code, or 0 when only the final copy failed: still a failure.
    if (code == 0)
        code = RC_CANNOT_COPY;
    LogMessage(2, LOG_WARNING, "Uncompressing '%hs' returned '%ld'.\n", archive, (long)code);
    if (keeping)
    {
        ForceDeleteFile(destination);
        if (!MoveFileA(kept, destination))
            LogSystemError("Could not put back the earlier program", GetLastError());
    }
    return code;
}

static void RemoveDesktopLoginShortcut()
{
    C_String desktop;
    ReadRegistryString(HKEY_LOCAL_MACHINE, SHELL_FOLDERS_KEY, COMMON_DESKTOP_VALUE, desktop);
    if (desktop.IsEmpty())
    {
        LogMessage(2, LOG_WARNING, "Could not locate 'Common Desktop'\n");
        return;
    }
    char shortcut[FW_PATH_SIZE];
    if (Format(shortcut, "%s\\%s", desktop.GetNarrow(), LOGIN_SHORTCUT) && DeleteFileA(shortcut))
        LogMessage(2, LOG_INFO, "Deleted shortcut '%hs'\n", shortcut);
}

// The login program of the .NET edition is the QRT one, renamed; an
// installation that never had one does not get one.
static void ReplaceLoginProgram(CCompression& unzip, const char* target)
{
    char login[FW_PATH_SIZE], loginArchive[FW_PATH_SIZE], qrtArchive[FW_PATH_SIZE];
    if (!Format(login, "%s\\%s", target, LOGIN_PROGRAM) || !Format(loginArchive, "%s.zip", login) ||
        !Format(qrtArchive, "%s\\%s.zip", target, QRT_LOGIN_MEMBER))
        return;
    if (!FileExists(login) && !FileExists(loginArchive))
    {
        LogMessage(2, LOG_INFO, "We don't have a '%hs[.zip]'\n", login);
        if (ForceDeleteFile(qrtArchive))
            LogMessage(2, LOG_INFO, "Cleaned up '%hs'\n", qrtArchive);
        else
            LogMessage(2, LOG_WARNING, "Could not clean up '%hs'\n", qrtArchive);
        return;
    }
    LogMessage(2, LOG_INFO, "We still have a '%hs[.zip]'\n", login);
    ForceDeleteFile(loginArchive);
    Unpack(unzip, qrtArchive, QRT_LOGIN_MEMBER, login);
}

void PhaseProgramsAndShortcuts(SequenceLocals& locals)
{
    if (g_downloadManager != NULL)
        g_downloadManager->HangUp();

    std::string targetDir = RunState.targetDir.GetNarrow();
    std::string exeName = RunState.mainExeName.GetNarrow();
    const char* target = targetDir.c_str();
    bool dotNet = RunState.dotNetEdition;
    char mainExe[FW_PATH_SIZE], mainArchive[FW_PATH_SIZE], destination[FW_PATH_SIZE];
    char library[FW_PATH_SIZE], libraryArchive[FW_PATH_SIZE];
    if (!Format(mainExe, "%s\\%s", target, exeName.c_str()) || !Format(mainArchive, "%s.zip", mainExe) ||
        !Format(library, "%s\\bin\\%s", target, SUPPORT_LIBRARY) || !Format(libraryArchive, "%s.zip", library))
    {
        LogMessage(2, LOG_ERROR, "Path too long below '%hs'.\n", target);
        locals.rc = RC_FILENAME_EXCED_RANGE;
        return;
    }
    // A running .NET program cannot be replaced: its successor waits beside it.
    if (dotNet && IsProductInUse())
        Format(destination, "%s\\%s", target, NEW_MAIN_EXE);
    else
        strcpy(destination, mainExe);

    CCompression unzip(target);
    if (dotNet)
        RemoveDesktopLoginShortcut();

    if (FileExists(mainArchive))
        locals.rc = (long)Unpack(unzip, mainArchive, exeName.c_str(), destination);

    if (dotNet)
    {
        if (FileExists(libraryArchive))
        {
            DWORD code = Unpack(unzip, libraryArchive, SUPPORT_LIBRARY, library);
            // The main program's failure is the one the user hears of.
            if (locals.rc == 0)
                locals.rc = (long)code;
        }
        if (FileExists(mainExe))
            RegisterSecurityPolicy(mainExe, POLICY_GROUP_NAME, POLICY_GROUP_DESCRIPTION);
        ReplaceLoginProgram(unzip, target);
    }

    CreateProductShortcuts(target, false);
}

// ---------------------------------------------------------------------------
// Completion records
// ---------------------------------------------------------------------------

void WriteCompletionRecords(SequenceLocals& locals)
{
    bool dotNet = RunState.dotNetEdition;
    if (locals.isClient && dotNet)
    {
        char mainExe[FW_PATH_SIZE];
        if (Format(mainExe, "%s\\%s", RunState.targetDir.GetNarrow(), RunState.mainExeName.GetNarrow()))
            RegisterSecurityPolicy(mainExe, POLICY_GROUP_NAME, POLICY_GROUP_DESCRIPTION);
    }

    if (dotNet || !locals.skipMsi)
        WriteRegistryString(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_DOTNET, dotNet ? "Yes" : "No");

    std::string memberState = RunState.memberState.GetNarrow();
    if (dotNet)
    {
        std::string language = g_resource->GetLanguageCode();
        EnsureRegistryKey(HKEY_CURRENT_USER, LOGIN_SETTINGS_KEY);
        WriteRegistryString(HKEY_CURRENT_USER, LOGIN_SETTINGS_KEY, LOGIN_VALUE_LANGUAGE, language.c_str());
        WriteRegistryString(HKEY_CURRENT_USER, LOGIN_SETTINGS_KEY, LOGIN_VALUE_MEMBER_STATE, memberState.c_str());
    }

    std::string target = RunState.targetDir.GetNarrow();
    char staging[FW_PATH_SIZE];
    bool stagingKnown = Format(staging, "%s\\%s%s", RunState.targetDir.GetNarrow(), memberState.c_str(),
                               STAGING_SUFFIX);
    if (stagingKnown)
        RunState.targetDir = staging;
    else
        LogMessage(2, LOG_WARNING, "Path too long below '%hs'.\n", RunState.targetDir.GetNarrow());

    // The next run and the product read these copies to learn what was
    // installed: a run that could not leave them has not succeeded. The
    // marker is written only after the settings copy is in place.
    if (!locals.isClient)
    {
        std::string settingsFile = g_resource->GetIniFile();
        const char* failed = NULL;
        if (!stagingKnown)
            failed = INSTALLED_SETTINGS;
        else if (!CopyFileCreatingFolders(settingsFile.c_str(), staging, INSTALLED_SETTINGS, NULL))
            failed = INSTALLED_SETTINGS;
        else if (!dotNet && !CopyFileCreatingFolders(settingsFile.c_str(), staging, COMPLETION_MARKER, NULL))
            failed = COMPLETION_MARKER;
        if (failed != NULL)
        {
            LogMessage(2, LOG_ERROR, "Could not write the completion record '%hs' below '%hs' [%ld].\n", failed,
                       stagingKnown ? staging : target.c_str(), (long)GetLastError());
            locals.rc = (long)COMPONENTS_COPY_FAILED;
            // A failed run's logs go below the target itself, and what an
            // unfinished installation still needs (the older line's
            // uninstall entry) stays.
            RunState.targetDir = target.c_str();
            return;
        }
    }

    DeleteRegistryKey(HKEY_LOCAL_MACHINE, OLDER_LINE_UNINSTALL_KEY);

    if (RunState.multiMode)
        WriteRegistryString(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_MULTI_MS_VERSION,
                            locals.ownVersion);
}
