#include "SystemInfo.h"

#include <new>
#include <stdio.h>
#include <string.h>

#include "Log.h"
#include "Registry.h"

const char* const CSD_VERSION_KEY = "SYSTEM\\CurrentControlSet\\Control\\Windows";
const char* const CSD_VERSION_VALUE = "CSDVersion";
const char* const CURRENT_VERSION_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const char* const PROGRAM_FILES_VALUE = "ProgramFilesDir";
const char* const DEFAULT_PROGRAM_FILES = "C:\\Program Files";

typedef BOOL(WINAPI* CheckTokenMembershipFn)(HANDLE, PSID, PBOOL);

// The readable name of a system, as the support engineers know it.
static void SystemName(DWORD platform, DWORD major, DWORD minor, char* out, size_t size)
{
    if (platform == VER_PLATFORM_WIN32_WINDOWS)
    {
        if (major == 4 && minor == 0)
            snprintf(out, size, "Windows 95");
        else if (major == 4 && minor == 10)
            snprintf(out, size, "Windows 98");
        else if (major == 4 && minor == 90)
            snprintf(out, size, "Windows ME");
        else if (major == 4)
            snprintf(out, size, "Windows 9X-4.%ld", (long)minor);
        else
            snprintf(out, size, "Windows 9X-%ld.%ld", (long)major, (long)minor);
    }
    else if (platform == VER_PLATFORM_WIN32_NT)
    {
        if (major < 5)
            snprintf(out, size, "Windows NT");
        else if (major == 5 && minor == 0)
            snprintf(out, size, "Windows 2000");
        else if (major == 5 && minor == 1)
            snprintf(out, size, "Windows XP");
        else if (major == 5 && minor == 2)
            snprintf(out, size, "Windows 2003");
        else if (major == 5)
            snprintf(out, size, "Windows 32-5.%ld", (long)minor);
        else if (major == 6)
            snprintf(out, size, "Windows Vista");
        else
            snprintf(out, size, "Windows 32-%ld.%ld", (long)major, (long)minor);
    }
    else
        snprintf(out, size, "Windows 32s");
}

// The Administrators group among the groups of the process token: the way
// before Windows 2000, which has no CheckTokenMembership.
static bool TokenGroupsHold(PSID sid)
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;

    bool member = false;
    DWORD size = 1024;
    BYTE* buffer = (BYTE*)LocalAlloc(LPTR, size);
    DWORD needed = 0;
    if (buffer != NULL && !GetTokenInformation(token, TokenGroups, buffer, size, &needed) &&
        GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > size)
    {
        LocalFree(buffer);
        size = needed;
        buffer = (BYTE*)LocalAlloc(LPTR, size);
        if (buffer != NULL && !GetTokenInformation(token, TokenGroups, buffer, size, &needed))
        {
            LocalFree(buffer);
            buffer = NULL;
        }
    }
    else if (buffer != NULL && needed > size)
    {
        LocalFree(buffer);
        buffer = NULL;
    }
    if (buffer != NULL)
    {
        const TOKEN_GROUPS* groups = (const TOKEN_GROUPS*)buffer;
        for (DWORD i = 0; i < groups->GroupCount && !member; i++)
            member = EqualSid(groups->Groups[i].Sid, sid) != FALSE;
        LocalFree(buffer);
    }
    CloseHandle(token);
    return member;
}

// CheckTokenMembership is looked up at run time: it does not exist before Windows 2000.
static bool TokenMembershipHolds(PSID sid)
{
    // Imported by the program, so already loaded: no search for it.
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    if (advapi == NULL)
        return false;
    bool member = false;
    CheckTokenMembershipFn check =
        (CheckTokenMembershipFn)(void*)GetProcAddress(advapi, "CheckTokenMembership");
    BOOL isMember = FALSE;
    if (check != NULL && check(NULL, sid, &isMember))
        member = isMember != FALSE;
    return member;
}

// Dispatches every message waiting in the calling thread's queue. A quit
// request is remembered for the caller rather than swallowed.
static void DispatchQueuedMessages(bool& quitSeen, WPARAM& quitCode)
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
    {
        if (msg.message == WM_QUIT)
        {
            quitSeen = true;
            quitCode = msg.wParam;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void FormatWindowsVersion(DWORD platform, DWORD major, DWORD minor, DWORD build,
                          const char* servicePackText, char* out)
{
    if (out == NULL)
        return;
    snprintf(out, VERSION_DESCRIPTION_SIZE, "%s V%ld.%ld.%ld [%s]",
             platform == VER_PLATFORM_WIN32_NT ? "WinNT" : "Win9X", (long)major, (long)minor,
             (long)build, servicePackText ? servicePackText : "");
    char name[64];
    SystemName(platform, major, minor, name, sizeof(name));
    size_t length = strlen(out);
    if (length + strlen(name) + 7 < (size_t)VERSION_DESCRIPTION_SIZE)
    {
        strcat(out, " = ");
        strcat(out, name);
    }
}

bool GetWindowsVersion(DWORD* major, DWORD* minor, DWORD* servicePack, char* description)
{
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info))
    {
        // Should never happen; the answers stay at "not known" rather than garbage.
        LogMessage(2, LOG_ERROR, "GetVersionEx failed [%ld]\n", (long)GetLastError());
        info.dwPlatformId = VER_PLATFORM_WIN32_NT;
    }
    if (major)
        *major = info.dwMajorVersion;
    if (minor)
        *minor = info.dwMinorVersion;
    if (description)
    {
        // On the 9x family the high word of the build number repeats the
        // version; the build itself is the low word.
        DWORD build = info.dwPlatformId == VER_PLATFORM_WIN32_NT ? info.dwBuildNumber
                                                                 : LOWORD(info.dwBuildNumber);
        FormatWindowsVersion(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, build,
                             info.szCSDVersion, description);
    }
    if (servicePack)
    {
        *servicePack = 0;
        DWORD csd = 0;
        if (ReadRegistryDword(HKEY_LOCAL_MACHINE, CSD_VERSION_KEY, CSD_VERSION_VALUE, csd))
            *servicePack = (csd >> 8) & 0xFF;
    }
    return info.dwPlatformId != VER_PLATFORM_WIN32_NT;
}

bool IsAdministrator()
{
    DWORD major = 0;
    if (GetWindowsVersion(&major, NULL, NULL, NULL))
        return true;

    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    PSID administrators = NULL;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
        return false;
    bool result = major < 5 ? TokenGroupsHold(administrators) : TokenMembershipHolds(administrators);
    FreeSid(administrators);
    return result;
}

char* GetProgramFilesDir(const char* valueName, char* out)
{
    if (out == NULL)
        return NULL;
    strcpy(out, DEFAULT_PROGRAM_FILES);
    HKEY key = NULL;
    if (valueName != NULL &&
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS)
    {
        // Read aside: a failed or unterminated read must not spoil the default.
        char value[MAX_PATH + 1];
        DWORD size = MAX_PATH;
        DWORD type = 0;
        memset(value, 0, sizeof(value));
        if (RegQueryValueExA(key, valueName, NULL, &type, (BYTE*)value, &size) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ) && value[0] != 0 && strlen(value) < MAX_PATH)
            strcpy(out, value);
        RegCloseKey(key);
    }
    return out;
}

bool MakeCommandLine(const char* program, const char* arguments, char* out, size_t size)
{
    if (out == NULL || size == 0)
        return false;
    out[0] = 0;
    if (program == NULL || program[0] == 0)
        return false;
    int n = (arguments == NULL || arguments[0] == 0) ? _snprintf(out, size, "\"%s\"", program)
                                                     : _snprintf(out, size, "\"%s\" %s", program, arguments);
    if (n < 0 || (size_t)n >= size)
    {
        out[0] = 0;
        return false;
    }
    return true;
}

DWORD RunAndWait(const char* program, const char* commandLine, HANDLE other)
{
    HCURSOR previous = SetCursor(LoadCursor(NULL, IDC_WAIT));

    // CreateProcessA may write into the command line: work on a copy.
    size_t length = commandLine ? strlen(commandLine) : 0;
    char* command = new (std::nothrow) char[length + 1];
    if (command == NULL)
    {
        SetCursor(previous);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    memcpy(command, commandLine ? commandLine : "", length + 1);

    SECURITY_ATTRIBUTES processAttributes = {sizeof(SECURITY_ATTRIBUTES), NULL, TRUE};
    SECURITY_ATTRIBUTES threadAttributes = {sizeof(SECURITY_ATTRIBUTES), NULL, FALSE};
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof(process));
    BOOL started = CreateProcessA(program, command, &processAttributes, &threadAttributes, FALSE,
                                  DETACHED_PROCESS, NULL, NULL, &startup, &process);
    DWORD error = GetLastError();
    delete[] command;
    if (!started)
    {
        SetCursor(previous);
        return error;
    }

    // The window stays alive during the wait: queued messages are dispatched
    // before every wait. The second handle (the busy indicator's thread) only
    // wakes the wait; once it is signalled it stays so, and the wait goes on
    // for the process alone instead of spinning.
    HANDLE handles[2] = {process.hProcess, other};
    DWORD count = other != NULL ? 2 : 1;
    bool quitSeen = false;
    WPARAM quitCode = 0;
    for (;;)
    {
        DispatchQueuedMessages(quitSeen, quitCode);
        DWORD rc = MsgWaitForMultipleObjects(count, handles, FALSE, INFINITE, QS_ALLINPUT);
        if (rc == WAIT_OBJECT_0)
            break;
        if (rc == WAIT_OBJECT_0 + count)
            continue;   // messages: dispatched at the top of the loop
        if (count == 2 && (rc == WAIT_OBJECT_0 + 1 || rc == WAIT_ABANDONED_0 + 1))
        {
            count = 1;
            continue;
        }
        if (rc == WAIT_FAILED && count == 2)
        {
            // An unusable second handle must not stop us waiting for the program.
            LogMessage(3, LOG_WARNING, "RunAndWait: second handle not waitable [%ld]\n",
                       (long)GetLastError());
            count = 1;
            continue;
        }
        LogMessage(2, LOG_WARNING, "RunAndWait: wait for '%hs' failed [%ld]\n",
                   commandLine ? commandLine : "", (long)GetLastError());
        WaitForSingleObject(process.hProcess, INFINITE);
        break;
    }
    if (quitSeen)
        PostQuitMessage((int)quitCode);

    CloseHandle(process.hThread);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.hProcess, &exitCode))
        exitCode = GetLastError();
    CloseHandle(process.hProcess);
    SetCursor(previous);
    return exitCode;
}

DWORD WaitWithMessages(HANDLE handle)
{
    bool quitSeen = false;
    WPARAM quitCode = 0;
    DWORD result;
    for (;;)
    {
        DWORD rc = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT);
        if (rc == WAIT_OBJECT_0)
        {
            result = 0;
            break;
        }
        if (rc == WAIT_OBJECT_0 + 1)
        {
            // All of them: a message left in the queue would not wake the next wait.
            DispatchQueuedMessages(quitSeen, quitCode);
            continue;
        }
        result = GetLastError();
        break;
    }
    if (quitSeen)
        PostQuitMessage((int)quitCode);
    return result;
}
