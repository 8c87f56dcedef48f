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
#include "Log.h"
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
const char* const PROPERTY_REBOOT = "REBOOT";
const char* const REBOOT_REALLY_SUPPRESS = "ReallySuppress";

static const char* const TEXT_TRUE = "true";
static const char* const TEXT_FALSE = "false";
static const char* const NO_TEXT = "<>";
static const char* const PROMPTS_SHOWN = "Client-server prompt / Folder prompt.\n";
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
    if (!g_msi->LoadInstaller())
    {
        result = ReportLibraryFailure();
        return false;
    }
    if (!g_msi->SetPackage(location))
    {
        LogMessage(2, LOG_ERROR, "MSI problem '%hs'\n", location);
        result = RC_INVALID_DATA;
        return false;
    }
    if (!SetPackageProperties(isClient))
    {
        result = RC_INVALID_DATA;
        return false;
    }

    // The installer's dialogs stand alone while it runs.
    HWND window = g_mainUI->GetWindow();
    if (window != NULL)
        ShowWindow(window, SW_HIDE);
    g_msi->SetUILevel(UserInterfaceLevel());
    g_msi->InstallProduct();
    result = g_msi->GetLastResult();
    LogMessage(2, LOG_INFO, "**> Installation returned '%ld' '%hs'.\n", (long)result, ResultText(result));
    result = JudgeResult(result, location);

    // Back in front, so that the user finds it after the installer's dialogs.
    g_mainUI->ShowForWork(true);
    window = g_mainUI->GetWindow();
    if (window != NULL && !RunState.quiet)
        FlashWindow(window, TRUE);
    return result == 0;
}
