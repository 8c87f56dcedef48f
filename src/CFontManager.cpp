#include "CFontManager.h"

#include <string.h>

#include "Assert.h"
#include "Log.h"
#include "WideAPI.h"

static const BYTE SLOT_CHARSETS[FONT_SLOTS] = {
    CHARSET_WESTERN, CHARSET_GREEK, CHARSET_EAST_EUROPE, CHARSET_TURKISH, CHARSET_BALTIC
};

// Tried in this order for every slot after the window font's own face: the
// faces a Windows 95 to Vista system is likely to have in several sets.
static const char* const CANDIDATE_FACES[] = {
    "MS Sans Serif", "Microsoft Sans Serif", "Arial", "Tahoma", "Times New Roman", "Garamond"
};
static const int CANDIDATE_COUNT = sizeof(CANDIDATE_FACES) / sizeof(CANDIDATE_FACES[0]);

struct EnumContext
{
    CFontManager* manager;
    bool accepted;
};

static int CALLBACK EnumFontProc(const LOGFONTA* listed, const TEXTMETRICA*, DWORD, LPARAM param)
{
    EnumContext* context = (EnumContext*)param;
    if (listed != NULL && context->manager->AcceptListedFont(*listed))
    {
        context->accepted = true;
        return 0; // stop: this slot has its font
    }
    return 1;
}

int CFontManager::SlotOfCharSet(BYTE charSet)
{
    for (int slot = 0; slot < FONT_SLOTS; ++slot)
        if (SLOT_CHARSETS[slot] == charSet)
            return slot;
    return -1;
}

CFontManager::CFontManager()
    : m_bEnabled(true), m_hWnd(NULL), m_charSet(0), m_uFillRecord(1), m_uModelRecord(0)
{
    memset(m_records, 0, sizeof(m_records));
    for (int slot = 0; slot < FONT_SLOTS; ++slot)
    {
        m_fonts[slot] = NULL;
        m_owned[slot] = false;
    }
}

CFontManager::~CFontManager()
{
    // Only the fonts made here: the window's own font stands in empty slots
    // and belongs to the dialog.
    for (int slot = 0; slot < FONT_SLOTS; ++slot)
    {
        if (m_owned[slot] && m_fonts[slot] != NULL)
            DeleteObject(m_fonts[slot]);
        m_fonts[slot] = NULL;
        m_owned[slot] = false;
    }
}

void CFontManager::Attach(HWND window)
{
    if (useWideApi)
    {
        // Wide texts carry their own characters: the template font serves all.
        m_bEnabled = false;
        LogMessage(3, LOG_INFO, "Font handling off (wide interfaces in use).\n");
        return;
    }
    FW_ASSERT(m_hWnd == 0);
    if (m_hWnd != 0)
        return;
    m_hWnd = window;
    m_bEnabled = true;
    ChooseFonts();
}

bool CFontManager::AcceptListedFont(const LOGFONTA& listed)
{
    if (m_uFillRecord >= (UINT)FONT_SLOTS)
        return false;
    LOGFONTA& record = m_records[m_uFillRecord];
    const LOGFONTA& model = m_records[m_uModelRecord];
    if (listed.lfCharSet != SLOT_CHARSETS[m_uFillRecord] ||
        listed.lfEscapement != model.lfEscapement || listed.lfOrientation != model.lfOrientation ||
        listed.lfWeight != model.lfWeight || listed.lfItalic != model.lfItalic ||
        listed.lfUnderline != model.lfUnderline || listed.lfStrikeOut != model.lfStrikeOut ||
        lstrcmpiA(listed.lfFaceName, record.lfFaceName) != 0)
        return false;
    record.lfEscapement = listed.lfEscapement;
    record.lfOrientation = listed.lfOrientation;
    record.lfWeight = listed.lfWeight;
    record.lfItalic = listed.lfItalic;
    record.lfUnderline = listed.lfUnderline;
    record.lfStrikeOut = listed.lfStrikeOut;
    record.lfCharSet = listed.lfCharSet;
    record.lfOutPrecision = listed.lfOutPrecision;
    record.lfClipPrecision = listed.lfClipPrecision;
    record.lfQuality = listed.lfQuality;
    record.lfPitchAndFamily = listed.lfPitchAndFamily;
    memcpy(record.lfFaceName, listed.lfFaceName, sizeof(record.lfFaceName));
    record.lfFaceName[LF_FACESIZE - 1] = 0;
    return true;
}

bool CFontManager::ChooseFonts()
{
    HFONT windowFont = m_hWnd ? (HFONT)SendMessageA(m_hWnd, WM_GETFONT, 0, 0) : NULL;
    LOGFONTA windowLog;
    if (windowFont == NULL || GetObjectA(windowFont, sizeof(windowLog), &windowLog) == 0)
    {
        LogMessage(2, LOG_WARNING, "Font handling: the window font cannot be read.\n");
        return false;
    }

    int modelSlot = SlotOfCharSet(windowLog.lfCharSet);
    m_uModelRecord = modelSlot > 0 ? (UINT)modelSlot : 0;
    m_records[m_uModelRecord] = windowLog;
    for (int slot = 0; slot < FONT_SLOTS; ++slot)
        m_records[slot].lfCharSet = SLOT_CHARSETS[slot];

    HDC dc = GetDC(m_hWnd);
    for (int slot = 0; slot < FONT_SLOTS; ++slot)
    {
        if ((UINT)slot == m_uModelRecord)
            continue;
        m_uFillRecord = slot;
        for (int candidate = -1; candidate < CANDIDATE_COUNT && m_fonts[slot] == NULL; ++candidate)
        {
            const char* face = candidate < 0 ? windowLog.lfFaceName : CANDIDATE_FACES[candidate];
            lstrcpynA(m_records[slot].lfFaceName, face, LF_FACESIZE);

            LOGFONTA query;
            memset(&query, 0, sizeof(query));
            query.lfCharSet = SLOT_CHARSETS[slot];
            EnumContext context = { this, false };
            if (dc != NULL)
                EnumFontFamiliesExA(dc, &query, (FONTENUMPROCA)EnumFontProc, (LPARAM)&context, 0);
            if (!context.accepted)
                continue;
            m_records[slot].lfHeight = windowLog.lfHeight;
            m_records[slot].lfWidth = windowLog.lfWidth;
            m_fonts[slot] = CreateFontIndirectA(&m_records[slot]);
            m_owned[slot] = m_fonts[slot] != NULL;
            LogMessage(3, LOG_INFO, "Font for character set %d: '%hs'%hs\n", SLOT_CHARSETS[slot],
                       m_records[slot].lfFaceName, m_fonts[slot] ? "" : " (not created)");
        }
        if (m_fonts[slot] == NULL)
            LogMessage(3, LOG_INFO, "No font of its own for character set %d: the window font is used.\n",
                       SLOT_CHARSETS[slot]);
    }
    for (int slot = 0; slot < FONT_SLOTS; ++slot)
    {
        if (m_fonts[slot] == NULL)
        {
            m_fonts[slot] = windowFont;
            m_owned[slot] = false;
        }
    }
    if (dc != NULL)
        ReleaseDC(m_hWnd, dc);
    m_bEnabled = m_fonts[0] != NULL;
    return m_bEnabled;
}

bool CFontManager::ApplyFont(HWND target)
{
    if (!m_bEnabled || m_hWnd == NULL)
        return false;
    if (target == NULL)
        target = m_hWnd;

    int slot = SlotOfCharSet(m_charSet);
    if (slot < 0)
        return false;
    // A control may carry the character set of the language it shows.
    LONG_PTR own = GetWindowLongPtrA(target, GWLP_USERDATA);
    if (own == CONTROL_CHARSET_WESTERN)
        slot = 0;
    else if (own > 1 && own < 256 && SlotOfCharSet((BYTE)own) > 0)
        slot = SlotOfCharSet((BYTE)own);

    if (m_fonts[slot] == NULL)
        return false;
    SendMessageA(target, WM_SETFONT, (WPARAM)m_fonts[slot], MAKELPARAM(TRUE, 0));
    return true;
}

const char* CFontManager::GetChosenFace(BYTE charSet) const
{
    int slot = SlotOfCharSet(charSet);
    if (slot < 0 || m_fonts[slot] == NULL)
        return NULL;
    if (!m_owned[slot] && (UINT)slot != m_uModelRecord)
        return NULL;
    return m_records[slot].lfFaceName;
}

HFONT CFontManager::GetSlotFont(int slot) const
{
    return slot >= 0 && slot < FONT_SLOTS ? m_fonts[slot] : NULL;
}

bool CFontManager::OwnsSlotFont(int slot) const
{
    return slot >= 0 && slot < FONT_SLOTS && m_owned[slot];
}
