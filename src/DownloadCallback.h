// The progress callback of an Internet download: moves progress bar 0 of the
// progress window, records the progress in the transfer's record and turns
// the user's Cancel there into an abort of the download. The download's
// reading loop reports to it in the download library's status codes, the
// ones the window has always followed.
#pragma once

#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

class CMainUI;
class TransferState;

// Range of bar 0 while a download runs: fine enough for a smooth bar, and
// within the 16 bits that the progress bar's range message carries.
const UINT DOWNLOAD_PROGRESS_RANGE = 10000;

// The bar follows a download in steps of at least this many positions (half
// a per cent), at most every DOWNLOAD_REDRAW_MS: each step is a message to
// the window's thread and a paint of the bar, and the data of a fast
// download arrives in far smaller pieces and far more often.
const UINT DOWNLOAD_PROGRESS_STEP = DOWNLOAD_PROGRESS_RANGE / 200;
const DWORD DOWNLOAD_REDRAW_MS = 50;

// Our own interface identifier, answered by QueryInterface beside IUnknown.
// {3C7E91D2-5A08-4B6F-9E13-D74A2F60B851}
extern const IID IID_FernwickDownloadCallback;

// The bar position of a download: progress / maximum scaled to
// DOWNLOAD_PROGRESS_RANGE; 0 while nothing came or when the maximum is unknown (0).
UINT ScaleDownloadProgress(ULONG progress, ULONG progressMax);

// What one download tells a watching thread while it runs: that anything at
// all arrived (the answer's headers as much as each block of data), and the
// open request through which the download can be ended from outside when
// nothing arrives any more (closing it ends a read that waits). The count is
// a single word, the request is kept under a lock.
class DownloadActivity
{
public:
    typedef BOOL(WINAPI* CloseRequest)(HINTERNET request);
    DownloadActivity();
    ~DownloadActivity();
    void Touch() { InterlockedIncrement(&m_count); }
    LONG Count() const { return m_count; }
    // The request of the running try and how it is closed (null: none).
    void SetRequest(HINTERNET request, CloseRequest close);
    // The request back, for its owner to close: null when Abort closed it.
    HINTERNET TakeRequest();
    // Closes the request; false when there is none to close.
    bool Abort();

private:
    DownloadActivity(const DownloadActivity&);
    DownloadActivity& operator=(const DownloadActivity&);
    volatile LONG m_count;
    CRITICAL_SECTION m_lock;
    HINTERNET m_request;
    CloseRequest m_close;
};

// The object lives for one download call, normally as a local object of the
// downloading code: its creator holds the first reference for the whole call
// and never releases it, so Release by the download code cannot free it.
// Release at zero deletes, which is only right for an object made with new.
// The interface table is IBindStatusCallback's, slot for slot. The object also
// answers IHttpNegotiate, to learn the server's status (the reading loop
// reports it through OnResponse): an error page (404 and the like) must not
// be taken for the file; and IHttpSecurity, through which a certificate
// problem of an https:// server is refused and logged, never put to anyone
// as a question (nor offered a window to ask in).
class CDownloadBindStatusCallback final : public IBindStatusCallback, public IHttpNegotiate, public IHttpSecurity
{
public:
    // transfer (may be null) takes the progress and holds the user's Cancel;
    // activity (may be null) learns of every report of the download.
    CDownloadBindStatusCallback(CMainUI* ui, TransferState* transfer, DownloadActivity* activity = NULL);
    ~CDownloadBindStatusCallback() {}

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IBindStatusCallback
    STDMETHODIMP OnStartBinding(DWORD dwReserved, IBinding* pib) override;
    STDMETHODIMP GetPriority(LONG* pnPriority) override;
    STDMETHODIMP OnLowResource(DWORD reserved) override;
    STDMETHODIMP OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                            LPCWSTR szStatusText) override;
    STDMETHODIMP OnStopBinding(HRESULT hresult, LPCWSTR szError) override;
    STDMETHODIMP GetBindInfo(DWORD* grfBINDF, BINDINFO* pbindinfo) override;
    STDMETHODIMP OnDataAvailable(DWORD grfBSCF, DWORD dwSize, FORMATETC* pformatetc,
                                 STGMEDIUM* pstgmed) override;
    STDMETHODIMP OnObjectAvailable(REFIID riid, IUnknown* punk) override;

    // IHttpNegotiate
    STDMETHODIMP BeginningTransaction(LPCWSTR szURL, LPCWSTR szHeaders, DWORD dwReserved,
                                      LPWSTR* pszAdditionalHeaders) override;
    STDMETHODIMP OnResponse(DWORD dwResponseCode, LPCWSTR szResponseHeaders,
                            LPCWSTR szRequestHeaders, LPWSTR* pszAdditionalRequestHeaders) override;

    // IWindowForBindingUI, IHttpSecurity
    STDMETHODIMP GetWindow(REFGUID rguidReason, HWND* phwnd) override;
    STDMETHODIMP OnSecurityProblem(DWORD dwProblem) override;

    // The last HTTP status the server answered; 0 when none came (a file
    // source, or no response at all).
    DWORD HttpStatus() const { return m_httpStatus; }

private:
    CMainUI* m_ui;
    TransferState* m_transfer;
    DownloadActivity* m_activity;
    UINT m_shownPosition;   // where the bar was last set; NO_POSITION before the first data
    DWORD m_shownAt;        // when it was set (GetTickCount)
    volatile LONG m_refCount;
    volatile DWORD m_httpStatus;
};
