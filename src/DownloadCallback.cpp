#include "DownloadCallback.h"

#include "CMainUI.h"
#include "Log.h"
#include "Transfer.h"
#include "resource.h"

// {3C7E91D2-5A08-4B6F-9E13-D74A2F60B851}
const IID IID_FernwickDownloadCallback = {
    0x3c7e91d2, 0x5a08, 0x4b6f, {0x9e, 0x13, 0xd7, 0x4a, 0x2f, 0x60, 0xb8, 0x51}};

UINT ScaleDownloadProgress(ULONG progress, ULONG progressMax)
{
    if (progress == 0)
        return 0;
    // An unknown total (0) divides to infinity, whose conversion is undefined:
    // the bar simply stays at 0 then.
    if (progressMax == 0)
        return 0;
    double scaled = (double)progress / (double)progressMax * (double)DOWNLOAD_PROGRESS_RANGE;
    return (UINT)(unsigned long long)(long long)scaled;
}

static const UINT NO_POSITION = (UINT)-1;

DownloadActivity::DownloadActivity() : m_count(0), m_request(NULL), m_close(NULL)
{
    InitializeCriticalSection(&m_lock);
}

DownloadActivity::~DownloadActivity()
{
    DeleteCriticalSection(&m_lock);
}

void DownloadActivity::SetRequest(HINTERNET request, CloseRequest close)
{
    EnterCriticalSection(&m_lock);
    m_request = request;
    m_close = close;
    LeaveCriticalSection(&m_lock);
}

HINTERNET DownloadActivity::TakeRequest()
{
    EnterCriticalSection(&m_lock);
    HINTERNET request = m_request;
    m_request = NULL;
    LeaveCriticalSection(&m_lock);
    return request;
}

bool DownloadActivity::Abort()
{
    // Closed under the lock: the owner cannot take the request back and
    // close it a second time meanwhile.
    EnterCriticalSection(&m_lock);
    HINTERNET request = m_request;
    m_request = NULL;
    bool closed = request != NULL && m_close != NULL && m_close(request);
    LeaveCriticalSection(&m_lock);
    return closed;
}

CDownloadBindStatusCallback::CDownloadBindStatusCallback(CMainUI* ui, TransferState* transfer,
                                                         DownloadActivity* activity)
    : m_ui(ui), m_transfer(transfer), m_activity(activity), m_shownPosition(NO_POSITION), m_shownAt(0), m_refCount(1), m_httpStatus(0)
{
}

STDMETHODIMP CDownloadBindStatusCallback::QueryInterface(REFIID riid, void** ppvObject)
{
    if (ppvObject == NULL)
        return E_POINTER;
    // IBindStatusCallback itself is not answered: the download call is handed
    // the object as that interface directly.
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_FernwickDownloadCallback))
    {
        *ppvObject = static_cast<IBindStatusCallback*>(this);
        AddRef();
        return S_OK;
    }
    if (IsEqualIID(riid, IID_IHttpNegotiate))
    {
        *ppvObject = static_cast<IHttpNegotiate*>(this);
        AddRef();
        return S_OK;
    }
    if (IsEqualIID(riid, IID_IHttpSecurity) || IsEqualIID(riid, IID_IWindowForBindingUI))
    {
        *ppvObject = static_cast<IHttpSecurity*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObject = NULL;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CDownloadBindStatusCallback::AddRef()
{
    return (ULONG)InterlockedIncrement(&m_refCount);
}

STDMETHODIMP_(ULONG) CDownloadBindStatusCallback::Release()
{
    LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0)
    {
        delete this;
        return 0;
    }
    return (ULONG)count;
}

STDMETHODIMP CDownloadBindStatusCallback::OnStartBinding(DWORD, IBinding*)
{
    if (m_activity != NULL)
        m_activity->Touch();
    return S_OK;
}

STDMETHODIMP CDownloadBindStatusCallback::GetPriority(LONG*)
{
    return E_NOTIMPL;
}

STDMETHODIMP CDownloadBindStatusCallback::OnLowResource(DWORD)
{
    return S_OK;
}

STDMETHODIMP CDownloadBindStatusCallback::OnProgress(ULONG ulProgress, ULONG ulProgressMax,
                                                     ULONG ulStatusCode, LPCWSTR)
{
    // Whatever the library reports, something arrived: the download lives.
    if (m_activity != NULL)
        m_activity->Touch();
    // Only the data phases move the bar and can be cancelled; connecting,
    // redirecting and the like are let through untouched.
    if (ulStatusCode != BINDSTATUS_BEGINDOWNLOADDATA && ulStatusCode != BINDSTATUS_DOWNLOADINGDATA &&
        ulStatusCode != BINDSTATUS_ENDDOWNLOADDATA)
        return S_OK;
    if (m_ui == NULL)
        return S_OK;

    if (ulStatusCode == BINDSTATUS_BEGINDOWNLOADDATA)
    {
        m_ui->SetProgressRange(0, DOWNLOAD_PROGRESS_RANGE);
        m_shownPosition = NO_POSITION;
    }
    const UINT position = ScaleDownloadProgress(ulProgress, ulProgressMax);
    const DWORD now = GetTickCount();
    if (m_shownPosition == NO_POSITION || position < m_shownPosition ||
        (position - m_shownPosition >= DOWNLOAD_PROGRESS_STEP && now - m_shownAt >= DOWNLOAD_REDRAW_MS) ||
        ulStatusCode == BINDSTATUS_ENDDOWNLOADDATA)
    {
        m_ui->SetProgressPos(0, position);
        m_shownPosition = position;
        m_shownAt = now;
        // Each redraw also handles the window's messages (a click on Cancel),
        // however soon after the bar's last move.
        m_ui->PumpMessages();
    }
    if (m_transfer != NULL)
        m_transfer->SetProgress(ulProgress, ulProgressMax);
    if (ulStatusCode == BINDSTATUS_ENDDOWNLOADDATA)
    {
        HWND window = m_ui->GetWindow();
        if (window != NULL)
        {
            ShowWindow(GetDlgItem(window, IDC_BAR0), SW_HIDE);
            // Straight to the control, not through SetItemText: on the 9x
            // family that converts through the one shared W2A buffer, which
            // the main thread may be using while this runs on the worker.
            // An empty text reads the same in either character set.
            SetDlgItemTextA(window, IDC_INFO_TEXT, "");
        }
    }
    return (m_transfer != NULL && m_transfer->CancelRequested()) ? E_ABORT : S_OK;
}

STDMETHODIMP CDownloadBindStatusCallback::OnStopBinding(HRESULT, LPCWSTR)
{
    return S_OK;
}

STDMETHODIMP CDownloadBindStatusCallback::GetBindInfo(DWORD*, BINDINFO*)
{
    return S_OK;
}

STDMETHODIMP CDownloadBindStatusCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*)
{
    if (m_activity != NULL)
        m_activity->Touch();
    return S_OK;
}

STDMETHODIMP CDownloadBindStatusCallback::OnObjectAvailable(REFIID, IUnknown*)
{
    return S_OK;
}

STDMETHODIMP CDownloadBindStatusCallback::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                               LPWSTR* pszAdditionalHeaders)
{
    if (pszAdditionalHeaders != NULL)
        *pszAdditionalHeaders = NULL;
    return S_OK;
}

STDMETHODIMP CDownloadBindStatusCallback::OnResponse(DWORD dwResponseCode, LPCWSTR, LPCWSTR,
                                                     LPWSTR* pszAdditionalRequestHeaders)
{
    if (pszAdditionalRequestHeaders != NULL)
        *pszAdditionalRequestHeaders = NULL;
    m_httpStatus = dwResponseCode;
    if (m_activity != NULL)
        m_activity->Touch();
    return S_OK;
}

// No window: nothing about this download may be put to the user as a question.
STDMETHODIMP CDownloadBindStatusCallback::GetWindow(REFGUID, HWND* phwnd)
{
    if (phwnd == NULL)
        return E_INVALIDARG;
    *phwnd = NULL;
    return S_FALSE;
}

// An https:// server whose certificate the system does not trust (or that
// names another host, has expired or was revoked) is not the distribution's
// server: the download is refused and fails like any other.
STDMETHODIMP CDownloadBindStatusCallback::OnSecurityProblem(DWORD dwProblem)
{
    LogMessage(2, LOG_ERROR, "The server's certificate is not accepted (problem %lu): the download is refused.\n",
               (unsigned long)dwProblem);
    return E_ABORT;
}
