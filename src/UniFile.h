// Reads a whole text file into memory as 16-bit text: UTF-16 little-endian
// with the mark FF FE, or 8-bit text in the system's ANSI code page.
#pragma once

#include <windows.h>

class CUniFile
{
public:
    CUniFile();
    virtual ~CUniFile();

    // Opens the file and prepares the buffers; a second Open starts over.
    bool Open(const char* path);
    // Reads the whole file and converts it; true when the text is available.
    bool Read();
    void Close();

    // The text (terminated), owned by this object; null before a successful Read.
    const wchar_t* GetText() const { return m_bLoaded ? m_pText : NULL; }
    // The same text, for a reader that mends it in place (never longer).
    wchar_t* GetWritableText() { return m_bLoaded ? m_pText : NULL; }
    bool IsUnicode() const { return m_bUnicode; }
    bool IsLoaded() const { return m_bLoaded; }
    const char* GetFileName() const { return m_szFileName; }

private:
    HANDLE m_hFile;
    char m_szFileName[MAX_PATH];
    bool m_bUnicode;
    bool m_bLoaded;
    DWORD m_dwBufferSize;     // file size + 4
    wchar_t* m_pText;         // m_dwBufferSize characters
    char* m_pRaw;             // m_dwBufferSize bytes, freed after reading

    void FreeBuffers();

    CUniFile(const CUniFile&);
    CUniFile& operator=(const CUniFile&);
};
