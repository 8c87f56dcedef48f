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

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <stdio.h>
#include <string.h>

#ifndef ERROR_INVALID_IMAGE_HASH
#define ERROR_INVALID_IMAGE_HASH 577L
#endif

const char* const INSTALLER_PUBLISHER = "Microsoft Corporation";

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

bool SameDigest(const char* listed, const char* computed)
{
    // The release tool writes lower case; a hand-written entry may not.
    return TextEqualNoCase(listed, computed);
}
} // namespace

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

bool VerifyObtainedInstaller(const char* sourceName, const char* localPath, DWORD& code)
{
    code = 0;
    bool fromNetwork = true;
    if (g_downloadManager != NULL)
    {
        char resolved[MAX_PATH];
        fromNetwork = !(CombineSourcePath(g_downloadManager->GetBaseUrl(), sourceName, resolved) &&
                        IsLocalSource(resolved));
    }
    if (JudgeInstaller(g_resource, sourceName, localPath, fromNetwork) != INSTALLER_REFUSED)
        return true;

    code = ERROR_INVALID_IMAGE_HASH;
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
