// Turns the source name of a file of the distribution into a local file that
// can be opened: the file itself for a folder base, or a copy downloaded into
// the Internet cache for an Internet base (with progress and Cancel in the
// progress window). The Internet libraries are loaded only when first needed,
// so that a run from a local source works where they are missing or broken.
#pragma once

#include <windows.h>
#include <urlmon.h>

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
// degrades its feature instead of failing the run.
typedef BOOL(WINAPI* PFN_DeleteUrlCacheEntryA)(LPCSTR url);
typedef BOOL(WINAPI* PFN_InternetAutodialHangup)(DWORD reserved);
typedef BOOL(WINAPI* PFN_InternetCanonicalizeUrlA)(LPCSTR url, LPSTR buffer, LPDWORD length,
                                                   DWORD flags);
typedef BOOL(WINAPI* PFN_InternetGetConnectedState)(LPDWORD flags, DWORD reserved);
typedef DWORD(WINAPI* PFN_InternetAttemptConnect)(DWORD reserved);
typedef HRESULT(WINAPI* PFN_URLDownloadToCacheFileA)(IUnknown* caller, LPCSTR url, LPSTR fileName,
                                                      DWORD size, DWORD reserved,
                                                      IBindStatusCallback* callback);

struct InternetFunctions
{
    PFN_DeleteUrlCacheEntryA deleteUrlCacheEntry;
    PFN_InternetAutodialHangup autodialHangup;
    PFN_InternetCanonicalizeUrlA canonicalizeUrl;
    PFN_InternetGetConnectedState getConnectedState;
    PFN_InternetAttemptConnect attemptConnect;
    PFN_URLDownloadToCacheFileA downloadToCacheFile;
};

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

    // The download worker: one Internet download on a thread of its own.
    bool StartDownloadWorker();
    void StopDownloadWorker();

private:
    CDownloadManager(const CDownloadManager&);
    CDownloadManager& operator=(const CDownloadManager&);

    bool LoadInternetLibraries();
    bool InternetLibrariesLoaded() const;
    void DeleteCacheEntry(const char* url);
    static DWORD WINAPI DownloadWorker(void* manager);

    bool m_useWorkerThread;
    DWORD m_stallLimitMs;
    volatile HRESULT m_workerResult;
    volatile bool m_workerBusy;
    DWORD m_workerThreadId;
    HANDLE m_workerThread;
    const char* m_workerUrl;
    char* m_workerCachePath;
    DownloadActivity* m_workerActivity;   // what the worker's download reports to the watch
    volatile DWORD m_workerLastError;   // the worker thread's last error after the call
    volatile DWORD m_workerHttpStatus;  // the server's last HTTP status in the worker's download (0: none)
    bool m_connected;
    bool m_needHangUp;
    CMainUI* m_ui;
    TransferState m_transfer;
    CResource* m_resMgr;
    char* m_baseUrl;
    bool m_mayLoad;
    InternetFunctions m_fn;
    HMODULE m_hWininet;
    HMODULE m_hUrlmon;
    bool m_functionsGiven;   // UseInternetFunctions replaced the libraries
};

// The operation that every other part of the program uses: 0 and the local
// path of the file (DOWNLOAD_PATH_SIZE bytes), or a Windows error code after
// the user has been told what went wrong (no message for 160 and 1223).
DWORD ObtainSourceFile(const char* sourceName, char* localPath);

// Where the Windows Installer finds the product package of the current
// language (a local path or a URL; not downloaded). resolved and copy (if
// given) hold DOWNLOAD_PATH_SIZE bytes. True when code is 0.
bool ResolveSystemPackage(DWORD& code, char* resolved, char* copy);
