#include <gtest/gtest.h>

#include <string>

#include "SystemInfo.h"
#include "TestSupport.h"

namespace
{
const std::string CHILD_PATH = fwtest::BinDir() + "\\fw_child.exe";
const std::string CHILD = "\"" + CHILD_PATH + "\"";

// A window of the test thread that counts what reaches it: WM_APP + 1 sent
// (answered 1234), WM_APP + 2 posted.
volatile LONG g_sent = 0;
volatile LONG g_posted = 0;
DWORD_PTR g_answer = 0;

LRESULT CALLBACK WitnessProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP + 1 || message == WM_APP + 2)
    {
        InterlockedIncrement(message == WM_APP + 1 ? &g_sent : &g_posted);
        return message == WM_APP + 1 ? 1234 : 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// From another thread, while the wait is in progress: one sent message
// (answered only if the waiting thread dispatches) and one posted message.
DWORD WINAPI PokeWindow(void* window)
{
    Sleep(200);
    g_answer = 0;
    SendMessageTimeoutA((HWND)window, WM_APP + 1, 0, 0, SMTO_NORMAL, 10000, &g_answer);
    PostMessageA((HWND)window, WM_APP + 2, 0, 0);
    return 0;
}

DWORD WINAPI EndAtOnce(void*)
{
    return 0;
}

ULONGLONG ThreadCpuMs()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) { return ((ULONGLONG)t.dwHighDateTime << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 10000;
}
} // namespace

// What the system queries answer under each emulated Windows (version,
// service pack, family, administrator, the Program Files folder) is read back
// from the whole runs under win98, nt40, winxp and vista; the exit codes of
// RunAndWait are the prerequisite installers' there too. Here: the bounds of
// the description and what Wine never answers.
TEST(SystemInfo, DescriptionNeverPassesItsBuffer)
{
    // Every service-pack text the system can give (up to 127 characters).
    for (size_t length = 0; length < 128; ++length)
    {
        char out[VERSION_DESCRIPTION_SIZE + 16];
        memset(out, '#', sizeof(out));
        FormatWindowsVersion(VER_PLATFORM_WIN32_NT, 5, 1, 2600, std::string(length, 'p').c_str(), out);
        EXPECT_LT(strlen(out), (size_t)VERSION_DESCRIPTION_SIZE) << length;
        EXPECT_EQ(std::string(16, '#'), std::string(out + VERSION_DESCRIPTION_SIZE, 16)) << length;
    }
}

// A Wine prefix runs as administrator: the other answer comes from this
// thread's token with the Administrators group made deny-only.
TEST(SystemInfo, AdministratorFollowsTheThreadToken)
{
    HANDLE process = NULL, restricted = NULL, impersonation = NULL;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process));
    SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
    PSID admins = NULL;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                         DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins));
    SID_AND_ATTRIBUTES deny = {admins, 0};
    if (CreateRestrictedToken(process, 0, 1, &deny, 0, NULL, 0, NULL, &restricted) &&
        DuplicateToken(restricted, SecurityImpersonation, &impersonation) &&
        SetThreadToken(NULL, impersonation))
    {
        EXPECT_FALSE(IsAdministrator());
        RevertToSelf();
    }
    else
        ADD_FAILURE() << "no restricted token [" << GetLastError() << "]";
    EXPECT_TRUE(IsAdministrator());
    for (HANDLE handle : {impersonation, restricted, process})
        if (handle)
            CloseHandle(handle);
    FreeSid(admins);
}

// The progress window must stay responsive while an installer runs: a
// message sent from another thread is answered and posted ones (also those
// queued before the wait) are dispatched during the wait; a finished busy
// thread as the second handle must not turn the wait into a busy loop.
TEST(SystemInfo, WaitsDispatchMessages)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WitnessProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "FernwickWitness";
    RegisterClassA(&wc);
    HWND window = CreateWindowA("FernwickWitness", "witness", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL,
                                wc.hInstance, NULL);
    ASSERT_NE((HWND)NULL, window);
    HANDLE busy = CreateThread(NULL, 0, EndAtOnce, NULL, 0, NULL);
    ASSERT_NE((HANDLE)NULL, busy);
    enum { RUN_ALONE, RUN_WITH_BUSY_THREAD, WAIT_FOR_PROCESS };
    for (int way : {RUN_ALONE, RUN_WITH_BUSY_THREAD, WAIT_FOR_PROCESS})
    {
        SCOPED_TRACE(way);
        g_sent = g_posted = 0;
        for (int i = 0; way == WAIT_FOR_PROCESS && i < 3; i++)
            PostMessageA(window, WM_APP + 2, 0, 0);
        HANDLE thread = CreateThread(NULL, 0, PokeWindow, window, 0, NULL);
        ULONGLONG cpuBefore = ThreadCpuMs();
        DWORD start = GetTickCount();
        if (way == WAIT_FOR_PROCESS)
        {
            STARTUPINFOA startup = {sizeof(startup)};
            PROCESS_INFORMATION child = {};
            std::string command = CHILD + " 0 1000";
            ASSERT_TRUE(CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &child));
            EXPECT_EQ(0u, WaitWithMessages(child.hProcess));
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.hProcess, 0));
            CloseHandle(child.hThread);
            CloseHandle(child.hProcess);
        }
        else
        {
            EXPECT_EQ(7u, RunAndWait(CHILD_PATH.c_str(), (CHILD + " 7 1000").c_str(), way == RUN_ALONE ? NULL : busy));
        }
        DWORD elapsed = GetTickCount() - start;
        ULONGLONG cpu = ThreadCpuMs() - cpuBefore;
        EXPECT_EQ(1, g_sent);
        EXPECT_EQ(way == WAIT_FOR_PROCESS ? 4 : 1, g_posted);
        EXPECT_LT(cpu, elapsed / 2) << "cpu " << cpu << " ms of " << elapsed << " ms";
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
        CloseHandle(thread);
        EXPECT_EQ(1234u, g_answer);
    }
    CloseHandle(busy);
    DestroyWindow(window);
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, WaitWithMessages((HANDLE)(ULONG_PTR)0x7777));
}
