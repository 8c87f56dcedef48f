#include "SystemLibrary.h"

#include "FileUtil.h"
#include "Log.h"

#include <stdio.h>

#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace
{
typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryWFn)(LPCWSTR);
typedef DWORD(WINAPI* VersionSizeFn)(LPCSTR, LPDWORD);
typedef BOOL(WINAPI* VersionReadFn)(LPCSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* VersionQueryFn)(LPCVOID, LPCSTR, LPVOID*, PUINT);

const char* const VERSION_DLL = "version.dll";
const char* const COMCTL32_DLL = "comctl32.dll";
const char* const ASKED_FOR_BY_NAME[] = { "uxtheme.dll", "msimg32.dll", "iphlpapi.dll", "secur32.dll" };

LibrarySearchMode s_searchMode = LIBRARY_SEARCH_UNCHANGED;

struct VersionFunctions
{
    bool tried;
    VersionSizeFn size;
    VersionReadFn read;
    VersionQueryFn query;
} s_version = { false, NULL, NULL, NULL };

bool IsFullPath(const char* path)
{
    if (path == NULL)
        return false;
    bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                 path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    bool unc = path[0] == '\\' && path[1] == '\\' && path[2] != 0;
    return drive || unc;
}

void BindVersionFunctions()
{
    if (s_version.tried)
        return;
    s_version.tried = true;
    HMODULE library = LoadSystemLibrary(VERSION_DLL);
    if (library == NULL)
        return;
    s_version.size = (VersionSizeFn)(void*)GetProcAddress(library, "GetFileVersionInfoSizeA");
    s_version.read = (VersionReadFn)(void*)GetProcAddress(library, "GetFileVersionInfoA");
    s_version.query = (VersionQueryFn)(void*)GetProcAddress(library, "VerQueryValueA");
}

// The side-by-side store, which the manifest's common-controls entry points
// into, came with Windows XP (5.1).
bool HasSideBySideStore()
{
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info))
        return false;
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           (info.dwMajorVersion > 5 || (info.dwMajorVersion == 5 && info.dwMinorVersion >= 1));
}
} // namespace

LibrarySearchMode RestrictLibrarySearch()
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == NULL)
        return s_searchMode;
    SetDllDirectoryWFn setDllDirectory =
        (SetDllDirectoryWFn)(void*)GetProcAddress(kernel, "SetDllDirectoryW");
    if (setDllDirectory != NULL && setDllDirectory(L""))
        s_searchMode = LIBRARY_SEARCH_NO_CURRENT;
    SetDefaultDllDirectoriesFn setDefault =
        (SetDefaultDllDirectoriesFn)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (setDefault != NULL && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        s_searchMode = LIBRARY_SEARCH_SYSTEM_ONLY;
    return s_searchMode;
}

LibrarySearchMode CurrentLibrarySearch()
{
    return s_searchMode;
}

int LoadLibrariesAskedForByName()
{
    char systemDir[MAX_PATH];
    UINT length = GetSystemDirectoryA(systemDir, sizeof(systemDir));
    if (length == 0 || length >= sizeof(systemDir))
        return 0;
    int loaded = 0;
    for (size_t i = 0; i < sizeof(ASKED_FOR_BY_NAME) / sizeof(ASKED_FOR_BY_NAME[0]); ++i)
    {
        char path[MAX_PATH];
        int written = _snprintf(path, sizeof(path), "%s\\%s", systemDir, ASKED_FOR_BY_NAME[i]);
        // Never freed: a later request by name must still find it loaded.
        if (written > 0 && written < (int)sizeof(path) && FileExists(path) && LoadLibraryFromPath(path) != NULL)
            ++loaded;
    }
    return loaded;
}

HMODULE LoadLibraryFromPath(const char* path)
{
    if (!IsFullPath(path))
    {
        SetLastError(ERROR_BAD_PATHNAME);
        return NULL;
    }
    // The altered search looks for the library's dependencies beside it
    // instead of beside the program; where the safe search is in force its
    // own flags say the same and keep the system folder as the only other.
    DWORD flags = s_searchMode == LIBRARY_SEARCH_SYSTEM_ONLY
                      ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                      : LOAD_WITH_ALTERED_SEARCH_PATH;
    return LoadLibraryExA(path, NULL, flags);
}

HMODULE LoadSystemLibrary(const char* name)
{
    char systemDir[MAX_PATH];
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(systemDir, sizeof(systemDir));
    if (length == 0 || length >= sizeof(systemDir))
        systemDir[0] = 0;
    int written = _snprintf(path, sizeof(path), "%s\\%s", systemDir, name);
    if (systemDir[0] == 0 || written <= 0 || written >= (int)sizeof(path) || !FileExists(path))
    {
        LogMessage(2, LOG_WARNING, "'%hs' doesn't exist in '%hs'. Not loaded from elsewhere\n", name,
                   systemDir);
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    HMODULE module = LoadLibraryFromPath(path);
    if (module == NULL)
    {
        DWORD error = GetLastError();
        LogMessage(2, LOG_WARNING, "Could not load '%hs'. Not loaded from elsewhere\n", path);
        SetLastError(error);
    }
    return module;
}

HMODULE LoadCommonControls()
{
    // A bare name reaches the side-by-side store before any folder; without
    // that store a bare name would begin in the program's folder.
    if (HasSideBySideStore())
    {
        HMODULE module = LoadLibraryA(COMCTL32_DLL);
        if (module != NULL)
            return module;
    }
    return LoadSystemLibrary(COMCTL32_DLL);
}

DWORD VersionInfoSize(const char* path, DWORD* handle)
{
    BindVersionFunctions();
    if (s_version.size == NULL)
    {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return 0;
    }
    return s_version.size(path, handle);
}

bool VersionInfoRead(const char* path, DWORD size, void* block)
{
    BindVersionFunctions();
    return s_version.read != NULL && s_version.read(path, 0, size, block) != FALSE;
}

bool VersionInfoQuery(const void* block, const char* subBlock, void** value, UINT* length)
{
    BindVersionFunctions();
    return s_version.query != NULL && s_version.query(block, subBlock, value, length) != FALSE;
}
