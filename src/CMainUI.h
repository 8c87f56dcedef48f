// The progress window and the message boxes it owns (which box a run shows
// is decided in UserMessages).
#pragma once

#include <windows.h>

#include "CFontManager.h"
#include "ResultCodes.h"

class TransferState;

const int CAPTION_SIZE = 256;
const UINT MAX_PROGRESS_BARS = 2;

// Posted to the progress window by the download worker when it ends.
const UINT WM_DOWNLOAD_DONE = 2025;

// Outcomes of a modal wait or of Close.
const DWORD UI_RESULT_PROCEED = 0;
const DWORD UI_RESULT_UNDECIDED = RC_BAD_ARGUMENTS;
const DWORD UI_RESULT_CANCELLED = RC_CANCELLED;

// Height in pixels of the white band at the top of the window.
const int BAND_HEIGHT = 85;

// Texts shown when a message label is missing from the settings file.
extern const wchar_t* const MISSING_MESSAGE_TEXT;
extern const wchar_t* const MISSING_CONFIRM_TEXT;

// The optional logo file, looked for in the current folder.
extern const char* const LOGO_FILE_NAME;

class CMainUI
{
public:
    explicit CMainUI(HINSTANCE instance);
    virtual ~CMainUI();

    HWND GetWindow() const { return m_hWnd; }
    const wchar_t* GetCaption() const { return m_szCaption; }
    bool IsCreated() const { return m_bCreated; }
    bool InModalWait() const { return m_bInModalWait; }
    DWORD GetResult() const { return m_dwResult; }
    DWORD& ResultField() { return m_dwResult; }
    CFontManager& FontManager() { return m_fontManager; }
    UINT GetBarMaximum(UINT uiIdx) const;
    HBITMAP GetLogoBitmap() const { return m_hLogo; }

    // Creates the (hidden) window; true when it exists afterwards.
    bool Create(HWND parent);
    // Destroys the window and keeps the result; false if there was none.
    bool Close(DWORD result);

    // Sets a control's text, or with IDC_CAPTION (11) the caption. Only while
    // the window exists and Create has finished.
    void SetItemText(int controlId, const wchar_t* text);

    // Message boxes: owned by the window (none before it exists), titled with
    // the caption, and logged. A null or empty text shows the fallback text.
    // The run asks for its boxes through UserMessages, not here.
    void ShowInfo(const wchar_t* text);
    void ShowMessage(bool isError, const wchar_t* text);
    bool Confirm(const wchar_t* text);

    // Handles every pending message of the calling thread.
    void PumpMessages();
    // Shows the window for a step of work; Proceed and the language choices
    // only when the user may go on.
    void ShowForWork(bool allowProceed);

    void SetProgressRange(UINT uiIdx, UINT maximum);
    void StepProgress(UINT uiIdx, int delta);
    void SetProgressPos(UINT uiIdx, UINT position);

    // Runs the thread's messages until the download worker reports its end
    // (its message, or the end of the worker thread), Cancel is pressed or the
    // window goes away (a stalled download is ended by its watch, which posts
    // the worker's message).
    void WaitForDownload(HANDLE worker = NULL);
    // The modal loop of a choice: until Proceed is accepted, a quit message
    // (whose code becomes the result) or the window goes away.
    void WaitForChoice();

    void SetBranding(const wchar_t* text);
    void ApplyFonts();
    void SetLanguageFont(int languageIndex);

    // Language choices (check boxes 6000 + language index).
    void SetDefaultLanguage(int languageIndex);
    void AddLanguageChoice(const wchar_t* caption, int languageIndex, bool checked, bool enabled);
    bool IsChoiceChecked(int languageIndex) const;

    // Label keys of the heading and the information text, kept so that a
    // change of language re-texts them (null: none).
    const wchar_t* GetHeadingKey() const { return m_pszHeadingKey; }
    const wchar_t* GetInfoKey() const { return m_pszInfoKey; }
    void SetHeadingKey(const wchar_t* key) { m_pszHeadingKey = key; }
    void SetInfoKey(const wchar_t* key) { m_pszInfoKey = key; }

    // The record of the running transfer, owned by whoever produces it (the
    // download manager): the window reads its progress and sets its Cancel.
    // Null: Cancel outside a modal wait does nothing, and a download wait sees
    // no progress.
    void AttachTransfer(TransferState* transfer) { m_transfer = transfer; }
    TransferState* Transfer() const { return m_transfer; }

    // While busy the window shows the wait cursor (except over Cancel).
    void SetBusy(bool busy) { m_busy = busy; }
    bool IsBusy() const { return m_busy; }

    // Language selection state.
    int m_iNextChoiceX;
    int m_iNextChoiceY;
    int m_iDefaultLanguage;
    int m_iPreferredLanguage;
    bool m_bLanguageFixed;

protected:
    // Shows the window, except in a quiet run.
    void Reveal();
    int ShowBox(const wchar_t* text, UINT flags);
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnInitDialog(HWND window);
    void OnCommand(int controlId, int notification);
    bool OnSetCursor(HWND over);
    void LoadLogo();
    bool IsBarIndexValid(UINT uiIdx);
    void SendToBar(HWND bar, UINT message, WPARAM wParam, LPARAM lParam);
    void PumpAfterBar();

    HINSTANCE m_hInstance;
    HWND m_hParent;
    HWND m_hWnd;
    HWND m_hBars[MAX_PROGRESS_BARS];
    UINT m_uBarMaximum[MAX_PROGRESS_BARS];
    // The language choices as they were made: each copy hides them, and
    // asking the window system for 24 control ids cost 0.75 ms a copy.
    static const int CHOICE_SLOTS = 24;
    HWND m_hChoices[CHOICE_SLOTS];
    // Without a window (a quiet run) a choice is only its checked state.
    bool m_bChoiceChecked[CHOICE_SLOTS];
    HBITMAP m_hLogo;
    HFONT m_hHeadingFont;
    DWORD m_dwResult;
    wchar_t m_szCaption[CAPTION_SIZE];
    bool m_bCreated;
    bool m_bInModalWait;
    const wchar_t* m_pszHeadingKey;
    const wchar_t* m_pszInfoKey;
    CFontManager m_fontManager;
    TransferState* m_transfer;
    bool m_busy;
    DWORD m_barsPumpedAt;

private:
    CMainUI(const CMainUI&);
    CMainUI& operator=(const CMainUI&);
};

// Character set of a language's group for its fonts (0 for the Western
// group); the group's code page is LanguageCodePage of the settings module.
BYTE LanguageCharSet(int languageIndex);

// Operations on the run's window (g_mainUI) and settings (g_resource).
void FillWindowTexts();
void SelectLanguage(int languageIndex);
void ConfirmCancel(DWORD& result);
void ConfirmProceed(DWORD& result);
// The progress routine of component copies: context is the destination path.
// Returns 0 to go on, 1 to cancel the copy.
// (An AltCopyProgress of FileUtil.h.)
DWORD CopyProgress(DWORD totalBytes, DWORD bytesDone, DWORD state, void* context);
