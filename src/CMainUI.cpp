#include "CMainUI.h"

#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>

#include "AppObjects.h"
#include "Assert.h"
#include "CResource.h"
#include "CodeTables.h"
#include "Log.h"
#include "LogWindow.h"
#include "SystemLibrary.h"
#include "RunState.h"
#include "TextUtil.h"
#include "Transfer.h"
#include "UserMessages.h"
#include "WideAPI.h"
#include "resource.h"

const wchar_t* const MISSING_MESSAGE_TEXT =
    L"?!Missing Information/Error Message.\nPlease contact your supplier.";
const wchar_t* const MISSING_CONFIRM_TEXT =
    L"?!Missing Confirm message.\nPlease contact your supplier.";
const char* const LOGO_FILE_NAME = "Fernwick.bmp";

// The logo file is drawn at this size whatever its own.
static const int LOGO_WIDTH = 159;
static const int LOGO_HEIGHT = 67;
// The first language choice goes here (client pixels).
static const int FIRST_CHOICE_X = 16;
static const int FIRST_CHOICE_Y = 105;
// A progress range travels in the high word of PBM_SETRANGE.
static const UINT MAX_BAR_RANGE = 0xFFFF;
// The bars' moves handle the window's messages (and so draw them) at most
// this often: twenty times a second moves a bar as smoothly as the eye follows.
static const DWORD BAR_PUMP_MS = 50;
// How often a download wait looks at the progress when nothing else wakes it.
static const int HEADING_FONT_HEIGHT = -22;
static const int HEADING_FONT_WEIGHT = FW_BOLD;
static const char* const HEADING_FACE = "Arial";
// Layout of the language choices: two to a line.
static const int CHOICE_MARGIN = 36;
static const int CHOICE_GAP = 4;
static const int CHOICE_LINE_FALLBACK = 24;
// Marks a Western choice, whose character set is 0, as one that has a set.
static const int WESTERN_CHARSET_MARK = 1;

static bool IsMissing(const wchar_t* text)
{
    return text == NULL || text[0] == 0;
}

static bool IsLanguageChoice(int controlId)
{
    return controlId >= IDC_LANGUAGE_FIRST && controlId <= IDC_LANGUAGE_LAST;
}

BYTE LanguageCharSet(int languageIndex)
{
    return LanguageGroupOf(languageIndex).charSet;
}

CMainUI::CMainUI(HINSTANCE instance)
    : m_iNextChoiceX(FIRST_CHOICE_X), m_iNextChoiceY(FIRST_CHOICE_Y),
      m_iDefaultLanguage(-1), m_iPreferredLanguage(-1), m_bLanguageFixed(false),
      m_hInstance(instance), m_hParent(NULL), m_hWnd(NULL), m_hLogo(NULL), m_hHeadingFont(NULL),
      m_dwResult(UI_RESULT_UNDECIDED), m_bCreated(false), m_bInModalWait(false),
      m_pszHeadingKey(NULL), m_pszInfoKey(NULL), m_transfer(NULL), m_busy(false), m_barsPumpedAt(0)
{
    for (UINT i = 0; i < MAX_PROGRESS_BARS; ++i)
    {
        m_hBars[i] = NULL;
        m_uBarMaximum[i] = 0;
    }
    static_assert(CHOICE_SLOTS == IDC_LANGUAGE_LAST - IDC_LANGUAGE_FIRST + 1 && CHOICE_SLOTS == LANGUAGE_SLOTS,
                  "one language choice slot per control id");
    for (HWND& choice : m_hChoices)
        choice = NULL;
    for (bool& checked : m_bChoiceChecked)
        checked = false;
    m_szCaption[0] = 0;
    LoadStringWide(instance, IDS_CAPTION, m_szCaption, CAPTION_SIZE);
}

CMainUI::~CMainUI()
{
    if (m_hWnd != NULL && IsWindow(m_hWnd))
        DestroyWindow(m_hWnd);
    m_hWnd = NULL;
    if (m_hLogo != NULL)
        DeleteObject(m_hLogo);
    if (m_hHeadingFont != NULL)
        DeleteObject(m_hHeadingFont);
}

UINT CMainUI::GetBarMaximum(UINT uiIdx) const
{
    return uiIdx < MAX_PROGRESS_BARS ? m_uBarMaximum[uiIdx] : 0;
}

bool CMainUI::Create(HWND parent)
{
    // The common controls are loaded at run time (an import would be looked
    // for beside the program on systems that do not know the library).
    // InitCommonControlsEx came with comctl32 4.70: the first Windows 95 has
    // only InitCommonControls.
    typedef BOOL(WINAPI * InitControlsExFn)(const INITCOMMONCONTROLSEX*);
    typedef void(WINAPI * InitControlsFn)(void);
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    HMODULE comctl = LoadCommonControls();
    InitControlsExFn initEx =
        comctl != NULL ? (InitControlsExFn)(void*)GetProcAddress(comctl, "InitCommonControlsEx") : NULL;
    InitControlsFn init =
        comctl != NULL ? (InitControlsFn)(void*)GetProcAddress(comctl, "InitCommonControls") : NULL;
    if ((initEx == NULL || !initEx(&controls)) && init != NULL)
        init();
    m_hParent = parent;

    if (m_hWnd == NULL)
    {
        HWND window;
        if (useWideApi)
            window = CreateDialogParamW(m_hInstance, MAKEINTRESOURCEW(IDD_PROGRESS), parent,
                                        DialogProc, (LPARAM)this);
        else
            window = CreateDialogParamA(m_hInstance, MAKEINTRESOURCEA(IDD_PROGRESS), parent,
                                        DialogProc, (LPARAM)this);
        if (window == NULL)
        {
            LogMessage(2, LOG_ERROR, "The progress window could not be created [%lu].\n",
                       GetLastError());
            return false;
        }
        m_hWnd = window;
        SetWindowTextWide(m_hWnd, m_szCaption);
        SetForegroundWindow(m_hWnd);
        m_hBars[0] = GetDlgItem(m_hWnd, IDC_BAR0);
        m_hBars[1] = GetDlgItem(m_hWnd, IDC_BAR1);
        if (m_hBars[0] != NULL)
            ShowWindow(m_hBars[0], SW_HIDE);
        SetProgressRange(1, 100);
        HICON icon = LoadIconA(m_hInstance, MAKEINTRESOURCEA(IDI_FERNWICK));
        if (icon != NULL)
            SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, (LPARAM)icon);
        ApplyFonts();
    }
    PumpMessages();
    m_bCreated = true;
    return true;
}

bool CMainUI::Close(DWORD result)
{
    bool hadWindow = m_hWnd != NULL;
    if (hadWindow && IsWindow(m_hWnd))
        DestroyWindow(m_hWnd);
    m_dwResult = result;
    m_hWnd = NULL;
    m_hInstance = NULL;
    m_hParent = NULL;
    for (UINT i = 0; i < MAX_PROGRESS_BARS; ++i)
        m_hBars[i] = NULL;
    for (HWND& choice : m_hChoices)
        choice = NULL;
    for (bool& checked : m_bChoiceChecked)
        checked = false;
    m_bCreated = false;
    if (m_transfer != NULL)
        m_transfer->ClearCancel();
    m_bInModalWait = false;
    // The logo and the heading font were only lent to the controls.
    if (m_hLogo != NULL)
    {
        DeleteObject(m_hLogo);
        m_hLogo = NULL;
    }
    if (m_hHeadingFont != NULL)
    {
        DeleteObject(m_hHeadingFont);
        m_hHeadingFont = NULL;
    }
    return hadWindow;
}

void CMainUI::SetItemText(int controlId, const wchar_t* text)
{
    if (!m_bCreated || m_hWnd == NULL || !IsWindow(m_hWnd) || text == NULL)
        return;
    if (controlId == IDC_CAPTION)
    {
        size_t length = wcslen(text);
        if (length > 0 && length < (size_t)CAPTION_SIZE)
            memcpy(m_szCaption, text, (length + 1) * sizeof(wchar_t));
        else
            LogMessage(2, LOG_WARNING, "Caption of %u characters not taken.\n", (unsigned)length);
        SetWindowTextWide(m_hWnd, m_szCaption);
        return;
    }
    SetDlgItemTextWide(m_hWnd, controlId, text);
}

int CMainUI::ShowBox(const wchar_t* text, UINT flags)
{
    HWND owner = (m_hWnd != NULL && IsWindow(m_hWnd)) ? m_hWnd : NULL;
    if (useWideApi)
        return MessageBoxW(owner, text, m_szCaption, flags);
    // A2W/W2A share one buffer each: keep the converted caption before the text.
    char caption[CAPTION_SIZE * 2 + 3];
    lstrcpynA(caption, W2A(m_szCaption), sizeof(caption));
    return MessageBoxA(owner, W2A(text), caption, flags);
}

void CMainUI::ShowInfo(const wchar_t* text)
{
    if (IsMissing(text))
    {
        ShowBox(MISSING_MESSAGE_TEXT, MB_OK | MB_ICONWARNING);
        LogMessage(2, LOG_INFO, "<no message text available>\n");
        return;
    }
    LogMessage(2, LOG_INFO, "%ws\n", text);
    ShowBox(text, MB_OK | MB_ICONINFORMATION);
}

void CMainUI::ShowMessage(bool isError, const wchar_t* text)
{
    int kind = isError ? LOG_ERROR : LOG_INFO;
    UINT icon = isError ? MB_ICONSTOP : MB_ICONWARNING;
    if (IsMissing(text))
    {
        ShowBox(MISSING_MESSAGE_TEXT, MB_OK | icon);
        LogMessage(2, kind, "<no message text available>\n");
        return;
    }
    LogMessage(2, kind, "%ws\n", text);
    ShowBox(text, MB_OK | icon);
}

bool CMainUI::Confirm(const wchar_t* text)
{
    if (IsMissing(text))
    {
        ShowBox(MISSING_CONFIRM_TEXT, MB_OK | MB_ICONWARNING);
        LogMessage(2, LOG_INFO, "Confirm <no message text available>\n");
        return false;
    }
    bool yes = ShowBox(text, MB_YESNO | MB_ICONQUESTION) == IDYES;
    LogMessage(2, LOG_INFO, "'%ws' => '%hs'\n", text, yes ? "yes" : "no");
    return yes;
}

void CMainUI::PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
    {
        if (msg.message == WM_QUIT)
        {
            // Not ours to take: the loop that waits for it (a modal wait of the
            // window, or the caller's) must still see it.
            PostQuitMessage((int)msg.wParam);
            break;
        }
        if (m_hWnd != NULL && IsDialogMessageA(m_hWnd, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void CMainUI::Reveal()
{
    // A quiet run has no one at the screen: the window does its work hidden.
    if (m_hWnd != NULL && !RunState.quiet)
        ShowWindow(m_hWnd, SW_SHOW);
}

void CMainUI::ShowForWork(bool allowProceed)
{
    if (m_hWnd == NULL)
        return;
    Reveal();
    HWND proceed = GetDlgItem(m_hWnd, IDC_PROCEED);
    if (proceed != NULL)
        EnableWindow(proceed, allowProceed ? TRUE : FALSE);
    for (HWND choice : m_hChoices)
        if (choice != NULL && IsWindow(choice))
            ShowWindow(choice, allowProceed ? SW_SHOW : SW_HIDE);
}

bool CMainUI::IsBarIndexValid(UINT uiIdx)
{
    FW_ASSERT(uiIdx < MAX_PROGRESS_BARS);
    // A test's assertion handler returns: never index past the two bars.
    return uiIdx < MAX_PROGRESS_BARS;
}

void CMainUI::SetProgressRange(UINT uiIdx, UINT maximum)
{
    if (!IsBarIndexValid(uiIdx))
        return;
    HWND bar = m_hBars[uiIdx];
    if (bar == NULL)
        return;
    m_uBarMaximum[uiIdx] = maximum;
    // The message carries 16 bits: a larger range is held at the top rather
    // than wrapped round to a small number.
    UINT range = maximum > MAX_BAR_RANGE ? MAX_BAR_RANGE : maximum;
    SendToBar(bar, PBM_SETRANGE, 0, MAKELPARAM(0, range));
    SendToBar(bar, PBM_SETPOS, 0, 0);
    if (!IsWindowVisible(bar))
        ShowWindow(bar, SW_SHOW);
    PumpAfterBar();
}

void CMainUI::StepProgress(UINT uiIdx, int delta)
{
    if (!IsBarIndexValid(uiIdx))
        return;
    if (m_hBars[uiIdx] != NULL)
        SendToBar(m_hBars[uiIdx], PBM_DELTAPOS, (WPARAM)delta, 0);
    PumpAfterBar();
}

void CMainUI::SetProgressPos(UINT uiIdx, UINT position)
{
    if (!IsBarIndexValid(uiIdx))
        return;
    if (m_hBars[uiIdx] != NULL)
        SendToBar(m_hBars[uiIdx], PBM_SETPOS, (WPARAM)position, 0);
    PumpAfterBar();
}

// A progress control draws itself within the call that moves it, which costs
// more than copying a small file (a quarter of a millisecond here, a few
// moves a file). A visible bar is moved with its drawing held and drawn with
// the window's next messages; its position is current at once. A move to
// where the bar already is changes nothing and is not made. From another
// thread (a download's worker) each message is a trip to the window's
// thread: the bar is moved by the one message and draws itself.
void CMainUI::SendToBar(HWND bar, UINT message, WPARAM wParam, LPARAM lParam)
{
    if ((message == PBM_SETPOS && (WPARAM)SendMessageA(bar, PBM_GETPOS, 0, 0) == wParam) ||
        (message == PBM_DELTAPOS && wParam == 0) ||
        (message == PBM_SETRANGE && SendMessageA(bar, PBM_GETRANGE, TRUE, 0) == LOWORD(lParam) &&
         SendMessageA(bar, PBM_GETRANGE, FALSE, 0) == HIWORD(lParam)))
        return;
    if (!IsWindowVisible(bar) || GetWindowThreadProcessId(bar, NULL) != GetCurrentThreadId())
    {
        SendMessageA(bar, message, wParam, lParam);
        return;
    }
    SendMessageA(bar, WM_SETREDRAW, FALSE, 0);
    SendMessageA(bar, message, wParam, lParam);
    SendMessageA(bar, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(bar, NULL, TRUE);
}

void CMainUI::PumpAfterBar()
{
    const DWORD now = GetTickCount();
    if (m_barsPumpedAt != 0 && now - m_barsPumpedAt < BAR_PUMP_MS)
        return;
    m_barsPumpedAt = now;
    PumpMessages();
}

void CMainUI::WaitForDownload(HANDLE worker)
{
    // A download that stands still is ended by the download's own watch,
    // which posts WM_DOWNLOAD_DONE: this wait needs no clock of its own.
    Reveal();
    TransferState none;
    const TransferState& transfer = m_transfer != NULL ? *m_transfer : none;
    HANDLE* handles = worker != NULL ? &worker : NULL;
    DWORD count = worker != NULL ? 1 : 0;
    while (!transfer.CancelRequested() && (m_hWnd == NULL || IsWindow(m_hWnd)))
    {
        if (m_hWnd == NULL && worker == NULL)
            return;   // nothing that could ever end the wait
        DWORD woke = MsgWaitForMultipleObjects(count, handles, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_FAILED || (count == 1 && woke == WAIT_OBJECT_0))
            return;   // the worker ended, or the handle is unusable
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        {
            if (msg.message == WM_QUIT)
            {
                if (m_hWnd == NULL)
                    PostQuitMessage((int)msg.wParam);
                return;
            }
            if (msg.message == WM_DOWNLOAD_DONE)
                return;
            if (m_hWnd != NULL && IsDialogMessageA(m_hWnd, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

void CMainUI::WaitForChoice()
{
    if (m_hWnd == NULL)
        return;
    Reveal();
    m_bInModalWait = true;
    MSG msg;
    while (m_bInModalWait && IsWindow(m_hWnd))
    {
        BOOL got = GetMessageA(&msg, NULL, 0, 0);
        if (got == 0)
        {
            m_dwResult = (DWORD)msg.wParam;
            break;
        }
        if (got == -1)
            break;
        if (IsDialogMessageA(m_hWnd, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    m_bInModalWait = false;
}

void CMainUI::SetBranding(const wchar_t* text)
{
    if (m_hWnd == NULL)
        return;
    HWND branding = GetDlgItem(m_hWnd, IDC_BRANDING);
    HWND line = GetDlgItem(m_hWnd, IDC_BRANDING_LINE);
    HWND cancel = GetDlgItem(m_hWnd, IDCANCEL);
    if (branding == NULL || line == NULL || cancel == NULL)
        return;
    bool hasText = !IsMissing(text);
    if (hasText)
    {
        SetWindowTextWide(branding, text);
        ShowWindow(branding, SW_SHOW);
    }
    else
    {
        ShowWindow(branding, SW_HIDE);
    }

    // The line runs level with the middle of the button row.
    RECT window, client, button, current;
    GetWindowRect(m_hWnd, &window);
    GetClientRect(m_hWnd, &client);
    GetWindowRect(cancel, &button);
    GetWindowRect(branding, &current);
    int y = 6 - 2 * window.bottom + (client.bottom - client.top) + button.top + button.bottom;

    int x = 0, width = 0, height = 0;
    if (hasText)
    {
        height = current.bottom - current.top;
        width = current.right - current.left;
        x = 16;
        HDC dc = GetDC(branding);
        if (dc != NULL)
        {
            // Measured in the control's own font, which the window DC lacks.
            HFONT font = (HFONT)SendMessageA(branding, WM_GETFONT, 0, 0);
            HGDIOBJ previous = font ? SelectObject(dc, font) : NULL;
            SIZE size;
            if (GetTextExtentWide(dc, text, (int)wcslen(text), &size))
                width = size.cx;
            if (previous != NULL)
                SelectObject(dc, previous);
            ReleaseDC(branding, dc);
        }
        MoveWindow(branding, x, y - height / 2, width, height, TRUE);
    }
    else
    {
        MoveWindow(branding, 0, 0, 0, 0, TRUE);
    }
    int clientWidth = client.right - client.left;
    MoveWindow(line, x + width, y, clientWidth - width - x, 2, TRUE);
}

static BOOL CALLBACK ApplyFontToChild(HWND child, LPARAM param)
{
    CFontManager* manager = (CFontManager*)param;
    int id = GetDlgCtrlID(child);
    if (id != IDC_LOGO && id != IDC_BAND)
        manager->ApplyFont(child);
    return TRUE;
}

void CMainUI::ApplyFonts()
{
    if (m_hWnd == NULL)
        return;
    if (m_fontManager.IsEnabled() && m_fontManager.GetWindow() != NULL)
    {
        m_fontManager.ApplyFont(NULL);
        EnumChildWindows(m_hWnd, ApplyFontToChild, (LPARAM)&m_fontManager);
    }

    HWND heading = GetDlgItem(m_hWnd, IDC_HEADING);
    if (heading == NULL)
        return;
    HFONT current = (HFONT)SendMessageA(heading, WM_GETFONT, 0, 0);
    if (current == NULL)
        current = (HFONT)SendMessageA(m_hWnd, WM_GETFONT, 0, 0);
    LOGFONTA font;
    if (current == NULL || GetObjectA(current, sizeof(font), &font) == 0)
        return;
    BYTE charSet = m_fontManager.GetCharSet();
    font.lfHeight = HEADING_FONT_HEIGHT;
    font.lfWidth = 0;
    font.lfWeight = HEADING_FONT_WEIGHT;
    font.lfCharSet = charSet;
    const char* face = HEADING_FACE;
    if (charSet == CHARSET_GREEK || charSet == CHARSET_EAST_EUROPE || charSet == CHARSET_TURKISH ||
        charSet == CHARSET_BALTIC)
    {
        // With font handling off nothing was chosen: Arial has these sets too.
        const char* chosen = m_fontManager.GetChosenFace(charSet);
        if (chosen != NULL && chosen[0] != 0)
            face = chosen;
    }
    lstrcpynA(font.lfFaceName, face, LF_FACESIZE);
    HFONT headingFont = CreateFontIndirectA(&font);
    if (headingFont == NULL)
    {
        LogMessage(2, LOG_WARNING, "The heading font '%hs' could not be made.\n", face);
        return;
    }
    SendMessageA(heading, WM_SETFONT, (WPARAM)headingFont, MAKELPARAM(TRUE, 0));
    if (m_hHeadingFont != NULL)
        DeleteObject(m_hHeadingFont);
    m_hHeadingFont = headingFont;
}

void CMainUI::SetLanguageFont(int languageIndex)
{
    m_fontManager.SetCharSet(LanguageCharSet(languageIndex));
    ApplyFonts();
}

void CMainUI::LoadLogo()
{
    if (m_hLogo != NULL || m_hWnd == NULL)
        return;
    HANDLE probe = CreateFileA(LOGO_FILE_NAME, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (probe == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(probe);
    m_hLogo = (HBITMAP)LoadImageA(NULL, LOGO_FILE_NAME, IMAGE_BITMAP, LOGO_WIDTH, LOGO_HEIGHT,
                                  LR_LOADFROMFILE | LR_CREATEDIBSECTION);
    if (m_hLogo == NULL)
    {
        LogMessage(2, LOG_WARNING, "The logo '%hs' could not be loaded [%lu].\n", LOGO_FILE_NAME,
                   GetLastError());
        return;
    }
    SendDlgItemMessageA(m_hWnd, IDC_LOGO, STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)m_hLogo);
    LogMessage(3, LOG_INFO, "Logo loaded from '%hs'.\n", LOGO_FILE_NAME);
}

void CMainUI::SetDefaultLanguage(int languageIndex)
{
    if (m_iDefaultLanguage == -1)
        m_iDefaultLanguage = languageIndex;
    m_fontManager.SetCharSet(LanguageCharSet(languageIndex));
}

void CMainUI::AddLanguageChoice(const wchar_t* caption, int languageIndex, bool checked,
                                bool enabled)
{
    if (caption == NULL || caption[0] == 0 || languageIndex < 0 || languageIndex >= LANGUAGE_SLOTS)
        return;
    if (m_hWnd == NULL)
    {
        m_bChoiceChecked[languageIndex] = checked;
        return;
    }
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
    m_hChoices[languageIndex] = choice;
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
    if (languageIndex < 0 || languageIndex >= LANGUAGE_SLOTS)
        return false;
    if (m_hWnd == NULL)
        return m_bChoiceChecked[languageIndex];
    HWND choice = GetDlgItem(m_hWnd, IDC_LANGUAGE_FIRST + languageIndex);
    return choice != NULL && SendMessageA(choice, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

INT_PTR CMainUI::OnInitDialog(HWND window)
{
    m_hWnd = window;
    m_fontManager.Attach(window);

    RECT client;
    GetClientRect(window, &client);
    int width = client.right - client.left;
    HWND band = GetDlgItem(window, IDC_BAND);
    if (band != NULL)
        MoveWindow(band, 0, 0, width, BAND_HEIGHT, FALSE);
    HWND line = GetDlgItem(window, IDC_BAND_LINE);
    if (line != NULL)
        MoveWindow(line, 0, BAND_HEIGHT, width, 2, FALSE);
    LoadLogo();
    return FALSE;
}

// A click on a language choice: Proceed only with a choice checked; the
// window's language follows the clicked choice, or another checked one.
static void OnLanguageChoiceClicked(CMainUI* ui, int controlId)
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

void CMainUI::OnCommand(int controlId, int notification)
{
    if (controlId == IDCANCEL)
    {
        if (m_bInModalWait)
        {
            ConfirmCancel(m_dwResult);
        }
        else
        {
            // The running download or copy sees it at its next progress report.
            if (m_transfer != NULL)
                m_transfer->RequestCancel();
            LogMessage(2, LOG_INFO, "Cancel requested by the user.\n");
        }
    }
    else if (controlId == IDC_PROCEED)
    {
        ConfirmProceed(m_dwResult);
        if (m_dwResult == UI_RESULT_PROCEED)
            m_bInModalWait = false;
    }
    else if (controlId == IDC_BRANDING_LINE)
    {
        ShowLogWindow(NULL, NULL, NULL, NULL);
    }
    else if (IsLanguageChoice(controlId) && notification == BN_CLICKED)
    {
        OnLanguageChoiceClicked(this, controlId);
    }
}

bool CMainUI::OnSetCursor(HWND over)
{
    if (!m_busy || over == GetDlgItem(m_hWnd, IDCANCEL))
        return false;
    SetCursor(LoadCursor(NULL, IDC_WAIT));
    return true;
}

INT_PTR CALLBACK CMainUI::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CMainUI* ui;
    if (message == WM_INITDIALOG)
    {
        ui = (CMainUI*)lParam;
        SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)ui);
        return ui != NULL ? ui->OnInitDialog(window) : FALSE;
    }
    ui = (CMainUI*)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (ui == NULL)
        return FALSE;

    switch (message)
    {
    case WM_COMMAND:
        ui->OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_SETCURSOR:
        if (ui->OnSetCursor((HWND)wParam))
        {
            SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_CTLCOLORSTATIC:
    {
        int id = GetDlgCtrlID((HWND)lParam);
        if (id == IDC_BAND || id == IDC_HEADING || id == IDC_LOGO)
        {
            SetBkColor((HDC)wParam, RGB(255, 255, 255));
            return (INT_PTR)GetStockObject(WHITE_BRUSH);
        }
        return FALSE;
    }
    case WM_NCDESTROY:
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        if (ui->m_hWnd == window)
            ui->m_hWnd = NULL;
        return FALSE;
    default:
        return FALSE;
    }
}

// ---------------------------------------------------------------------------
// Operations on the run's window and settings
// ---------------------------------------------------------------------------

void ConfirmCancel(DWORD& result)
{
    result = UI_RESULT_UNDECIDED;
    if (g_mainUI == NULL)
        return;
    // Through the one road to the user, which also answers it in an
    // unattended run (where no modal wait lets Cancel reach here).
    if (Ask(LABEL_CONFIRM_CANCEL))
        PostQuitMessage((int)UI_RESULT_CANCELLED);
}

void ConfirmProceed(DWORD& result)
{
    // Proceed means something only while the main sequence waits for it.
    result = RunState.phase == 2 ? UI_RESULT_PROCEED : UI_RESULT_UNDECIDED;
}

// The destination as the user should read it: below the target folder when
// the path lies there, else whole.
static const char* ShownDestination(const char* destination)
{
    if (destination == NULL)
        return "";
    const char* target = RunState.targetDir.GetNarrow();
    size_t length = TextLength(target);
    if (length > 0 && TextLength(destination) > length &&
        TextEqualNoCase(destination, target, length) &&
        (destination[length] == '\\' || destination[length] == '/'))
        return destination + length + 1;
    return destination;
}

DWORD CopyProgress(DWORD totalBytes, DWORD bytesDone, DWORD state, void* context)
{
    CMainUI* ui = g_mainUI;
    if (ui == NULL)
        return 0;
    int percent = 0;
    if (totalBytes != 0)
        percent = (int)((double)bytesDone / (double)totalBytes * 100.0 + 0.5);
    wchar_t percentText[16];
    _snwprintf(percentText, 15, L"%2d%%", percent);
    percentText[15] = 0;

    // The bar and the percentage are redrawn only when the percentage moves,
    // at most every COPY_REDRAW_MS, and when the copy ends: a fast copy
    // passes several per cent in a millisecond, and each redraw (a paint of
    // the bar and the text) costs more than copying a chunk; twenty redraws a
    // second move the bar as smoothly as the eye follows. The messages are
    // pumped with the bar's moves and otherwise at most every COPY_PUMP_MS: each
    // pump asks the window system for its queue, which costs more than a
    // chunk of a fast copy, and a click on Cancel still waits no longer than
    // that.
    static const DWORD COPY_REDRAW_MS = 50;
    static const DWORD COPY_PUMP_MS = 50;
    static int shownPercent = -1;
    static DWORD shownAt = 0;
    static DWORD pumpedAt = 0;
    const DWORD now = GetTickCount();
    ui->SetBusy(true);
    if (state == 0)
    {
        const bool last = bytesDone == totalBytes;
        if (last || (percent != shownPercent && now - shownAt >= COPY_REDRAW_MS))
        {
            ui->SetProgressPos(0, (UINT)percent);
            // The last chunk's percentage is cleared below before anything
            // could paint it.
            if (!last)
                ui->SetItemText(IDC_PERCENT, percentText);
            shownPercent = percent;
            shownAt = now;
            pumpedAt = now;
        }
        else if (now - pumpedAt >= COPY_PUMP_MS)
        {
            ui->PumpMessages();
            pumpedAt = now;
        }
        ui->SetBusy(false);
        if (last)
        {
            ui->SetItemText(IDC_INFO_TEXT, L"");
            ui->SetItemText(IDC_PERCENT, L"");
        }
    }
    else if (state == 1)
    {
        ui->ShowForWork(false);
        // The new range puts the bar at 0.
        ui->SetProgressRange(0, 100);
        if (percent != 0)
            ui->SetProgressPos(0, (UINT)percent);
        ui->SetItemText(IDC_INFO_TEXT, A2W(ShownDestination((const char*)context)));
        ui->SetItemText(IDC_PERCENT, percentText);
        shownPercent = percent;
        shownAt = now;
        pumpedAt = now;
    }

    TransferState* transfer = ui->Transfer();
    if (transfer != NULL && transfer->CancelRequested())
    {
        transfer->ClearCancel();
        LogMessage(2, LOG_INFO, "Copy to '%hs' cancelled by the user.\n",
                   context ? (const char*)context : "");
        return 1;
    }
    return 0;
}

void FillWindowTexts()
{
    CMainUI* ui = g_mainUI;
    CResource* settings = g_resource;
    if (ui == NULL || settings == NULL)
    {
        LogMessage(2, LOG_WARNING, "Window texts not filled: no window or no settings.\n");
        return;
    }

    // The caption: "Caption" formatted with the organisation and the language,
    // then the settings file's version. Each look-up reuses its buffer, so the
    // organisation is copied before the caption is formatted.
    wchar_t* organisation = TextDuplicate(settings->GetLabel(LABEL_ORGANISATION));
    const wchar_t* formatted = settings->FormatLabel(LABEL_CAPTION,
                                                     organisation ? organisation : L"",
                                                     settings->GetLanguageCode());
    wchar_t* caption = TextDuplicate(formatted);
    free(organisation);
    if (caption != NULL)
    {
        const char* iniVersion = settings->GetSetting(SETTING_INI_VERSION, true);
        size_t captionLength = wcslen(caption);
        size_t versionLength = TextLength(iniVersion);
        size_t length = captionLength + 2 + versionLength;
        wchar_t* full = (wchar_t*)malloc(length * sizeof(wchar_t));
        if (full != NULL)
        {
            // The setting is text of the system's ANSI code page.
            memcpy(full, caption, captionLength * sizeof(wchar_t));
            size_t end = captionLength;
            if (versionLength > 0)
            {
                full[end++] = L' ';
                int n = MultiByteToWideChar(CP_ACP, 0, iniVersion, (int)versionLength, full + end,
                                            (int)versionLength);
                end += n > 0 ? n : 0;
            }
            full[end] = 0;
            ui->SetItemText(IDC_CAPTION, full);
            free(full);
        }
        free(caption);
    }

    ui->SetItemText(IDCANCEL, settings->GetLabel(LABEL_CANCEL_BUTTON));
    ui->SetItemText(IDC_PROCEED, settings->GetLabel(LABEL_PROCEED_BUTTON));

    // A missing heading or information label leaves the control empty rather
    // than showing the text of the language before.
    ui->SetHeadingKey(LABEL_HEADER);
    const wchar_t* heading = settings->GetLabel(LABEL_HEADER);
    ui->SetItemText(IDC_HEADING, heading ? heading : L"");
    const wchar_t* info = ui->GetInfoKey() ? settings->GetLabel(ui->GetInfoKey()) : NULL;
    ui->SetItemText(IDC_INFO_TEXT, info ? info : L"");
    ui->SetItemText(IDC_PERCENT, L"");

    ui->SetBranding(settings->GetLabel(LABEL_BRANDING));

    // The log window is made (hidden) with the first texts and re-texted
    // with every later language.
    std::wstring title = ui->GetCaption();
    const wchar_t* installing = settings->GetLabel(LABEL_INSTALL_SYSTEM);
    ShowLogWindow(g_hInstance, NULL, title.c_str(), installing ? installing : L"");
}

void SelectLanguage(int languageIndex)
{
    CResource* settings = g_resource;
    if (languageIndex < 0 || languageIndex >= LANGUAGE_SLOTS || settings == NULL ||
        languageIndex == settings->GetLanguage())
        return;
    if (!useWideApi)
    {
        // Narrow texts follow the language's code page; a Western language
        // goes back to the system's, or it would keep the last group's.
        UseLanguageCodePage(LanguageCodePage(languageIndex));
    }
    settings->SetLanguage(languageIndex);
    LogMessage(3, LOG_INFO, "Window language = '%hs'\n", settings->GetLanguageCode());
    if (g_mainUI != NULL)
        g_mainUI->SetLanguageFont(languageIndex);
    FillWindowTexts();
}
