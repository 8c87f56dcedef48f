// The narrow/wide bridge: whether the wide system interfaces are in use, the
// conversion code page and the two shared conversions A2W and W2A.
#pragma once

#include <windows.h>

extern bool isWinNT;      // the system is of the NT family
extern bool useWideApi;   // wide interfaces in use; /9 clears it

bool InitWideApi();

UINT GetConversionCodePage();
void SetConversionCodePage(UINT codePage);
// Makes a language's code page the conversion code page (0: the system's).
// One the system lacks (a Windows 9x without that language's support) would
// fail every conversion and leave every text empty: the system's own code
// page is used then, and the log says so. Returns the code page now in use.
UINT UseLanguageCodePage(UINT codePage);

// Results live in one shared buffer each, valid until the next call of the
// same routine. Never null.
const wchar_t* A2W(const char* text);
const char* W2A(const wchar_t* text);

int LoadStringWide(HINSTANCE module, UINT id, wchar_t* buffer, int size);
BOOL SetWindowTextWide(HWND window, const wchar_t* text);
BOOL SetDlgItemTextWide(HWND dialog, int controlId, const wchar_t* text);
BOOL GetTextExtentWide(HDC dc, const wchar_t* text, int count, SIZE* size);
