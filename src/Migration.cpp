#include "Migration.h"

#include <stdio.h>
#include <string.h>

#include "AppObjects.h"
#include "CMSI.h"
#include "FileUtil.h"
#include "Log.h"
#include "Registry.h"
#include "RunState.h"
#include "Shortcuts.h"
#include "SystemInfo.h"
#include "TextUtil.h"
#include "WideAPI.h"

const KeyPathFile KEY_PATH_FILES[KEY_PATH_FILE_COUNT] = {
    { "Login.exe", "C94E1B7F3A0826D5E1B7F04A9C3D6E28" },
    { "Bin\\VBC.dll", "5F08D3A6C2E14B79A0D6F3182B7CE945" },
    { "Bin\\dunzip32.dll", "E7B2049C1A6F53D88C0F2B7E4D19A360" },
    { "Zaph.exe", "A3C1E07B5D9248F6B1E0C47D29F8A615" },
};

static const char COMMON_APPDATA_VALUE[] = "Common AppData";
// The system, Windows, Program Files (under WOW64 both of them) and the
// common application data folders.
static const int PROTECTED_FOLDER_COUNT = 5;

void UpdateComponentKeyPath(const C_String& productFolder, const char* packedComponent, const char* relativePath)
{
    // Without a product code the record cannot be told apart from another
    // product's, and the component key's default value is no key path.
    const char* product = g_msi != NULL ? g_msi->GetPackedProductCode() : "";
    if (product[0] == 0)
        return;
    char key[FW_PATH_SIZE];
    if (!FormatPath(key, "%s\\%s", isWinNT ? COMPONENTS_KEY_NT : COMPONENTS_KEY_9X, packedComponent))
        return;
    // The installer keeps its records in the system's own view: a 32-bit
    // program on 64-bit Windows would otherwise look in its redirected view,
    // find nothing and leave the records naming the old folder.
    const REGSAM view = NativeRegistryView();
    C_String current;
    if (!ReadRegistryString(HKEY_LOCAL_MACHINE, key, product, current, view) || current.IsEmpty())
        return;
    char path[FW_PATH_SIZE];
    if (FormatPath(path, "%s\\%s", productFolder.GetNarrowTemp(), relativePath) &&
        WriteRegistryString(HKEY_LOCAL_MACHINE, key, product, path, view))
        LogMessage(2, LOG_INFO, "Updated %hs with %hs\n", key, path);
    else
        LogMessage(2, LOG_WARNING, "Could not update %hs with %hs\n", key, path);
}

// Puts the main program back from its spare after a failed rename, so that
// the product never ends up without it.
static void PutBackMainProgram(const char* file, const char* spare)
{
    if (CopyFileA(spare, file, TRUE))
    {
        LogMessage(3, LOG_INFO, "Restored '%hs' from '%hs'.\n", file, spare);
        ForceDeleteFile(spare);
        return;
    }
    LogMessage(0, LOG_ERROR, "Could not restore '%hs', returned '%ld'; the program is kept as '%hs'.\n", file,
               (long)GetLastError(), spare);
}

bool IsProductInUse()
{
    char file[FW_PATH_SIZE];
    char spare[FW_PATH_SIZE];
    const char* folder = RunState.targetDir.GetNarrow();
    const char* name = RunState.mainExeName.GetNarrow();
    if (!FormatPath(file, "%s\\%s", folder, name) || GetFileAttributesA(file) == INVALID_FILE_ATTRIBUTES)
        return false;

    HANDLE handle = CreateFileA(file, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (handle == INVALID_HANDLE_VALUE)
    {
        LogMessage(3, LOG_INFO, "Could not open exclusively '%hs', returned '%ld'.\n", file, (long)GetLastError());
        return true;
    }
    CloseHandle(handle);

    char spareName[FW_PATH_SIZE];
    if (!FormatPath(spareName, "%s%s", SPARE_PREFIX, name) || !FormatPath(spare, "%s\\%s", folder, spareName))
        return true;
    if (GetFileAttributesA(spare) != INVALID_FILE_ATTRIBUTES)
        ForceDeleteFile(spare);
    if (!CopyFileA(file, spare, FALSE))
    {
        LogMessage(3, LOG_WARNING, "Could not copy '%hs', returned '%ld'.\n", file, (long)GetLastError());
        return true;
    }
    SetFileAttributesA(file, FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(file))
    {
        LogMessage(3, LOG_INFO, "Could not delete '%hs', returned '%ld'.\n", file, (long)GetLastError());
        ForceDeleteFile(spare);
        return true;
    }
    if (!MoveFileA(spare, file))
    {
        // Without this check a failed rename would leave the product without its
        // main program; it counts as not replaceable.
        LogMessage(3, LOG_WARNING, "Could not rename '%hs' to '%hs', returned '%ld'.\n", spare, file,
                   (long)GetLastError());
        PutBackMainProgram(file, spare);
        return true;
    }
    return false;
}

void RestorePreviousLocation(const char* oldFolder)
{
    LogMessage(2, LOG_WARNING, "Cleanup after failure. Restore to original location '%hs'.\n", oldFolder);

    C_String folder(oldFolder);
    for (int i = 0; i < KEY_PATH_FILE_COUNT; i++)
        UpdateComponentKeyPath(folder, KEY_PATH_FILES[i].packedComponent, KEY_PATH_FILES[i].relativePath);

    char installPath[FW_PATH_SIZE];
    if (FormatPath(installPath, "%s%s", oldFolder, "\\") &&
        WriteRegistryString(ProductRegistryRoot, ProductRegistryKey, PRODUCT_VALUE_INSTALL_PATH, installPath))
        LogMessage(2, LOG_INFO, "Updated %hs with %hs\n", ProductRegistryKey, installPath);
    else
        LogMessage(2, LOG_WARNING, "Could not update %hs with %hs\n", ProductRegistryKey, installPath);

    C_String setupType;
    bool client = ReadRegistryString(ProductRegistryRoot, ProductRegistryKey, PRODUCT_VALUE_SETUP_TYPE, setupType) &&
                  lstrcmpiA(setupType.GetNarrow(), "Client") == 0;
    CreateProductShortcuts(oldFolder, client);
}

static void LowerAscii(char* text)
{
    for (; *text; text++)
        if (*text >= 'A' && *text <= 'Z')
            *text = (char)(*text - 'A' + 'a');
}

bool CheckProtectedDirectory()
{
    if (RunState.targetDir.IsEmpty())
        return false;
    char target[FW_PATH_SIZE];
    lstrcpynA(target, RunState.targetDir.GetNarrow(), sizeof(target));
    LowerAscii(target);

    char folders[PROTECTED_FOLDER_COUNT][FW_PATH_SIZE];
    memset(folders, 0, sizeof(folders));
    UINT length = GetSystemDirectoryA(folders[0], FW_PATH_SIZE);
    if (length >= FW_PATH_SIZE)
        folders[0][0] = 0;
    length = GetWindowsDirectoryA(folders[1], FW_PATH_SIZE);
    if (length >= FW_PATH_SIZE)
        folders[1][0] = 0;
    C_String value;
    int next = 2;
    if (ReadRegistryString(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, PROGRAM_FILES_VALUE, value))
    {
        lstrcpynA(folders[next++], value.GetNarrow(), FW_PATH_SIZE);
        // On 64-bit Windows this program's view names the folder of 32-bit
        // programs; an earlier installation may as well lie in the native one.
        C_String native;
        if (NativeRegistryView() != 0 &&
            ReadRegistryString(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, PROGRAM_FILES_VALUE, native,
                               NativeRegistryView()) &&
            !native.IsEmpty() && lstrcmpiA(native.GetNarrow(), folders[2]) != 0)
            lstrcpynA(folders[next++], native.GetNarrow(), FW_PATH_SIZE);
        if (ReadRegistryString(HKEY_LOCAL_MACHINE, SHELL_FOLDERS_KEY, COMMON_APPDATA_VALUE, value))
            lstrcpynA(folders[next], value.GetNarrow(), FW_PATH_SIZE);
    }

    for (int i = 0; i < PROTECTED_FOLDER_COUNT && folders[i][0] != 0; i++)
    {
        char lower[FW_PATH_SIZE];
        lstrcpynA(lower, folders[i], sizeof(lower));
        LowerAscii(lower);
        if (strstr(target, lower) != NULL)
        {
            LogMessage(0, LOG_WARNING, "'%hs' is in a protected directory '%hs'.\n", target, lower);
            return true;
        }
    }
    return false;
}
