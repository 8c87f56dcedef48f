#include "Registry.h"

#include <string.h>

#include "Log.h"

// Failed writes and deletes are logged at this level: the caller logs the
// outcome in its own words, this line adds the system's reason for support.
static const int REGISTRY_DETAIL_LEVEL = 4;

static bool IsEmpty(const char* text)
{
    return text == NULL || text[0] == 0;
}

static void LogRegistryFailure(const char* action, const char* keyPath, const char* valueName,
                               LONG code)
{
    LogMessage(REGISTRY_DETAIL_LEVEL, LOG_WARNING, "Registry: could not %hs '%hs' '%hs' [%ld]\n",
               action, keyPath ? keyPath : "", valueName ? valueName : "", (long)code);
}

REGSAM NativeRegistryView()
{
    // IsWow64Process came with XP SP2: looked up, so that older systems,
    // which are never 64-bit, still start the program.
    typedef BOOL(WINAPI * IsWow64Fn)(HANDLE, PBOOL);
    static bool looked = false;
    static REGSAM view = 0;
    if (!looked)
    {
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        IsWow64Fn isWow64 = kernel ? (IsWow64Fn)(void*)GetProcAddress(kernel, "IsWow64Process") : NULL;
        BOOL wow64 = FALSE;
        if (isWow64 != NULL && isWow64(GetCurrentProcess(), &wow64) && wow64)
            view = KEY_WOW64_64KEY;
        looked = true;
    }
    return view;
}

bool ReadRegistryString(HKEY root, const char* keyPath, const char* valueName, C_String& out, REGSAM view)
{
    if (keyPath == NULL)
        return false;
    HKEY key = NULL;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;

    bool ok = false;
    DWORD size = 0;
    if (RegQueryValueExA(key, valueName, NULL, NULL, NULL, &size) == ERROR_SUCCESS)
    {
        // Room beyond the stored size: a value stored without its terminator
        // still reads as a terminated text.
        C_String value;
        DWORD bufferSize = size + 10;
        if (value.Allocate(bufferSize, C_String::NARROW))
        {
            DWORD got = bufferSize;
            if (RegQueryValueExA(key, valueName, NULL, NULL, (BYTE*)value.NarrowBuffer(), &got) ==
                ERROR_SUCCESS)
            {
                value.UpdateLength();
                out = value;
                ok = true;
            }
        }
    }
    RegCloseKey(key);
    return ok;
}

bool ReadRegistryDword(HKEY root, const char* keyPath, const char* valueName, DWORD& out)
{
    if (keyPath == NULL)
        return false;
    HKEY key = NULL;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD value = 0;
    DWORD size = sizeof(value);
    bool ok = RegQueryValueExA(key, valueName, NULL, NULL, (BYTE*)&value, &size) == ERROR_SUCCESS;
    if (ok)
        out = value;
    RegCloseKey(key);
    return ok;
}

bool WriteRegistryString(HKEY root, const char* keyPath, const char* valueName, const char* value, REGSAM view)
{
    if (IsEmpty(keyPath) || IsEmpty(valueName) || IsEmpty(value))
        return false;
    HKEY key = NULL;
    LONG rc = RegOpenKeyExA(root, keyPath, 0, KEY_READ | KEY_SET_VALUE | view, &key);
    if (rc != ERROR_SUCCESS)
    {
        LogRegistryFailure("open for writing", keyPath, valueName, rc);
        return false;
    }
    // Callers report "Updated" or "Could not update" from this answer, so it is
    // the write's own outcome, not merely that the key was there.
    rc = RegSetValueExA(key, valueName, 0, REG_SZ, (const BYTE*)value, (DWORD)strlen(value) + 1);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
    {
        LogRegistryFailure("write", keyPath, valueName, rc);
        return false;
    }
    return true;
}

bool EnsureRegistryKey(HKEY root, const char* keyPath)
{
    if (IsEmpty(keyPath))
        return false;
    HKEY key = NULL;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) == ERROR_SUCCESS)
    {
        RegCloseKey(key);
        return true;
    }
    LONG rc = RegCreateKeyA(root, keyPath, &key);
    if (rc != ERROR_SUCCESS)
    {
        LogRegistryFailure("create", keyPath, "", rc);
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool DeleteRegistryKey(HKEY root, const char* keyPath)
{
    if (IsEmpty(keyPath))
        return false;
    LONG rc = RegDeleteKeyA(root, keyPath);
    if (rc != ERROR_SUCCESS)
    {
        LogRegistryFailure("delete key", keyPath, "", rc);
        return false;
    }
    return true;
}

bool DeleteRegistryValue(HKEY root, const char* keyPath, const char* valueName)
{
    if (IsEmpty(keyPath) || IsEmpty(valueName))
        return false;
    HKEY key = NULL;
    LONG rc = RegOpenKeyExA(root, keyPath, 0, DELETE | KEY_SET_VALUE, &key);
    if (rc == ERROR_SUCCESS)
    {
        rc = RegDeleteValueA(key, valueName);
        RegCloseKey(key);
    }
    if (rc != ERROR_SUCCESS)
    {
        LogRegistryFailure("delete value", keyPath, valueName, rc);
        return false;
    }
    return true;
}

bool FindRegistrySubkey(HKEY root, const char* keyPath, const char* text, C_String& out)
{
    if (keyPath == NULL || text == NULL)
        return false;
    HKEY key = NULL;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;

    bool found = false;
    DWORD count = 0;
    if (RegQueryInfoKeyA(key, NULL, NULL, NULL, &count, NULL, NULL, NULL, NULL, NULL, NULL, NULL) ==
        ERROR_SUCCESS)
    {
        // From the last index down: the caller wants the most recent of several matches.
        for (DWORD i = count; i > 0 && !found; i--)
        {
            char name[REGISTRY_NAME_SIZE];
            DWORD length = sizeof(name);
            if (RegEnumKeyExA(key, i - 1, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
                break;
            if (strstr(name, text) != NULL)
            {
                out = name;
                found = true;
            }
        }
    }
    RegCloseKey(key);
    return found;
}
