#include "Shortcuts.h"

#include <objbase.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include "AppObjects.h"
#include "CMSI.h"
#include "CResource.h"
#include "FileUtil.h"
#include "Log.h"
#include "PreviousInstallation.h"
#include "Registry.h"
#include "ResultCodes.h"
#include "RunState.h"
#include "UserMessages.h"
#include "WideAPI.h"

// The shell link object and the interfaces used on it, spelled out here so
// that nothing depends on which GUIDs the import libraries carry.
static const CLSID SHELL_LINK_CLSID = { 0x00021401, 0x0000, 0x0000, { 0xC0, 0, 0, 0, 0, 0, 0, 0x46 } };
static const IID SHELL_LINK_IID = { 0x000214EE, 0x0000, 0x0000, { 0xC0, 0, 0, 0, 0, 0, 0, 0x46 } };
static const IID PERSIST_FILE_IID = { 0x0000010B, 0x0000, 0x0000, { 0xC0, 0, 0, 0, 0, 0, 0, 0x46 } };

// Values of the product key that only describe an installation.
static const char* const INSTALLATION_VALUES[] = { PRODUCT_VALUE_INSTALL_PATH, PRODUCT_VALUE_SETUP_TYPE,
                                                   PRODUCT_VALUE_MULTI_MS_VERSION };
static const char* const OLD_DESKTOP_SHORTCUTS[] = { OLD_DESKTOP_SHORTCUT_1, OLD_DESKTOP_SHORTCUT_2 };
static const char* const MAIN_PROGRAMS[] = { REQUIRED_LOGIN, REQUIRED_MAIN };
static const char VERIFY_TAG[] = "Verify Installation";

static void DeleteIfPresent(const char* path)
{
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        ForceDeleteFile(path);
}

// What a link holds that opens its target: the fields this program sets and
// the ones it leaves at their defaults.
struct LinkFields
{
    char path[MAX_PATH];
    char arguments[MAX_PATH];
    char folder[MAX_PATH];
    char description[MAX_PATH];
    char icon[MAX_PATH];
    int iconIndex;
    int show;
    WORD hotkey;
};

static bool ReadLinkFields(IShellLinkA* link, LinkFields& fields)
{
    memset(&fields, 0, sizeof(fields));
    return SUCCEEDED(link->GetPath(fields.path, MAX_PATH, NULL, SLGP_RAWPATH)) &&
           SUCCEEDED(link->GetArguments(fields.arguments, MAX_PATH)) &&
           SUCCEEDED(link->GetWorkingDirectory(fields.folder, MAX_PATH)) &&
           SUCCEEDED(link->GetDescription(fields.description, MAX_PATH)) &&
           SUCCEEDED(link->GetIconLocation(fields.icon, MAX_PATH, &fields.iconIndex)) &&
           SUCCEEDED(link->GetShowCmd(&fields.show)) && SUCCEEDED(link->GetHotkey(&fields.hotkey));
}

static bool SameFields(const LinkFields& a, const LinkFields& b)
{
    return strcmp(a.path, b.path) == 0 && strcmp(a.arguments, b.arguments) == 0 &&
           strcmp(a.folder, b.folder) == 0 && strcmp(a.description, b.description) == 0 &&
           strcmp(a.icon, b.icon) == 0 && a.iconIndex == b.iconIndex && a.show == b.show &&
           a.hotkey == b.hotkey;
}

// True when the shortcut file already holds a link that says all the new one
// says: saving it again would change nothing a user sees or starts. A file
// that cannot be read as a link is not in place.
static bool LinkInPlace(IShellLinkA* wanted, const WCHAR* shortcut)
{
    if (GetFileAttributesW(shortcut) == INVALID_FILE_ATTRIBUTES)
        return false;
    IShellLinkA* present = NULL;
    if (FAILED(CoCreateInstance(SHELL_LINK_CLSID, NULL, CLSCTX_INPROC_SERVER, SHELL_LINK_IID, (void**)&present)))
        return false;
    bool same = false;
    IPersistFile* file = NULL;
    LinkFields want, have;
    if (SUCCEEDED(present->QueryInterface(PERSIST_FILE_IID, (void**)&file)))
    {
        same = SUCCEEDED(file->Load(shortcut, STGM_READ)) && ReadLinkFields(wanted, want) &&
               ReadLinkFields(present, have) && SameFields(want, have);
        file->Release();
    }
    present->Release();
    return same;
}

// Saves the link; the working folder is the target's folder. A link already
// in place as it would be saved is left as it is (*inPlace).
static HRESULT SaveShellLink(const char* target, const char* shortcut, const char* description, bool* inPlace)
{
    IShellLinkA* link = NULL;
    HRESULT hr = CoCreateInstance(SHELL_LINK_CLSID, NULL, CLSCTX_INPROC_SERVER, SHELL_LINK_IID,
                                  (void**)&link);
    if (FAILED(hr))
    {
        LogMessage(2, LOG_WARNING, "CoCreateInstance for ShellLink failed with HRESULT='0x%04X'.\n", hr);
        return hr;
    }
    char workingFolder[FW_PATH_SIZE] = "";
    char shortcutFolder[FW_PATH_SIZE] = "";
    if (ParentFolder(target, workingFolder) && strlen(workingFolder) + 1 < sizeof(workingFolder))
        strcat(workingFolder, "\\");
    if (ParentFolder(shortcut, shortcutFolder) && !CreateFolderTree(shortcutFolder))
        LogMessage(2, LOG_WARNING, "Could not create folder '%hs' for a shortcut.\n", shortcutFolder);

    link->SetPath(target);
    link->SetDescription(description);
    link->SetWorkingDirectory(workingFolder);
    IPersistFile* file = NULL;
    hr = link->QueryInterface(PERSIST_FILE_IID, (void**)&file);
    if (FAILED(hr))
    {
        LogMessage(2, LOG_WARNING, "QueryInterface for IPersistFile failed with HRESULT='0x%04X'.\n", hr);
        link->Release();
        return hr;
    }
    WCHAR widePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, shortcut, -1, widePath, MAX_PATH) == 0)
    {
        LogMessage(2, LOG_WARNING, "MB2WC on %hs returned %ld.\n", shortcut, (long)GetLastError());
        hr = HRESULT_FROM_WIN32(GetLastError());
    }
    else if (LinkInPlace(link, widePath))
        *inPlace = true;
    else
        hr = file->Save(widePath, TRUE);
    file->Release();
    link->Release();
    return hr;
}

bool CreateShortcut(const char* target, const char* shortcut, const char* description, bool evenWithoutTarget)
{
    if (target == NULL || shortcut == NULL || target[0] == 0 || shortcut[0] == 0)
        return false;
    if (!evenWithoutTarget && !FileExists(target))
    {
        if (GetFileAttributesA(shortcut) == INVALID_FILE_ATTRIBUTES)
        {
            LogMessage(2, LOG_INFO, "Cannot make shortcut %hs for non-existing %hs.\n", shortcut, target);
            return false;
        }
        LogMessage(2, LOG_INFO, "Cleaning up shortcut %hs for non-existing %hs.\n", shortcut, target);
        ForceDeleteFile(shortcut);
        return false;
    }
    LogMessage(2, LOG_INFO, "Creating shortcut %hs for %hs.\n", shortcut, target);
    bool inPlace = false;
    HRESULT hr = SaveShellLink(target, shortcut, description ? description : "", &inPlace);
    if (inPlace)
        LogMessage(2, LOG_INFO, "\t -> up-to-date, not saved again.\n");
    else
        LogMessage(2, LOG_INFO, "\t -> HRESULT='0x%04X'.\n", hr);
    return SUCCEEDED(hr);
}

void CreateProductShortcuts(const char* productFolder, bool client)
{
    HRESULT init = CoInitialize(NULL);
    HKEY root = isWinNT ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    char target[FW_PATH_SIZE];
    char path[FW_PATH_SIZE];
    bool haveTarget = FormatPath(target, "%s\\%s", productFolder, SHORTCUT_TARGET);

    C_String desktop;
    if (ReadRegistryString(root, SHELL_FOLDERS_KEY, isWinNT ? COMMON_DESKTOP_VALUE : USER_DESKTOP_VALUE, desktop) &&
        !desktop.IsEmpty())
    {
        if (haveTarget && FormatPath(path, "%s\\%s", desktop.GetNarrow(), DESKTOP_SHORTCUT))
            CreateShortcut(target, path, SHORTCUT_DESCRIPTION, client);
        for (size_t i = 0; i < sizeof(OLD_DESKTOP_SHORTCUTS) / sizeof(OLD_DESKTOP_SHORTCUTS[0]); i++)
            if (FormatPath(path, "%s\\%s", desktop.GetNarrow(), OLD_DESKTOP_SHORTCUTS[i]))
                DeleteIfPresent(path);
    }
    else
        LogMessage(2, LOG_WARNING, "Could not determine common desktop folder.\n");

    C_String programs;
    if (ReadRegistryString(root, SHELL_FOLDERS_KEY, isWinNT ? COMMON_PROGRAMS_VALUE : USER_PROGRAMS_VALUE,
                           programs) &&
        !programs.IsEmpty())
    {
        if (haveTarget && FormatPath(path, "%s\\%s", programs.GetNarrow(), PROGRAMS_SHORTCUT))
            CreateShortcut(target, path, SHORTCUT_DESCRIPTION, client);
        if (FormatPath(path, "%s\\%s", programs.GetNarrow(), OLD_PROGRAMS_SHORTCUT))
            DeleteIfPresent(path);
    }
    else
        LogMessage(2, LOG_WARNING, "Could not determine common programs folder.\n");
    if (SUCCEEDED(init))
        CoUninitialize();
}

// True when the installation at folder lacks what it cannot run without.
static bool IsBroken(const char* folder)
{
    char path[FW_PATH_SIZE];
    if (!IsFolder(folder))
    {
        LogMessage(2, LOG_WARNING, "VerifyInstallation Failed because '%hs' has gone missing.\n", folder);
        return true;
    }
    bool broken = false;
    int programs = 0;
    for (size_t i = 0; i < sizeof(MAIN_PROGRAMS) / sizeof(MAIN_PROGRAMS[0]); i++)
    {
        if (FormatPath(path, "%s\\%s", folder, MAIN_PROGRAMS[i]) && FileExists(path))
            programs++;
        else
            LogMessage(2, LOG_WARNING, "VerifyInstallation may fail because '%hs' has gone missing.\n", path);
    }
    if (programs == 0)
        broken = true;
    if (!FormatPath(path, "%s\\%s", folder, REQUIRED_UNZIP) || !FileExists(path))
    {
        LogMessage(2, LOG_WARNING, "VerifyInstallation Failed because '%hs' has gone missing.\n", path);
        broken = true;
    }
    return broken;
}

bool VerifyInstallation(DWORD& result)
{
    result = 0;
    if (RunState.targetDir.IsEmpty())
    {
        LogMessage(2, LOG_INFO, "VerifyInstallation OK because it is *new*.\n");
        return true;
    }
    char folder[FW_PATH_SIZE];
    lstrcpynA(folder, RunState.targetDir.GetNarrow(), sizeof(folder));
    if (!IsBroken(folder))
    {
        LogMessage(2, LOG_INFO, "VerifyInstallation deemed OK.\n");
        return true;
    }

    TellFormatted(MESSAGE_WARNING, LABEL_NO_INSTALLATION, NULL, folder);
    for (size_t i = 0; i < sizeof(INSTALLATION_VALUES) / sizeof(INSTALLATION_VALUES[0]); i++)
        if (DeleteRegistryValue(ProductRegistryRoot, ProductRegistryKey, INSTALLATION_VALUES[i]))
            LogMessage(2, LOG_INFO, "Registry entry '%hs' deleted.\n", INSTALLATION_VALUES[i]);
    RunState.targetDir = "";

    C_String version;
    C_String productCode;
    if (!FindProductCode(version, productCode, VERIFY_TAG))
        return true;
    if (g_msi == NULL || !g_msi->LoadInstaller())
    {
        if (g_resource != NULL)
        {
            const wchar_t* reason = g_resource->GetLabel(LABEL_FAIL_LOAD_MSI);
            TellFormatted(MESSAGE_ERROR, LABEL_ERROR_OCCURRED, NULL, reason ? reason : L"");
        }
        result = g_msi != NULL ? g_msi->GetLastResult() : RC_MOD_NOT_FOUND;
        LogMessage(2, LOG_PLAIN, "MSI returned '%ld'\n", (long)result);
        return false;
    }
    g_msi->UninstallProduct(productCode.GetNarrow());
    result = g_msi->GetLastResult();
    const char* text = g_msi->GetErrorText(result);
    LogMessage(2, LOG_INFO, "**> Uninstallation returned '%ld' '%hs'.\n", (long)result, text ? text : "<>");
    if (result != 0 && result != (DWORD)RC_SUCCESS_REBOOT_REQUIRED)
    {
        Tell(MESSAGE_WARNING, LABEL_UNINSTALL_FAIL);
        result = 0;
    }
    RunState.oldPackageRemoved = true;
    return true;
}
