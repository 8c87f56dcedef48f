// The program's string class: a text in 8-bit form, 16-bit form or both,
// converted on demand. Reading operations never hand out null.
#pragma once

#include <windows.h>

class C_String
{
public:
    enum Kind { NARROW = 1, WIDE = 2 };

    C_String();
    C_String(const char* text);
    C_String(const wchar_t* text);
    C_String(unsigned int size, int kind);
    C_String(const C_String& other);
    virtual ~C_String();

    C_String& operator=(const C_String& other);
    C_String& operator=(const char* text);
    C_String& operator=(const wchar_t* text);
    C_String& operator+=(const C_String& other);
    C_String& operator+=(const char* text);
    C_String& operator+=(const wchar_t* text);

    bool Allocate(unsigned int size, int kind);
    void Clear();
    void UpdateLength();
    unsigned int Length() const { return m_iLength; }
    bool IsEmpty() const;
    bool HasNarrow() const { return m_pNarrow != NULL; }
    bool HasWide() const { return m_pWide != NULL; }

    // Writable buffers, for callers that filled an Allocate'd string.
    char* NarrowBuffer() { return m_pNarrow; }
    wchar_t* WideBuffer() { return m_pWide; }

    const char* GetNarrow();
    const char* GetNarrowTemp() const;
    const wchar_t* GetWide() const;

    bool Equals(const char* text) const;
    bool Equals(const wchar_t* text) const;
    bool Equals(const C_String& other) const;

    void Replace(const char* search, const char* replacement, int count);
    bool FormatFromMessage(const char* format, ...);
    const char* Right(unsigned int n) const;
    void TrimRight(char c);
    const char* Find(const char* text);

private:
    unsigned int m_iLength;
    char* m_pNarrow;
    wchar_t* m_pWide;

    void FreeForms();
};
