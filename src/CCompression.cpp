#include "CCompression.h"

#include "FileUtil.h"
#include "Log.h"
#include "SystemLibrary.h"

#include <stdio.h>
#include <string.h>

const char* const UNZIP_LIBRARY_PATH = "bin\\dunzip32.dll";

namespace
{
const char* const UNZIP_ALL_MEMBERS = "*.*";
} // namespace

CCompression::CCompression(const char* installFolder)
    : m_bAvailable(false), m_lastError(UNZIP_NOT_CALLED), m_hModule(NULL), m_pfnDunzip(NULL)
{
    memset(&m_block, 0, sizeof(m_block));
    m_szLibraryPath[0] = '\0';
    m_szTempFolder[0] = '\0';
    if (installFolder == NULL)
        installFolder = "";
    const int length = _snprintf(m_szLibraryPath, MAX_PATH, "%s\\%s", installFolder, UNZIP_LIBRARY_PATH);
    if (length < 0 || length >= MAX_PATH)
    {
        // No such library can be loaded: the object stays unavailable.
        m_szLibraryPath[0] = '\0';
        LogMessage(2, LOG_WARNING, "Path of the unzip library in '%hs' is too long.\n", installFolder);
        ResetCommandBlock();
        return;
    }

    if (FileExists(m_szLibraryPath))
    {
        m_hModule = LoadLibraryFromPath(m_szLibraryPath);
        if (m_hModule != NULL)
            m_pfnDunzip = (DunzipEntry)(void*)GetProcAddress(m_hModule, UNZIP_LIBRARY_ENTRY);
        if (m_pfnDunzip == NULL)
        {
            m_lastError = GetLastError();
            if (m_hModule != NULL)
                FreeLibrary(m_hModule);
            m_hModule = NULL;
            return;
        }
        m_bAvailable = true;
    }
    ResetCommandBlock();
}

CCompression::~CCompression()
{
    if (m_hModule != NULL)
        FreeLibrary(m_hModule);
    m_hModule = NULL;
    m_pfnDunzip = NULL;
    m_bAvailable = false;
    m_lastError = UNZIP_NOT_CALLED;
}

void CCompression::ResetCommandBlock()
{
    memset(&m_block, 0, sizeof(m_block));
    m_block.size = sizeof(m_block);
    m_block.reserved20 = -1;
    m_block.flag48 = 1;
    m_block.flag108 = 1;
}

bool CCompression::Unzip(const char* archive, const char* memberName, const char* destination)
{
    if (!m_bAvailable)
        return false;

    m_lastError = ERROR_FILE_NOT_FOUND;
    if (!FileExists(archive))
        return false;

    ResetCommandBlock();
    m_block.archive = archive;
    m_block.fileSpec = UNZIP_ALL_MEMBERS;
    m_block.operation = UNZIP_OPERATION_EXTRACT;
    m_block.flag36 = 1;

    const DWORD tempLength = GetTempPathA(MAX_PATH, m_szTempFolder);
    if (tempLength == 0 || tempLength >= MAX_PATH)
    {
        m_lastError = tempLength == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW;
        LogMessage(2, LOG_WARNING, "Unzip: no temporary folder ( %ld ).\n", (long)m_lastError);
        return false;
    }
    m_block.destination = m_szTempFolder;

    char extracted[MAX_PATH];
    const int length = _snprintf(extracted, MAX_PATH, "%s%s", m_szTempFolder, memberName ? memberName : "");
    if (memberName == NULL || memberName[0] == '\0' || length < 0 || length >= MAX_PATH)
    {
        m_lastError = ERROR_BAD_PATHNAME;
        LogMessage(2, LOG_WARNING, "Unzip: member name '%hs' cannot be extracted to '%hs'.\n",
                   memberName ? memberName : "", m_szTempFolder);
        return false;
    }
    // A stale copy must never be taken for what this extraction produced.
    ForceDeleteFile(extracted);
    if (FileExists(extracted))
    {
        m_lastError = ERROR_ACCESS_DENIED;
        LogMessage(2, LOG_WARNING, "Unzip: could not delete the earlier '%hs'.\n", extracted);
        return false;
    }

    m_lastError = m_pfnDunzip(&m_block);
    if (m_lastError != 0)
        return false;

    // The library succeeds for an archive without the member; that, and a
    // failed copy, must not reach the caller as success (it would delete the
    // archive it could not unpack).
    if (!FileExists(extracted))
    {
        m_lastError = ERROR_FILE_NOT_FOUND;
        LogMessage(2, LOG_WARNING, "Unzip: '%hs' holds no member '%hs'.\n", archive, memberName);
        return false;
    }
    if (!CopyOneFile(extracted, destination, NULL))
    {
        m_lastError = GetLastError();
        if (m_lastError == ERROR_SUCCESS)
            m_lastError = ERROR_CANNOT_COPY;
        LogMessage(2, LOG_WARNING, "Unzip: could not copy '%hs' to '%hs' ( %ld ).\n", extracted,
                   destination, (long)m_lastError);
        ForceDeleteFile(extracted);
        return false;
    }
    ForceDeleteFile(extracted);
    m_lastError = ERROR_SUCCESS;
    return true;
}
