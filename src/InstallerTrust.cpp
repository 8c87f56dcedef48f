#include "InstallerTrust.h"

#include "AppObjects.h"
#include "CDownloadManager.h"
#include "CResource.h"
#include "FileUtil.h"
#include "Log.h"
#include "Sha256.h"
#include "SystemLibrary.h"
#include "TextUtil.h"
#include "UserMessages.h"
#include "WideAPI.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <stdio.h>
#include <string.h>

#ifndef ERROR_INVALID_IMAGE_HASH
#define ERROR_INVALID_IMAGE_HASH 577L
#endif

const char* const INSTALLER_PUBLISHER = "Microsoft Corporation";
const char* const PACKAGE_PUBLISHER = "Ombrant";

namespace
{
const wchar_t* const LABEL_UNTRUSTED = L"UntrustedInstaller";
// When the settings file has no such label the user still learns what
// happened and that nothing ran.
const char* const UNTRUSTED_TEXT =
    "The installer '%s' is not the one this setup expects: it is neither signed by %s nor "
    "matches the digest in the settings file. It was not run.";

// A chain with any of these faults does not make a signature trustworthy,
// whatever the signature check itself said (Wine's check, for one, accepts a
// chain that ends at an unknown authority).
const DWORD CHAIN_FAULTS = CERT_TRUST_IS_REVOKED | CERT_TRUST_IS_NOT_SIGNATURE_VALID |
                           CERT_TRUST_IS_NOT_VALID_FOR_USAGE | CERT_TRUST_IS_UNTRUSTED_ROOT |
                           CERT_TRUST_IS_CYCLIC | CERT_TRUST_IS_PARTIAL_CHAIN |
                           CERT_TRUST_IS_EXPLICIT_DISTRUST;

typedef LONG(WINAPI* VerifyTrustFn)(HWND, GUID*, LPVOID);
typedef CRYPT_PROVIDER_DATA*(WINAPI* ProvDataFn)(HANDLE);
typedef CRYPT_PROVIDER_SGNR*(WINAPI* ProvSignerFn)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
typedef CRYPT_PROVIDER_CERT*(WINAPI* ProvCertFn)(CRYPT_PROVIDER_SGNR*, DWORD);
typedef DWORD(WINAPI* NameStringFn)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPSTR, DWORD);

struct TrustFunctions
{
    bool tried;
    VerifyTrustFn verify;
    ProvDataFn provData;
    ProvSignerFn signer;
    ProvCertFn cert;
    NameStringFn name;
} s_trust = { false, NULL, NULL, NULL, NULL, NULL };

bool BindTrustFunctions()
{
    if (!s_trust.tried)
    {
        s_trust.tried = true;
        HMODULE wintrust = LoadSystemLibrary("wintrust.dll");
        HMODULE crypt32 = LoadSystemLibrary("crypt32.dll");
        if (wintrust != NULL && crypt32 != NULL)
        {
            s_trust.verify = (VerifyTrustFn)(void*)GetProcAddress(wintrust, "WinVerifyTrust");
            s_trust.provData = (ProvDataFn)(void*)GetProcAddress(wintrust, "WTHelperProvDataFromStateData");
            s_trust.signer = (ProvSignerFn)(void*)GetProcAddress(wintrust, "WTHelperGetProvSignerFromChain");
            s_trust.cert = (ProvCertFn)(void*)GetProcAddress(wintrust, "WTHelperGetProvCertFromChain");
            s_trust.name = (NameStringFn)(void*)GetProcAddress(crypt32, "CertGetNameStringA");
        }
    }
    return s_trust.verify && s_trust.provData && s_trust.signer && s_trust.cert && s_trust.name;
}

// The protected folders' names below the temporary folder; a number makes
// each fresh.
const char* const PROTECTED_FOLDER_FORMAT = "%sFernwick-%lu-%d";
const int PROTECTED_FOLDER_TRIES = 100;

typedef BOOL(WINAPI* SetControlFn)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL, SECURITY_DESCRIPTOR_CONTROL);

// The file name of a source name ("setup\\dotnetfx.exe" -> "dotnetfx.exe"):
// installers may act on their own name, so the copy keeps it.
const char* FileNameOf(const char* sourceName)
{
    const char* name = sourceName;
    for (const char* c = sourceName; *c != 0; ++c)
        if (*c == '\\' || *c == '/')
            name = c + 1;
    return name;
}

bool SameDigest(const char* listed, const char* computed)
{
    // The release tool writes lower case; a hand-written entry may not.
    return TextEqualNoCase(listed, computed);
}
} // namespace

void LoadTrustLibraries()
{
    BindTrustFunctions();
}

bool SignedBy(const char* path, char* signer, size_t signerSize, LONG& status)
{
    signer[0] = 0;
    status = TRUST_E_PROVIDER_UNKNOWN;
    if (!BindTrustFunctions())
        return false;
    wchar_t widePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) == 0)
        return false;

    WINTRUST_FILE_INFO file;
    ZeroMemory(&file, sizeof(file));
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = widePath;
    WINTRUST_DATA data;
    ZeroMemory(&data, sizeof(data));
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    status = s_trust.verify((HWND)INVALID_HANDLE_VALUE, &action, &data);

    bool trusted = false;
    if (status == ERROR_SUCCESS)
    {
        CRYPT_PROVIDER_DATA* provider = s_trust.provData(data.hWVTStateData);
        CRYPT_PROVIDER_SGNR* first = provider != NULL ? s_trust.signer(provider, 0, FALSE, 0) : NULL;
        CRYPT_PROVIDER_CERT* cert = first != NULL ? s_trust.cert(first, 0) : NULL;
        bool chainSound = first != NULL && first->pChainContext != NULL &&
                          (first->pChainContext->TrustStatus.dwErrorStatus & CHAIN_FAULTS) == 0;
        if (cert != NULL && cert->pCert != NULL)
            s_trust.name(cert->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, NULL, signer, (DWORD)signerSize);
        trusted = chainSound && signer[0] != 0;
        if (!chainSound)
            status = CERT_E_UNTRUSTEDROOT;
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    s_trust.verify((HWND)INVALID_HANDLE_VALUE, &action, &data);
    return trusted;
}

InstallerVerdict JudgeInstaller(CResource* settings, const char* sourceName, const char* localPath,
                                bool fromNetwork, const char* publisher)
{
    const char* listed = settings != NULL ? settings->GetDigest(sourceName) : NULL;
    if (listed != NULL && listed[0] != 0)
    {
        char digest[SHA256_TEXT_SIZE];
        char expected[SHA256_TEXT_SIZE];
        lstrcpynA(expected, listed, sizeof(expected));
        if (Sha256OfFile(localPath, digest) == SHA256_FAILED)
        {
            LogMessage(2, LOG_ERROR, "Cannot compute the SHA-256 digest of '%hs' [%ld]\n", localPath,
                       GetLastError());
            return INSTALLER_REFUSED;
        }
        if (SameDigest(expected, digest))
        {
            LogMessage(2, LOG_INFO, "'%hs' matches its SHA-256 digest.\n", sourceName);
            return INSTALLER_DIGEST_MATCHES;
        }
        LogMessage(2, LOG_ERROR, "'%hs' has SHA-256 '%hs' i.s.o. '%hs'.\n", sourceName, digest, expected);
        return INSTALLER_REFUSED;
    }
    if (!fromNetwork)
    {
        LogMessage(3, LOG_INFO, "'%hs' comes from the distribution folder; no digest listed.\n", sourceName);
        return INSTALLER_LOCAL;
    }
    char signer[256];
    LONG status = 0;
    if (SignedBy(localPath, signer, sizeof(signer), status))
    {
        if (TextEqualNoCase(signer, publisher))
        {
            LogMessage(2, LOG_INFO, "'%hs' is signed by '%hs'.\n", sourceName, signer);
            return INSTALLER_SIGNED;
        }
        LogMessage(2, LOG_ERROR, "'%hs' is signed by '%hs' i.s.o. '%hs'.\n", sourceName, signer, publisher);
        return INSTALLER_REFUSED;
    }
    LogMessage(2, LOG_ERROR, "'%hs' has no valid signature (0x%08lX) and no digest is listed.\n",
               sourceName, (unsigned long)status);
    return INSTALLER_REFUSED;
}

CProtectedAccess::CProtectedAccess() : m_system(NULL), m_admins(NULL), m_users(NULL), m_bReady(false)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    PACL list = (PACL)m_acl;
    m_bReady = AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &m_system) &&
               AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                        0, &m_admins) &&
               AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0,
                                        0, &m_users) &&
               InitializeAcl(list, sizeof(m_acl), ACL_REVISION) &&
               AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, m_system) &&
               AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, m_admins) &&
               AddAccessAllowedAce(list, ACL_REVISION, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, m_users) &&
               InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorDacl(&m_descriptor, TRUE, list, FALSE);
    // The copy made in the folder takes the same list. The entries are marked
    // so here rather than made so: the call that takes the flags came with
    // Windows 2000, and the program starts on NT 4.0 too.
    for (DWORD i = 0; m_bReady && i < list->AceCount; ++i)
    {
        ACE_HEADER* ace = NULL;
        m_bReady = GetAce(list, i, (void**)&ace) && ace != NULL;
        if (m_bReady)
            ace->AceFlags = (BYTE)inherit;
    }
    if (m_bReady)
    {
        // Looked up: the systems before Windows 2000 lack it, and merge nothing.
        SetControlFn setControl =
            (SetControlFn)(void*)GetProcAddress(GetModuleHandleA("advapi32.dll"), "SetSecurityDescriptorControl");
        if (setControl != NULL)
            m_bReady = setControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) != FALSE;
    }
    m_attributes.nLength = sizeof(m_attributes);
    m_attributes.lpSecurityDescriptor = &m_descriptor;
    m_attributes.bInheritHandle = FALSE;
}

CProtectedAccess::~CProtectedAccess()
{
    if (m_system != NULL)
        FreeSid(m_system);
    if (m_admins != NULL)
        FreeSid(m_admins);
    if (m_users != NULL)
        FreeSid(m_users);
}

bool CreateProtectedFolder(const char* path, DWORD& code)
{
    code = 0;
    if (!isWinNT)
    {
        // No access lists on this system: nothing to protect it with.
        if (CreateDirectoryA(path, NULL))
            return true;
        code = GetLastError();
        return false;
    }
    CProtectedAccess security;
    if (!security.IsReady())
    {
        code = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_SECURITY_DESCR;
        LogMessage(2, LOG_ERROR, "Cannot make the access list of a protected folder [%ld]\n", (long)code);
        return false;
    }
    if (!CreateDirectoryA(path, security.Attributes()))
    {
        code = GetLastError();
        return false;
    }
    return true;
}

bool IsDownloadedSource(const char* sourceName)
{
    if (g_downloadManager == NULL)
        return true;
    char resolved[MAX_PATH];
    return !(CombineSourcePath(g_downloadManager->GetBaseUrl(), sourceName, resolved) && IsLocalSource(resolved));
}

CVerifiedInstaller::CVerifiedInstaller() : m_hFolder(INVALID_HANDLE_VALUE), m_hFile(INVALID_HANDLE_VALUE)
{
    m_szFolder[0] = 0;
    m_szPath[0] = 0;
}

CVerifiedInstaller::~CVerifiedInstaller()
{
    Release();
}

bool CVerifiedInstaller::CopyToProtectedFolder(const char* sourceName, const char* localPath, DWORD& code)
{
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(sizeof(temp), temp);
    if (length == 0 || length >= sizeof(temp))
    {
        code = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        LogMessage(2, LOG_ERROR, "No temporary folder for a protected copy of '%hs' [%ld]\n", sourceName, (long)code);
        return false;
    }
    // A name that exists already (someone may have made it in advance) is
    // passed over: only a folder made here, with its access list, will do.
    code = ERROR_ALREADY_EXISTS;
    for (int i = 1; i <= PROTECTED_FOLDER_TRIES && code == ERROR_ALREADY_EXISTS; ++i)
    {
        int written = _snprintf(m_szFolder, sizeof(m_szFolder), PROTECTED_FOLDER_FORMAT, temp,
                                (unsigned long)GetCurrentProcessId(), i);
        if (written <= 0 || written >= (int)sizeof(m_szFolder))
        {
            code = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        if (CreateProtectedFolder(m_szFolder, code))
            code = 0;
    }
    if (code != 0)
    {
        LogMessage(2, LOG_ERROR, "Cannot make the protected folder '%hs' [%ld]\n", m_szFolder, (long)code);
        m_szFolder[0] = 0;
        return false;
    }
    // Held open without delete sharing: nobody renames the folder, or puts
    // another in its place, while the copy in it is checked and run.
    m_hFolder = CreateFileA(m_szFolder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (!FormatPath(m_szPath, "%s\\%s", m_szFolder, FileNameOf(sourceName)))
    {
        code = ERROR_FILENAME_EXCED_RANGE;
        LogMessage(2, LOG_ERROR, "Path of the protected copy of '%hs' too long.\n", sourceName);
        m_szPath[0] = 0;
        return false;
    }
    if (!CopyFileA(localPath, m_szPath, TRUE))
    {
        code = GetLastError();
        LogMessage(2, LOG_ERROR, "Cannot copy '%hs' to '%hs' [%ld]\n", localPath, m_szPath, (long)code);
        m_szPath[0] = 0;
        return false;
    }
    // Read sharing only: the check, the start and the installer itself read
    // it; nobody may write it until it has run.
    m_hFile = CreateFileA(m_szPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (m_hFile == INVALID_HANDLE_VALUE)
    {
        code = GetLastError();
        LogMessage(2, LOG_ERROR, "Cannot open the protected copy '%hs' [%ld]\n", m_szPath, (long)code);
        return false;
    }
    LogMessage(2, LOG_INFO, "'%hs' copied to the protected folder as '%hs'.\n", sourceName, m_szPath);
    code = 0;
    return true;
}

bool CVerifiedInstaller::Take(const char* sourceName, const char* localPath, DWORD& code, const char* publisher)
{
    Release();
    code = 0;
    bool fromNetwork = IsDownloadedSource(sourceName);
    if (!fromNetwork)
    {
        if (strlen(localPath) >= sizeof(m_szPath))
        {
            code = ERROR_FILENAME_EXCED_RANGE;
            return false;
        }
        strcpy(m_szPath, localPath);
    }
    else if (!CopyToProtectedFolder(sourceName, localPath, code))
    {
        Release();
        return false;
    }
    if (JudgeInstaller(g_resource, sourceName, m_szPath, fromNetwork, publisher) != INSTALLER_REFUSED)
        return true;
    code = ERROR_INVALID_IMAGE_HASH;
    Release();
    return false;
}

void CVerifiedInstaller::Release()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        CloseHandle(m_hFile);
    if (m_hFolder != INVALID_HANDLE_VALUE)
        CloseHandle(m_hFolder);
    m_hFile = INVALID_HANDLE_VALUE;
    m_hFolder = INVALID_HANDLE_VALUE;
    if (m_szFolder[0] != 0)
    {
        // What an installer may have left beside its copy goes too.
        if (m_szPath[0] != 0)
            DeleteFileA(m_szPath);
        if (RemoveDirectoryA(m_szFolder) || DeleteFolderTree(m_szFolder))
            LogMessage(3, LOG_INFO, "Removed the protected folder '%hs'.\n", m_szFolder);
        else
            LogMessage(2, LOG_WARNING, "Could not remove the protected folder '%hs' [%ld]\n", m_szFolder,
                       (long)GetLastError());
    }
    m_szFolder[0] = 0;
    m_szPath[0] = 0;
}

bool VerifyObtainedInstaller(const char* sourceName, const char* localPath, CVerifiedInstaller& installer,
                             DWORD& code)
{
    if (installer.Take(sourceName, localPath, code))
        return true;
    if (code != ERROR_INVALID_IMAGE_HASH)
    {
        // The copy could not be made: the file is as good as not obtained.
        TellFormatted(MESSAGE_ERROR, LABEL_FAIL_FILE, NOTHING_WITHOUT_LABEL, sourceName,
                      g_downloadManager != NULL ? g_downloadManager->GetBaseUrl() : "");
        return false;
    }
    LogMessage(2, LOG_ERROR, "Installer '%hs' refused: it is not run.\n", localPath);
    char narrow[512];
    _snprintf(narrow, sizeof(narrow) - 1, UNTRUSTED_TEXT, sourceName, INSTALLER_PUBLISHER);
    narrow[sizeof(narrow) - 1] = 0;
    wchar_t fallback[512];
    MultiByteToWideChar(CP_ACP, 0, narrow, -1, fallback, sizeof(fallback) / sizeof(fallback[0]));
    fallback[sizeof(fallback) / sizeof(fallback[0]) - 1] = 0;
    TellFormatted(MESSAGE_ERROR, LABEL_UNTRUSTED, fallback, sourceName);
    return false;
}
