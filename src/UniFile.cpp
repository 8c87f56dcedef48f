#include "UniFile.h"

#include <stdlib.h>
#include <string.h>

// Room after the file's bytes for the terminators of either text form.
static const DWORD BUFFER_SLACK = 4;

CUniFile::CUniFile()
    : m_hFile(INVALID_HANDLE_VALUE), m_bUnicode(false), m_bLoaded(false), m_dwBufferSize(0),
      m_pText(NULL), m_pRaw(NULL)
{
    m_szFileName[0] = 0;
}

CUniFile::~CUniFile()
{
    Close();
    FreeBuffers();
}

void CUniFile::FreeBuffers()
{
    free(m_pText);
    m_pText = NULL;
    free(m_pRaw);
    m_pRaw = NULL;
}

bool CUniFile::Open(const char* path)
{
    m_bLoaded = false;
    m_bUnicode = false;
    Close();
    if (path == NULL || path[0] == 0 || strlen(path) >= MAX_PATH)
        return false;
    strcpy(m_szFileName, path);

    m_hFile = CreateFileA(m_szFileName, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, NULL);
    if (m_hFile == INVALID_HANDLE_VALUE)
        return false;

    DWORD high = 0;
    DWORD size = GetFileSize(m_hFile, &high);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return false;
    // A settings file never comes near this; refusing keeps the size arithmetic safe.
    if (high != 0 || size > 0x3FFFFFF0)
    {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    m_dwBufferSize = size + BUFFER_SLACK;

    FreeBuffers();
    m_pText = (wchar_t*)calloc(m_dwBufferSize, sizeof(wchar_t));
    m_pRaw = (char*)calloc(m_dwBufferSize, 1);
    if (m_pText == NULL || m_pRaw == NULL)
    {
        FreeBuffers();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

bool CUniFile::Read()
{
    if (m_bLoaded || m_pText == NULL || m_pRaw == NULL || m_hFile == INVALID_HANDLE_VALUE)
        return false;

    // The buffer leaves room for the terminator, so at most the file's size is read.
    DWORD wanted = m_dwBufferSize - BUFFER_SLACK;
    DWORD got = 0;
    if (!ReadFile(m_hFile, m_pRaw, wanted, &got, NULL) || got == 0)
    {
        FreeBuffers();
        return false;
    }
    m_pRaw[got] = 0;
    m_pRaw[got + 1] = 0;

    m_bUnicode = got >= 2 && (unsigned char)m_pRaw[0] == 0xFF && (unsigned char)m_pRaw[1] == 0xFE;
    if (m_bUnicode)
    {
        // Characters after the mark; a final odd byte is not part of any.
        DWORD count = got / 2 - 1;
        const unsigned char* src = (const unsigned char*)m_pRaw + 2;
        DWORD i = 0;
        for (; i < count; i++)
        {
            wchar_t c = (wchar_t)(src[2 * i] | (src[2 * i + 1] << 8));
            if (c == 0)
                break;
            m_pText[i] = c;
        }
        m_pText[i] = 0;
    }
    else
    {
        int converted = MultiByteToWideChar(CP_ACP, 0, m_pRaw, -1, m_pText, (int)m_dwBufferSize);
        if (converted == 0)
            return false;
    }

    free(m_pRaw);
    m_pRaw = NULL;
    m_bLoaded = true;
    return true;
}

void CUniFile::Close()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
    {
        CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
    }
}
