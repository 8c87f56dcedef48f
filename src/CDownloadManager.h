// Turns the source name of a file of the distribution into a local file that
// can be opened: the file itself for a folder base, or a copy downloaded into
// the Internet cache for an Internet base (with progress and Cancel in the
// progress window). A download reads through the system's Internet functions
// in large blocks into a partial file of our own, resumes a cut-off transfer
// with a range request and tries a transient failure again a few times. The
// Internet library is loaded only when first needed, so that a run from a
// local source works where it is missing or broken.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "Transfer.h"
#include "ResultCodes.h"

class CMainUI;
class CResource;
class DownloadActivity;

const int DOWNLOAD_PATH_SIZE = 260;    // bytes of every path and name buffer
const int CANONICAL_URL_SIZE = 512;    // bytes of the canonical URL

// Windows codes that callers of ObtainSourceFile tell apart.
const DWORD OBTAIN_OK = 0;
const DWORD OBTAIN_BAD_NAME = RC_BAD_ARGUMENTS;  // empty source name
const DWORD OBTAIN_CANCELLED = RC_CANCELLED;
const DWORD OBTAIN_OFFLINE = RC_NOT_CONNECTED;

// Flags of InternetGetConnectedState.
const DWORD NET_CONNECTION_MODEM = 0x01;
const DWORD NET_CONNECTION_LAN = 0x02;
const DWORD NET_CONNECTION_PROXY = 0x04;
const DWORD NET_RAS_INSTALLED = 0x10;
const DWORD NET_CONNECTION_OFFLINE = 0x20;
const DWORD NET_CONNECTION_CONFIGURED = 0x40;

// The Internet services the manager uses, each optional: a missing one
// degrades its feature instead of failing the run (without the reading
// functions every download fails).
typedef BOOL(WINAPI* PFN_DeleteUrlCacheEntryA)(LPCSTR url);
typedef BOOL(WINAPI* PFN_InternetAutodialHangup)(DWORD reserved);
typedef BOOL(WINAPI* PFN_InternetCanonicalizeUrlA)(LPCSTR url, LPSTR buffer, LPDWORD length,
                                                   DWORD flags);
typedef BOOL(WINAPI* PFN_InternetGetConnectedState)(LPDWORD flags, DWORD reserved);
typedef DWORD(WINAPI* PFN_InternetAttemptConnect)(DWORD reserved);
typedef HINTERNET(WINAPI* PFN_InternetOpenA)(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass,
                                             DWORD flags);
typedef HINTERNET(WINAPI* PFN_InternetOpenUrlA)(HINTERNET session, LPCSTR url, LPCSTR headers,
                                                DWORD headersLength, DWORD flags, DWORD_PTR context);
typedef BOOL(WINAPI* PFN_HttpQueryInfoA)(HINTERNET request, DWORD level, LPVOID buffer, LPDWORD length,
                                         LPDWORD index);
typedef BOOL(WINAPI* PFN_InternetReadFile)(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD read);
typedef BOOL(WINAPI* PFN_InternetCloseHandle)(HINTERNET handle);
typedef BOOL(WINAPI* PFN_InternetCrackUrlA)(LPCSTR url, DWORD length, DWORD flags, LPURL_COMPONENTSA parts);
typedef HINTERNET(WINAPI* PFN_InternetConnectA)(HINTERNET session, LPCSTR server, INTERNET_PORT port, LPCSTR user,
                                                LPCSTR password, DWORD service, DWORD flags, DWORD_PTR context);
typedef HINTERNET(WINAPI* PFN_HttpOpenRequestA)(HINTERNET connection, LPCSTR verb, LPCSTR object, LPCSTR version,
                                                LPCSTR referrer, LPCSTR* acceptTypes, DWORD flags, DWORD_PTR context);
typedef BOOL(WINAPI* PFN_HttpSendRequestA)(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional,
                                           DWORD optionalLength);
typedef BOOL(WINAPI* PFN_InternetSetOptionA)(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length);
typedef BOOL(WINAPI* PFN_CreateUrlCacheEntryA)(LPCSTR url, DWORD expectedSize, LPCSTR extension,
                                               LPSTR fileName, DWORD reserved);
typedef BOOL(WINAPI* PFN_CommitUrlCacheEntryA)(LPCSTR url, LPCSTR fileName, FILETIME expires,
                                               FILETIME lastModified, DWORD entryType, LPBYTE headers,
                                               DWORD headersLength, LPCSTR extension, LPCSTR originalUrl);

struct InternetFunctions
{
    PFN_DeleteUrlCacheEntryA deleteUrlCacheEntry;
    PFN_InternetAutodialHangup autodialHangup;
    PFN_InternetCanonicalizeUrlA canonicalizeUrl;
    PFN_InternetGetConnectedState getConnectedState;
    PFN_InternetAttemptConnect attemptConnect;
    // Reading a download: all five or none.
    PFN_InternetOpenA open;
    PFN_InternetOpenUrlA openUrl;
    PFN_HttpQueryInfoA queryInfo;
    PFN_InternetReadFile readFile;
    PFN_InternetCloseHandle closeHandle;
    PFN_InternetSetOptionA setOption;
    // An http(s) request made in steps, so that its connection's time-outs
    // are set before anything is sent (else the whole URL in one call).
    PFN_InternetCrackUrlA crackUrl;
    PFN_InternetConnectA connect;
    PFN_HttpOpenRequestA openRequest;
    PFN_HttpSendRequestA sendRequest;
    // Without these the download stays a file of our own, outside the cache.
    PFN_CreateUrlCacheEntryA createCacheEntry;
    PFN_CommitUrlCacheEntryA commitCacheEntry;
};

// A try that failed, as the next try sees it: worth another (the line or the
// server may recover by itself), or final (it would fail the same way again,
// or the user or the system said no).
enum DownloadFailure
{
    FAILURE_NONE,
    FAILURE_TRANSIENT,
    FAILURE_PERMANENT
};
// httpStatus 0: no answer came (then error decides); error 0 with a status
// below 400: no failure.
DownloadFailure ClassifyDownloadFailure(DWORD httpStatus, DWORD error);
// The reason of a failed try in a few words for the log ("HTTP 503",
// "connection reset", ...), in buffer (size bytes).
const char* DescribeDownloadFailure(DWORD httpStatus, DWORD error, char* buffer, size_t size);
// The pause before try number retry + 1 (retry 1: the first repeat): the
// first pause, doubled for each further try.
DWORD RetryPauseMs(int retry, DWORD firstPauseMs);

const int DOWNLOAD_VALIDATOR_SIZE = 128;   // bytes of an ETag or a Last-Modified date

// What a partial download left on disk, as its record says.
struct PartialDownload
{
    bool recorded;          // the record exists and belongs to the URL
    DWORD size;             // bytes in the partial file
    DWORD length;           // the length the server announced (0: unknown)
    bool rangesRefused;     // the server said "Accept-Ranges: none"
    char validator[DOWNLOAD_VALIDATOR_SIZE];   // "" when the server gave none
};
// Where the next try asks the server to start: 0 (the whole file) or the
// partial's size, when a request for the rest can be answered with it.
DWORD ResumeOffset(const PartialDownload& partial);

// What the bytes of a response are to the partial file.
enum ResponseUse
{
    RESPONSE_WHOLE,     // the whole file from its first byte: the partial starts over
    RESPONSE_APPEND,    // the rest from where the partial ends
    RESPONSE_DISCARD,   // a range that does not fit, or none to give: the partial is dropped and the file asked for afresh
    RESPONSE_ERROR      // the server's error: nothing to write
};
// askedFrom: the offset asked for (0: no range); rangeFrom and rangeTotal:
// the answer's Content-Range (for 206); recordedLength: the partial's
// announced length (0 unknown).
ResponseUse DecideResponse(DWORD status, DWORD askedFrom, DWORD rangeFrom, DWORD rangeTotal, DWORD recordedLength);

struct DownloadTry;

class CDownloadManager
{
public:
    // The window is shown this manager's transfer record for as long as the
    // manager lives.
    CDownloadManager(CMainUI* ui, CResource* resMgr);
    virtual ~CDownloadManager();

    // The progress and the user's Cancel of the running download or copy.
    TransferState& Transfer() { return m_transfer; }

    // The base of every source name: a folder or an Internet address. Stored
    // with its own separator at the end. Null or empty is ignored.
    void SetBaseUrl(const char* base);
    const char* GetBaseUrl() const;   // "" when none was set

    void SetUseWorkerThread(bool use) { m_useWorkerThread = use; }
    bool GetUseWorkerThread() const { return m_useWorkerThread; }
    // How long a download, with the worker or without, may receive nothing
    // before it is given up as failed (0: never).
    void SetStallLimit(DWORD milliseconds) { m_stallLimitMs = milliseconds; }
    // How often a transient failure is tried again, and the first pause.
    void SetRetries(int retries, DWORD firstPauseMs)
    {
        m_retries = retries;
        m_firstPauseMs = firstPauseMs;
    }
    bool IsConnected() const { return m_connected; }

    // Makes sure an Internet connection exists (dialling if the system does
    // so); the answer is kept for the rest of the run once it is yes.
    bool EnsureConnected();
    // Hangs up a connection that this program may have dialled.
    bool HangUp();

    // The source name (relative to the base, or absolute) as a readable local
    // file in localPath (DOWNLOAD_PATH_SIZE bytes). Shows no message; code is
    // a Windows error code, meaningful when the result is false.
    bool ObtainFile(const char* sourceName, char* localPath, DWORD& code);

    // Replaces the Internet entry points instead of loading the libraries
    // (any of them may be null): how the tests play an offline system, a
    // dial-up line or an old system without some of the functions.
    void UseInternetFunctions(const InternetFunctions& functions);

    // The download worker: one try of an Internet download on a thread of its own.
    bool StartDownloadWorker();
    void StopDownloadWorker();

private:
    CDownloadManager(const CDownloadManager&);
    CDownloadManager& operator=(const CDownloadManager&);

    bool LoadInternetLibraries();
    bool InternetLibrariesLoaded() const;
    void DeleteCacheEntry(const char* url);
    static DWORD WINAPI DownloadWorker(void* manager);

    bool OpenSession();
    bool ResolveSourceName(const char* sourceName, char* given, char* resolved);
    bool ObtainLocalFile(const char* given, const char* resolved, char* localPath);
    bool CanonicalUrl(const char* resolved, char* url, DWORD& code);
    void ShowDownload(const char* given);
    bool DownloadWithRetries(DownloadTry& attempt);
    bool RunTry(DownloadTry& attempt);
    void TransferOnce(DownloadTry& attempt);
    bool PauseBeforeRetry(DWORD milliseconds);
    bool FinishDownload(DownloadTry& attempt, char* localPath, DWORD& code);
    bool PlaceDownloaded(DownloadTry& attempt, char* cachePath);

    bool m_useWorkerThread;
    DWORD m_stallLimitMs;
    volatile HRESULT m_workerResult;
    volatile bool m_workerBusy;
    DWORD m_workerThreadId;
    HANDLE m_workerThread;
    DownloadTry* m_workerTry;   // the try the worker makes (the caller's, for the call)
    int m_retries;
    DWORD m_firstPauseMs;
    HINTERNET m_session;
    bool m_connected;
    bool m_needHangUp;
    CMainUI* m_ui;
    TransferState m_transfer;
    CResource* m_resMgr;
    char* m_baseUrl;
    bool m_mayLoad;
    InternetFunctions m_fn;
    HMODULE m_hWininet;
    bool m_functionsGiven;   // UseInternetFunctions replaced the libraries
};

// The operation that every other part of the program uses: 0 and the local
// path of the file (DOWNLOAD_PATH_SIZE bytes), or a Windows error code after
// the user has been told what went wrong (no message for 160 and 1223).
DWORD ObtainSourceFile(const char* sourceName, char* localPath);

// Where a download's bytes wait until they are whole: the partial file and
// its record (DOWNLOAD_PATH_SIZE bytes each) of the canonical URL, in a
// folder of our own; false when the names do not fit.
bool PartialDownloadPaths(const char* url, char* partialPath, char* recordPath);

// The product package's source name for a language, in folder (SYS_LN_DIR;
// null or empty: none), in lower case as the installer is given it; false
// (and name empty) when it does not fit in size bytes.
bool SystemPackageName(const char* folder, const char* language, char* name, size_t size);

// Where the Windows Installer finds the product package of the current
// language (a local path or a URL; not downloaded). resolved and copy (if
// given) hold DOWNLOAD_PATH_SIZE bytes. True when code is 0.
bool ResolveSystemPackage(DWORD& code, char* resolved, char* copy);
