#include <gtest/gtest.h>

#include <shlwapi.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "SystemInfo.h"
#include "TestSupport.h"

using fwtest::TempDir;

namespace
{
const char* const PROBE_ENV = "FW_VERSION_PROBE_OUT";
const char* const WINE_APP_DEFAULTS = "Software\\Wine\\AppDefaults";

std::string Quote(const std::string& s)
{
    return "\"" + s + "\"";
}

std::string ChildPath()
{
    return fwtest::BinDir() + "\\fw_child.exe";
}

// Runs a program to its end with a time limit; returns its exit code.
DWORD RunWithTimeout(const std::string& commandLine, DWORD timeout = 60000)
{
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    std::vector<char> command(commandLine.begin(), commandLine.end());
    command.push_back(0);
    if (!CreateProcessA(NULL, command.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return (DWORD)-1;
    DWORD code = (DWORD)-2;
    if (WaitForSingleObject(process.hProcess, timeout) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

struct ProbeResult
{
    bool ran = false;
    std::string nineX, major, minor, servicePack, admin, description;
};

// Wine keeps one CSDVersion for the whole prefix whatever version a program
// is shown; a probe that needs another one sets it for its run and puts the
// old value back.
class CsdVersionOverride
{
public:
    explicit CsdVersionOverride(DWORD value) : m_active(value != 0)
    {
        DWORD size = sizeof(m_old);
        m_hadOld = SHGetValueA(HKEY_LOCAL_MACHINE, CSD_VERSION_KEY, CSD_VERSION_VALUE, NULL,
                               &m_old, &size) == ERROR_SUCCESS;
        if (m_active)
            SHSetValueA(HKEY_LOCAL_MACHINE, CSD_VERSION_KEY, CSD_VERSION_VALUE, REG_DWORD, &value,
                        sizeof(value));
    }
    ~CsdVersionOverride()
    {
        if (!m_active)
            return;
        if (m_hadOld)
            SHSetValueA(HKEY_LOCAL_MACHINE, CSD_VERSION_KEY, CSD_VERSION_VALUE, REG_DWORD, &m_old,
                        sizeof(m_old));
        else
            SHDeleteValueA(HKEY_LOCAL_MACHINE, CSD_VERSION_KEY, CSD_VERSION_VALUE);
    }
    DWORD Old() const { return m_hadOld ? m_old : 0; }

private:
    bool m_active;
    bool m_hadOld = false;
    DWORD m_old = 0;
};

// Runs a copy of this test program under Wine's emulation of another Windows
// version; the copy answers through VersionProbe.Report below.
ProbeResult ProbeUnder(const char* version, DWORD csdVersion)
{
    ProbeResult result;
    TempDir dir("probe");
    std::string exeName = std::string("fw_probe_") + version + ".exe";
    std::string exe = dir.File(exeName);
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof(self));
    if (!CopyFileA(self, exe.c_str(), FALSE))
        return result;

    std::string key = std::string(WINE_APP_DEFAULTS) + "\\" + exeName;
    if (SHSetValueA(HKEY_CURRENT_USER, key.c_str(), "Version", REG_SZ, version,
                    (DWORD)strlen(version) + 1) != ERROR_SUCCESS)
        return result;
    std::string out = dir.File("probe.txt");
    SetEnvironmentVariableA(PROBE_ENV, out.c_str());
    DWORD code;
    {
        CsdVersionOverride csd(csdVersion);
        code = RunWithTimeout(Quote(exe) + " --gtest_filter=VersionProbe.Report");
    }
    SetEnvironmentVariableA(PROBE_ENV, NULL);
    SHDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    if (code != 0)
        return result;

    std::vector<std::string> lines = fwtest::ReadLines(out);
    if (lines.size() != 6)
        return result;
    result.ran = true;
    result.nineX = lines[0];
    result.major = lines[1];
    result.minor = lines[2];
    result.servicePack = lines[3];
    result.admin = lines[4];
    result.description = lines[5];
    return result;
}

// A window of the test thread that notes which messages reached it.
struct Witness
{
    HWND window = NULL;
    volatile LONG sent = 0;
    volatile LONG posted = 0;
};
Witness* g_witness = NULL;

LRESULT CALLBACK WitnessProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP + 1)
    {
        InterlockedIncrement(&g_witness->sent);
        return 1234;
    }
    if (message == WM_APP + 2)
    {
        InterlockedIncrement(&g_witness->posted);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateWitnessWindow()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WitnessProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "FernwickWitness";
    RegisterClassA(&wc);
    return CreateWindowA("FernwickWitness", "witness", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL,
                         NULL, wc.hInstance, NULL);
}

// From another thread: one sent message (answered only if the waiting thread
// dispatches) and one posted message, while the wait is in progress.
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
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return (k.QuadPart + u.QuadPart) / 10000;
}
} // namespace

// Runs only inside a probe copy (see ProbeUnder): reports what the system
// queries answer under the emulated version.
TEST(VersionProbe, Report)
{
    char out[MAX_PATH];
    if (GetEnvironmentVariableA(PROBE_ENV, out, sizeof(out)) == 0)
        GTEST_SKIP() << "only in a probe copy";
    DWORD major = 0, minor = 0, servicePack = 99;
    char description[VERSION_DESCRIPTION_SIZE];
    bool nineX = GetWindowsVersion(&major, &minor, &servicePack, description);
    FILE* file = fopen(out, "wb");
    ASSERT_NE(nullptr, file);
    fprintf(file, "%d\r\n%lu\r\n%lu\r\n%lu\r\n%d\r\n%s\r\n", nineX ? 1 : 0, major, minor,
            servicePack, IsAdministrator() ? 1 : 0, description);
    fclose(file);
}

TEST(SystemInfo, VersionUnderEmulatedSystems)
{
    struct Row
    {
        const char* version;
        DWORD csdVersion;   // 0: the prefix's own
        const char* nineX;
        const char* major;
        const char* minor;
        const char* servicePack;
        const char* description;
    };
    CsdVersionOverride current(0);
    const std::string own = std::to_string((current.Old() >> 8) & 0xFF);
    const Row rows[] = {
        {"win98", 0, "1", "4", "10", own.c_str(), "Win9X V4.10.2222 [ A ] = Windows 98"},
        {"nt40", 0x600, "0", "4", "0", "6", "WinNT V4.0.1381 [Service Pack 6a] = Windows NT"},
        {"winxp", 0x300, "0", "5", "1", "3", "WinNT V5.1.2600 [Service Pack 3] = Windows XP"},
        {"vista", 0x200, "0", "6", "0", "2", "WinNT V6.0.6002 [Service Pack 2] = Windows Vista"},
        {"win7", 0x100, "0", "6", "1", "1", "WinNT V6.1.7601 [Service Pack 1] = Windows Vista"},
        // Only the second byte counts.
        {"winxp", 0x12345, "0", "5", "1", "35", "WinNT V5.1.2600 [Service Pack 3] = Windows XP"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.version);
        ProbeResult r = ProbeUnder(row.version, row.csdVersion);
        ASSERT_TRUE(r.ran);
        EXPECT_EQ(row.nineX, r.nineX);
        EXPECT_EQ(row.major, r.major);
        EXPECT_EQ(row.minor, r.minor);
        EXPECT_EQ(row.servicePack, r.servicePack);
        EXPECT_EQ(row.description, r.description);
        // 9x: true without asking for a token; NT 4: the token walk; later: membership check.
        EXPECT_EQ("1", r.admin);
    }
    DWORD after = 0;
    DWORD size = sizeof(after);
    SHGetValueA(HKEY_LOCAL_MACHINE, CSD_VERSION_KEY, CSD_VERSION_VALUE, NULL, &after, &size);
    EXPECT_EQ(current.Old(), after) << "the prefix's value is back";
}

TEST(SystemInfo, ServicePackComesFromCsdVersion)
{
    DWORD csd = 0;
    DWORD size = sizeof(csd);
    DWORD expected = 0;
    if (SHGetValueA(HKEY_LOCAL_MACHINE, CSD_VERSION_KEY, CSD_VERSION_VALUE, NULL, &csd, &size) ==
        ERROR_SUCCESS)
        expected = (csd >> 8) & 0xFF;
    DWORD servicePack = 99;
    DWORD major = 0;
    GetWindowsVersion(&major, NULL, &servicePack, NULL);
    EXPECT_EQ(expected, servicePack);
    EXPECT_FALSE(GetWindowsVersion(NULL, NULL, NULL, NULL)) << "Wine's default is of the NT family";
}

TEST(SystemInfo, DescriptionNamesEverySystem)
{
    struct Row
    {
        DWORD platform, major, minor;
        const char* name;
    };
    const Row rows[] = {
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, "Win9X V4.0.950 [sp] = Windows 95"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 10, "Win9X V4.10.950 [sp] = Windows 98"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, "Win9X V4.90.950 [sp] = Windows ME"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 3, "Win9X V4.3.950 [sp] = Windows 9X-4.3"},
        {VER_PLATFORM_WIN32_WINDOWS, 5, 1, "Win9X V5.1.950 [sp] = Windows 9X-5.1"},
        {VER_PLATFORM_WIN32_NT, 3, 51, "WinNT V3.51.950 [sp] = Windows NT"},
        {VER_PLATFORM_WIN32_NT, 5, 0, "WinNT V5.0.950 [sp] = Windows 2000"},
        {VER_PLATFORM_WIN32_NT, 5, 1, "WinNT V5.1.950 [sp] = Windows XP"},
        {VER_PLATFORM_WIN32_NT, 5, 2, "WinNT V5.2.950 [sp] = Windows 2003"},
        {VER_PLATFORM_WIN32_NT, 5, 7, "WinNT V5.7.950 [sp] = Windows 32-5.7"},
        {VER_PLATFORM_WIN32_NT, 6, 3, "WinNT V6.3.950 [sp] = Windows Vista"},
        {VER_PLATFORM_WIN32_NT, 10, 0, "WinNT V10.0.950 [sp] = Windows 32-10.0"},
        {VER_PLATFORM_WIN32s, 3, 1, "Win9X V3.1.950 [sp] = Windows 32s"},
    };
    for (const Row& row : rows)
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
    HANDLE process = NULL;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process));
    SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
    PSID admins = NULL;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                         DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins));
    SID_AND_ATTRIBUTES deny = {admins, 0};
    HANDLE restricted = NULL;
    BOOL made = CreateRestrictedToken(process, 0, 1, &deny, 0, NULL, 0, NULL, &restricted);
    HANDLE impersonation = NULL;
    if (made)
        made = DuplicateToken(restricted, SecurityImpersonation, &impersonation);
    if (made && SetThreadToken(NULL, impersonation))
    {
        EXPECT_FALSE(IsAdministrator());
        RevertToSelf();
    }
    else
        ADD_FAILURE() << "no restricted token [" << GetLastError() << "]";
    EXPECT_TRUE(IsAdministrator());
    if (impersonation)
        CloseHandle(impersonation);
    if (restricted)
        CloseHandle(restricted);
    FreeSid(admins);
    CloseHandle(process);
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

TEST(SystemInfo, RunAndWaitReturnsTheExitCode)
{
    struct Row
    {
        const char* arguments;
        DWORD code;
    };
    const Row rows[] = {{"0", 0}, {"42", 42}, {"3010 50", 3010}, {"-1", 0xFFFFFFFF}};
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.arguments);
        std::string command = Quote(ChildPath()) + " " + row.arguments;
        EXPECT_EQ(row.code, RunAndWait(command.c_str(), NULL));
    }
    TempDir dir("run");
    std::string missing = Quote(dir.File("no_such_installer.exe")) + " /q";
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, RunAndWait(missing.c_str(), NULL));
}

TEST(SystemInfo, WindowStaysResponsiveWhileAProgramRuns)
{
    Witness witness;
    g_witness = &witness;
    witness.window = CreateWitnessWindow();
    ASSERT_NE((HWND)NULL, witness.window);

    // The second handle as the program uses it: a busy thread that may end first.
    HANDLE busy = CreateThread(NULL, 0, EndAtOnce, NULL, 0, NULL);
    ASSERT_NE((HANDLE)NULL, busy);
    const HANDLE seconds[] = {NULL, busy};
    for (HANDLE second : seconds)
    {
        SCOPED_TRACE(second ? "with a second handle" : "without");
        witness.sent = witness.posted = 0;
        Poker poker = {witness.window, 200};
        HANDLE thread = CreateThread(NULL, 0, PokeWindow, &poker, 0, NULL);
        ULONGLONG cpuBefore = ThreadCpuMs();
        DWORD start = GetTickCount();
        std::string command = Quote(ChildPath()) + " 7 1000";
        EXPECT_EQ(7u, RunAndWait(command.c_str(), second));
        DWORD elapsed = GetTickCount() - start;
        ULONGLONG cpu = ThreadCpuMs() - cpuBefore;
        // Both messages arrived while RunAndWait was still waiting.
        EXPECT_EQ(1, witness.sent);
        EXPECT_EQ(1, witness.posted);
        EXPECT_GE(elapsed, 900u);
        // A finished busy thread must not turn the wait into a busy loop.
        EXPECT_LT(cpu, elapsed / 2) << "cpu " << cpu << " ms of " << elapsed << " ms";
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
        CloseHandle(thread);
        EXPECT_TRUE(poker.sendOk);
        EXPECT_EQ(1234, poker.answer);
    }
    CloseHandle(busy);
    DestroyWindow(witness.window);
    g_witness = NULL;
}

TEST(SystemInfo, WaitWithMessagesDispatchesUntilSignalled)
{
    Witness witness;
    g_witness = &witness;
    witness.window = CreateWitnessWindow();
    ASSERT_NE((HWND)NULL, witness.window);

    // A program's process as the handle, and messages both queued before the
    // wait and arriving during it.
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    std::string command = Quote(ChildPath()) + " 0 1000";
    ASSERT_TRUE(CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                               &process));
    for (int i = 0; i < 3; i++)
        PostMessageA(witness.window, WM_APP + 2, 0, 0);
    Poker poker = {witness.window, 300};
    HANDLE thread = CreateThread(NULL, 0, PokeWindow, &poker, 0, NULL);

    EXPECT_EQ(0u, WaitWithMessages(process.hProcess));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 0));
    EXPECT_EQ(1, witness.sent);
    EXPECT_EQ(4, witness.posted) << "every queued message dispatched during the wait";

    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, WaitWithMessages((HANDLE)(ULONG_PTR)0x7777));
    DestroyWindow(witness.window);
    g_witness = NULL;
}
