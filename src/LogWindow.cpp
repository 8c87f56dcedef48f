#include "LogWindow.h"

#include <string.h>

#include <string>

#include "Log.h"
#include "RunState.h"
#include "WideAPI.h"
#include "resource.h"

HANDLE busyThread = NULL;

static HWND s_logWindow = NULL;
static volatile bool s_animating = false;
static UINT_PTR s_timer = 0;
static DWORD s_busyThreadId = 0;
static int s_logoX = LOG_LOGO_START_X;
static bool s_logoRight = true;
static HCURSOR s_waitCursor = NULL;
static HFONT s_consoleFont = NULL;

// The log window is made when it is first shown (most runs never show it, and
// making a dialog costs the first window several milliseconds): until then
// what it is to show waits here.
static struct
{
    HINSTANCE instance;
    HWND parent;
    bool titled, texted, statusSet;
    std::wstring title, text, status;
} s_prepared = { NULL, NULL, false, false, false, L"", L"", L"" };

static const int CONSOLE_FONT_HEIGHT = -15;
static const COLORREF CONSOLE_TEXT_COLOUR = RGB(0, 0xFF, 0);
static const int BUSY_STOP_TRIES = 200;
static const DWORD BUSY_STOP_WAIT_MS = 10;

static void MoveLogo(HWND window)
{
    HWND logo = GetDlgItem(window, IDC_LOG_LOGO);
    if (logo == NULL)
        return;
    RECT logoRect, client;
    GetWindowRect(logo, &logoRect);
    GetClientRect(window, &client);
    int width = logoRect.right - logoRect.left;
    int height = logoRect.bottom - logoRect.top;
    if (s_logoRight)
    {
        s_logoX += LOG_LOGO_STEP;
        if (s_logoX + width > client.right)
        {
            s_logoX = client.right - width - 4;
            s_logoRight = false;
        }
    }
    else
    {
        s_logoX -= LOG_LOGO_STEP;
        if (s_logoX < 5)
        {
            s_logoX = 4;
            s_logoRight = true;
        }
    }
    MoveWindow(logo, s_logoX, LOG_LOGO_Y, width, height, TRUE);
}

static INT_PTR CALLBACK LogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND console = GetDlgItem(window, IDC_LOG_CONSOLE);
    switch (message)
    {
    case WM_INITDIALOG:
        if (s_consoleFont == NULL)
            s_consoleFont = CreateFontA(CONSOLE_FONT_HEIGHT, 0, 0, 0, FW_NORMAL, 0, 0, 0,
                                        DEFAULT_CHARSET, 0, 0, 0, FIXED_PITCH, "Courier New");
        if (console != NULL && s_consoleFont != NULL)
            SendMessageA(console, WM_SETFONT, (WPARAM)s_consoleFont, FALSE);
        return TRUE;
    case WM_SIZE:
        if (console != NULL)
            MoveWindow(console, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return TRUE;
    case WM_SETFOCUS:
        if (console != NULL)
            SetFocus(console);
        return TRUE;
    case WM_SETCURSOR:
        SetCursor(s_waitCursor);
        if (console != NULL)
            SetFocus(console);
        SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_TIMER:
        if (wParam == LOG_WINDOW_TIMER_ID)
            MoveLogo(window);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
        {
            // Escape only puts the window away: it lives until the program ends.
            ShowWindow(window, SW_HIDE);
            return TRUE;
        }
        return FALSE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
        if (console != NULL && (HWND)lParam == console)
        {
            SetTextColor((HDC)wParam, CONSOLE_TEXT_COLOUR);
            SetBkColor((HDC)wParam, RGB(0, 0, 0));
            return (INT_PTR)GetStockObject(BLACK_BRUSH);
        }
        return FALSE;
    case WM_NCDESTROY:
        if (s_logWindow == window)
            s_logWindow = NULL;
        return FALSE;
    default:
        return FALSE;
    }
}

HWND GetLogWindow()
{
    return (s_logWindow != NULL && IsWindow(s_logWindow)) ? s_logWindow : NULL;
}

// Makes the prepared window (hidden), with what it was given.
static HWND MakeLogWindow()
{
    if (s_waitCursor == NULL)
        s_waitCursor = LoadCursor(NULL, IDC_WAIT);
    HWND window = useWideApi ? CreateDialogParamW(s_prepared.instance, MAKEINTRESOURCEW(IDD_LOGWINDOW),
                                                  s_prepared.parent, LogWindowProc, 0)
                             : CreateDialogParamA(s_prepared.instance, MAKEINTRESOURCEA(IDD_LOGWINDOW),
                                                  s_prepared.parent, LogWindowProc, 0);
    if (window == NULL)
    {
        LogMessage(2, LOG_WARNING, "The log window could not be created [%lu].\n", GetLastError());
        return NULL;
    }
    s_logWindow = window;
    s_prepared.instance = NULL;
    if (s_prepared.titled)
        SetWindowTextWide(window, s_prepared.title.c_str());
    HWND edit = GetDlgItem(window, IDC_LOG_EDIT);
    if (edit != NULL)
        ShowWindow(edit, SW_HIDE);
    if (s_prepared.texted)
        SetDlgItemTextWide(window, IDC_LOG_TEXT, s_prepared.text.c_str());
    if (s_prepared.statusSet)
        SetDlgItemTextWide(window, IDC_LOG_STATUS, s_prepared.status.c_str());
    HWND logo = GetDlgItem(window, IDC_LOG_LOGO);
    if (logo != NULL)
    {
        RECT rect;
        GetWindowRect(logo, &rect);
        s_logoX = LOG_LOGO_START_X;
        s_logoRight = true;
        MoveWindow(logo, s_logoX, LOG_LOGO_Y, rect.right - rect.left, rect.bottom - rect.top, FALSE);
    }
    return window;
}

void ShowLogWindow(HINSTANCE instance, HWND parent, const wchar_t* title, const wchar_t* text)
{
    HWND window = GetLogWindow();
    if (window == NULL && instance != NULL && s_prepared.instance == NULL)
    {
        s_prepared.instance = instance;
        s_prepared.parent = parent;
        s_prepared.titled = title != NULL;
        s_prepared.title = title != NULL ? title : L"";
        s_prepared.texted = text != NULL;
        s_prepared.text = text != NULL ? text : L"";
        return;
    }
    if (title != NULL && text != NULL)
    {
        if (window != NULL)
        {
            SetWindowTextWide(window, title);
            SetDlgItemTextWide(window, IDC_LOG_TEXT, text);
        }
        else
        {
            s_prepared.titled = s_prepared.texted = true;
            s_prepared.title = title;
            s_prepared.text = text;
        }
        return;
    }
    // A quiet run shows no window, makes none either.
    if (RunState.quiet)
        return;
    if (window == NULL && s_prepared.instance != NULL)
        window = MakeLogWindow();
    if (window != NULL)
        ShowWindow(window, SW_SHOW);
}

void SetLogWindowStatus(const wchar_t* text)
{
    HWND window = GetLogWindow();
    if (window != NULL)
    {
        SetDlgItemTextWide(window, IDC_LOG_STATUS, text ? text : L"");
        return;
    }
    s_prepared.statusSet = true;
    s_prepared.status = text ? text : L"";
}

void SetLogWindowStatus(const char* text)
{
    HWND window = GetLogWindow();
    if (window != NULL)
    {
        SetDlgItemTextA(window, IDC_LOG_STATUS, text ? text : "");
        return;
    }
    wchar_t wide[MAX_PATH] = L"";
    if (text != NULL && MultiByteToWideChar(CP_ACP, 0, text, -1, wide, MAX_PATH) == 0)
        wide[0] = 0;
    SetLogWindowStatus(wide);
}

static DWORD WINAPI BusyThreadMain(void* parameter)
{
    HWND window = (HWND)parameter;
    MSG msg;
    while (s_animating && IsWindow(window) && GetMessageA(&msg, NULL, 0, 0) > 0)
    {
        if (IsWindow(window) && IsDialogMessageA(window, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

// The handle of a finished busy thread is closed before a new one starts.
static void ReleaseBusyThread()
{
    if (busyThread == NULL)
        return;
    if (WaitForSingleObject(busyThread, 0) == WAIT_OBJECT_0)
    {
        CloseHandle(busyThread);
        busyThread = NULL;
        s_busyThreadId = 0;
    }
}

void StartLogWindowAnimation()
{
    HWND window = GetLogWindow();
    if (window == NULL || s_animating)
        return;
    ReleaseBusyThread();
    s_animating = true;
    busyThread = CreateThread(NULL, 0, BusyThreadMain, window, 0, &s_busyThreadId);
    s_timer = SetTimer(window, LOG_WINDOW_TIMER_ID, LOG_WINDOW_TIMER_MS, NULL);
}

void StopLogWindowAnimation()
{
    s_animating = false;
    HWND window = GetLogWindow();
    if (s_timer != 0)
    {
        if (window != NULL)
            KillTimer(window, LOG_WINDOW_TIMER_ID);
        s_timer = 0;
    }
    // The busy thread sleeps in its message wait: wake it so that it sees the
    // cleared flag and ends, instead of lingering for the rest of the run. A
    // thread that has not reached its wait yet has no queue to post to: post
    // again until it ends.
    if (busyThread != NULL && s_busyThreadId != 0)
    {
        for (int i = 0; i < BUSY_STOP_TRIES && WaitForSingleObject(busyThread, BUSY_STOP_WAIT_MS) ==
                                                   WAIT_TIMEOUT; ++i)
            PostThreadMessageA(s_busyThreadId, WM_NULL, 0, 0);
        ReleaseBusyThread();
    }
    if (window != NULL)
        ShowWindow(window, SW_HIDE);
}

void AppendLogWindowText(char* text)
{
    if (text == NULL || text[0] == 0)
        return;
    size_t length = strlen(text);
    bool lineEnd = text[length - 1] == '\n';
    if (lineEnd)
        text[length - 1] = '\r';
    HWND window = GetLogWindow();
    HWND console = window != NULL ? GetDlgItem(window, IDC_LOG_CONSOLE) : NULL;
    if (console == NULL)
        return;
    int end = GetWindowTextLengthA(console);
    SendMessageA(console, EM_SETSEL, end, end);
    SendMessageA(console, EM_REPLACESEL, FALSE, (LPARAM)text);
    if (lineEnd)
    {
        end = GetWindowTextLengthA(console);
        SendMessageA(console, EM_SETSEL, end, end);
        SendMessageA(console, EM_REPLACESEL, FALSE, (LPARAM) "\n");
    }
}

int LogLogoX()
{
    return s_logoX;
}

bool LogLogoMovesRight()
{
    return s_logoRight;
}
