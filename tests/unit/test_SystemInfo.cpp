#include <gtest/gtest.h>

#include <shlwapi.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "SystemInfo.h"
#include "TestSupport.h"

using fwtest::TempDir;

namespace
{
std::string Quote(const std::string& s)
{
    return "\"" + s + "\"";
}

const std::string CHILD = Quote(fwtest::BinDir() + "\\fw_child.exe");

// A window of the test thread that counts what reaches it: WM_APP + 1 sent
// (answered 1234), WM_APP + 2 posted.
volatile LONG g_sent = 0;
volatile LONG g_posted = 0;

LRESULT CALLBACK WitnessProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP + 1)
    {
        InterlockedIncrement(&g_sent);
        return 1234;
    }
    if (message == WM_APP + 2)
    {
        InterlockedIncrement(&g_posted);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// From another thread, while the wait is in progress: one sent message
// (answered only if the waiting thread dispatches) and one posted message.
struct Poker
{
    HWND window;
    DWORD delay;
    LRESULT answer = 0;
    BOOL sendOk = FALSE;
};

DWORD WINAPI PokeWindow(void* arg)
{
    Poker* poker = (Poker*)arg;
    Sleep(poker->delay);
    DWORD_PTR answer = 0;
    poker->sendOk = SendMessageTimeoutA(poker->window, WM_APP + 1, 0, 0, SMTO_NORMAL, 10000, &answer) != 0;
    poker->answer = (LRESULT)answer;
    PostMessageA(poker->window, WM_APP + 2, 0, 0);
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

class SystemInfoWait : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = WitnessProc;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = "FernwickWitness";
        RegisterClassA(&wc);
        m_window = CreateWindowA("FernwickWitness", "witness", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 NULL, NULL, wc.hInstance, NULL);
        ASSERT_NE((HWND)NULL, m_window);
        g_sent = g_posted = 0;
    }
    void TearDown() override { DestroyWindow(m_window); }

    HWND m_window = NULL;
};
} // namespace

// What the system queries answer under each emulated Windows (version,
// service pack, family, administrator) is read back from the runs of
// e2e_install and e2e_prerequisites under win98, nt40, winxp and vista; the
// exit codes of RunAndWait are the prerequisite installers' there too.
TEST(SystemInfo, DescriptionNamesEverySystem)
{
    const DWORD NT = VER_PLATFORM_WIN32_NT, NINE_X = VER_PLATFORM_WIN32_WINDOWS;
    const struct { DWORD platform, major, minor; const char* name; } rows[] = {
        {NINE_X, 4, 0, "Win9X V4.0.950 [sp] = Windows 95"},
        {NINE_X, 4, 10, "Win9X V4.10.950 [sp] = Windows 98"},
        {NINE_X, 4, 90, "Win9X V4.90.950 [sp] = Windows ME"},
        {NINE_X, 4, 3, "Win9X V4.3.950 [sp] = Windows 9X-4.3"},
        {NINE_X, 5, 1, "Win9X V5.1.950 [sp] = Windows 9X-5.1"},
        {NT, 3, 51, "WinNT V3.51.950 [sp] = Windows NT"},
        {NT, 5, 0, "WinNT V5.0.950 [sp] = Windows 2000"},
        {NT, 5, 1, "WinNT V5.1.950 [sp] = Windows XP"},
        {NT, 5, 2, "WinNT V5.2.950 [sp] = Windows 2003"},
        {NT, 5, 7, "WinNT V5.7.950 [sp] = Windows 32-5.7"},
        {NT, 6, 3, "WinNT V6.3.950 [sp] = Windows Vista"},
        {NT, 10, 0, "WinNT V10.0.950 [sp] = Windows 32-10.0"},
        {VER_PLATFORM_WIN32s, 3, 1, "Win9X V3.1.950 [sp] = Windows 32s"},
    };
    for (const auto& row : rows)
    {
        char out[VERSION_DESCRIPTION_SIZE];
        FormatWindowsVersion(row.platform, row.major, row.minor, 950, "sp", out);
        EXPECT_STREQ(row.name, out);
    }
}

TEST(SystemInfo, DescriptionLeavesOutTheNameWhenItWouldNotFit)
{
    // "WinNT V5.1.2600 [" + pack + "]" is 110 characters with a 92-character
    // pack text: 110 + 10 + 7 < 128 still takes " = Windows XP", 111 does not.
    char out[VERSION_DESCRIPTION_SIZE];
    FormatWindowsVersion(VER_PLATFORM_WIN32_NT, 5, 1, 2600, std::string(92, 'p').c_str(), out);
    EXPECT_EQ(110u + 13u, strlen(out));
    EXPECT_STREQ(" = Windows XP", out + 110);
    FormatWindowsVersion(VER_PLATFORM_WIN32_NT, 5, 1, 2600, std::string(93, 'p').c_str(), out);
    EXPECT_EQ(111u, strlen(out));
    FormatWindowsVersion(VER_PLATFORM_WIN32_NT, 5, 1, 2600, std::string(200, 'p').c_str(), out);
    EXPECT_EQ((size_t)VERSION_DESCRIPTION_SIZE - 1, strlen(out)) << "cut to the buffer";
}

TEST(SystemInfo, AdministratorFollowsTheThreadToken)
{
    EXPECT_TRUE(IsAdministrator()) << "a Wine prefix runs as administrator";

    // The same question with the Administrators group made deny-only on this thread.
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

TEST(SystemInfo, ProgramFilesFolder)
{
    char out[MAX_PATH];
    EXPECT_STREQ("C:\\Program Files", GetProgramFilesDir("FernwickNoSuchValue", out));

    char expected[MAX_PATH] = "";
    DWORD size = sizeof(expected);
    ASSERT_EQ(ERROR_SUCCESS, SHGetValueA(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY,
                                         "CommonFilesDir", NULL, expected, &size));
    EXPECT_STREQ(expected, GetProgramFilesDir("CommonFilesDir", out))
        << "the recorded value replaces the default";
    EXPECT_EQ(out, GetProgramFilesDir(PROGRAM_FILES_VALUE, out));
    EXPECT_EQ(0, _strnicmp("C:\\Program Files", out, 16)) << out;
}

TEST_F(SystemInfoWait, WindowStaysResponsiveWhileAProgramRuns)
{
    // The second handle as the program uses it: a busy thread that may end first.
    HANDLE busy = CreateThread(NULL, 0, EndAtOnce, NULL, 0, NULL);
    ASSERT_NE((HANDLE)NULL, busy);
    for (HANDLE second : {(HANDLE)NULL, busy})
    {
        SCOPED_TRACE(second ? "with a second handle" : "without");
        g_sent = g_posted = 0;
        Poker poker = {m_window, 200};
        HANDLE thread = CreateThread(NULL, 0, PokeWindow, &poker, 0, NULL);
        ULONGLONG cpuBefore = ThreadCpuMs();
        DWORD start = GetTickCount();
        EXPECT_EQ(7u, RunAndWait((CHILD + " 7 1000").c_str(), second));
        DWORD elapsed = GetTickCount() - start;
        ULONGLONG cpu = ThreadCpuMs() - cpuBefore;
        // Both messages arrived while RunAndWait was still waiting.
        EXPECT_EQ(1, g_sent);
        EXPECT_EQ(1, g_posted);
        EXPECT_GE(elapsed, 900u);
        // A finished busy thread must not turn the wait into a busy loop.
        EXPECT_LT(cpu, elapsed / 2) << "cpu " << cpu << " ms of " << elapsed << " ms";
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
        CloseHandle(thread);
        EXPECT_TRUE(poker.sendOk);
        EXPECT_EQ(1234, poker.answer);
    }
    CloseHandle(busy);
}

TEST_F(SystemInfoWait, WaitWithMessagesDispatchesUntilSignalled)
{
    // A program's process as the handle, and messages both queued before the
    // wait and arriving during it.
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    std::string command = CHILD + " 0 1000";
    ASSERT_TRUE(CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                               &process));
    for (int i = 0; i < 3; i++)
        PostMessageA(m_window, WM_APP + 2, 0, 0);
    Poker poker = {m_window, 300};
    HANDLE thread = CreateThread(NULL, 0, PokeWindow, &poker, 0, NULL);

    EXPECT_EQ(0u, WaitWithMessages(process.hProcess));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 0));
    EXPECT_EQ(1, g_sent);
    EXPECT_EQ(4, g_posted) << "every queued message dispatched during the wait";

    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, WaitWithMessages((HANDLE)(ULONG_PTR)0x7777));
}
