#include "Dialogs.h"

#include <string.h>

#include <string>

#include "AppObjects.h"
#include "CMainUI.h"
#include "CResource.h"
#include "CodeTables.h"
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

static const int CONSOLE_FONT_HEIGHT = -15;
static const COLORREF CONSOLE_TEXT_COLOUR = RGB(0, 0xFF, 0);
static const int CHOICE_MARGIN = 36;
static const int CHOICE_GAP = 4;
static const int CHOICE_LINE_FALLBACK = 24;
static const int WESTERN_CHARSET_MARK = 1;
static const int BUSY_STOP_TRIES = 200;
static const DWORD BUSY_STOP_WAIT_MS = 10;

// ---------------------------------------------------------------------------
// Log window
// ---------------------------------------------------------------------------

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

void ShowLogWindow(HINSTANCE instance, HWND parent, const wchar_t* title, const wchar_t* text)
{
    HWND window = GetLogWindow();
    if (window == NULL)
    {
        if (instance == NULL)
            return;
        if (s_waitCursor == NULL)
            s_waitCursor = LoadCursor(NULL, IDC_WAIT);
        window = useWideApi
                     ? CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_LOGWINDOW), parent,
                                          LogWindowProc, 0)
                     : CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_LOGWINDOW), parent,
                                          LogWindowProc, 0);
        if (window == NULL)
        {
            LogMessage(2, LOG_WARNING, "The log window could not be created [%lu].\n",
                       GetLastError());
            return;
        }
        s_logWindow = window;
        if (title != NULL)
            SetWindowTextWide(window, title);
        HWND edit = GetDlgItem(window, IDC_LOG_EDIT);
        if (edit != NULL)
            ShowWindow(edit, SW_HIDE);
        if (text != NULL)
            SetDlgItemTextWide(window, IDC_LOG_TEXT, text);
        HWND logo = GetDlgItem(window, IDC_LOG_LOGO);
        if (logo != NULL)
        {
            RECT rect;
            GetWindowRect(logo, &rect);
            s_logoX = LOG_LOGO_START_X;
            s_logoRight = true;
            MoveWindow(logo, s_logoX, LOG_LOGO_Y, rect.right - rect.left, rect.bottom - rect.top,
                       FALSE);
        }
        return;
    }
    if (title != NULL && text != NULL)
    {
        SetWindowTextWide(window, title);
        SetDlgItemTextWide(window, IDC_LOG_TEXT, text);
    }
    else
    {
        ShowWindow(window, SW_SHOW);
    }
}

void SetLogWindowStatus(const wchar_t* text)
{
    HWND window = GetLogWindow();
    if (window != NULL)
        SetDlgItemTextWide(window, IDC_LOG_STATUS, text ? text : L"");
}

void SetLogWindowStatus(const char* text)
{
    HWND window = GetLogWindow();
    if (window != NULL)
        SetDlgItemTextA(window, IDC_LOG_STATUS, text ? text : "");
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

// ---------------------------------------------------------------------------
// Language choices of the progress window
// ---------------------------------------------------------------------------

void CMainUI::SetDefaultLanguage(int languageIndex)
{
    if (m_iDefaultLanguage == -1)
        m_iDefaultLanguage = languageIndex;
    m_fontManager.SetCharSet(LanguageCharSet(languageIndex));
}

void CMainUI::AddLanguageChoice(const wchar_t* caption, int languageIndex, bool checked,
                                bool enabled)
{
    if (caption == NULL || caption[0] == 0 || m_hWnd == NULL || languageIndex < 0 ||
        languageIndex >= LANGUAGE_SLOTS)
        return;
    RECT client;
    GetClientRect(m_hWnd, &client);
    int clientWidth = client.right - client.left;
    int width = (clientWidth - CHOICE_MARGIN) / 2;
    int lineHeight = CHOICE_LINE_FALLBACK;
    HDC dc = GetDC(m_hWnd);
    if (dc != NULL)
    {
        TEXTMETRICA metrics;
        if (GetTextMetricsA(dc, &metrics))
            lineHeight = metrics.tmHeight + metrics.tmInternalLeading;
        ReleaseDC(m_hWnd, dc);
    }

    HWND choice = CreateWindowExA(0, "Button", "Caption",
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
                                  m_iNextChoiceX, m_iNextChoiceY, width, lineHeight, m_hWnd,
                                  (HMENU)(INT_PTR)(IDC_LANGUAGE_FIRST + languageIndex),
                                  m_hInstance, NULL);
    m_iNextChoiceX += width + CHOICE_GAP;
    if (m_iNextChoiceX + width > clientWidth - CHOICE_GAP)
    {
        m_iNextChoiceY += lineHeight;
        m_iNextChoiceX = 16;
    }
    if (choice == NULL)
    {
        LogMessage(2, LOG_WARNING, "Language choice %d not created [%lu].\n", languageIndex,
                   GetLastError());
        return;
    }
    SendMessageA(choice, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageA(choice, WM_SETFONT, SendMessageA(m_hWnd, WM_GETFONT, 0, 0), FALSE);
    EnableWindow(choice, enabled ? TRUE : FALSE);
    BYTE charSet = LanguageCharSet(languageIndex);
    SetWindowLongPtrA(choice, GWLP_USERDATA, charSet != 0 ? charSet : WESTERN_CHARSET_MARK);

    UINT previous = GetConversionCodePage();
    SetConversionCodePage(LanguageCodePage(languageIndex));
    SetWindowTextWide(choice, caption);
    SetConversionCodePage(previous);
    if (m_fontManager.IsEnabled())
        m_fontManager.ApplyFont(choice);
}

bool CMainUI::IsChoiceChecked(int languageIndex) const
{
    if (m_hWnd == NULL)
        return false;
    HWND choice = GetDlgItem(m_hWnd, IDC_LANGUAGE_FIRST + languageIndex);
    return choice != NULL && SendMessageA(choice, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void OnLanguageChoiceClicked(CMainUI* ui, int controlId)
{
    if (ui == NULL || ui->GetWindow() == NULL)
        return;
    int clicked = controlId - IDC_LANGUAGE_FIRST;
    int checkedCount = 0;
    int firstChecked = -1;
    for (int i = 0; i < LANGUAGE_SLOTS; ++i)
    {
        if (!ui->IsChoiceChecked(i))
            continue;
        ++checkedCount;
        if (firstChecked == -1 && !ui->m_bLanguageFixed)
            firstChecked = i;
    }
    HWND proceed = GetDlgItem(ui->GetWindow(), IDC_PROCEED);
    if (proceed != NULL)
        EnableWindow(proceed, checkedCount > 0 ? TRUE : FALSE);
    if (ui->m_bLanguageFixed)
        return;
    if (ui->IsChoiceChecked(clicked))
    {
        SelectLanguage(clicked);
        return;
    }
    int preferred = ui->m_iPreferredLanguage;
    if (preferred >= 0 && preferred < LANGUAGE_SLOTS && ui->IsChoiceChecked(preferred))
        SelectLanguage(preferred);
    else if (firstChecked != -1)
        SelectLanguage(firstChecked);
    else
        SelectLanguage(ui->m_iDefaultLanguage);
}

bool RunLanguageSelection(DWORD& result, bool preselect)
{
    result = 0;
    CMainUI* ui = g_mainUI;
    CResource* settings = g_resource;
    if (ui == NULL || settings == NULL)
        return false;
    if (preselect && RunState.languageCount == 0)
        preselect = false;
    RunState.languageCount = 0;

    int onlyLanguage = -1;
    bool keepUnchecked = preselect && !RunState.targetDir.IsEmpty() && !RunState.multiMode;
    for (unsigned int slot = 0; slot < settings->GetLabelSectionCount(); ++slot)
    {
        int index = LanguageIndex(settings->GetLabelCode(slot));
        if (index < 0 || index >= LANGUAGE_SLOTS)
            continue;
        const wchar_t* label = settings->GetLabelFor(LABEL_SELECT_LANGUAGE, index);
        std::wstring caption = label ? label : L"";
        bool checked;
        if (RunState.languageSelected[index])
        {
            caption += L" *";
            checked = true;
        }
        else
        {
            checked = !keepUnchecked;
        }
        if (label != NULL && label[0] != 0)
            ui->AddLanguageChoice(caption.c_str(), index, checked, !RunState.multiMode);
        ++RunState.languageCount;
        onlyLanguage = index;
    }

    if (RunState.languageCount <= 1)
    {
        if (onlyLanguage >= 0)
            RunState.languageSelected[onlyLanguage] = true;
        return true;
    }

    ui->SetInfoKey(LABEL_LANGUAGE_SELECTION);
    const wchar_t* info = settings->GetLabel(LABEL_LANGUAGE_SELECTION);
    ui->SetItemText(IDC_INFO_TEXT, info ? info : L"");
    ui->ShowForWork(true);
    HWND window = ui->GetWindow();
    HWND proceed = window != NULL ? GetDlgItem(window, IDC_PROCEED) : NULL;
    bool anyChecked = false;
    for (int i = 0; i < LANGUAGE_SLOTS; ++i)
        anyChecked = anyChecked || ui->IsChoiceChecked(i);
    if (proceed != NULL)
        EnableWindow(proceed, anyChecked ? TRUE : FALSE);

    if (RunState.multiMode)
    {
        ui->PumpMessages();
        result = 0;
    }
    else
    {
        ui->WaitForChoice();
        result = ui->GetResult();
    }

    RunState.languageCount = 0;
    for (int i = 0; i < LANGUAGE_SLOTS; ++i)
    {
        if (ui->IsChoiceChecked(i))
        {
            RunState.languageSelected[i] = true;
            ++RunState.languageCount;
            LogMessage(3, LOG_INFO, "Language '%hs' selected.\n", LanguageCode(i));
        }
        else
        {
            RunState.languageSelected[i] = false;
        }
        HWND choice = window != NULL ? GetDlgItem(window, IDC_LANGUAGE_FIRST + i) : NULL;
        if (choice != NULL)
            EnableWindow(choice, FALSE);
    }
    if (window != NULL && IsWindow(window) && (proceed = GetDlgItem(window, IDC_PROCEED)) != NULL)
        EnableWindow(proceed, FALSE);
    return result == 0;
}
