// The progress window and every message box the user sees.
#pragma once

#include <windows.h>

const int CAPTION_SIZE = 256;

// Texts shown when a message label is missing from the settings file.
extern const wchar_t* const MISSING_MESSAGE_TEXT;
extern const wchar_t* const MISSING_CONFIRM_TEXT;

class CMainUI
{
public:
    explicit CMainUI(HINSTANCE instance);
    virtual ~CMainUI();

    HWND GetWindow() const { return m_hWnd; }
    const wchar_t* GetCaption() const { return m_szCaption; }

    // Message boxes: owned by the window (none before it exists), titled with
    // the caption, and logged. A null or empty text shows the fallback text.
    void ShowInfo(const wchar_t* text);
    void ShowMessage(bool isError, const wchar_t* text);
    bool Confirm(const wchar_t* text);

protected:
    int ShowBox(const wchar_t* text, UINT flags);

    HINSTANCE m_hInstance;
    HWND m_hParent;
    HWND m_hWnd;
    wchar_t m_szCaption[CAPTION_SIZE];
};
