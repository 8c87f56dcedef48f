#include "WideAPI.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "Assert.h"
#include "Log.h"

bool isWinNT = false;
bool useWideApi = false;

static const size_t INITIAL_CONVERSION_CAPACITY = 256;
static const size_t CONVERSION_SLACK = 80;

static UINT s_codePage = 0;
static bool m_bUsingA2W = false;
static bool m_bUsingW2A = false;
static wchar_t* s_wideBuffer = NULL;
static size_t s_wideCapacity = 0;   // characters
static char* s_narrowBuffer = NULL;
static size_t s_narrowCapacity = 0; // bytes
static wchar_t s_emptyWide[1] = { 0 };
static char s_emptyNarrow[1] = { 0 };

// Runs during static initialisation, before the main sequence.
static bool s_initialised = InitWideApi();

bool InitWideApi()
{
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (GetVersionExA(&info))
    {
        isWinNT = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    }
    else
    {
        FW_ASSERT(false);
        isWinNT = false;
    }
    useWideApi = isWinNT;
    s_codePage = 0;

    free(s_wideBuffer);
    s_wideBuffer = (wchar_t*)malloc(INITIAL_CONVERSION_CAPACITY * sizeof(wchar_t));
    s_wideCapacity = s_wideBuffer ? INITIAL_CONVERSION_CAPACITY : 0;
    free(s_narrowBuffer);
    s_narrowBuffer = (char*)malloc(INITIAL_CONVERSION_CAPACITY);
    s_narrowCapacity = s_narrowBuffer ? INITIAL_CONVERSION_CAPACITY : 0;
    return true;
}

UINT GetConversionCodePage()
{
    return s_codePage;
}

void SetConversionCodePage(UINT codePage)
{
    s_codePage = codePage;
}

UINT UseLanguageCodePage(UINT codePage)
{
    if (codePage != 0 && !IsValidCodePage(codePage))
    {
        LogMessage(2, LOG_WARNING, "Code page %u is not installed: the system code page is used.\n",
                   (unsigned)codePage);
        codePage = 0;
    }
    s_codePage = codePage;
    return codePage;
}

const wchar_t* A2W(const char* text)
{
    if (text == NULL || text[0] == 0)
        return s_emptyWide;
    FW_ASSERT(!m_bUsingA2W);
    m_bUsingA2W = true;

    size_t length = strlen(text);
    if (length + 1 > s_wideCapacity)
    {
        free(s_wideBuffer);
        s_wideBuffer = (wchar_t*)malloc((length + CONVERSION_SLACK) * sizeof(wchar_t));
        if (s_wideBuffer == NULL)
        {
            s_wideCapacity = 0;
            m_bUsingA2W = false;
            return s_emptyWide;
        }
        s_wideCapacity = length + CONVERSION_SLACK;
    }
    int n = MultiByteToWideChar(s_codePage, 0, text, -1, s_wideBuffer, (int)s_wideCapacity);
    m_bUsingA2W = false;
    if (n <= 0)
        return s_emptyWide;
    s_wideBuffer[n - 1] = 0; // n counts the terminator
    return s_wideBuffer;
}

const char* W2A(const wchar_t* text)
{
    if (text == NULL || text[0] == 0)
        return s_emptyNarrow;
    FW_ASSERT(!m_bUsingW2A);
    m_bUsingW2A = true;

    size_t length = wcslen(text);
    if (length * 2 + 3 > s_narrowCapacity)
    {
        free(s_narrowBuffer);
        s_narrowBuffer = (char*)malloc(length * 2 + CONVERSION_SLACK + 2);
        if (s_narrowBuffer == NULL)
        {
            s_narrowCapacity = 0;
            m_bUsingW2A = false;
            return s_emptyNarrow;
        }
        s_narrowCapacity = length * 2 + CONVERSION_SLACK + 2;
    }
    int n = WideCharToMultiByte(s_codePage, 0, text, -1, s_narrowBuffer, (int)s_narrowCapacity,
                                NULL, NULL);
    m_bUsingW2A = false;
    if (n <= 0)
        return s_emptyNarrow;
    s_narrowBuffer[n - 1] = 0;
    return s_narrowBuffer;
}

int LoadStringWide(HINSTANCE module, UINT id, wchar_t* buffer, int size)
{
    if (buffer == NULL || size <= 0)
        return 0;
    if (useWideApi)
        return LoadStringW(module, id, buffer, size);

    char* narrow = (char*)malloc(size + 2);
    if (narrow == NULL)
        return 0;
    int length = LoadStringA(module, id, narrow, size + 2);
    narrow[length > 0 ? length : 0] = 0;
    const wchar_t* wide = A2W(narrow);
    size_t wideLength = wcslen(wide);
    if ((int)wideLength >= size)
        wideLength = size - 1;
    memcpy(buffer, wide, wideLength * sizeof(wchar_t));
    buffer[wideLength] = 0;
    free(narrow);
    return length < size - 1 ? length : size - 1;
}

BOOL SetWindowTextWide(HWND window, const wchar_t* text)
{
    if (useWideApi)
        return SetWindowTextW(window, text);
    return SetWindowTextA(window, W2A(text));
}

BOOL SetDlgItemTextWide(HWND dialog, int controlId, const wchar_t* text)
{
    if (useWideApi)
        return SetDlgItemTextW(dialog, controlId, text);
    return SetDlgItemTextA(dialog, controlId, W2A(text));
}

BOOL GetTextExtentWide(HDC dc, const wchar_t* text, int count, SIZE* size)
{
    if (useWideApi)
        return GetTextExtentPoint32W(dc, text, count, size);
    // The narrow text is measured by its own length: a conversion may come
    // out shorter than the wide count, and the count must not run past it.
    wchar_t* prefix = NULL;
    if (text != NULL && count >= 0 && (size_t)count < wcslen(text))
    {
        prefix = (wchar_t*)malloc((count + 1) * sizeof(wchar_t));
        if (prefix == NULL)
            return FALSE;
        memcpy(prefix, text, count * sizeof(wchar_t));
        prefix[count] = 0;
    }
    const char* narrow = W2A(prefix != NULL ? prefix : text);
    free(prefix);
    return GetTextExtentPoint32A(dc, narrow, (int)strlen(narrow), size);
}
