#include "C_String.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "Assert.h"
#include "TextUtil.h"
#include "WideAPI.h"

void C_String::FreeForms()
{
    free(m_pNarrow);
    free(m_pWide);
    m_pNarrow = NULL;
    m_pWide = NULL;
}

C_String::C_String() : m_iLength(0), m_pNarrow(NULL), m_pWide(NULL)
{
}

C_String::C_String(const char* text) : m_iLength(0), m_pNarrow(NULL), m_pWide(NULL)
{
    *this = text;
}

C_String::C_String(const wchar_t* text) : m_iLength(0), m_pNarrow(NULL), m_pWide(NULL)
{
    *this = text;
}

C_String::C_String(unsigned int size, int kind) : m_iLength(0), m_pNarrow(NULL), m_pWide(NULL)
{
    Allocate(size, kind);
}

C_String::C_String(const C_String& other) : m_iLength(0), m_pNarrow(NULL), m_pWide(NULL)
{
    *this = other;
}

C_String::~C_String()
{
    FreeForms();
}

C_String& C_String::operator=(const C_String& other)
{
    if (this == &other)
        return *this;
    FreeForms();
    m_iLength = 0;
    char* narrow = TextDuplicate(other.m_pNarrow);
    wchar_t* wide = TextDuplicate(other.m_pWide);
    if ((other.m_pNarrow && !narrow) || (other.m_pWide && !wide))
    {
        free(narrow);
        free(wide);
        return *this;
    }
    m_pNarrow = narrow;
    m_pWide = wide;
    m_iLength = other.m_iLength;
    return *this;
}

C_String& C_String::operator=(const char* text)
{
    if (text == m_pNarrow && text != NULL)
        return *this;
    char* copy = TextDuplicate(text);
    FreeForms();
    m_pNarrow = copy;
    m_iLength = copy ? (unsigned int)strlen(copy) : 0;
    return *this;
}

C_String& C_String::operator=(const wchar_t* text)
{
    if (text == m_pWide && text != NULL)
        return *this;
    wchar_t* copy = TextDuplicate(text);
    FreeForms();
    m_pWide = copy;
    m_iLength = copy ? (unsigned int)wcslen(copy) : 0;
    return *this;
}

C_String& C_String::operator+=(const C_String& other)
{
    if (other.m_pNarrow == NULL && other.m_pWide == NULL)
        return *this;
    if (this == &other)
    {
        C_String copy(other);
        return *this += copy;
    }
    unsigned int length = m_iLength + other.m_iLength;
    if (m_pWide != NULL)
    {
        const wchar_t* own = m_pWide;
        const wchar_t* tail = other.m_pWide ? other.m_pWide : A2W(other.m_pNarrow);
        size_t total = wcslen(own) + wcslen(tail);
        wchar_t* buffer = (wchar_t*)malloc((total + 1) * sizeof(wchar_t));
        if (buffer == NULL)
        {
            m_iLength = 0;
            return *this;
        }
        wcscpy(buffer, own);
        wcscat(buffer, tail);
        free(m_pWide);
        free(m_pNarrow);
        m_pNarrow = NULL;
        m_pWide = buffer;
    }
    else
    {
        const char* own = m_pNarrow ? m_pNarrow : "";
        const char* tail = other.m_pNarrow ? other.m_pNarrow : W2A(other.m_pWide);
        size_t total = strlen(own) + strlen(tail);
        char* buffer = (char*)malloc(total + 1);
        if (buffer == NULL)
        {
            m_iLength = 0;
            return *this;
        }
        strcpy(buffer, own);
        strcat(buffer, tail);
        free(m_pNarrow);
        m_pNarrow = buffer;
    }
    m_iLength = length;
    UpdateLength();
    return *this;
}

C_String& C_String::operator+=(const char* text)
{
    if (text == NULL || text[0] == 0)
        return *this;
    // The narrow form wins; a wide-only string is converted first. The text may
    // itself be a W2A result, which that conversion would overwrite: copy it.
    char* heldText = NULL;
    if (m_pNarrow == NULL && m_pWide != NULL)
    {
        heldText = TextDuplicate(text);
        if (heldText == NULL)
        {
            m_iLength = 0;
            return *this;
        }
        text = heldText;
    }
    const char* own = m_pNarrow ? m_pNarrow : (m_pWide ? W2A(m_pWide) : "");
    size_t total = strlen(own) + strlen(text);
    char* buffer = (char*)malloc(total + 1);
    if (buffer == NULL)
    {
        free(heldText);
        m_iLength = 0;
        return *this;
    }
    strcpy(buffer, own);
    strcat(buffer, text);
    free(heldText);
    FreeForms();
    m_pNarrow = buffer;
    m_iLength = (unsigned int)total;
    return *this;
}

C_String& C_String::operator+=(const wchar_t* text)
{
    if (text == NULL || text[0] == 0)
        return *this;
    // Mirror image of the narrow append: an A2W result as text survives the
    // conversion of a narrow-only string only as a copy.
    wchar_t* heldText = NULL;
    if (m_pWide == NULL && m_pNarrow != NULL)
    {
        heldText = TextDuplicate(text);
        if (heldText == NULL)
        {
            m_iLength = 0;
            return *this;
        }
        text = heldText;
    }
    const wchar_t* own = m_pWide ? m_pWide : (m_pNarrow ? A2W(m_pNarrow) : L"");
    size_t total = wcslen(own) + wcslen(text);
    wchar_t* buffer = (wchar_t*)malloc((total + 1) * sizeof(wchar_t));
    if (buffer == NULL)
    {
        free(heldText);
        m_iLength = 0;
        return *this;
    }
    wcscpy(buffer, own);
    wcscat(buffer, text);
    free(heldText);
    FreeForms();
    m_pWide = buffer;
    m_iLength = (unsigned int)total;
    return *this;
}

bool C_String::Allocate(unsigned int size, int kind)
{
    FreeForms();
    m_iLength = 0;
    if (kind == NARROW)
    {
        m_pNarrow = (char*)calloc(size + 1, 1);
        if (m_pNarrow == NULL)
            return false;
    }
    else if (kind == WIDE)
    {
        m_pWide = (wchar_t*)calloc(size + 1, sizeof(wchar_t));
        if (m_pWide == NULL)
            return false;
    }
    else
    {
        FW_ASSERT(false);
        return false;
    }
    m_iLength = size;
    return size != 0;
}

void C_String::Clear()
{
    FreeForms();
    m_iLength = 0;
}

void C_String::UpdateLength()
{
    if (m_pWide)
        m_iLength = (unsigned int)wcslen(m_pWide);
    else if (m_pNarrow)
        m_iLength = (unsigned int)strlen(m_pNarrow);
    else
        m_iLength = 0;
}

bool C_String::IsEmpty() const
{
    if (m_pWide)
        return m_pWide[0] == 0;
    if (m_pNarrow)
        return m_pNarrow[0] == 0;
    return true;
}

const char* C_String::GetNarrow()
{
    if (m_pNarrow)
        return m_pNarrow;
    if (m_pWide)
    {
        m_pNarrow = TextDuplicate(W2A(m_pWide));
        if (m_pNarrow)
            return m_pNarrow;
    }
    return "";
}

const char* C_String::GetNarrowTemp() const
{
    if (m_pNarrow)
        return m_pNarrow;
    if (m_pWide)
        return W2A(m_pWide);
    return "";
}

const wchar_t* C_String::GetWide() const
{
    if (m_pWide)
        return m_pWide;
    if (m_pNarrow)
        return A2W(m_pNarrow);
    return L"";
}

bool C_String::Equals(const char* text) const
{
    if (text == NULL)
        return m_pNarrow == NULL && m_pWide == NULL;
    if (text == m_pNarrow)
        return true;
    if (m_pNarrow != NULL || m_pWide == NULL)
        return lstrcmpiA(GetNarrowTemp(), text) == 0;
    // The argument may itself be a W2A result, which converting our wide form
    // would overwrite: compare against a copy of it.
    char* copy = TextDuplicate(text);
    bool equal = copy != NULL && lstrcmpiA(W2A(m_pWide), copy) == 0;
    free(copy);
    return equal;
}

bool C_String::Equals(const wchar_t* text) const
{
    if (text == NULL)
        return m_pNarrow == NULL && m_pWide == NULL;
    if (text == m_pWide)
        return true;
    if (m_pWide != NULL || m_pNarrow == NULL)
        return TextEqualNoCase(GetWide(), text);
    // As above: the argument may be the A2W result that our conversion reuses.
    wchar_t* copy = TextDuplicate(text);
    bool equal = copy != NULL && TextEqualNoCase(A2W(m_pNarrow), copy);
    free(copy);
    return equal;
}

bool C_String::Equals(const C_String& other) const
{
    if (m_iLength != other.m_iLength)
        return false;
    if (other.m_pWide)
        return Equals(other.m_pWide);
    return Equals(other.m_pNarrow);
}

void C_String::Replace(const char* search, const char* replacement, int count)
{
    if (search == NULL || replacement == NULL || search[0] == 0 || IsEmpty())
        return;
    // Without a narrow copy (out of memory) the wide text is all there is: keep it.
    GetNarrow();
    if (m_pNarrow == NULL)
        return;
    free(m_pWide);
    m_pWide = NULL;

    size_t searchLength = strlen(search);
    size_t replacementLength = strlen(replacement);
    if (replacementLength <= searchLength)
    {
        TextReplaceInPlace(m_pNarrow, search, replacement);
    }
    else
    {
        char* place = strstr(m_pNarrow, search);
        if (place != NULL)
        {
            if (count < 1)
                count = 1;
            size_t length = strlen(m_pNarrow) + (replacementLength - searchLength) * count;
            char* buffer = (char*)malloc(length + 1);
            if (buffer == NULL)
                return;
            size_t head = place - m_pNarrow;
            memcpy(buffer, m_pNarrow, head);
            memcpy(buffer + head, replacement, replacementLength);
            strcpy(buffer + head + replacementLength, place + searchLength);
            free(m_pNarrow);
            m_pNarrow = buffer;
        }
    }
    UpdateLength();
}

bool C_String::FormatFromMessage(const char* format, ...)
{
    if (format == NULL)
        return false;
    va_list args;
    va_start(args, format);
    char* text = NULL;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER, format, 0,
                             0, (LPSTR)&text, 0, &args);
    va_end(args);
    if (n == 0 || text == NULL)
        return false;
    *this = text;
    LocalFree(text);
    return true;
}

const char* C_String::Right(unsigned int n) const
{
    return TextRight(GetNarrowTemp(), n);
}

void C_String::TrimRight(char c)
{
    // A wide-only string is trimmed too: it gets its narrow form first.
    GetNarrow();
    if (m_pNarrow == NULL)
        return;
    TextTrimRight(m_pNarrow, c);
    free(m_pWide);
    m_pWide = NULL;
    UpdateLength();
}

const char* C_String::Find(const char* text)
{
    if (text == NULL)
        return NULL;
    if (m_pNarrow != NULL || m_pWide == NULL)
        return strstr(GetNarrow(), text);
    // Making the narrow form goes through W2A, whose result the argument may be.
    char* copy = TextDuplicate(text);
    if (copy == NULL)
        return NULL;
    const char* found = strstr(GetNarrow(), copy);
    free(copy);
    return found;
}
