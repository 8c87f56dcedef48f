#include "CDownloadManager.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "AppObjects.h"
#include "Assert.h"
#include "CMainUI.h"
#include "CResource.h"
#include "DownloadCallback.h"
#include "FileUtil.h"
#include "Log.h"
#include "SystemLibrary.h"
#include "TextUtil.h"
#include "UserMessages.h"
#include "resource.h"

static const char* const WININET_DLL = "wininet.dll";
static const char* const URLMON_DLL = "urlmon.dll";
static const char* const FILE_URL_SCHEME = "file:";
static const char* const SYSTEM_PACKAGE_IN_FOLDER = "%s\\Sys_%s.msi";
static const char* const SYSTEM_PACKAGE = "Sys_%s.msi";

// How long a cancelled worker may take to leave the download call by itself
// before it is terminated: terminating a thread inside the Internet library
// can leave that library's locks held for the rest of the run.
static const DWORD WORKER_GRACE_MS = 3000;
// How long a worker that reported its end may take to leave its procedure.
static const DWORD WORKER_EXIT_MS = 5000;
// A download of which nothing at all has arrived for this long is dead: the
// server or the line went silent, and the Internet library may wait for it
// forever. Every report of the library counts, so the limit runs from the
// last of them: a server that takes its time over the first byte has two
// minutes after the request went out.
static const DWORD DOWNLOAD_STALL_LIMIT_MS = 120000;
// How often the watch of a download looks at it (at most).
static const DWORD STALL_CHECK_INTERVAL_MS = 500;
// HTTP status codes from here on are the server's errors (400 Bad Request...).
static const DWORD HTTP_STATUS_FIRST_ERROR = 400;

// Opens the file for reading; its size in bytes through size when asked.
static bool CanOpenForReading(const char* path, DWORD* size = NULL)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    if (size != NULL)
    {
        DWORD high = 0;
        DWORD low = GetFileSize(file, &high);
        *size = (high != 0 || low == INVALID_FILE_SIZE) ? 0xFFFFFFFEu : low;
    }
    CloseHandle(file);
    return true;
}

// Lower-cases the ASCII letters only: names must not change with the code page.
static void LowerAscii(char* text)
{
    for (; *text; ++text)
        if (*text >= 'A' && *text <= 'Z')
            *text = (char)(*text - 'A' + 'a');
}

// Watches one download, with or without the worker, on a thread of its own:
// when nothing has arrived for the limit, it asks the download call to end
// and, while the main thread waits for the worker, ends that wait too (the
// library may not let go of a silent connection even when asked).
class StallWatch
{
public:
    StallWatch(DownloadActivity& activity, DWORD limitMs, HWND waitingWindow, DWORD waitingThread)
        : m_activity(activity), m_limitMs(limitMs), m_window(waitingWindow), m_waitingThread(waitingThread),
          m_stalled(false), m_stop(NULL), m_thread(NULL)
    {
        if (limitMs == 0)
            return;
        m_stop = CreateEventA(NULL, TRUE, FALSE, NULL);
        if (m_stop != NULL)
            m_thread = CreateThread(NULL, 0, Watch, this, 0, NULL);
        if (m_thread == NULL)
            LogMessage(2, LOG_WARNING, "The download cannot be watched: it is not ended when it stalls\n");
    }
    ~StallWatch() { Stop(); }

    void Stop()
    {
        if (m_thread != NULL)
        {
            SetEvent(m_stop);
            WaitForSingleObject(m_thread, INFINITE);
            CloseHandle(m_thread);
            m_thread = NULL;
        }
        if (m_stop != NULL)
            CloseHandle(m_stop);
        m_stop = NULL;
    }
    bool Stalled() const { return m_stalled; }

private:
    static DWORD WINAPI Watch(void* param)
    {
        StallWatch* watch = static_cast<StallWatch*>(param);
        DWORD interval = watch->m_limitMs / 4;
        interval = interval == 0 ? 1 : (interval > STALL_CHECK_INTERVAL_MS ? STALL_CHECK_INTERVAL_MS : interval);
        LONG seen = watch->m_activity.Count();
        DWORD movedAt = GetTickCount();
        while (WaitForSingleObject(watch->m_stop, interval) == WAIT_TIMEOUT)
        {
            const LONG now = watch->m_activity.Count();
            if (now != seen)
            {
                seen = now;
                movedAt = GetTickCount();
                continue;
            }
            if (GetTickCount() - movedAt < watch->m_limitMs)
                continue;
            watch->m_stalled = true;
            watch->m_activity.Abort();
            if (watch->m_window != NULL)
                PostMessageA(watch->m_window, WM_DOWNLOAD_DONE, 0, 0);
            else if (watch->m_waitingThread != 0)
                PostThreadMessageA(watch->m_waitingThread, WM_DOWNLOAD_DONE, 0, 0);
            break;
        }
        return 0;
    }

    DownloadActivity& m_activity;
    const DWORD m_limitMs;
    const HWND m_window;
    const DWORD m_waitingThread;
    volatile bool m_stalled;
    HANDLE m_stop;
    HANDLE m_thread;
};

// Copies a text that must fit whole; false (and empty) instead of truncating.
static bool CopyBounded(char* dest, const char* src, size_t size)
{
    size_t length = TextLength(src);
    if (length >= size)
    {
        dest[0] = 0;
        return false;
    }
    memcpy(dest, src, length + 1);
    return true;
}

CDownloadManager::CDownloadManager(CMainUI* ui, CResource* resMgr)
    : m_useWorkerThread(false), m_stallLimitMs(DOWNLOAD_STALL_LIMIT_MS), m_workerResult(E_UNEXPECTED), m_workerBusy(false),
      m_workerThreadId(0), m_workerThread(NULL), m_workerUrl(NULL), m_workerCachePath(NULL), m_workerActivity(NULL),
      m_workerLastError(0), m_workerHttpStatus(0), m_connected(false), m_needHangUp(false), m_ui(ui), m_resMgr(resMgr),
      m_baseUrl(NULL), m_mayLoad(true), m_hWininet(NULL), m_hUrlmon(NULL), m_functionsGiven(false)
{
    FW_ASSERT(m_ui != NULL);
    FW_ASSERT(m_resMgr != NULL);
    memset(&m_fn, 0, sizeof(m_fn));
    if (m_ui != NULL)
        m_ui->AttachTransfer(&m_transfer);
}

CDownloadManager::~CDownloadManager()
{
    if (m_useWorkerThread)
        StopDownloadWorker();
    if (m_ui != NULL && m_ui->Transfer() == &m_transfer)
        m_ui->AttachTransfer(NULL);
    HangUp();
    free(m_baseUrl);
    m_baseUrl = NULL;
    if (m_hWininet != NULL)
        FreeLibrary(m_hWininet);
    if (m_hUrlmon != NULL)
        FreeLibrary(m_hUrlmon);
}

void CDownloadManager::SetBaseUrl(const char* base)
{
    if (base == NULL || base[0] == 0)
        return;
    size_t length = strlen(base);
    char separator = PathSeparatorOf(base);
    bool addSeparator = base[length - 1] != separator;
    char* copy = (char*)malloc(length + 2);
    if (copy == NULL)
    {
        LogMessage(2, LOG_ERROR, "BASE_URL '%hs' could not be stored (out of memory)\n", base);
        return;
    }
    memcpy(copy, base, length + 1);
    if (addSeparator)
    {
        copy[length] = separator;
        copy[length + 1] = 0;
    }
    free(m_baseUrl);
    m_baseUrl = copy;
    LogMessage(2, LOG_INFO, "BASE_URL = '%hs'\n", m_baseUrl);
}

const char* CDownloadManager::GetBaseUrl() const
{
    return m_baseUrl != NULL ? m_baseUrl : "";
}

void CDownloadManager::UseInternetFunctions(const InternetFunctions& functions)
{
    m_fn = functions;
    m_functionsGiven = true;
    m_mayLoad = false;
}

bool CDownloadManager::InternetLibrariesLoaded() const
{
    return m_functionsGiven || m_hWininet != NULL;
}

bool CDownloadManager::LoadInternetLibraries()
{
    if (!m_mayLoad)
        return false;
    if (m_hUrlmon != NULL)
        return true;
    m_mayLoad = false;   // a failed attempt is final for the run

    m_hWininet = LoadSystemLibrary(WININET_DLL);
    if (m_hWininet != NULL)
        LogMessage(2, LOG_INFO, "wininet loaded OK\n");
    else
        LogMessage(2, LOG_WARNING, "Could not load wininet.dll [%ld]\n", (long)GetLastError());

    m_hUrlmon = LoadSystemLibrary(URLMON_DLL);
    if (m_hUrlmon == NULL)
    {
        LogMessage(2, LOG_ERROR, "Could not load urlmon.dll [%ld]\n", (long)GetLastError());
        return false;
    }
    LogMessage(2, LOG_INFO, "urlmon loaded OK\n");

    if (m_hWininet != NULL)
    {
        m_fn.deleteUrlCacheEntry =
            (PFN_DeleteUrlCacheEntryA)(void*)GetProcAddress(m_hWininet, "DeleteUrlCacheEntryA");
        m_fn.attemptConnect =
            (PFN_InternetAttemptConnect)(void*)GetProcAddress(m_hWininet, "InternetAttemptConnect");
        m_fn.autodialHangup =
            (PFN_InternetAutodialHangup)(void*)GetProcAddress(m_hWininet, "InternetAutodialHangup");
        m_fn.canonicalizeUrl =
            (PFN_InternetCanonicalizeUrlA)(void*)GetProcAddress(m_hWininet, "InternetCanonicalizeUrlA");
        m_fn.getConnectedState =
            (PFN_InternetGetConnectedState)(void*)GetProcAddress(m_hWininet, "InternetGetConnectedState");
        if (m_fn.deleteUrlCacheEntry == NULL)
            LogMessage(2, LOG_WARNING, "DeleteUrlCacheEntryA not in wininet.dll\n");
        if (m_fn.attemptConnect == NULL)
            LogMessage(2, LOG_WARNING, "InternetAttemptConnect not in wininet.dll\n");
        if (m_fn.canonicalizeUrl == NULL)
            LogMessage(2, LOG_WARNING, "InternetCanonicalizeUrlA not in wininet.dll\n");
        if (m_fn.getConnectedState == NULL)
            LogMessage(2, LOG_WARNING, "InternetGetConnectedState not in wininet.dll\n");
        if (m_fn.autodialHangup == NULL)
            LogMessage(2, LOG_WARNING, "InternetAutodialHangup not in wininet.dll\n");
    }

    m_fn.downloadToCacheFile =
        (PFN_URLDownloadToCacheFileA)(void*)GetProcAddress(m_hUrlmon, "URLDownloadToCacheFileA");
    if (m_fn.downloadToCacheFile == NULL)
        return false;
    m_mayLoad = true;
    return true;
}

bool CDownloadManager::EnsureConnected()
{
    if (m_connected)
        return true;
    if (!InternetLibrariesLoaded() && !LoadInternetLibraries())
        return false;

    // A line dialled earlier in the run (the connection was forgotten after a
    // failed download) now reads as connected; it is still ours to hang up.
    bool dialledBefore = m_needHangUp;
    m_needHangUp = false;
    if (m_fn.getConnectedState != NULL)
    {
        DWORD flags = 0;
        BOOL online = m_fn.getConnectedState(&flags, 0);
        char line[256];
        strcpy(line, online ? "*Connected*: " : "*NOT* Connected ");
        if (flags & NET_CONNECTION_CONFIGURED)
            strcat(line, "Configured ");
        if (flags & NET_CONNECTION_LAN)
            strcat(line, "LAN ");
        if (flags & NET_CONNECTION_PROXY)
            strcat(line, "PROXY ");
        if (flags & NET_CONNECTION_MODEM)
            strcat(line, "MODEM ");
        if (flags & NET_RAS_INSTALLED)
            strcat(line, "RAS Installed ");
        if (flags & NET_CONNECTION_OFFLINE)
            strcat(line, "*OFFLINE* ");
        strcat(line, "\n");
        LogMessage(2, LOG_INFO, "%hs", line);
        // Offline or not connected: whatever connection comes up next is ours to end.
        m_needHangUp = !online || (flags & NET_CONNECTION_OFFLINE) != 0;
    }
    else
    {
        LogMessage(2, LOG_WARNING,
                   "Cannot determine Internet connection state (InternetGetConnectedState not available)\n");
    }
    m_needHangUp = m_needHangUp || dialledBefore;
    LogMessage(3, LOG_INFO, "Need to hang up after connection = '%hs'.\n", m_needHangUp ? "yes" : "no");

    if (m_fn.attemptConnect != NULL)
    {
        DWORD error = m_fn.attemptConnect(0);
        if (error != 0)
        {
            LogMessage(2, LOG_ERROR, "Could not connect to the internet (%ld).\n", (long)error);
            m_connected = false;
            return false;
        }
    }
    else
    {
        LogMessage(2, LOG_WARNING,
                   "Cannot attempt Internet connection (InternetAttemptConnect not available)\n");
    }
    LogMessage(3, LOG_INFO, "Connected to the internet all right.\n");
    m_connected = true;
    return true;
}

bool CDownloadManager::HangUp()
{
    // A failed download forgets the connection but not the line we dialled:
    // that still has to be hung up.
    if (!m_connected && !m_needHangUp)
        return true;
    if (m_needHangUp)
    {
        if (m_fn.autodialHangup != NULL)
        {
            if (m_fn.autodialHangup(0))
            {
                LogMessage(2, LOG_INFO, "Disconnection OK\n");
                m_connected = false;
                m_needHangUp = false;
                return true;
            }
            LogMessage(2, LOG_WARNING, "Disconnection failed with %ld\n", (long)GetLastError());
            return false;
        }
        LogMessage(2, LOG_WARNING,
                   "Cannot hang up Internet connection (InternetAutodialHangup not available)\n");
    }
    m_connected = false;
    m_needHangUp = false;
    return true;
}

void CDownloadManager::DeleteCacheEntry(const char* url)
{
    // A partial or failed entry must not be served to the next attempt.
    if (m_fn.deleteUrlCacheEntry != NULL)
        m_fn.deleteUrlCacheEntry(url);
}

bool CDownloadManager::ObtainFile(const char* sourceName, char* localPath, DWORD& code)
{
    code = ERROR_FILE_NOT_FOUND;
    localPath[0] = 0;

    // The caller's name may live in a shared conversion buffer (a settings
    // look-up) that the window texts below reuse: only this copy is read later.
    char given[DOWNLOAD_PATH_SIZE];
    char name[DOWNLOAD_PATH_SIZE];
    char resolved[DOWNLOAD_PATH_SIZE];
    // A name that does not fit would name another file: refused, not cut.
    if (!CopyBounded(given, sourceName, sizeof(given)))
    {
        LogMessage(2, LOG_ERROR, "Download:: source name '%hs' is too long\n", sourceName ? sourceName : "");
        return false;
    }
    strcpy(name, given);
    LowerAscii(name);
    if (!CombineSourcePath(GetBaseUrl(), name, resolved))
    {
        LogMessage(2, LOG_ERROR, "Download:: '%hs' cannot be combined with the base '%hs'\n", name,
                   GetBaseUrl());
        return false;
    }

    if (IsLocalSource(resolved))
    {
        // "file://": joining with a backslash base may have turned its
        // slashes into backslashes, so either pair is the prefix.
        const char* path = resolved;
        size_t scheme = strlen(FILE_URL_SCHEME);
        if (TextEqualNoCase(resolved, FILE_URL_SCHEME, scheme) &&
            (resolved[scheme] == '/' || resolved[scheme] == '\\') &&
            (resolved[scheme + 1] == '/' || resolved[scheme + 1] == '\\'))
            path += scheme + 2;
        if (!FileExists(path))
        {
            LogMessage(2, LOG_ERROR, "Download:: '%hs' doesn't exist\n", name);
            return false;
        }
        strcpy(localPath, path);
        return true;
    }

    if (!EnsureConnected())
    {
        code = ERROR_NOT_CONNECTED;
        return false;
    }

    char url[CANONICAL_URL_SIZE];
    if (m_fn.canonicalizeUrl != NULL)
    {
        DWORD length = sizeof(url);
        if (!m_fn.canonicalizeUrl(resolved, url, &length, 0))
        {
            code = GetLastError();
            LogMessage(3, LOG_ERROR, "CDownloadManager::ObtainFile::InternetCanonicalizeUrl '%hs' returned '%ld'\n",
                       resolved, (long)code);
            return false;
        }
    }
    else
    {
        strcpy(url, resolved);
    }
    LogMessage(2, LOG_INFO, "Download: '%hs'\n", url);

    m_ui->ShowForWork(false);
    m_ui->SetItemText(IDC_INFO_TEXT, m_resMgr->FormatLabel(LABEL_DOWNLOAD_FILE, given, GetBaseUrl()));
    // The log lines below report this download's progress, not an earlier one's.
    m_transfer.SetProgress(0, 0);

    char cachePath[DOWNLOAD_PATH_SIZE];
    cachePath[0] = 0;
    HRESULT result = E_UNEXPECTED;
    DWORD lastError = 0;
    DWORD httpStatus = 0;
    // One rule for a stalled download, with the worker or without: the watch.
    DownloadActivity activity;
    bool stalled = false;
    if (m_useWorkerThread)
    {
        m_workerUrl = url;
        m_workerCachePath = cachePath;
        m_workerLastError = 0;
        m_workerHttpStatus = 0;
        m_workerActivity = &activity;
        StallWatch watch(activity, m_stallLimitMs, m_ui->GetWindow(), GetCurrentThreadId());
        if (!StartDownloadWorker())
        {
            m_workerUrl = NULL;
            m_workerCachePath = NULL;
            m_workerActivity = NULL;
            return false;
        }
        m_ui->WaitForDownload(m_workerThread);
        watch.Stop();
        stalled = watch.Stalled();
        if (!m_workerBusy)
            WaitForSingleObject(m_workerThread, WORKER_EXIT_MS);
        DWORD exitCode = ERROR_FILE_NOT_FOUND;
        if (GetExitCodeThread(m_workerThread, &exitCode))
            code = exitCode;
        StopDownloadWorker();
        result = m_workerResult;
        lastError = m_workerLastError;
        httpStatus = m_workerHttpStatus;
        m_workerUrl = NULL;
        m_workerCachePath = NULL;
        m_workerActivity = NULL;
    }
    else
    {
        if (m_fn.downloadToCacheFile != NULL)
        {
            CDownloadBindStatusCallback callback(m_ui, &m_transfer, &activity);
            StallWatch watch(activity, m_stallLimitMs, NULL, 0);
            result = m_fn.downloadToCacheFile(NULL, url, cachePath, DOWNLOAD_PATH_SIZE, 0,
                                              static_cast<IBindStatusCallback*>(&callback));
            lastError = GetLastError();
            watch.Stop();
            stalled = watch.Stalled();
            httpStatus = callback.HttpStatus();
        }
    }
    if (stalled && !m_transfer.CancelRequested())
    {
        LogMessage(2, LOG_ERROR, "Download '%hs' stalled: no progress for %lu s.\n", url,
                   (unsigned long)(m_stallLimitMs / 1000));
        result = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        lastError = ERROR_TIMEOUT;
    }

    long progress = (long)m_transfer.Progress();
    long progressMax = (long)m_transfer.ProgressMax();

    if (m_transfer.CancelRequested())
    {
        LogMessage(2, LOG_ERROR, "URLDownloadToCacheFile '%hs' cancelled by user [%ld/%ld].\n", url, progress,
                   progressMax);
        DeleteCacheEntry(url);
        code = ERROR_CANCELLED;
        return false;
    }
    if (FAILED(result))
    {
        code = lastError;
        LogMessage(2, LOG_ERROR,
                   "URLDownloadToCacheFile '%hs' failed with HRESULT='0x%04X' and LastError='%ld' [%ld/%ld].\n",
                   url, (unsigned)result, (long)code, progress, progressMax);
        LogMessage(2, LOG_ERROR, "Code='%ld', Facility='%ld', Severity='%ld'\n", (long)(result & 0xFFFF),
                   (long)(((DWORD)result >> 16) & 0x1FFF), (long)(((DWORD)result >> 31) & 1));
        DeleteCacheEntry(url);
        // The line may have gone: the next download checks the connection again.
        m_connected = false;
        return false;
    }
    // Some systems cache a server's error page (404 and the like) as if it
    // were the file: that page must never be installed or run.
    if (httpStatus >= HTTP_STATUS_FIRST_ERROR)
    {
        LogMessage(2, LOG_ERROR, "URLDownloadToCacheFile '%hs' answered with HTTP status %lu [%ld/%ld].\n", url,
                   (unsigned long)httpStatus, progress, progressMax);
        DeleteCacheEntry(url);
        m_connected = false;
        code = ERROR_FILE_NOT_FOUND;
        return false;
    }
    DWORD cachedSize = 0;
    if (!CanOpenForReading(cachePath, &cachedSize))
    {
        LogMessage(2, LOG_ERROR, "URLDownloadToCacheFile cached file '%hs' *MISSING* [%ld/%ld].\n", cachePath,
                   progress, progressMax);
        code = ERROR_FILE_NOT_FOUND;
        return false;
    }
    // A connection closed part-way through the body is reported as success:
    // fewer bytes than the server announced is a cut-off file, which must not
    // be installed or run.
    DWORD received = cachedSize > (DWORD)progress ? cachedSize : (DWORD)progress;
    if (progressMax > 0 && received < (DWORD)progressMax)
    {
        LogMessage(2, LOG_ERROR, "URLDownloadToCacheFile '%hs' incomplete: %lu of %ld bytes [%ld/%ld].\n", url,
                   (unsigned long)received, progressMax, progress, progressMax);
        DeleteCacheEntry(url);
        m_connected = false;
        code = ERROR_HANDLE_EOF;
        return false;
    }
    LogMessage(2, LOG_INFO, "\tCached '%hs' as '%hs' *OK* [%ld/%ld].\n", given, cachePath, progress,
               progressMax);
    strcpy(localPath, cachePath);
    code = 0;
    return true;
}

DWORD WINAPI CDownloadManager::DownloadWorker(void* param)
{
    CDownloadManager* manager = static_cast<CDownloadManager*>(param);
    manager->m_workerBusy = true;
    manager->m_workerResult = E_UNEXPECTED;
    manager->m_workerLastError = 0;
    if (manager->m_fn.downloadToCacheFile != NULL)
    {
        CDownloadBindStatusCallback callback(manager->m_ui, &manager->m_transfer, manager->m_workerActivity);
        HRESULT result = manager->m_fn.downloadToCacheFile(NULL, manager->m_workerUrl, manager->m_workerCachePath,
                                                           DOWNLOAD_PATH_SIZE, 0,
                                                           static_cast<IBindStatusCallback*>(&callback));
        manager->m_workerLastError = GetLastError();
        manager->m_workerHttpStatus = callback.HttpStatus();
        manager->m_workerResult = result;
    }
    DWORD exitCode = 0;
    if (FAILED(manager->m_workerResult))
    {
        LogMessage(2, LOG_ERROR, "Thread 0x%02X FAILED\n", (unsigned)GetCurrentThreadId());
        exitCode = ERROR_FILE_NOT_FOUND;
    }
    manager->m_workerBusy = false;
    HWND window = manager->m_ui->GetWindow();
    if (window != NULL)
        PostMessageA(window, WM_DOWNLOAD_DONE, 0, 0);
    return exitCode;
}

bool CDownloadManager::StartDownloadWorker()
{
    if (m_workerThread != NULL)
        return true;
    // Busy from the start: a cancel before the thread runs must not find an
    // idle worker and leave it running unattended.
    m_workerBusy = true;
    m_workerThread = CreateThread(NULL, 0, DownloadWorker, this, 0, &m_workerThreadId);
    if (m_workerThread == NULL)
    {
        m_workerBusy = false;
        m_workerThreadId = 0;
        LogMessage(2, LOG_ERROR, "Failed to create download worker thread\n");
        return false;
    }
    return true;
}

void CDownloadManager::StopDownloadWorker()
{
    if (m_workerThread == NULL)
        return;
    if (m_workerBusy)
    {
        // Cancelled: the download call normally returns at its next progress
        // report. Keep the window's messages flowing meanwhile, since the
        // worker's progress reports wait for this thread.
        DWORD start = GetTickCount();
        while (m_workerBusy && GetTickCount() - start < WORKER_GRACE_MS)
        {
            MsgWaitForMultipleObjects(1, &m_workerThread, FALSE, 50, QS_ALLINPUT);
            m_ui->PumpMessages();
        }
        if (m_workerBusy)
        {
            LogMessage(2, LOG_WARNING, "Download worker 0x%02X still busy: terminated\n",
                       (unsigned)m_workerThreadId);
            TerminateThread(m_workerThread, 0);
        }
    }
    WaitForSingleObject(m_workerThread, WORKER_EXIT_MS);
    CloseHandle(m_workerThread);
    // The worker's end message may arrive after the wait ended on Cancel; it
    // must not end the next download's wait.
    // Without a window the watch of a stalled download ends the wait by a
    // message to the thread itself: that one must go too.
    HWND window = m_ui->GetWindow();
    MSG stale;
    if (window != NULL)
        while (PeekMessageA(&stale, window, WM_DOWNLOAD_DONE, WM_DOWNLOAD_DONE, PM_REMOVE))
        {
        }
    while (PeekMessageA(&stale, (HWND)-1, WM_DOWNLOAD_DONE, WM_DOWNLOAD_DONE, PM_REMOVE))
    {
    }
    m_workerThread = NULL;
    m_workerThreadId = 0;
    m_workerBusy = false;
}

DWORD ObtainSourceFile(const char* sourceName, char* localPath)
{
    if (sourceName == NULL || sourceName[0] == 0)
        return ERROR_BAD_ARGUMENTS;
    FW_ASSERT(g_downloadManager != NULL);
    FW_ASSERT(g_mainUI != NULL);
    FW_ASSERT(g_resource != NULL);
    if (g_downloadManager == NULL || g_mainUI == NULL || g_resource == NULL)
        return ERROR_FILE_NOT_FOUND;

    // The name may be a settings look-up living in the shared conversion
    // buffer, which obtaining the file reuses: the message names this copy.
    char* name = TextDuplicate(sourceName);
    if (name == NULL)
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD code = ERROR_FILE_NOT_FOUND;
    g_mainUI->SetBusy(true);
    bool ok = g_downloadManager->ObtainFile(name, localPath, code);
    g_mainUI->SetBusy(false);
    if (ok)
    {
        code = 0;
    }
    else if (code == ERROR_NOT_CONNECTED)
    {
        Tell(MESSAGE_ERROR, LABEL_WORKING_OFFLINE, NOTHING_WITHOUT_LABEL);
    }
    else if (code != ERROR_CANCELLED)   // a cancel is the user's own decision: nothing to tell
    {
        if (code == 0)
            code = ERROR_FILE_NOT_FOUND;
        TellFormatted(MESSAGE_ERROR, LABEL_FAIL_FILE, NOTHING_WITHOUT_LABEL, name, g_downloadManager->GetBaseUrl());
    }
    free(name);
    return code;
}

bool ResolveSystemPackage(DWORD& code, char* resolved, char* copy)
{
    FW_ASSERT(g_downloadManager != NULL);
    FW_ASSERT(g_resource != NULL);
    resolved[0] = 0;
    if (g_downloadManager == NULL || g_resource == NULL)
    {
        code = ERROR_FILE_NOT_FOUND;
        return false;
    }

    // The package of the current language, in SYS_LN_DIR below the base if set.
    char name[DOWNLOAD_PATH_SIZE];
    const char* language = g_resource->GetLanguageCode();
    const char* folder = g_resource->GetSetting(SETTING_SYS_LN_DIR, true);
    int written = (folder != NULL && folder[0] != 0)
                      ? _snprintf(name, sizeof(name), SYSTEM_PACKAGE_IN_FOLDER, folder, language)
                      : _snprintf(name, sizeof(name), SYSTEM_PACKAGE, language);
    bool nameOk = written > 0 && written < (int)sizeof(name);
    if (!nameOk)
        name[0] = 0;
    LowerAscii(name);

    code = (nameOk && CombineSourcePath(g_downloadManager->GetBaseUrl(), name, resolved)) ? 0 : ERROR_FILE_NOT_FOUND;
    if (copy != NULL)
        strcpy(copy, resolved);
    if (code == 0 && !IsLocalSource(resolved) && !g_downloadManager->EnsureConnected())
    {
        code = ERROR_NOT_CONNECTED;
        Tell(MESSAGE_ERROR, LABEL_WORKING_OFFLINE, NOTHING_WITHOUT_LABEL);
    }
    LogMessage(3, LOG_INFO, "'%hs' for installation is '%hs' ( Obtain returned %ld ).\n", name, resolved,
               (long)code);
    return code == 0;
}
