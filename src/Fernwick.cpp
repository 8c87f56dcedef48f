#include "Fernwick.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "AppObjects.h"
#include "CDownloadManager.h"
#include "CMSI.h"
#include "CMainUI.h"
#include "CResource.h"
#include "C_String.h"
#include "CommandLine.h"
#include "FileUtil.h"
#include "FileVersion.h"
#include "Layout.h"
#include "Log.h"
#include "Prerequisites.h"
#include "RunState.h"
#include "SecurityPolicy.h"
#include "SystemInfo.h"
#include "UserMessages.h"
#include "WideAPI.h"

const char* const SINGLE_INSTANCE_MUTEX = "_FERNWICK_{4D1B7C20-6E3A-4F58-9A12-0C7E5B3D9F61}";
const char* const LOG_COPY_NAME = "Log\\Fernwick_%s.log";
const char* const MSI_LOG_COPY_NAME = "Log\\MSI_%s.log";

static const char* const START_BANNER = "**** Fernwick START ****.\n";
static const char* const END_BANNER = "**** Fernwick END ****.\n";

// ---------------------------------------------------------------------------
// The phase table
// ---------------------------------------------------------------------------

// Conditions of the rows that do not run in every run. Rows without one
// decide inside the phase: their log lines, the target directory, the run's
// phase and the progress steps are due in every run.
static bool ForDotNetUpgradeOfQrt(const SequenceLocals& locals)
{
    return RunState.dotNetEdition && locals.qrtRegistered;
}

static bool AfterEarlierInstallationWithTarget(const SequenceLocals& locals)
{
    return locals.previousFound && !RunState.targetDir.IsEmpty();
}

static bool UpdateWithNothingToDo(const SequenceLocals& locals)
{
    return RunState.autoUpgrade && locals.noUpgradeNeeded;
}

static bool ForDotNetEdition(const SequenceLocals&)
{
    return RunState.dotNetEdition;
}

static bool ForQrtEdition(const SequenceLocals&)
{
    return !RunState.dotNetEdition;
}

static bool UpdateIntoGivenTarget(const SequenceLocals& locals)
{
    return RunState.autoUpgrade && RunState.targetGiven && !RunState.targetDir.IsEmpty() &&
           !locals.skipProductPackage;
}

static bool AfterDirectoryChange(const SequenceLocals& locals)
{
    return locals.relocation.dirMoved;
}

// The order of a setup or upgrade. A row whose phase is null is not part of
// this build yet: a run that reaches it stops there (see RunPhases).
static const PhaseRow PHASES[] = {
    {1, "settings file and language", PhaseSettingsAndLanguage, NULL, false},
    {2, "progress window, source, member state, versions", PhaseWindowAndSource, NULL, false},
    {3, "edition conflict", PhaseEditionConflict, NULL, false},
    {4, "client/server check", PhaseClientServerOrder, ForDotNetUpgradeOfQrt, false},
    {5, "earlier installation", PhaseEarlierInstallation, NULL, false},
    {6, "default target directory", PhaseDefaultTargetDir, NULL, false},
    {7, "backup confirmation", PhaseBackupConfirmation, AfterEarlierInstallationWithTarget, false},
    {8, "Multi-MS detection", PhaseMultiMs, NULL, false},
    {9, "nothing to upgrade", PhaseNothingToUpgrade, UpdateWithNothingToDo, false},
    {10, "product files in use", PhaseFilesInUse, NULL, false},
    {11, "administrator warning", PhaseAdministratorWarning, NULL, false},
    {12, "operating system and prerequisites", PhaseSystemAndPrerequisites, ForDotNetEdition, false},
    {13, "Windows Installer engine", PhaseInstallerEngine, NULL, true},
    {14, "language selection", PhaseLanguageSelection, NULL, true},
    {15, "installation check", PhaseInstallationCheck, NULL, false},
    {16, "product package skip decision", PhaseProductPackageSkip, UpdateIntoGivenTarget, false},
    {17, "setup type and protected folders", PhaseSetupTypeAndProtection, NULL, false},
    {18, "product package", PhaseProductPackage, NULL, false},
    {19, "target directory after installation", PhaseTargetAfterInstallation, NULL, false},
    {20, "change of directory and setup type", PhaseDirectoryChange, NULL, false},
    {21, "client finish", PhaseClientFinish, IsClientSetup, false},
    {22, "product files in use after installation", PhaseFilesInUseAfterInstallation, ForQrtEdition, false},
    {23, "relocation of the earlier installation", PhaseRelocation, AfterDirectoryChange, false},
    {24, "registry and component key paths", PhaseRegistryAndKeyPaths, NULL, false},
    {25, "data components", PhaseDataComponents, NULL, false},
    {26, "programs, security policy, shortcuts", PhaseProgramsAndShortcuts, NULL, false},
};

const PhaseRow* GetPhaseTable(size_t* count)
{
    if (count != NULL)
        *count = sizeof(PHASES) / sizeof(PHASES[0]);
    return PHASES;
}

// A run must not go past work it cannot do, nor claim it was done: it stops
// where the missing part would run, says so, and ends with an error code.
static void StopAtMissingPart(SequenceLocals& locals, const char* what)
{
    LogMessage(0, LOG_ERROR, "%hs is not available in this build: the run stops here.\n", what);
    locals.rc = RC_NOT_SUPPORTED;
    // The user sees the window where the run stopped, under the final box.
    if (g_mainUI != NULL)
        g_mainUI->ShowForWork(false);
}

long RunPhases(const PhaseRow* rows, size_t count, SequenceLocals& locals)
{
    for (size_t i = 0; i < count && !locals.endPhases; ++i)
    {
        const PhaseRow& row = rows[i];
        if (locals.rc != 0 && !(row.takesRestartCode && IsRestartCode(locals.rc)))
            break;
        if (row.when != NULL && !row.when(locals))
        {
            LogMessage(4, LOG_INFO, "Phase %d (%hs) not needed.\n", row.number, row.name);
            continue;
        }
        if (row.run == NULL)
        {
            char what[128];
            _snprintf(what, sizeof(what), "Phase %d (%s)", row.number, row.name);
            what[sizeof(what) - 1] = 0;
            StopAtMissingPart(locals, what);
            break;
        }
        LogMessage(4, LOG_INFO, "Phase %d (%hs).\n", row.number, row.name);
        row.run(locals);
    }
    return locals.rc;
}

// ---------------------------------------------------------------------------
// The long-lived objects
// ---------------------------------------------------------------------------

// The four objects of one run, constructed in a fixed order and destroyed in
// the reverse order, also when an exception leaves the sequence. The global
// pointers are set once all exist and are null again before any is destroyed.
class CRunObjects
{
public:
    explicit CRunObjects(HINSTANCE instance) : m_ui(NULL), m_resource(NULL), m_download(NULL), m_msi(NULL)
    {
        try
        {
            m_ui = new CMainUI(instance);
            m_resource = new CResource();
            m_download = new CDownloadManager(m_ui, m_resource);
            m_msi = new CMSI();
        }
        catch (...)
        {
            Destroy();
            throw;
        }
        g_mainUI = m_ui;
        g_resource = m_resource;
        g_downloadManager = m_download;
        g_msi = m_msi;
    }

    virtual ~CRunObjects() { Destroy(); }

    CMainUI* UI() const { return m_ui; }
    CResource* Resource() const { return m_resource; }
    CDownloadManager* Download() const { return m_download; }
    CMSI* MSI() const { return m_msi; }

    void Destroy()
    {
        g_msi = NULL;
        g_downloadManager = NULL;
        g_resource = NULL;
        g_mainUI = NULL;
        delete m_msi;
        m_msi = NULL;
        delete m_download;
        m_download = NULL;
        delete m_resource;
        m_resource = NULL;
        delete m_ui;
        m_ui = NULL;
    }

private:
    CRunObjects(const CRunObjects&);
    CRunObjects& operator=(const CRunObjects&);

    CMainUI* m_ui;
    CResource* m_resource;
    CDownloadManager* m_download;
    CMSI* m_msi;
};

bool IsAlreadyRunning()
{
    // The handle is never closed: the mutex marks this run until the process ends.
    static HANDLE s_mutex = NULL;
    static bool s_othersRunning = false;
    if (s_mutex != NULL || s_othersRunning)
        return s_othersRunning;

    s_mutex = CreateMutexA(NULL, FALSE, SINGLE_INSTANCE_MUTEX);
    DWORD error = GetLastError();
    if (s_mutex == NULL)
    {
        // Another user's run owns a mutex of that name that we may not open.
        if (error == ERROR_ACCESS_DENIED)
        {
            s_othersRunning = true;
            return true;
        }
        LogSystemError("Single-instance mutex not created", error);
        return false;
    }
    s_othersRunning = error == ERROR_ALREADY_EXISTS;
    return s_othersRunning;
}

bool GetOwnVersionText(char* out, size_t size)
{
    if (out == NULL || size == 0)
        return false;
    out[0] = 0;
    // Reading it writes the level-0 line: the only record of the tool's
    // version in logs kept at the lower verbosities.
    DWORD ms = 0;
    DWORD ls = 0;
    bool read = GetFileVersionNumbers(NULL, &ms, &ls) == ERROR_SUCCESS;
    int n = _snprintf(out, size, "V%d.%d.%d.%d", (int)HIWORD(ms), (int)LOWORD(ms), (int)HIWORD(ls),
                      (int)LOWORD(ls));
    if (n < 0 || (size_t)n >= size)
    {
        out[0] = 0;
        return false;
    }
    return read;
}

// ---------------------------------------------------------------------------
// Start-up
// ---------------------------------------------------------------------------

// The system the run is on: the version with the NT 4.0 remarks, the
// description, and who runs us.
static void ReadSystem(SequenceLocals& locals)
{
    RunState.isAdmin = IsAdministrator();

    char description[VERSION_DESCRIPTION_SIZE];
    description[0] = 0;
    GetWindowsVersion(&locals.winMajor, &locals.winMinor, &locals.winServicePack, description);
    if (isWinNT && locals.winMajor == 4 && locals.winMinor == 0)
    {
        int servicePack = (int)locals.winServicePack;
        if (servicePack < 3)
            LogMessage(2, LOG_ERROR,
                       "NT 4.0 at base level or lower than SP3 (SP%d). Installation may/will fail.\n",
                       servicePack);
        else if (servicePack <= 5)
            LogMessage(2, LOG_WARNING, "NT 4.0 SP%d detected. Will revert to MSI V1.2\n", servicePack);
        else
            LogMessage(2, LOG_WARNING, "NT 4.0 SP%d detected. Will use MSI V2.0\n", servicePack);
    }
    locals.isVista = locals.winMajor == 6;
    LogMessage(2, LOG_INFO, "%hs\n", description);
    LogMessage(2, LOG_INFO, "Admin='%hs', WINNT='%hs'.\n", RunState.isAdmin ? "yes" : "no",
               isWinNT ? "yes" : "no");
}

// ---------------------------------------------------------------------------
// Shut-down
// ---------------------------------------------------------------------------

// A label's text kept beyond the next look-up ("" when missing).
static std::wstring LabelText(const wchar_t* key)
{
    const wchar_t* text = g_resource->GetLabel(key);
    return std::wstring(text ? text : L"");
}

// The failure box of a run that ended inside a step: names the step.
static void ShowStepError(const SequenceLocals& locals)
{
    if (locals.stepKey == NULL)
        return;
    std::wstring step = LabelText(locals.stepKey);
    TellFormatted(MESSAGE_ERROR, LABEL_ERROR_OCCURRED, NULL, step.c_str());
}

static void ReportOutcome(SequenceLocals& locals)
{
    long rc = locals.rc;
    if (rc == RC_CANCELLED || rc == RC_INSTALL_USEREXIT)
    {
        LogMessage(2, LOG_INFO, "Cancelled by the user.\n");
    }
    else if (rc == RC_NOT_CONNECTED)
    {
        LogMessage(2, LOG_INFO, "No connection to Internet.\n");
    }
    else if (RunState.repairMode || IsLayoutRun())
    {
        // The repair routine and the layout have said what they did; a
        // layout installs nothing, so it writes no completion records.
    }
    else if (rc != 0)
    {
        ShowStepError(locals);
    }
    else
    {
        // The records are part of the installation: success is not claimed
        // without them.
        WriteCompletionRecords(locals);
        if (locals.rc != 0)
        {
            ShowStepError(locals);
        }
        else if (RunState.rebootNeeded)
        {
            std::wstring text = LabelText(LABEL_SUCCESS) + L"\n\n***\n" + LabelText(LABEL_REBOOT) +
                                L"\n***\n\n";
            TellText(MESSAGE_WARNING, text.c_str());
        }
        else if (!RunState.multiMode)
        {
            Tell(MESSAGE_INFORMATION, LABEL_SUCCESS);
        }
    }

    if (locals.rc != 0 && RunState.rebootNeeded)
        Tell(MESSAGE_WARNING, LABEL_REBOOT);
}

// The logs go with the installation, where support finds them. A log that
// was never written (no installer ran) is not copied; a failed copy changes
// nothing else.
static void CopyLogsToTarget()
{
    const char* target = RunState.targetDir.GetNarrow();
    if (target[0] == 0 || !IsFolder(target))
        return;
    char day[16];
    FormatTimestamp(day, true);

    struct
    {
        const char* source;
        const char* nameFormat;
    } copies[] = {
        {IsLoggingOn() ? GetLogFile() : "", LOG_COPY_NAME},
        {RunState.msiLogPath, MSI_LOG_COPY_NAME},
    };
    for (size_t i = 0; i < sizeof(copies) / sizeof(copies[0]); ++i)
    {
        if (copies[i].source[0] == 0 || !FileExists(copies[i].source))
            continue;
        char name[64];
        _snprintf(name, sizeof(name), copies[i].nameFormat, day);
        name[sizeof(name) - 1] = 0;
        CopyFileCreatingFolders(copies[i].source, target, name, NULL);
    }
}

// Outcome, closing lines and the end of the objects: reached by every run
// except a second instance and an escaping exception.
static long ShutDown(SequenceLocals& locals, CRunObjects& objects)
{
    objects.Download()->HangUp();
    objects.UI()->StepProgress(1, 100);

    ReportOutcome(locals);

    // Nobody is there to restart the machine or to read the reminder: the
    // code tells the system that started an unattended run to restart.
    if (RunState.Unattended() && locals.rc == 0 && RunState.rebootNeeded)
    {
        LogMessage(2, LOG_INFO, "Restart needed: the %hs run ends with %ld and leaves the restart to whoever "
                   "started it.\n", RunState.UnattendedName(), RC_SUCCESS_REBOOT_REQUIRED);
        locals.rc = RC_SUCCESS_REBOOT_REQUIRED;
    }

    LogMessage(2, LOG_INFO, "**> Main return code '%ld'.\n", locals.rc);
    LogBanner(END_BANNER);

    CopyLogsToTarget();

    objects.UI()->Close((DWORD)locals.rc);
    objects.Destroy();
    return locals.rc;
}

int MainSequence(HINSTANCE instance, const char* commandLine)
{
    g_hInstance = instance;
    RunState.Reset();
    ResetPrerequisiteState();
    ResetLayout();

    char logName[LOG_PATH_SIZE];
    if (MakeLogName(logName, NULL))
        SetLogFile(logName);
    SetLogVerbosity(DEFAULT_LOG_VERBOSITY);
    LogBanner(START_BANNER);

    CRunObjects objects(instance);
    SequenceLocals locals;
    lstrcpynA(RunState.msiLogPath, objects.MSI()->GetLogPath(), sizeof(RunState.msiLogPath));
    objects.MSI()->SetLogEnabled(true);
    const char* rawCommandLine = commandLine ? commandLine : "";
    objects.Download()->SetUseWorkerThread(true);
    memset(RunState.languageSelected, 0, sizeof(RunState.languageSelected));

    if (IsAlreadyRunning())
    {
        objects.Destroy();
        return (int)RC_INSTALL_ALREADY_RUNNING;
    }

    locals.rc = ParseCommandLine(rawCommandLine, locals.languageCode, locals.iniFile);

    GetOwnVersionText(locals.ownVersion, sizeof(locals.ownVersion));

    if (locals.rc != 0)
        return (int)ShutDown(locals, objects);

    ReadSystem(locals);

    if (RunState.repairMode)
    {
        // The repair has told the user its outcome; a script or a distribution
        // system that runs it learns it from the code.
        locals.rc = RepairSecurityPolicy();
    }
    else if (IsLayoutRun())
    {
        locals.rc = RunLayout(locals);
    }
    else
    {
        size_t count = 0;
        const PhaseRow* rows = GetPhaseTable(&count);
        RunPhases(rows, count, locals);
    }

    return (int)ShutDown(locals, objects);
}
