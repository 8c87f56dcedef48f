#include "TextUtil.h"

#include <windows.h>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include "WideAPI.h"

static bool IsSpace(char c)
{
    return isspace((unsigned char)c) != 0;
}

// Windows 9x has CharUpperW and lstrcmpiW only as stubs that fail (CharUpperW
// answers 0 for every character, lstrcmpiW "equal" for every pair): there the
// runtime's own mapping of the default locale is used instead.
static wchar_t UpperWide(wchar_t c)
{
    if (!isWinNT)
        return (wchar_t)towupper(c);
    return (wchar_t)(ULONG_PTR)CharUpperW((LPWSTR)(ULONG_PTR)c);
}

size_t TextLength(const char* text)
{
    return text ? strlen(text) : 0;
}

size_t TextLength(const wchar_t* text)
{
    return text ? wcslen(text) : 0;
}

char* TextCopy(char* dest, const char* src)
{
    if (dest && src)
        strcpy(dest, src);
    return dest;
}

wchar_t* TextCopy(wchar_t* dest, const wchar_t* src)
{
    if (dest && src)
        wcscpy(dest, src);
    return dest;
}

char* TextConcat(char* dest, const char* src)
{
    if (dest && src)
        strcat(dest, src);
    return dest;
}

wchar_t* TextConcat(wchar_t* dest, const wchar_t* src)
{
    if (dest && src)
        wcscat(dest, src);
    return dest;
}

char* TextDuplicate(const char* text)
{
    if (text == NULL)
        return NULL;
    size_t size = strlen(text) + 1;
    char* copy = (char*)malloc(size);
    if (copy)
        memcpy(copy, text, size);
    return copy;
}

wchar_t* TextDuplicate(const wchar_t* text)
{
    if (text == NULL)
        return NULL;
    size_t size = (wcslen(text) + 1) * sizeof(wchar_t);
    wchar_t* copy = (wchar_t*)malloc(size);
    if (copy)
        memcpy(copy, text, size);
    return copy;
}

void TextUpper(char* text)
{
    for (; text && *text; ++text)
        *text = (char)toupper((unsigned char)*text);
}

void TextLower(char* text)
{
    for (; text && *text; ++text)
        *text = (char)tolower((unsigned char)*text);
}

char* TextTrimRight(char* text, char c)
{
    if (text == NULL)
        return NULL;
    size_t length = strlen(text);
    while (length > 0 && (c ? text[length - 1] == c : IsSpace(text[length - 1])))
        text[--length] = 0;
    return text;
}

char* TextTrimLeft(char* text, char c)
{
    if (text == NULL)
        return NULL;
    while (*text && (c ? *text == c : IsSpace(*text)))
        ++text;
    return text;
}

char* TextTrim(char* text)
{
    return TextTrimLeft(TextTrimRight(text, 0), 0);
}

const char* TextRight(const char* text, size_t n)
{
    if (text == NULL)
        return "";
    size_t length = strlen(text);
    return length > n ? text + (length - n) : text;
}

const wchar_t* TextFindNoCase(const wchar_t* text, const wchar_t* search)
{
    if (text == NULL || search == NULL)
        return NULL;
    size_t searchLength = wcslen(search);
    for (const wchar_t* p = text; *p; ++p)
    {
        size_t i = 0;
        while (i < searchLength && p[i] && UpperWide(p[i]) == UpperWide(search[i]))
            ++i;
        if (i == searchLength)
            return p;
    }
    return searchLength == 0 ? text : NULL;
}

const wchar_t* TextFindInRange(const wchar_t* text, size_t n, const wchar_t* search)
{
    if (text == NULL || search == NULL)
        return NULL;
    size_t searchLength = wcslen(search);
    for (size_t start = 0; start + searchLength <= n && text[start]; ++start)
    {
        if (wcsncmp(text + start, search, searchLength) == 0)
            return text + start;
    }
    return NULL;
}

bool TextEqualNoCase(const char* a, const char* b)
{
    if (a == b)
        return true;
    if (a == NULL || b == NULL)
        return false;
    return lstrcmpiA(a, b) == 0;
}

bool TextEqualNoCase(const wchar_t* a, const wchar_t* b)
{
    if (a == b)
        return true;
    if (a == NULL || b == NULL)
        return false;
    if (!isWinNT)
    {
        for (; UpperWide(*a) == UpperWide(*b); ++a, ++b)
        {
            if (*a == 0)
                return true;
        }
        return false;
    }
    return lstrcmpiW(a, b) == 0;
}

bool TextEqualNoCase(const char* a, const char* b, size_t n)
{
    if (a == b)
        return true;
    if (a == NULL || b == NULL)
        return false;
    return _strnicmp(a, b, n) == 0;
}

bool TextEqualNoCase(const wchar_t* a, const wchar_t* b, size_t n)
{
    if (a == b)
        return true;
    if (a == NULL || b == NULL)
        return false;
    for (size_t i = 0; i < n; ++i)
    {
        if (UpperWide(a[i]) != UpperWide(b[i]))
            return false;
        if (a[i] == 0)
            break;
    }
    return true;
}

void TextStripPrefixNoCase(char* text, const char* prefix)
{
    if (text == NULL || prefix == NULL)
        return;
    size_t length = strlen(prefix);
    if (length > 0 && TextEqualNoCase(text, prefix, length))
        memmove(text, text + length, strlen(text + length) + 1);
}

bool TextReplaceInPlace(char* text, const char* search, const char* replacement)
{
    if (text == NULL || search == NULL || replacement == NULL || search[0] == 0)
        return false;
    size_t searchLength = strlen(search);
    size_t replacementLength = strlen(replacement);
    if (replacementLength > searchLength)
        return false;
    char* place = strstr(text, search);
    if (place == NULL)
        return false;
    memmove(place + replacementLength, place + searchLength, strlen(place + searchLength) + 1);
    memcpy(place, replacement, replacementLength);
    return true;
}
