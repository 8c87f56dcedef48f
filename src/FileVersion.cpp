#include "FileVersion.h"

#include "CheckSum.h"
#include "Log.h"
#include "SystemLibrary.h"
#include "TextUtil.h"
#include "WideAPI.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace
{
const char* const PRODUCT_NAME_QUERY = "\\StringFileInfo\\040904b0\\ProductName";
const char* const PRODUCT_VERSION_QUERY = "\\StringFileInfo\\040904b0\\ProductVersion";
const wchar_t MARKER_START[] = L"OMBRANT_--";
const wchar_t MARKER_END[] = L"--_OMBRANT";
const size_t MARKER_LENGTH = 10;
const size_t DATE_TEXT_LENGTH = 10; // DD.MM.YYYY

// A string value of a version resource, or null when missing or empty.
const char* QueryVersionText(void* block, const char* query)
{
    char* text = NULL;
    UINT length = 0;
    if (!VersionInfoQuery(block, query, (void**)&text, &length) || text == NULL || length == 0 ||
        text[0] == '\0')
        return NULL;
    return text;
}

// The build number a product name carries as "...-<digits>]": the digits
// between its last "-" and its first "]". 0 when the name has no such part.
DWORD BuildNumberOf(const char* productName)
{
    if (productName == NULL)
        return 0;
    const char* hyphen = strrchr(productName, '-');
    const char* bracket = strchr(productName, ']');
    if (hyphen == NULL || bracket == NULL || hyphen > bracket)
        return 0;
    DWORD number = 0;
    for (const char* p = hyphen + 1; p < bracket && *p >= '0' && *p <= '9'; ++p)
    {
        number = number * 10 + (DWORD)(*p - '0');
        if (number > 0xFFFF)
            break;
    }
    return number;
}

// The first place of search within the first n characters of text. Unlike a
// text search it goes on past zero characters: the window holds binary data.
const wchar_t* FindInWindow(const wchar_t* text, size_t n, const wchar_t* search, size_t searchLength)
{
    for (size_t start = 0; start + searchLength <= n; ++start)
    {
        if (memcmp(text + start, search, searchLength * sizeof(wchar_t)) == 0)
            return text + start;
    }
    return NULL;
}

// The marker version within one window of characters into out, or false.
bool FindMarkerIn(const wchar_t* window, size_t count, char* out)
{
    const wchar_t* start = FindInWindow(window, count, MARKER_START, MARKER_LENGTH);
    if (start == NULL)
        return false;
    const wchar_t* text = start + MARKER_LENGTH;
    const wchar_t* end = FindInWindow(text, count - (size_t)(text - window), MARKER_END, MARKER_LENGTH);
    if (end == NULL)
        return false;
    const size_t length = (size_t)(end - text);
    if (length >= MARKER_VERSION_SIZE)
        return false;
    wchar_t version[MARKER_VERSION_SIZE];
    memcpy(version, text, length * sizeof(wchar_t));
    version[length] = L'\0';
    const char* narrow = W2A(version);
    // In a multi-byte code page the narrow form can be longer than the marker.
    if (strlen(narrow) >= MARKER_VERSION_SIZE)
        return false;
    strcpy(out, narrow);
    return true;
}

// Reads up to four 8-bit fields of a version text into one packed number.
// "+" ends the text, except where it is not allowed (then false).
bool PackVersion(const char* text, bool plusAllowed, uint32_t* packed)
{
    if (text[0] == 'V')
        ++text;
    uint8_t fields[4] = { 0, 0, 0, 0 };
    int field = 0;
    for (const char* p = text; *p; ++p)
    {
        const char c = *p;
        if (c == '.' || c == '-')
        {
            ++field;
        }
        else if (c == '+')
        {
            if (!plusAllowed)
                return false;
            break;
        }
        else if (field < 4)
        {
            // Kept modulo 256: any character counts as a digit of its own value.
            fields[field] = (uint8_t)(fields[field] * 10 + (uint8_t)(c - '0'));
        }
    }
    *packed = ((uint32_t)fields[0] << 24) | ((uint32_t)fields[1] << 16) | ((uint32_t)fields[2] << 8) |
              (uint32_t)fields[3];
    return true;
}

bool ReadDecimal(const char* text, size_t count, WORD* value)
{
    WORD result = 0;
    for (size_t i = 0; i < count; ++i)
    {
        if (text[i] < '0' || text[i] > '9')
            return false;
        result = (WORD)(result * 10 + (text[i] - '0'));
    }
    *value = result;
    return true;
}

// Method 4: whether the file was created on or after the expected date
// DD.MM.YYYY (midnight, UTC).
bool IsCreatedSince(const char* path, const char* expected)
{
    if (strlen(expected) != DATE_TEXT_LENGTH)
    {
        LogMessage(4, LOG_WARNING, "Date '%hs' is not of the form DD.MM.YYYY.\n", expected);
        return false;
    }
    SYSTEMTIME date;
    memset(&date, 0, sizeof(date));
    FILETIME dateTime;
    if (!ReadDecimal(expected, 2, &date.wDay) || !ReadDecimal(expected + 3, 2, &date.wMonth) ||
        !ReadDecimal(expected + 6, 4, &date.wYear) || !SystemTimeToFileTime(&date, &dateTime))
    {
        LogMessage(4, LOG_WARNING, "Date '%hs' is not a valid date.\n", expected);
        return false;
    }

    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
    {
        LogMessage(4, LOG_WARNING, "Could not open '%hs' LastError = %d .\n", path, (int)GetLastError());
        return false;
    }
    FILETIME created;
    const bool haveTime = GetFileTime(file, &created, NULL, NULL) != FALSE;
    CloseHandle(file);
    // A file whose times cannot be read is given the benefit of the doubt.
    const bool since = !haveTime || CompareFileTime(&created, &dateTime) >= 0;
    LogMessage(4, LOG_INFO, "'%hs' is %hs '%hs'.\n", path, since ? "not older than" : "older than",
               expected);
    return since;
}
} // namespace

DWORD GetFileVersionNumbers(const char* path, DWORD* mostSignificant, DWORD* leastSignificant)
{
    char ownPath[MAX_PATH];
    const bool ownFile = path == NULL;
    if (ownFile)
    {
        const DWORD length = GetModuleFileNameA(NULL, ownPath, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return ERROR_BUFFER_OVERFLOW;
        path = ownPath;
    }

    DWORD error = ERROR_SUCCESS;
    DWORD ms = 0;
    DWORD ls = 0;
    void* block = NULL;
    DWORD unused = 0;
    const DWORD size = VersionInfoSize(path, &unused);
    if (size == 0)
    {
        error = GetLastError();
        if (error == ERROR_SUCCESS)
            error = ERROR_RESOURCE_TYPE_NOT_FOUND;
    }
    else if ((block = calloc(size, 1)) == NULL)
    {
        error = ERROR_NOT_ENOUGH_MEMORY;
        ls = 0xFFFFFFFF;
    }
    else if (!VersionInfoRead(path, size, block))
    {
        error = GetLastError();
        if (error == ERROR_SUCCESS)
            error = ERROR_RESOURCE_TYPE_NOT_FOUND;
        ls = 0xFFFFFFFF;
    }
    else
    {
        VS_FIXEDFILEINFO* info = NULL;
        UINT infoLength = 0;
        if (VersionInfoQuery(block, "\\", (void**)&info, &infoLength) && info != NULL && infoLength != 0)
        {
            ms = info->dwFileVersionMS;
            ls = info->dwFileVersionLS;
        }
        // Builds carry their number in the product name; a version whose third
        // field is 0 gets it as its fourth field.
        const char* productName = QueryVersionText(block, PRODUCT_NAME_QUERY);
        DWORD build = BuildNumberOf(productName);
        if (build > 0xFFFF)
        {
            LogMessage(2, LOG_WARNING, "Build number in '%hs' does not fit a version field; ignored.\n",
                       productName);
            build = 0;
        }
        if (ls <= 0xFFFF && QueryVersionText(block, PRODUCT_VERSION_QUERY) != NULL)
            ls = (ls << 16) | build;
    }

    if (error == ERROR_SUCCESS)
        LogMessage(ownFile ? 0 : 4, LOG_INFO, "'%hs' is version %d.%d.%d.%d\n", path, (int)HIWORD(ms),
                   (int)LOWORD(ms), (int)HIWORD(ls), (int)LOWORD(ls));
    else
        LogMessage(2, LOG_WARNING, "Could not obtain verions info of '%hs'\n", path);

    free(block);
    if (mostSignificant != NULL)
        *mostSignificant = ms;
    if (leastSignificant != NULL)
        *leastSignificant = ls;
    return error;
}

DWORD GetMarkerVersion(const char* path, char* out)
{
    if (out == NULL)
        return ERROR_INVALID_DATA;
    out[0] = '\0';
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return ERROR_INVALID_DATA;
    // The calls of every Windows version (no ...Ex forms).
    DWORD sizeHigh = 0;
    const DWORD sizeLow = GetFileSize(file, &sizeHigh);
    if (sizeLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
    {
        CloseHandle(file);
        return ERROR_INVALID_DATA;
    }
    wchar_t* window = (wchar_t*)malloc(MARKER_WINDOW_SIZE);
    if (window == NULL)
    {
        CloseHandle(file);
        return ERROR_INVALID_DATA;
    }

    // Windows are read backwards from the end; the first bytes of the file
    // are never searched, so a file no larger than one window has no marker.
    long reads = 0;
    bool found = false;
    const LONGLONG size = ((LONGLONG)sizeHigh << 32) | sizeLow;
    for (LONGLONG start = size - MARKER_WINDOW_SIZE; start >= 1 && reads < MARKER_MAX_WINDOWS;
         start -= MARKER_WINDOW_SIZE)
    {
        LONG high = (LONG)(start >> 32);
        DWORD got = 0;
        SetLastError(NO_ERROR);
        const DWORD low = SetFilePointer(file, (LONG)(start & 0xFFFFFFFF), &high, FILE_BEGIN);
        if ((low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) ||
            !ReadFile(file, window, MARKER_WINDOW_SIZE, &got, NULL) || got == 0)
            break;
        ++reads;
        if (FindMarkerIn(window, got / sizeof(wchar_t), out))
        {
            found = true;
            break;
        }
    }
    free(window);
    CloseHandle(file);

    if (!found)
    {
        LogMessage(2, LOG_WARNING, "Could not retrieve version property from '%hs' ( %ld reads )\n", path,
                   reads);
        return ERROR_INVALID_DATA;
    }
    LogMessage(4, LOG_INFO, "'%hs' has version '%hs' ( %ld reads ).\n", path, out, reads);
    return ERROR_SUCCESS;
}

bool CheckFileVersion(const char* path, FileVersionQuery* query)
{
    if (query == NULL || path == NULL || query->method > VERSION_BY_DATE)
        return false;
    // The accepted path is handed back to the caller; one that does not fit
    // must not pass as found.
    if (strlen(path) >= MAX_PATH)
    {
        LogMessage(2, LOG_WARNING, "Path too long: '%hs'\n", path);
        return false;
    }

    char value[VERSION_VALUE_SIZE] = "";
    switch (query->method)
    {
    case VERSION_BY_CHECKSUM:
        if (GetFileChecksum(path, value) != ERROR_SUCCESS)
            return false;
        break;
    case VERSION_BY_FILE_VERSION:
    {
        DWORD ms = 0;
        DWORD ls = 0;
        if (GetFileVersionNumbers(path, &ms, &ls) != ERROR_SUCCESS)
            return false;
        sprintf(value, "V%d.%d.%d.%d", (int)HIWORD(ms), (int)LOWORD(ms), (int)HIWORD(ls), (int)LOWORD(ls));
        break;
    }
    case VERSION_BY_MARKER:
        if (GetMarkerVersion(path, value) != ERROR_SUCCESS)
            return false;
        break;
    case VERSION_BY_EXISTENCE:
        return true;
    case VERSION_BY_DATE:
        return IsCreatedSince(path, query->expected);
    }

    DWORD difference = 0;
    if (query->method == VERSION_BY_CHECKSUM)
    {
        if (!TextEqualNoCase(value, query->expected))
        {
            LogMessage(4, LOG_INFO, "'%hs': checksum '%hs' is not '%hs'.\n", path, value, query->expected);
            return false;
        }
    }
    else
    {
        const int order = CompareVersions(query->expected, value, &difference);
        if (order == VERSION_B_LOWER || order == VERSION_NOT_COMPARABLE)
        {
            LogMessage(4, LOG_INFO, "'%hs': version '%hs' is below '%hs'.\n", path, value, query->expected);
            return false;
        }
        // An older acceptable file does not replace a newer one found before.
        if (difference < query->best)
        {
            query->found = true;
            return !query->keepSearching;
        }
    }

    query->best = difference;
    strcpy(query->path, path);
    strcpy(query->value, value);
    query->found = true;
    LogMessage(4, LOG_INFO, "'%hs' accepted with '%hs'.\n", path, value);
    return !query->keepSearching;
}

bool CheckFileVersionOf(const char* path, void* context)
{
    return CheckFileVersion(path, static_cast<FileVersionQuery*>(context));
}

int CompareVersions(const char* a, const char* b)
{
    DWORD difference = 0;
    return CompareVersions(a, b, &difference);
}

int CompareVersions(const char* a, const char* b, DWORD* difference)
{
    if (difference != NULL)
        *difference = 0;
    if (a == NULL || b == NULL || a[0] == '\0' || b[0] == '\0')
        return VERSION_NOT_COMPARABLE;
    uint32_t packedA = 0;
    uint32_t packedB = 0;
    // "+" closes the expected (first) text, "7+" meaning "7 or later"; the
    // text being judged must name a version.
    if (!PackVersion(a, true, &packedA) || !PackVersion(b, false, &packedB))
        return VERSION_NOT_COMPARABLE;
    if (difference != NULL)
        *difference = packedB - packedA;
    if (packedA == packedB)
        return VERSION_EQUAL;
    return packedB > packedA ? VERSION_B_HIGHER : VERSION_B_LOWER;
}

bool MakeVersionLabel(const char* text, char* out, size_t outSize, bool prefixOne)
{
    if (text == NULL || out == NULL || text[0] == 0 || outSize == 0)
        return false;
    if (text[0] == 'v' || text[0] == 'V')
        ++text;
    const char* prefix = prefixOne ? "V1" : "V";
    // A label cut short would compare as another version: none at all is safer.
    if (strlen(prefix) + strlen(text) >= outSize)
    {
        out[0] = 0;
        return false;
    }
    strcpy(out, prefix);
    strcat(out, text);
    return true;
}
