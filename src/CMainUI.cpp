#include "CMainUI.h"

#include <string.h>
#include <wchar.h>

#include "Log.h"
#include "WideAPI.h"
#include "resource.h"

const wchar_t* const MISSING_MESSAGE_TEXT =
    L"?!Missing Information/Error Message.\nPlease contact your supplier.";
const wchar_t* const MISSING_CONFIRM_TEXT =
    L"?!Missing Confirm message.\nPlease contact your supplier.";

static bool IsMissing(const wchar_t* text)
{
    return text == NULL || text[0] == 0;
}

CMainUI::CMainUI(HINSTANCE instance)
    : m_hInstance(instance), m_hParent(NULL), m_hWnd(NULL)
{
    m_szCaption[0] = 0;
    LoadStringWide(instance, IDS_CAPTION, m_szCaption, CAPTION_SIZE);
}

CMainUI::~CMainUI()
{
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
