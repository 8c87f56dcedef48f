// Unpacking of zip archives through the unzip library that the product ships
// in its bin folder (dunzip32.dll, loaded at run time from the installation).
#pragma once

#include <windows.h>

#include "UnzipBlock.h"

// The library, relative to the installation folder.
extern const char* const UNZIP_LIBRARY_PATH; // "bin\dunzip32.dll"
// Last error while no library call has said otherwise.
const DWORD UNZIP_NOT_CALLED = 5023;

class CCompression
{
public:
    // Loads the library from "<installFolder>\bin\dunzip32.dll" when it exists.
    explicit CCompression(const char* installFolder);
    virtual ~CCompression();

    // Extracts the archive into the temporary folder and copies its member
    // named memberName to destination. False with GetLastErrorCode() telling
    // why: 2 archive missing, the library's own code, or 0 when the copy failed.
    bool Unzip(const char* archive, const char* memberName, const char* destination);

    bool IsAvailable() const { return m_bAvailable; }
    DWORD GetLastErrorCode() const { return m_lastError; }
    const char* GetLibraryPath() const { return m_szLibraryPath; }
    const UnzipCommandBlock& GetCommandBlock() const { return m_block; }

private:
    void ResetCommandBlock();

    bool m_bAvailable;
    DWORD m_lastError;
    char m_szLibraryPath[MAX_PATH];
    HMODULE m_hModule;
    UnzipCommandBlock m_block;
    DunzipEntry m_pfnDunzip;
    char m_szTempFolder[MAX_PATH];   // the destination the block points at

    CCompression(const CCompression&) = delete;
    CCompression& operator=(const CCompression&) = delete;
};
