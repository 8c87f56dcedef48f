#include "Fernwick.h"

#include <stdio.h>

#include <vector>

#include "AppObjects.h"
#include "CMainUI.h"
#include "C_String.h"
#include "CommandLine.h"
#include "Log.h"
#include "RunState.h"

const char* const SINGLE_INSTANCE_MUTEX = "_FERNWICK_{4D1B7C20-6E3A-4F58-9A12-0C7E5B3D9F61}";

static const char* const START_BANNER = "**** Fernwick START ****.\n";
static const char* const END_BANNER = "**** Fernwick END ****.\n";
static const size_t VERSION_TEXT_SIZE = 32;
static const long RC_NO_INTERNET = 2250;  // ERROR_NOT_CONNECTED, as the download manager reports it

// The long-lived objects of one run, constructed in a fixed order and
// destroyed in the reverse order, also when an exception leaves the sequence.
// The global pointers are null again before any object is destroyed.
class CRunObjects
{
public:
    explicit CRunObjects(HINSTANCE instance) : m_ui(NULL)
    {
        m_ui = new CMainUI(instance);
        g_mainUI = m_ui;
        // The settings object (CResource), the file source (CDownloadManager,
        // given the window and the settings object, set to download on its
        // worker thread) and the installer wrapper (CMSI, whose log path goes
        // to RunState.msiLogPath and whose log is always enabled) are
        // constructed here, in this order, as they join the program.
    }

    virtual ~CRunObjects()
    {
        g_msi = NULL;
        g_downloadManager = NULL;
        g_resource = NULL;
        g_mainUI = NULL;
        delete m_ui;
    }

    CMainUI* UI() const { return m_ui; }

private:
    CRunObjects(const CRunObjects&);
    CRunObjects& operator=(const CRunObjects&);

    CMainUI* m_ui;
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

    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    DWORD handle = 0;
    DWORD infoSize = GetFileVersionInfoSizeA(path, &handle);
    if (infoSize == 0)
        return false;
    std::vector<char> data(infoSize);
    if (!GetFileVersionInfoA(path, 0, infoSize, &data[0]))
        return false;
    VS_FIXEDFILEINFO* info = NULL;
    UINT infoLength = 0;
    if (!VerQueryValueA(&data[0], "\\", (void**)&info, &infoLength) || info == NULL ||
        infoLength < sizeof(VS_FIXEDFILEINFO))
        return false;

    int n = _snprintf(out, size, "V%d.%d.%d.%d", (int)HIWORD(info->dwFileVersionMS),
                      (int)LOWORD(info->dwFileVersionMS), (int)HIWORD(info->dwFileVersionLS),
                      (int)LOWORD(info->dwFileVersionLS));
    if (n < 0 || (size_t)n >= size)
    {
        out[0] = 0;
        return false;
    }
    return true;
}

// Outcome, closing lines and the end of the objects: reached by every run
// except a second instance and an escaping exception.
static long ShutDown(long rc)
{
    // Hanging up a dialled connection and the final step of the overall
    // progress bar come with the download manager and the progress bars.

    if (rc == ERROR_CANCELLED || rc == ERROR_INSTALL_USEREXIT)
    {
        LogMessage(2, LOG_INFO, "Cancelled by the user.\n");
    }
    else if (rc == RC_NO_INTERNET)
    {
        LogMessage(2, LOG_INFO, "No connection to Internet.\n");
    }
    // The error box named by the step in progress, the completion records,
    // the Success and Reboot boxes come with the phases and their labels.

    LogMessage(2, LOG_INFO, "**> Main return code '%ld'.\n", rc);
    LogBanner(END_BANNER);

    // Copying the logs into targetDir's Log folder comes with the file
    // operations that create missing folders.
    return rc;
}

int MainSequence(HINSTANCE instance, const char* commandLine)
{
    g_hInstance = instance;
    RunState.Reset();

    char logName[LOG_PATH_SIZE];
    if (MakeLogName(logName, NULL))
        SetLogFile(logName);
    SetLogVerbosity(DEFAULT_LOG_VERBOSITY);
    LogBanner(START_BANNER);

    CRunObjects objects(instance);
    const char* rawCommandLine = commandLine ? commandLine : "";
    C_String languageCode;
    C_String iniFile;

    if (IsAlreadyRunning())
        return (int)RC_ALREADY_RUNNING;

    long rc = ParseCommandLine(rawCommandLine, languageCode, iniFile);

    char ownVersion[VERSION_TEXT_SIZE];
    if (GetOwnVersionText(ownVersion, sizeof(ownVersion)))
        LogMessage(3, LOG_INFO, "Program version '%hs'.\n", ownVersion);
    else
        LogMessage(2, LOG_WARNING, "Program version not readable from its version resource.\n");

    if (rc != 0)
        return (int)ShutDown(rc);

    // The administrator test (RunState.isAdmin) and the Windows version with
    // its NT 4.0 service-pack lines and the description come here, with the
    // system queries.

    if (RunState.repairMode)
    {
        // Nothing was repaired: that must not end as the success of a repair run.
        LogMessage(0, LOG_ERROR, "The repair routine is not available in this build.\n");
        rc = RC_NOT_AVAILABLE;
    }
    else
    {
        // The phases (settings file, progress window, checks, prerequisites,
        // product package, relocation, data components, completion) run here
        // in order while rc is 0. Until they are part of the program a run
        // must not claim an installation it did not do.
        LogMessage(0, LOG_ERROR, "The installation phases are not available in this build.\n");
        rc = RC_NOT_AVAILABLE;
    }

    return (int)ShutDown(rc);
}
