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
static const DWORD HTTP_PARTIAL_CONTENT = 206;
static const DWORD HTTP_RANGE_NOT_SATISFIABLE = 416;
// Bytes read per call: large enough that the calls cost nothing beside the
// data, small enough that progress and Cancel are seen several times a second
// on a slow line.
static const DWORD DOWNLOAD_BLOCK = 256 * 1024;
// A transient failure is tried again this often, after a pause that doubles
// from the first: the whole wait stays within a few seconds (1 + 2 + 4).
static const int DOWNLOAD_RETRIES = 3;
static const DWORD FIRST_RETRY_PAUSE_MS = 1000;
// How the program names itself to the server.
static const char* const USER_AGENT = "Fernwick";
// Where partial downloads wait for the rest, below the user's temporary folder.
static const char* const PARTIAL_FOLDER = "Fernwick downloads";
static const char* const PARTIAL_SUFFIX = ".fwdl";
static const char* const RECORD_SUFFIX = ".fwdl.txt";
// First line of a partial's record: what the lines after it mean.
static const char* const RECORD_MARK = "Fernwick partial download 1";
// The answer comes from the server, never from a copy on the way or in the
// cache; the cache entry is made by us, once the file is whole.
static const DWORD OPEN_URL_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                                    INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES;

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


// One try of one download: what it asks for and what came of it. Written by
// the thread that makes the try, read by the caller after it.
struct DownloadTry
{
    const char* url;
    const char* given;   // the source name as the caller wrote it
    char partialPath[DOWNLOAD_PATH_SIZE];
    char recordPath[DOWNLOAD_PATH_SIZE];
    HRESULT result;      // S_OK: the partial holds the whole file
    DWORD error;         // the Windows error of a failed try (0: none)
    DWORD httpStatus;    // the server's answer (0: none came)
    DWORD received;      // bytes in the partial file at the end
    DWORD total;         // the announced length (0: unknown)
    bool stalled;
    bool cancelled;
    bool refused;        // the server's certificate is not trusted
    bool discard;        // the partial is of no use to a later try
    CMainUI* ui;
    TransferState* transfer;
    DownloadActivity* activity;
};

DownloadFailure ClassifyDownloadFailure(DWORD httpStatus, DWORD error)
{
    if (httpStatus >= HTTP_STATUS_FIRST_ERROR)
    {
        switch (httpStatus)
        {
        case 408: case 429: case 500: case 502: case 503: case 504:
            return FAILURE_TRANSIENT;
        default:
            return FAILURE_PERMANENT;
        }
    }
    switch (error)
    {
    case 0:
        return FAILURE_NONE;
    // The line or the server went away or was too slow: it may be back.
    case ERROR_TIMEOUT:
    case ERROR_HANDLE_EOF:
    case ERROR_INTERNET_TIMEOUT:
    case WSAETIMEDOUT:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_FORCE_RETRY:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
    case WSAECONNRESET:
    case WSAECONNREFUSED:
    case WSAECONNABORTED:
        return FAILURE_TRANSIENT;
    default:
        return FAILURE_PERMANENT;
    }
}

const char* DescribeDownloadFailure(DWORD httpStatus, DWORD error, char* buffer, size_t size)
{
    if (httpStatus >= HTTP_STATUS_FIRST_ERROR)
        _snprintf(buffer, size, "HTTP %lu", (unsigned long)httpStatus);
    else if (error == ERROR_TIMEOUT || error == ERROR_INTERNET_TIMEOUT || error == WSAETIMEDOUT)
        _snprintf(buffer, size, "stalled");
    else if (error == ERROR_HANDLE_EOF)
        _snprintf(buffer, size, "connection dropped");
    else if (error == ERROR_INTERNET_FORCE_RETRY)
        _snprintf(buffer, size, "range refused");
    else if (error == ERROR_INTERNET_CONNECTION_RESET || error == WSAECONNRESET)
        _snprintf(buffer, size, "connection reset");
    else if (error == ERROR_INTERNET_CANNOT_CONNECT || error == WSAECONNREFUSED)
        _snprintf(buffer, size, "connection refused");
    else if (error == ERROR_INTERNET_CONNECTION_ABORTED || error == WSAECONNABORTED ||
             error == ERROR_HTTP_INVALID_SERVER_RESPONSE)
        _snprintf(buffer, size, "connection dropped");
    else
        _snprintf(buffer, size, "error %lu", (unsigned long)error);
    buffer[size - 1] = 0;
    return buffer;
}

DWORD RetryPauseMs(int retry, DWORD firstPauseMs)
{
    if (retry < 1)
        return 0;
    DWORD pause = firstPauseMs;
    for (int i = 1; i < retry && pause < 0x40000000u; ++i)
        pause *= 2;
    return pause;
}

DWORD ResumeOffset(const PartialDownload& partial)
{
    // If-Range needs the server's validator: without it a changed file would
    // be patched with the rest of another one.
    if (!partial.recorded || partial.validator[0] == 0 || partial.rangesRefused || partial.size == 0)
        return 0;
    if (partial.length != 0 && partial.size >= partial.length)
        return 0;
    return partial.size;
}

ResponseUse DecideResponse(DWORD status, DWORD askedFrom, DWORD rangeFrom, DWORD rangeTotal, DWORD recordedLength)
{
    if (status == HTTP_PARTIAL_CONTENT)
    {
        // Only the rest that was asked for, of the file that was begun.
        bool fits = askedFrom > 0 && rangeFrom == askedFrom && (recordedLength == 0 || rangeTotal == recordedLength);
        return fits ? RESPONSE_APPEND : RESPONSE_DISCARD;
    }
    if (status == HTTP_RANGE_NOT_SATISFIABLE)
        return askedFrom > 0 ? RESPONSE_DISCARD : RESPONSE_ERROR;
    if (status >= HTTP_STATUS_FIRST_ERROR)
        return RESPONSE_ERROR;
    // 200 (or any success that is not a range, or an answer without a status
    // such as FTP's): the whole file, whatever was asked.
    return RESPONSE_WHOLE;
}

// A 64-bit FNV-1a hash of the URL as 16 hex digits: a name of our own for
// the URL's partial, the same in every run.
static void HashName(const char* text, char* out)
{
    unsigned long long hash = 14695981039346656037ull;
    for (const unsigned char* c = (const unsigned char*)text; *c; ++c)
    {
        hash ^= *c;
        hash *= 1099511628211ull;
    }
    sprintf(out, "%08lx%08lx", (unsigned long)(hash >> 32), (unsigned long)(hash & 0xFFFFFFFFu));
}

bool PartialDownloadPaths(const char* url, char* partialPath, char* recordPath)
{
    char folder[DOWNLOAD_PATH_SIZE];
    DWORD length = GetTempPathA(sizeof(folder), folder);
    if (length == 0 || length >= sizeof(folder))
        return false;
    char hash[17];
    HashName(url, hash);
    int written = _snprintf(partialPath, DOWNLOAD_PATH_SIZE, "%s%s\\%s%s", folder, PARTIAL_FOLDER, hash, PARTIAL_SUFFIX);
    int recorded = _snprintf(recordPath, DOWNLOAD_PATH_SIZE, "%s%s\\%s%s", folder, PARTIAL_FOLDER, hash, RECORD_SUFFIX);
    if (written <= 0 || written >= DOWNLOAD_PATH_SIZE || recorded <= 0 || recorded >= DOWNLOAD_PATH_SIZE)
        return false;
    char made[DOWNLOAD_PATH_SIZE];
    _snprintf(made, sizeof(made), "%s%s", folder, PARTIAL_FOLDER);
    made[sizeof(made) - 1] = 0;
    CreateDirectoryA(made, NULL);
    return true;
}

// The next line of text (up to CR LF) into line; false at the end.
static bool NextLine(const char*& text, char* line, size_t size)
{
    if (*text == 0)
        return false;
    size_t n = 0;
    while (*text != 0 && *text != '\r' && *text != '\n')
    {
        if (n + 1 < size)
            line[n++] = *text;
        ++text;
    }
    line[n] = 0;
    if (*text == '\r')
        ++text;
    if (*text == '\n')
        ++text;
    return true;
}

// The record of the URL's partial: its mark, the URL, the announced length,
// whether the server refused ranges, the validator; anything else (another
// URL's, a damaged one) is no record.
static void ReadPartial(const DownloadTry& attempt, PartialDownload& partial)
{
    memset(&partial, 0, sizeof(partial));
    if (!CanOpenForReading(attempt.partialPath, &partial.size))
        partial.size = 0;
    char text[CANONICAL_URL_SIZE + DOWNLOAD_VALIDATOR_SIZE + 128];
    HANDLE file = CreateFileA(attempt.recordPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD read = 0;
    BOOL ok = ReadFile(file, text, sizeof(text) - 1, &read, NULL);
    CloseHandle(file);
    if (!ok)
        return;
    text[read] = 0;
    const char* at = text;
    char mark[64], url[CANONICAL_URL_SIZE], length[32], refused[8];
    if (!NextLine(at, mark, sizeof(mark)) || strcmp(mark, RECORD_MARK) != 0 || !NextLine(at, url, sizeof(url)) ||
        strcmp(url, attempt.url) != 0 || !NextLine(at, length, sizeof(length)) ||
        !NextLine(at, refused, sizeof(refused)))
        return;
    if (!NextLine(at, partial.validator, sizeof(partial.validator)))
        partial.validator[0] = 0;
    partial.length = strtoul(length, NULL, 10);
    partial.rangesRefused = refused[0] == '1';
    // More bytes than announced cannot be the file that was begun.
    partial.recorded = partial.length == 0 || partial.size <= partial.length;
}

// Written before any byte of the answer it describes, so that a killed run
// never leaves bytes that its record does not vouch for.
static bool WriteRecord(const DownloadTry& attempt, const PartialDownload& partial)
{
    char text[CANONICAL_URL_SIZE + DOWNLOAD_VALIDATOR_SIZE + 128];
    int length = _snprintf(text, sizeof(text), "%s\r\n%s\r\n%lu\r\n%d\r\n%s\r\n", RECORD_MARK, attempt.url,
                           (unsigned long)partial.length, partial.rangesRefused ? 1 : 0, partial.validator);
    if (length <= 0 || length >= (int)sizeof(text))
        return false;
    HANDLE file = CreateFileA(attempt.recordPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, (DWORD)length, &written, NULL) && written == (DWORD)length;
    CloseHandle(file);
    return ok != FALSE;
}

static void DiscardPartial(const DownloadTry& attempt)
{
    DeleteFileA(attempt.recordPath);
    DeleteFileA(attempt.partialPath);
}

// A text header of the answer ("" when it has none).
static void QueryHeader(const InternetFunctions& fn, HINTERNET request, DWORD header, char* out, DWORD size)
{
    DWORD length = size;
    if (!fn.queryInfo(request, header, out, &length, NULL))
        out[0] = 0;
    out[size - 1] = 0;
}

static DWORD QueryNumber(const InternetFunctions& fn, HINTERNET request, DWORD header)
{
    DWORD value = 0, length = sizeof(value);
    if (!fn.queryInfo(request, header | HTTP_QUERY_FLAG_NUMBER, &value, &length, NULL))
        return 0;
    return value;
}

// "bytes <from>-<to>/<total>" of a 206 answer.
static void ParseContentRange(const char* text, DWORD& from, DWORD& total)
{
    from = 0;
    total = 0;
    const char* digits = strpbrk(text, "0123456789");
    if (digits == NULL)
        return;
    from = strtoul(digits, NULL, 10);
    const char* slash = strchr(text, '/');
    if (slash != NULL)
        total = strtoul(slash + 1, NULL, 10);
}

// What the answer says of the file, for the partial's record: the length,
// and the validator that an If-Range can name later (a weak ETag cannot).
static void DescribeAnswer(const InternetFunctions& fn, HINTERNET request, DWORD status, PartialDownload& answer,
                           DWORD& rangeFrom)
{
    memset(&answer, 0, sizeof(answer));
    rangeFrom = 0;
    if (status == HTTP_PARTIAL_CONTENT)
    {
        char range[128];
        QueryHeader(fn, request, HTTP_QUERY_CONTENT_RANGE, range, sizeof(range));
        ParseContentRange(range, rangeFrom, answer.length);
    }
    else
    {
        answer.length = QueryNumber(fn, request, HTTP_QUERY_CONTENT_LENGTH);
    }
    char ranges[32];
    QueryHeader(fn, request, HTTP_QUERY_ACCEPT_RANGES, ranges, sizeof(ranges));
    answer.rangesRefused = TextEqualNoCase(ranges, "none");
    QueryHeader(fn, request, HTTP_QUERY_ETAG, answer.validator, sizeof(answer.validator));
    if (answer.validator[0] == 'W' && answer.validator[1] == '/')
        answer.validator[0] = 0;
    if (answer.validator[0] == 0)
        QueryHeader(fn, request, HTTP_QUERY_LAST_MODIFIED, answer.validator, sizeof(answer.validator));
}

// A read that receives nothing for the limit ends by itself; where closing
// the request from the watch does not end a read that waits, this does.
static void SetReadTimeout(const InternetFunctions& fn, HINTERNET handle, DWORD limitMs)
{
    if (limitMs == 0 || fn.setOption == NULL)
        return;
    DWORD timeout = limitMs;
    fn.setOption(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
    fn.setOption(handle, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof(timeout));
    fn.setOption(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
}

// The error of a certificate that the system does not trust (or that names
// another host, has expired or was revoked).
static bool IsCertificateError(DWORD error)
{
    switch (error)
    {
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
        return true;
    default:
        return false;
    }
}

// The extension of the URL's file name (without the dot), for the cache
// file's name: what is started or unpacked from the cache keeps its kind.
static void UrlExtension(const char* url, char* out, size_t size)
{
    out[0] = 0;
    const char* end = url + strcspn(url, "?#");
    const char* name = end;
    while (name > url && name[-1] != '/' && name[-1] != '\\')
        --name;
    const char* dot = NULL;
    for (const char* c = name; c < end; ++c)
        if (*c == '.')
            dot = c;
    if (dot == NULL || (size_t)(end - dot - 1) >= size)
        return;
    memcpy(out, dot + 1, (size_t)(end - dot - 1));
    out[end - dot - 1] = 0;
}

// The file name of the URL (after its last slash), into out; false if none fits.
static bool UrlFileName(const char* url, char* out, size_t size)
{
    const char* end = url + strcspn(url, "?#");
    const char* name = end;
    while (name > url && name[-1] != '/' && name[-1] != '\\')
        --name;
    if (name == end || (size_t)(end - name) >= size)
        return false;
    memcpy(out, name, (size_t)(end - name));
    out[end - name] = 0;
    return true;
}

CDownloadManager::CDownloadManager(CMainUI* ui, CResource* resMgr)
    : m_useWorkerThread(false), m_stallLimitMs(DOWNLOAD_STALL_LIMIT_MS), m_workerResult(E_UNEXPECTED), m_workerBusy(false),
      m_workerThreadId(0), m_workerThread(NULL), m_workerTry(NULL), m_retries(DOWNLOAD_RETRIES),
      m_firstPauseMs(FIRST_RETRY_PAUSE_MS), m_session(NULL), m_connected(false), m_needHangUp(false), m_ui(ui),
      m_resMgr(resMgr), m_baseUrl(NULL), m_mayLoad(true), m_hWininet(NULL), m_functionsGiven(false)
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
    if (m_session != NULL && m_fn.closeHandle != NULL)
        m_fn.closeHandle(m_session);
    m_session = NULL;
    if (m_hWininet != NULL)
        FreeLibrary(m_hWininet);
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

// The address of one function of wininet, with a warning when it is missing.
static void* WininetFunction(HMODULE wininet, const char* name)
{
    void* function = (void*)GetProcAddress(wininet, name);
    if (function == NULL)
        LogMessage(2, LOG_WARNING, "%hs not in wininet.dll\n", name);
    return function;
}

bool CDownloadManager::LoadInternetLibraries()
{
    if (!m_mayLoad)
        return false;
    m_mayLoad = false;   // a failed attempt is final for the run

    m_hWininet = LoadSystemLibrary(WININET_DLL);
    if (m_hWininet == NULL)
    {
        LogMessage(2, LOG_ERROR, "Could not load wininet.dll [%ld]\n", (long)GetLastError());
        return false;
    }
    LogMessage(2, LOG_INFO, "wininet loaded OK\n");

    m_fn.deleteUrlCacheEntry = (PFN_DeleteUrlCacheEntryA)WininetFunction(m_hWininet, "DeleteUrlCacheEntryA");
    m_fn.attemptConnect = (PFN_InternetAttemptConnect)WininetFunction(m_hWininet, "InternetAttemptConnect");
    m_fn.canonicalizeUrl = (PFN_InternetCanonicalizeUrlA)WininetFunction(m_hWininet, "InternetCanonicalizeUrlA");
    m_fn.getConnectedState = (PFN_InternetGetConnectedState)WininetFunction(m_hWininet, "InternetGetConnectedState");
    m_fn.autodialHangup = (PFN_InternetAutodialHangup)WininetFunction(m_hWininet, "InternetAutodialHangup");
    m_fn.open = (PFN_InternetOpenA)WininetFunction(m_hWininet, "InternetOpenA");
    m_fn.openUrl = (PFN_InternetOpenUrlA)WininetFunction(m_hWininet, "InternetOpenUrlA");
    m_fn.queryInfo = (PFN_HttpQueryInfoA)WininetFunction(m_hWininet, "HttpQueryInfoA");
    m_fn.readFile = (PFN_InternetReadFile)WininetFunction(m_hWininet, "InternetReadFile");
    m_fn.closeHandle = (PFN_InternetCloseHandle)WininetFunction(m_hWininet, "InternetCloseHandle");
    m_fn.setOption = (PFN_InternetSetOptionA)WininetFunction(m_hWininet, "InternetSetOptionA");
    m_fn.crackUrl = (PFN_InternetCrackUrlA)WininetFunction(m_hWininet, "InternetCrackUrlA");
    m_fn.connect = (PFN_InternetConnectA)WininetFunction(m_hWininet, "InternetConnectA");
    m_fn.openRequest = (PFN_HttpOpenRequestA)WininetFunction(m_hWininet, "HttpOpenRequestA");
    m_fn.sendRequest = (PFN_HttpSendRequestA)WininetFunction(m_hWininet, "HttpSendRequestA");
    m_fn.createCacheEntry = (PFN_CreateUrlCacheEntryA)WininetFunction(m_hWininet, "CreateUrlCacheEntryA");
    m_fn.commitCacheEntry = (PFN_CommitUrlCacheEntryA)WininetFunction(m_hWininet, "CommitUrlCacheEntryA");
    // Without the reading functions nothing can be downloaded at all.
    if (m_fn.open == NULL || m_fn.openUrl == NULL || m_fn.queryInfo == NULL || m_fn.readFile == NULL ||
        m_fn.closeHandle == NULL)
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

// The Internet session of the run, with the proxy settings of the Internet
// options; a read that receives nothing for the stall limit ends by itself
// even where closing its request from the watch does not end it.
bool CDownloadManager::OpenSession()
{
    if (m_session != NULL)
        return true;
    if (m_fn.open == NULL || m_fn.openUrl == NULL || m_fn.queryInfo == NULL || m_fn.readFile == NULL ||
        m_fn.closeHandle == NULL)
        return false;
    m_session = m_fn.open(USER_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    if (m_session == NULL)
    {
        LogMessage(2, LOG_ERROR, "InternetOpen failed [%ld]\n", (long)GetLastError());
        return false;
    }
    SetReadTimeout(m_fn, m_session, m_stallLimitMs);
    return true;
}

// Resolves the name against the base: a local file is checked where it lies;
// an Internet one is downloaded, tried again while its failures are
// transient, and placed in the Internet cache.
bool CDownloadManager::ObtainFile(const char* sourceName, char* localPath, DWORD& code)
{
    code = ERROR_FILE_NOT_FOUND;
    localPath[0] = 0;

    // The caller's name may live in a shared conversion buffer (a settings
    // look-up) that the window texts below reuse: only this copy is read later.
    char given[DOWNLOAD_PATH_SIZE];
    char resolved[DOWNLOAD_PATH_SIZE];
    if (!ResolveSourceName(sourceName, given, resolved))
        return false;
    if (IsLocalSource(resolved))
        return ObtainLocalFile(given, resolved, localPath);

    if (!EnsureConnected())
    {
        code = ERROR_NOT_CONNECTED;
        return false;
    }
    char url[CANONICAL_URL_SIZE];
    if (!CanonicalUrl(resolved, url, code))
        return false;
    LogMessage(2, LOG_INFO, "Download: '%hs'\n", url);

    DownloadTry attempt;
    memset(&attempt, 0, sizeof(attempt));
    attempt.url = url;
    if (!PartialDownloadPaths(url, attempt.partialPath, attempt.recordPath))
    {
        LogMessage(2, LOG_ERROR, "Download:: no folder for the partial download of '%hs'\n", url);
        return false;
    }
    attempt.given = given;
    if (!DownloadWithRetries(attempt))
        return false;
    return FinishDownload(attempt, localPath, code);
}

// A name that does not fit would name another file: refused, not cut.
bool CDownloadManager::ResolveSourceName(const char* sourceName, char* given, char* resolved)
{
    if (!CopyBounded(given, sourceName, DOWNLOAD_PATH_SIZE))
    {
        LogMessage(2, LOG_ERROR, "Download:: source name '%hs' is too long\n", sourceName ? sourceName : "");
        return false;
    }
    char name[DOWNLOAD_PATH_SIZE];
    strcpy(name, given);
    LowerAscii(name);
    if (!CombineSourcePath(GetBaseUrl(), name, resolved))
    {
        LogMessage(2, LOG_ERROR, "Download:: '%hs' cannot be combined with the base '%hs'\n", name, GetBaseUrl());
        return false;
    }
    return true;
}

bool CDownloadManager::ObtainLocalFile(const char* given, const char* resolved, char* localPath)
{
    // "file://": joining with a backslash base may have turned its slashes
    // into backslashes, so either pair is the prefix.
    const char* path = resolved;
    size_t scheme = strlen(FILE_URL_SCHEME);
    if (TextEqualNoCase(resolved, FILE_URL_SCHEME, scheme) && (resolved[scheme] == '/' || resolved[scheme] == '\\') &&
        (resolved[scheme + 1] == '/' || resolved[scheme + 1] == '\\'))
        path += scheme + 2;
    if (!FileExists(path))
    {
        char name[DOWNLOAD_PATH_SIZE];
        strcpy(name, given);
        LowerAscii(name);
        LogMessage(2, LOG_ERROR, "Download:: '%hs' doesn't exist\n", name);
        return false;
    }
    strcpy(localPath, path);
    return true;
}

bool CDownloadManager::CanonicalUrl(const char* resolved, char* url, DWORD& code)
{
    if (m_fn.canonicalizeUrl == NULL)
    {
        strcpy(url, resolved);
        return true;
    }
    DWORD length = CANONICAL_URL_SIZE;
    if (m_fn.canonicalizeUrl(resolved, url, &length, 0))
        return true;
    code = GetLastError();
    LogMessage(3, LOG_ERROR, "CDownloadManager::ObtainFile::InternetCanonicalizeUrl '%hs' returned '%ld'\n", resolved,
               (long)code);
    return false;
}

void CDownloadManager::ShowDownload(const char* given)
{
    m_ui->ShowForWork(false);
    m_ui->SetItemText(IDC_INFO_TEXT, m_resMgr->FormatLabel(LABEL_DOWNLOAD_FILE, given, GetBaseUrl()));
}

// Tries until the file is whole, a failure is final, the tries are used up
// or the user cancels; each repeat is logged with its reason and the pause.
// False only when no try could be made.
bool CDownloadManager::DownloadWithRetries(DownloadTry& attempt)
{
    if (!OpenSession())
    {
        // Reported as a failed download, as a missing download function always was.
        attempt.result = E_UNEXPECTED;
        attempt.error = 0;
        return true;
    }
    DWORD waited = 0;
    int tries = 1;
    for (;; ++tries)
    {
        ShowDownload(attempt.given);
        if (!RunTry(attempt))
            return false;
        if (attempt.cancelled || m_transfer.CancelRequested())
            break;
        DownloadFailure failure = ClassifyDownloadFailure(attempt.httpStatus, attempt.error);
        if (failure != FAILURE_TRANSIENT || tries > m_retries)
            break;
        char reason[64];
        DWORD pause = RetryPauseMs(tries, m_firstPauseMs);
        LogMessage(2, LOG_WARNING, "Download '%hs': try %d of %d failed (%hs) [%lu/%lu]; trying again in %lu ms.\n",
                   attempt.url, tries, m_retries + 1,
                   DescribeDownloadFailure(attempt.httpStatus, attempt.error, reason, sizeof(reason)),
                   (unsigned long)attempt.received, (unsigned long)attempt.total, (unsigned long)pause);
        if (!PauseBeforeRetry(pause))
            break;
        waited += pause;
    }
    if (tries > 1)
        LogMessage(2, LOG_INFO, "Download '%hs': %d tries, %lu ms spent waiting between them.\n", attempt.url, tries,
                   (unsigned long)waited);
    return true;
}

// The pause keeps the window alive and ends early on Cancel (false).
bool CDownloadManager::PauseBeforeRetry(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (!m_transfer.CancelRequested())
    {
        DWORD passed = GetTickCount() - start;
        if (passed >= milliseconds)
            return true;
        MsgWaitForMultipleObjects(0, NULL, FALSE, milliseconds - passed, QS_ALLINPUT);
        m_ui->PumpMessages();
    }
    return false;
}

// One try, on the worker or on this thread, under the stall watch: the one
// rule for a download that stands still. False when the worker cannot start.
bool CDownloadManager::RunTry(DownloadTry& attempt)
{
    DownloadActivity activity;
    attempt.result = E_UNEXPECTED;
    attempt.error = 0;
    attempt.httpStatus = 0;
    attempt.received = 0;
    attempt.total = 0;
    attempt.stalled = attempt.cancelled = attempt.refused = attempt.discard = false;
    attempt.ui = m_ui;
    attempt.transfer = &m_transfer;
    attempt.activity = &activity;
    // The log lines report this try's progress, not an earlier one's.
    m_transfer.SetProgress(0, 0);
    if (m_useWorkerThread)
    {
        m_workerTry = &attempt;
        StallWatch watch(activity, m_stallLimitMs, m_ui->GetWindow(), GetCurrentThreadId());
        if (!StartDownloadWorker())
        {
            m_workerTry = NULL;
            return false;
        }
        m_ui->WaitForDownload(m_workerThread);
        // Cancelled or stalled: closing the request lets the worker leave its read.
        if (m_workerBusy)
            activity.Abort();
        watch.Stop();
        attempt.stalled = watch.Stalled();
        if (!m_workerBusy)
            WaitForSingleObject(m_workerThread, WORKER_EXIT_MS);
        StopDownloadWorker();
        m_workerTry = NULL;
    }
    else
    {
        StallWatch watch(activity, m_stallLimitMs, NULL, 0);
        TransferOnce(attempt);
        watch.Stop();
        attempt.stalled = watch.Stalled();
    }
    // The connection's own time-out is the stall limit too.
    if (attempt.error == ERROR_INTERNET_TIMEOUT || attempt.error == WSAETIMEDOUT)
        attempt.stalled = true;
    if (m_transfer.CancelRequested())
        attempt.cancelled = true;
    else if (attempt.stalled)
    {
        LogMessage(2, LOG_ERROR, "Download '%hs' stalled: no progress for %lu s.\n", attempt.url,
                   (unsigned long)(m_stallLimitMs / 1000));
        attempt.result = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        attempt.error = ERROR_TIMEOUT;
    }
    // A cancelled partial stays for the next start: the user stopped the
    // run, not the file.
    if (!attempt.cancelled &&
        (attempt.discard || ClassifyDownloadFailure(attempt.httpStatus, attempt.error) == FAILURE_PERMANENT))
        DiscardPartial(attempt);
    return true;
}

// An http or https request in steps: the connection, with the time-outs,
// then the request, then its sending. Null (the error in the try) on failure;
// nothing to do (and connection null) for another scheme.
static HINTERNET SendHttpRequest(const InternetFunctions& fn, HINTERNET session, DownloadTry& attempt,
                                 const char* headers, DWORD limitMs, HINTERNET& connection, bool& tried)
{
    tried = false;
    connection = NULL;
    if (fn.crackUrl == NULL || fn.connect == NULL || fn.openRequest == NULL || fn.sendRequest == NULL)
        return NULL;
    char host[256], path[CANONICAL_URL_SIZE], extra[CANONICAL_URL_SIZE], object[CANONICAL_URL_SIZE];
    URL_COMPONENTSA parts;
    memset(&parts, 0, sizeof(parts));
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof(host);
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof(path);
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = sizeof(extra);
    if (!fn.crackUrl(attempt.url, 0, 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
        _snprintf(object, sizeof(object), "%s%s", path, extra) >= (int)sizeof(object))
        return NULL;
    tried = true;
    connection = fn.connect(session, host, parts.nPort, NULL, NULL, INTERNET_SERVICE_HTTP, 0, 0);
    if (connection == NULL)
    {
        attempt.error = GetLastError();
        return NULL;
    }
    SetReadTimeout(fn, connection, limitMs);
    DWORD flags = OPEN_URL_FLAGS | (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    HINTERNET request = fn.openRequest(connection, "GET", object, NULL, NULL, NULL, flags, 0);
    if (request == NULL)
    {
        attempt.error = GetLastError();
        return NULL;
    }
    SetReadTimeout(fn, request, limitMs);
    attempt.activity->SetRequest(request, fn.closeHandle);
    if (fn.sendRequest(request, headers[0] != 0 ? headers : NULL, headers[0] != 0 ? (DWORD)-1 : 0, NULL, 0))
        return request;
    attempt.error = GetLastError();
    request = attempt.activity->TakeRequest();
    if (request != NULL)
        fn.closeHandle(request);
    return NULL;
}

// The request of one try: from the start, or for the rest of the partial
// with the validator that says it is still the same file.
static HINTERNET OpenRequest(const InternetFunctions& fn, HINTERNET session, DownloadTry& attempt,
                             const PartialDownload& partial, DWORD from, DWORD limitMs, HINTERNET& connection)
{
    char headers[DOWNLOAD_VALIDATOR_SIZE + 64];
    headers[0] = 0;
    if (from > 0)
    {
        _snprintf(headers, sizeof(headers), "Range: bytes=%lu-\r\nIf-Range: %s\r\n", (unsigned long)from,
                  partial.validator);
        headers[sizeof(headers) - 1] = 0;
        LogMessage(2, LOG_INFO, "Download '%hs': resuming at byte %lu of %lu (If-Range %hs).\n", attempt.url,
                   (unsigned long)from, (unsigned long)partial.length, partial.validator);
    }
    bool tried = false;
    HINTERNET request = SendHttpRequest(fn, session, attempt, headers, limitMs, connection, tried);
    if (tried)
        return request;
    request = fn.openUrl(session, attempt.url, from > 0 ? headers : NULL, from > 0 ? (DWORD)-1 : 0, OPEN_URL_FLAGS, 0);
    if (request == NULL)
        attempt.error = GetLastError();
    else
        SetReadTimeout(fn, request, limitMs);
    return request;
}

// The partial file, opened to take the answer's bytes at its end (append)
// or from its first byte; the record describes them before any is written.
static HANDLE OpenPartial(DownloadTry& attempt, ResponseUse use, const PartialDownload& answer, DWORD from)
{
    HANDLE file = CreateFileA(attempt.partialPath, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
    {
        attempt.error = GetLastError();
        return file;
    }
    DWORD at = use == RESPONSE_APPEND ? from : 0;
    bool placed = SetFilePointer(file, (LONG)at, NULL, FILE_BEGIN) == at && SetEndOfFile(file) &&
                  (use == RESPONSE_APPEND || WriteRecord(attempt, answer));
    if (!placed)
    {
        attempt.error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    attempt.received = at;
    return file;
}

// Reads the answer's body in blocks into the partial file, reporting each
// block to the progress callback (bar, transfer record, Cancel).
static void ReadBody(const InternetFunctions& fn, HINTERNET request, HANDLE file, DownloadTry& attempt,
                     CDownloadBindStatusCallback& callback)
{
    char* block = (char*)malloc(DOWNLOAD_BLOCK);
    if (block == NULL)
    {
        attempt.error = ERROR_NOT_ENOUGH_MEMORY;
        return;
    }
    callback.OnProgress(attempt.received, attempt.total, BINDSTATUS_BEGINDOWNLOADDATA, NULL);
    for (;;)
    {
        DWORD got = 0;
        if (!fn.readFile(request, block, DOWNLOAD_BLOCK, &got))
        {
            attempt.error = GetLastError();
            break;
        }
        attempt.activity->Touch();
        if (got == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(file, block, got, &written, NULL) || written != got)
        {
            attempt.error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
            break;
        }
        attempt.received += got;
        if (callback.OnProgress(attempt.received, attempt.total, BINDSTATUS_DOWNLOADINGDATA, NULL) == E_ABORT)
        {
            attempt.cancelled = true;
            break;
        }
    }
    free(block);
    if (attempt.error == 0 && !attempt.cancelled && attempt.total != 0 && attempt.received < attempt.total)
        attempt.error = ERROR_HANDLE_EOF;   // the connection ended before the announced length
    if (attempt.error == 0 && !attempt.cancelled)
    {
        callback.OnProgress(attempt.received, attempt.total, BINDSTATUS_ENDDOWNLOADDATA, NULL);
        attempt.result = S_OK;
    }
}

// One try: decide from the partial what to ask, ask, decide from the answer
// what its bytes are, and read them. Runs on the worker or the caller's thread.
void CDownloadManager::TransferOnce(DownloadTry& attempt)
{
    CDownloadBindStatusCallback callback(attempt.ui, attempt.transfer, attempt.activity);
    PartialDownload partial;
    ReadPartial(attempt, partial);
    DWORD from = ResumeOffset(partial);
    attempt.activity->Touch();
    HINTERNET connection = NULL;
    HINTERNET request = OpenRequest(m_fn, m_session, attempt, partial, from, m_stallLimitMs, connection);
    if (request == NULL)
    {
        if (connection != NULL)
            m_fn.closeHandle(connection);
        if (IsCertificateError(attempt.error))
        {
            attempt.refused = true;
            callback.OnSecurityProblem(attempt.error);
        }
        attempt.result = HRESULT_FROM_WIN32(attempt.error);
        return;
    }
    attempt.activity->SetRequest(request, m_fn.closeHandle);
    attempt.activity->Touch();
    attempt.httpStatus = QueryNumber(m_fn, request, HTTP_QUERY_STATUS_CODE);
    callback.OnResponse(attempt.httpStatus, NULL, NULL, NULL);
    PartialDownload answer;
    DWORD rangeFrom = 0;
    DescribeAnswer(m_fn, request, attempt.httpStatus, answer, rangeFrom);
    ResponseUse use = DecideResponse(attempt.httpStatus, from, rangeFrom, answer.length, partial.length);
    if (use == RESPONSE_WHOLE && from > 0)
        LogMessage(2, LOG_WARNING, "Download '%hs': the server sent the whole file (HTTP %lu): starting over.\n",
                   attempt.url, (unsigned long)attempt.httpStatus);
    if (use == RESPONSE_DISCARD)
    {
        LogMessage(2, LOG_WARNING, "Download '%hs': the answer (HTTP %lu) does not continue the partial file: "
                   "starting over.\n", attempt.url, (unsigned long)attempt.httpStatus);
        attempt.discard = true;
        attempt.httpStatus = 0;
        attempt.error = ERROR_INTERNET_FORCE_RETRY;
    }
    else if (use != RESPONSE_ERROR)
    {
        attempt.total = answer.length;
        HANDLE file = OpenPartial(attempt, use, answer, from);
        if (file != INVALID_HANDLE_VALUE)
        {
            ReadBody(m_fn, request, file, attempt, callback);
            CloseHandle(file);
        }
    }
    request = attempt.activity->TakeRequest();
    if (request != NULL)
        m_fn.closeHandle(request);
    if (connection != NULL)
        m_fn.closeHandle(connection);
    if (FAILED(attempt.result) && attempt.error != 0)
        attempt.result = HRESULT_FROM_WIN32(attempt.error);
}

// The whole file moves from its partial name into the Internet cache (or,
// without the cache, to a file of our own beside the partials) under the
// URL's name and extension. False with the cache path empty when it cannot.
bool CDownloadManager::PlaceDownloaded(DownloadTry& attempt, char* cachePath)
{
    cachePath[0] = 0;
    char extension[16];
    UrlExtension(attempt.url, extension, sizeof(extension));
    if (m_fn.createCacheEntry != NULL && m_fn.commitCacheEntry != NULL &&
        m_fn.createCacheEntry(attempt.url, attempt.received, extension, cachePath, 0))
    {
        FILETIME never = {0, 0};
        DeleteCacheEntry(attempt.url);
        if (MoveFileExA(attempt.partialPath, cachePath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) &&
            m_fn.commitCacheEntry(attempt.url, cachePath, never, never, NORMAL_CACHE_ENTRY, NULL, 0, NULL, NULL))
        {
            DeleteFileA(attempt.recordPath);
            return true;
        }
        LogMessage(2, LOG_WARNING, "Download '%hs': the cache does not take it [%ld]; kept as a file of our own.\n",
                   attempt.url, (long)GetLastError());
        if (FileExists(cachePath) && !FileExists(attempt.partialPath))
            MoveFileExA(cachePath, attempt.partialPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
        DeleteFileA(cachePath);
    }
    char name[DOWNLOAD_PATH_SIZE];
    int length = (int)strlen(attempt.partialPath) - (int)strlen(PARTIAL_SUFFIX);
    if (!UrlFileName(attempt.url, name, sizeof(name)) ||
        _snprintf(cachePath, DOWNLOAD_PATH_SIZE, "%.*s-%s", length, attempt.partialPath, name) >= DOWNLOAD_PATH_SIZE ||
        !MoveFileExA(attempt.partialPath, cachePath, MOVEFILE_REPLACE_EXISTING))
    {
        cachePath[0] = 0;
        return false;
    }
    DeleteFileA(attempt.recordPath);
    return true;
}

// The outcome of the last try in the words the log has always used, and the
// whole file where the caller can read it.
bool CDownloadManager::FinishDownload(DownloadTry& attempt, char* localPath, DWORD& code)
{
    const char* url = attempt.url;
    long progress = (long)m_transfer.Progress();
    long progressMax = (long)m_transfer.ProgressMax();
    code = ERROR_FILE_NOT_FOUND;
    if (attempt.cancelled || m_transfer.CancelRequested())
    {
        LogMessage(2, LOG_ERROR, "URLDownloadToCacheFile '%hs' cancelled by user [%ld/%ld].\n", url, progress,
                   progressMax);
        DeleteCacheEntry(url);
        code = ERROR_CANCELLED;
        return false;
    }
    // The line may have gone: the next download checks the connection again.
    m_connected = SUCCEEDED(attempt.result) && attempt.httpStatus < HTTP_STATUS_FIRST_ERROR;
    if (attempt.httpStatus >= HTTP_STATUS_FIRST_ERROR)
    {
        // An error page (404 and the like) must never be installed or run.
        LogMessage(2, LOG_ERROR, "URLDownloadToCacheFile '%hs' answered with HTTP status %lu [%ld/%ld].\n", url,
                   (unsigned long)attempt.httpStatus, progress, progressMax);
        DeleteCacheEntry(url);
        return false;
    }
    if (attempt.error == ERROR_HANDLE_EOF)
    {
        // A connection closed part-way: fewer bytes than announced is a
        // cut-off file, which must not be installed or run.
        LogMessage(2, LOG_ERROR, "URLDownloadToCacheFile '%hs' incomplete: %lu of %lu bytes [%ld/%ld].\n", url,
                   (unsigned long)attempt.received, (unsigned long)attempt.total, progress, progressMax);
        DeleteCacheEntry(url);
        code = ERROR_HANDLE_EOF;
        return false;
    }
    if (FAILED(attempt.result))
    {
        code = attempt.error;
        HRESULT result = attempt.result;
        LogMessage(2, LOG_ERROR,
                   "URLDownloadToCacheFile '%hs' failed with HRESULT='0x%04X' and LastError='%ld' [%ld/%ld].\n",
                   url, (unsigned)result, (long)code, progress, progressMax);
        LogMessage(2, LOG_ERROR, "Code='%ld', Facility='%ld', Severity='%ld'\n", (long)(result & 0xFFFF),
                   (long)(((DWORD)result >> 16) & 0x1FFF), (long)(((DWORD)result >> 31) & 1));
        DeleteCacheEntry(url);
        return false;
    }
    char cachePath[DOWNLOAD_PATH_SIZE];
    DWORD cachedSize = 0;
    if (!PlaceDownloaded(attempt, cachePath) || !CanOpenForReading(cachePath, &cachedSize) ||
        (attempt.total != 0 && cachedSize != attempt.total))
    {
        LogMessage(2, LOG_ERROR, "URLDownloadToCacheFile cached file '%hs' *MISSING* [%ld/%ld].\n", cachePath,
                   progress, progressMax);
        return false;
    }
    LogMessage(2, LOG_INFO, "\tCached '%hs' as '%hs' *OK* [%ld/%ld].\n", attempt.given, cachePath, progress,
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
    if (manager->m_workerTry != NULL)
    {
        manager->TransferOnce(*manager->m_workerTry);
        manager->m_workerResult = manager->m_workerTry->result;
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

bool SystemPackageName(const char* folder, const char* language, char* name, size_t size)
{
    int written = (folder != NULL && folder[0] != 0) ? _snprintf(name, size, SYSTEM_PACKAGE_IN_FOLDER, folder, language)
                                                     : _snprintf(name, size, SYSTEM_PACKAGE, language);
    bool fits = written > 0 && written < (int)size;
    if (!fits)
        name[0] = 0;
    LowerAscii(name);
    return fits;
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
    bool nameOk = SystemPackageName(g_resource->GetSetting(SETTING_SYS_LN_DIR, true), g_resource->GetLanguageCode(),
                                    name, sizeof(name));

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
