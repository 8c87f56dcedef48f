// The product's own Windows Installer package: installation and upgrade.
#include "ProductPackage.h"

#include <stdio.h>

#include "AppObjects.h"
#include "Assert.h"
#include "CDownloadManager.h"
#include "CMSI.h"
#include "CMainUI.h"
#include "CResource.h"
#include "FileUtil.h"
#include "InstallerTrust.h"
#include "Log.h"
#include "TextUtil.h"
#include "PreviousInstallation.h"
#include "RunState.h"
#include "UserMessages.h"

const char* const PROPERTY_LANGUAGE_COUNT = "LNS";
const char* const PROPERTY_TARGET_DIR = "TARGETDIR";
const char* const PROPERTY_FORCE_FOLDER = "FORCEFOLDER";
const char* const PROPERTY_AUTO_UPGRADE = "AUTOUPGRADE";
const char* const PROPERTY_DEFAULT_DIR = "DEFAULTDIR";
const char* const PROPERTY_SETUP_TYPE = "SETUPTYPE";
const char* const PROPERTY_DOTNET = "DOTNET";
const char* const SETUP_TYPE_CLIENT = "Client";
const char* const PROPERTY_SOURCE_LIST = "SOURCELIST";
const char* const PROPERTY_REBOOT = "REBOOT";
const char* const REBOOT_REALLY_SUPPRESS = "ReallySuppress";

static const char* const TEXT_TRUE = "true";
static const char* const TEXT_FALSE = "false";
static const char* const NO_TEXT = "<>";
static const char* const PROMPTS_SHOWN = "Client-server prompt / Folder prompt.\n";
static const wchar_t* const UNTRUSTED_PACKAGE_TEXT =
    L"The product package '%hs' is not the one this setup expects: it is neither signed by %hs nor matches the "
    L"digest in the settings file. It was not installed.";
static const char* const PROMPTS_HIDDEN = "No folder prompt / No client-server prompt.\n";

// The user hears once that the installer library is unusable; the step
// returns the reason.
static DWORD ReportLibraryFailure()
{
    DWORD result = g_msi->GetLastResult();
    const wchar_t* reason = g_resource->GetLabel(LABEL_FAIL_LOAD_MSI);
    TellFormatted(MESSAGE_ERROR, LABEL_ERROR_OCCURRED, NULL, reason ? reason : L"");
    LogMessage(2, LOG_PLAIN, "MSI returned '%ld'\n", (long)result);
    return result;
}

static const char* ResultText(DWORD code)
{
    const char* text = g_msi->GetErrorText(code);
    return text != NULL ? text : NO_TEXT;
}

// Every property the package needs must arrive: a refused one would let the
// package decide alone (folder, edition), so the step stops instead.
static bool SetRequiredProperty(const char* name, const char* value)
{
    if (g_msi->SetProperty(name, value))
        return true;
    LogMessage(2, LOG_ERROR, "Error setting MSI Property %hs.\n", name);
    return false;
}

// Whether the package may skip its folder and client/server dialogs: only for
// an upgrade of a registered package whose folder is known to exist.
static const char* AutoUpgradeValue()
{
    C_String version, productCode;
    if (!FindProductCode(version, productCode, "Install MSI"))
    {
        LogMessage(2, LOG_WARNING, "No previous MSI registration found.");
        LogMessage(2, LOG_INFO, PROMPTS_SHOWN);
        return TEXT_FALSE;
    }
    if (RunState.autoUpgrade || RunState.addFeatures)
    {
        LogMessage(2, LOG_INFO, PROMPTS_HIDDEN);
        return TEXT_TRUE;
    }
    const char* target = RunState.targetDir.GetNarrow();
    if (target[0] != 0 && IsFolder(target))
    {
        LogMessage(2, LOG_WARNING, "Previous MSI registration found and directory %hs exists.\n", target);
        LogMessage(2, LOG_INFO, PROMPTS_HIDDEN);
        return TEXT_TRUE;
    }
    LogMessage(2, LOG_WARNING, "Previous MSI registration found but directory does *NOT* exist/missing.\n");
    LogMessage(2, LOG_INFO, PROMPTS_SHOWN);
    return TEXT_FALSE;
}

// The run's choices as public properties, in the order the package's log
// shows them. False when one is refused.
static bool SetPackageProperties(bool isClient)
{
    char count[16];
    _snprintf(count, sizeof(count), "%d", RunState.languageCount);
    const char* target = RunState.targetDir.GetNarrow();
    const char* defaultDir = RunState.defaultTargetDir.GetNarrow();
    if (!SetRequiredProperty(PROPERTY_LANGUAGE_COUNT, count) || !SetRequiredProperty(PROPERTY_TARGET_DIR, target))
        return false;
    const char* autoUpgrade = AutoUpgradeValue();
    if (!SetRequiredProperty(PROPERTY_FORCE_FOLDER, TEXT_FALSE) ||
        !SetRequiredProperty(PROPERTY_AUTO_UPGRADE, autoUpgrade))
        return false;
    if (target[0] == 0 && !SetRequiredProperty(PROPERTY_TARGET_DIR, defaultDir))
        return false;
    if (!SetRequiredProperty(PROPERTY_DEFAULT_DIR, defaultDir))
        return false;
    if (isClient || RunState.clientRequested)
    {
        if (!SetRequiredProperty(PROPERTY_SETUP_TYPE, SETUP_TYPE_CLIENT))
            return false;
        LogMessage(2, LOG_INFO, "Setting SETUPTYPE=%hs.\n", SETUP_TYPE_CLIENT);
    }
    if (RunState.dotNetEdition && !SetRequiredProperty(PROPERTY_DOTNET, TEXT_TRUE))
        return false;
    // Nobody is there to be asked about a restart: the package must not
    // start one, it reports it (3010) and the system that started us restarts.
    if (RunState.Unattended() && !SetRequiredProperty(PROPERTY_REBOOT, REBOOT_REALLY_SUPPRESS))
        return false;
    // The administrator's own, after the program's (the command line refused
    // the program's names).
    for (int i = 0; i < RunState.propertyCount; ++i)
    {
        if (!SetRequiredProperty(RunState.propertyNames[i].GetNarrow(), RunState.propertyValues[i].GetNarrow()))
            return false;
        LogMessage(2, LOG_INFO, "Setting %hs from the command line.\n", RunState.propertyNames[i].GetNarrow());
    }
    return true;
}

// A package from the network is downloaded by us (progress, resume and
// retries of the download manager), copied into a protected folder, checked
// there against its listed digest or its publisher's signature, and only that
// copy is given to the installer, which runs it with administrator rights.
// The copy goes once the installer has ended, so the installer would record
// a source that no longer exists; a later repair or change of the product
// that needs its source finds it through SOURCELIST instead, which names the
// folder of the package on the server (the installer looks there for a
// package of the same name). In LOCAL mode the installer is given the
// distribution's own package, as always, and records that folder itself.
static bool ObtainVerifiedPackage(const char* location, CVerifiedInstaller& verified, DWORD& result)
{
    // The name as the settings file lists it: relative to the base, with the
    // backslashes of [SHA256]; a location outside the base stands for itself.
    const char* base = g_downloadManager->GetBaseUrl();
    size_t baseLength = strlen(base);
    char name[FW_PATH_SIZE];
    const char* relative = (baseLength > 0 && TextEqualNoCase(location, base, baseLength)) ? location + baseLength
                                                                                            : location;
    lstrcpynA(name, relative, sizeof(name));
    if (relative != location)
        for (char* c = name; *c != 0; ++c)
            if (*c == '/')
                *c = '\\';

    char localPath[DOWNLOAD_PATH_SIZE];
    localPath[0] = 0;
    LoadTrustLibraries();
    result = ObtainSourceFile(name, localPath);
    if (result != 0)
        return false;   // the user has been told
    if (localPath[0] == 0)
    {
        result = RC_FILE_NOT_FOUND;
        return false;
    }
    if (verified.Take(name, localPath, result, PACKAGE_PUBLISHER))
        return true;
    if (result != (DWORD)RC_INVALID_IMAGE_HASH)
    {
        // The copy could not be made: as good as not obtained.
        TellFormatted(MESSAGE_ERROR, LABEL_FAIL_FILE, NOTHING_WITHOUT_LABEL, name, base);
        return false;
    }
    LogMessage(2, LOG_ERROR, "Package '%hs' refused: it is not installed.\n", localPath);
    // Without the label the user still learns that nothing was installed.
    wchar_t fallback[512];
    _snwprintf(fallback, sizeof(fallback) / sizeof(fallback[0]) - 1, UNTRUSTED_PACKAGE_TEXT, name, PACKAGE_PUBLISHER);
    fallback[sizeof(fallback) / sizeof(fallback[0]) - 1] = 0;
    TellFormatted(MESSAGE_ERROR, LABEL_FAIL_FILE, fallback, name, base);
    return false;
}

// Where a later repair finds the package: the folder of its location on the
// server. Not having it only costs the repair a question, so the step goes on.
static void SetSourceList(const char* location)
{
    char folder[FW_PATH_SIZE];
    lstrcpynA(folder, location, sizeof(folder));
    char* slash = strrchr(folder, '/');
    if (slash == NULL)
        return;
    slash[1] = 0;
    if (g_msi->SetProperty(PROPERTY_SOURCE_LIST, folder))
        LogMessage(2, LOG_INFO, "Setting %hs=%hs.\n", PROPERTY_SOURCE_LIST, folder);
    else
        LogMessage(2, LOG_WARNING, "Error setting MSI Property %hs.\n", PROPERTY_SOURCE_LIST);
}

// The installer's user interface: none when quiet, a progress bar that asks
// nothing when passive, else the package's own dialogs.
static int UserInterfaceLevel()
{
    if (RunState.quiet)
        return MSI_UI_LEVEL_NONE;
    if (RunState.passive)
        return MSI_UI_LEVEL_BASIC | MSI_UI_PROGRESS_ONLY;
    return MSI_UI_LEVEL_FULL;
}

// What the user is told about the installer's result, and whether a restart
// code turns it into success.
static DWORD JudgeResult(DWORD result, const char* location)
{
    switch (result)
    {
    case RC_FILE_NOT_FOUND:
    case RC_PATH_NOT_FOUND:
    case RC_INVALID_NAME:
    case RC_INSTALL_PACKAGE_OPEN_FAILED:
        TellFormatted(MESSAGE_WARNING, LABEL_FAIL_FILE, NULL, location, g_downloadManager->GetBaseUrl());
        return result;
    case RC_INSTALL_USEREXIT:
        Tell(MESSAGE_WARNING, LABEL_WAS_CANCELLED);
        return result;
    case RC_SUCCESS_REBOOT_REQUIRED:
    case RC_SUCCESS_REBOOT_INITIATED:
        RunState.rebootNeeded = true;
        LogMessage(2, LOG_INFO, "We will issue the reboot reminder at the end.\n");
        return 0;
    default:
        // Any other failure is reported by the main sequence, naming the step.
        return result;
    }
}

bool InstallProductPackage(DWORD& result, bool isClient)
{
    FW_ASSERT(g_msi != NULL);
    FW_ASSERT(g_mainUI != NULL);
    FW_ASSERT(g_resource != NULL);
    FW_ASSERT(g_downloadManager != NULL);
    result = 0;
    if (g_msi == NULL || g_mainUI == NULL || g_resource == NULL || g_downloadManager == NULL)
    {
        result = RC_INVALID_STATE;
        return false;
    }
    LogMessage(3, LOG_INFO, "Assimilation imminent; 7 of 9\n");

    char location[FW_PATH_SIZE], copy[FW_PATH_SIZE];
    if (!ResolveSystemPackage(result, location, copy))
        return false;
    // Lives until the installer has ended: the copy it runs stays unchanged.
    CVerifiedInstaller verified;
    bool fromNetwork = !IsLocalSource(location);
    if (fromNetwork && !ObtainVerifiedPackage(location, verified, result))
        return false;
    if (!g_msi->LoadInstaller())
    {
        result = ReportLibraryFailure();
        return false;
    }
    const char* package = fromNetwork ? verified.Path() : location;
    if (!g_msi->SetPackage(package))
    {
        LogMessage(2, LOG_ERROR, "MSI problem '%hs'\n", package);
        result = RC_INVALID_DATA;
        return false;
    }
    if (!SetPackageProperties(isClient))
    {
        result = RC_INVALID_DATA;
        return false;
    }
    if (fromNetwork)
        SetSourceList(location);

    // The installer's dialogs stand alone while it runs.
    HWND window = g_mainUI->GetWindow();
    if (window != NULL)
        ShowWindow(window, SW_HIDE);
    g_msi->SetUILevel(UserInterfaceLevel());
    g_msi->InstallProduct();
    result = g_msi->GetLastResult();
    LogMessage(2, LOG_INFO, "**> Installation returned '%ld' '%hs'.\n", (long)result, ResultText(result));
    // The installer is done, and its text for the result has been read: the
    // phases after this one never call it, and they run without it resident.
    g_msi->UnloadInstaller();
    result = JudgeResult(result, location);

    // Back in front, so that the user finds it after the installer's dialogs.
    g_mainUI->ShowForWork(true);
    window = g_mainUI->GetWindow();
    if (window != NULL && !RunState.quiet)
        FlashWindow(window, TRUE);
    return result == 0;
}
