// Fonts for the five character sets the progress window's languages need.
// On systems where the narrow interfaces are in use a control shows its text in
// the code page of its font's character set, so a Greek or Polish text needs a
// font of that set; the manager finds one per set that looks like the dialog
// font and hands it to the controls. With the wide interfaces it stays off.
#pragma once

#include <windows.h>

const int FONT_SLOTS = 5;

// Character sets of the language groups (slots 0 to 4 in this order).
const BYTE CHARSET_WESTERN = ANSI_CHARSET;          // 0
const BYTE CHARSET_GREEK = GREEK_CHARSET;           // 161
const BYTE CHARSET_EAST_EUROPE = EASTEUROPE_CHARSET;// 238
const BYTE CHARSET_TURKISH = TURKISH_CHARSET;       // 162
const BYTE CHARSET_BALTIC = BALTIC_CHARSET;         // 186

// A control whose user data holds this value shows Western text whatever the
// window's current language group (0 could not be told from "no mark").
const LONG_PTR CONTROL_CHARSET_WESTERN = 1;

class CFontManager
{
public:
    CFontManager();
    virtual ~CFontManager();

    // Takes the window whose font is the model and chooses the fonts; with the
    // wide interfaces in use it only switches font handling off.
    void Attach(HWND window);
    bool ChooseFonts();
    // Sets the font of the current character set (or of the set recorded in
    // the control's user data) on the control, or on the attached window.
    bool ApplyFont(HWND target = NULL);

    bool IsEnabled() const { return m_bEnabled; }
    HWND GetWindow() const { return m_hWnd; }
    BYTE GetCharSet() const { return m_charSet; }
    void SetCharSet(BYTE charSet) { m_charSet = charSet; }

    // The face chosen for the slot of a character set: null when that slot has
    // no font of its own (or the set is none of the five).
    const char* GetChosenFace(BYTE charSet) const;
    HFONT GetSlotFont(int slot) const;
    bool OwnsSlotFont(int slot) const;

    // Slot of a character set (161 -> 1, 238 -> 2, 162 -> 3, 186 -> 4), -1 for
    // none of them; 0 and the Western mark 1 give 0 only where asked.
    static int SlotOfCharSet(BYTE charSet);

    // Used by the enumeration callback.
    bool AcceptListedFont(const LOGFONTA& listed);

private:
    CFontManager(const CFontManager&);
    CFontManager& operator=(const CFontManager&);

    bool m_bEnabled;
    HWND m_hWnd;
    BYTE m_charSet;
    UINT m_uFillRecord;
    UINT m_uModelRecord;
    LOGFONTA m_records[FONT_SLOTS];
    HFONT m_fonts[FONT_SLOTS];
    bool m_owned[FONT_SLOTS];
};
