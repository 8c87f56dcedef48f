// The end-to-end test harness: runs the real fernwick.exe as an administrator
// would, in a working folder of its own, with a robot that records and answers
// every message box, and checks what the run left behind (exit code, log,
// registry, files).
//
//     TEST(CommandLine, UsageBox)
//     {
//         fwe2e::Scenario s;
//         s.ExpectBox().TextStartsWith("Usage:").Icon(fwe2e::ICON_WARNING).Press(IDOK);
//         EXPECT_EQ(22, s.Run("/?"));
//         EXPECT_TRUE(s.Log().HasLine("**** Fernwick END ****."));
//     }
//
// Everything a Scenario creates or changes (working folder, registry values and
// keys, the per-program Windows version, guarded paths, a still running
// program) is undone by its destructor, also when an assertion ended the test.
// Failures of the box script are reported at the line of the expectation (or
// of Run/Wait), never from the robot's own thread.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "BoxRobot.h"
#include "LogView.h"
#include "RegistryGuard.h"
#include "TestSupport.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fwe2e
{
// ---------------------------------------------------------------------------
// Windows of the running program (progress window, language selection, ...)
// ---------------------------------------------------------------------------

// A top-level window of the program and its controls. Reads go through
// messages with a timeout, so a hung program cannot hang the test.
class ProgramWindow
{
public:
    ProgramWindow() = default;
    explicit ProgramWindow(HWND hwnd) : m_hwnd(hwnd) {}

    HWND Handle() const { return m_hwnd; }
    bool Exists() const { return m_hwnd != NULL && IsWindow(m_hwnd); }
    explicit operator bool() const { return Exists(); }
    std::string Title() const { return WindowText(m_hwnd); }

    HWND Control(int id) const;                 // null when there is none
    bool HasControl(int id) const { return Control(id) != NULL; }
    std::string ControlText(int id) const { return WindowText(Control(id)); } // "" when missing
    bool IsEnabled(int id) const;
    bool IsChecked(int id) const;               // BM_GETCHECK == BST_CHECKED

    // User actions: each fails (with the reason) when a user could not do it
    // either: missing, hidden or disabled control.
    ::testing::AssertionResult Click(int id) const;    // BM_CLICK

    // Waits until the control's text contains the part (or the timeout).
    ::testing::AssertionResult WaitForText(int id, const std::string& part,
                                           DWORD timeoutMs = 10000) const;
    // Every control: id, class, text, visible/enabled; for failure messages.
    std::string Describe() const;

private:
    HWND m_hwnd = NULL;
};

// Every visible top-level window of the process, for failure messages.
std::string DescribeWindows(DWORD pid);

// ---------------------------------------------------------------------------
// The log of a run (LogView.h)
// ---------------------------------------------------------------------------

using fwtest::LogView;

// The program's default log file: "<user temp>\Fern_DDMMYYYY.log".
std::string DefaultLogPath();

// ---------------------------------------------------------------------------
// Registry and files (checks usable with EXPECT_TRUE)
// ---------------------------------------------------------------------------

// Registry paths are "HKLM\\Software\\..." (HKLM, HKCU, HKCR or HKU).
::testing::AssertionResult RegValueIs(const std::string& key, const std::string& name,
                                      const std::string& expected);
::testing::AssertionResult RegValueAbsent(const std::string& key, const std::string& name);

::testing::AssertionResult FileExists(const std::string& path);
::testing::AssertionResult FileAbsent(const std::string& path);
::testing::AssertionResult DirExists(const std::string& path);

// ---------------------------------------------------------------------------
// The scenario
// ---------------------------------------------------------------------------

// Where the scenario's code line is, filled in by the compiler at the caller.
#define FWE2E_HERE const char* file = __builtin_FILE(), int line = __builtin_LINE()

class Scenario
{
public:
    // Makes a fresh working folder "<temp>\fwe2e_<test name>_<n>" with a
    // distribution folder "dist" holding a copy of bin\fernwick.exe.
    Scenario();
    ~Scenario();
    Scenario(const Scenario&) = delete;
    Scenario& operator=(const Scenario&) = delete;

    // --- folders and files ------------------------------------------------
    const std::string& Root() const { return m_root.Path(); } // the working folder
    const std::string& Dir() const { return m_dist; }    // distribution folder
    std::string Path(const std::string& relative) const; // below Dir()
    std::string ExePath() const { return Path(m_exeName); }
    // Another name for the program in the distribution folder (setup.exe for
    // LOCAL mode); renames the copy. Before Start only.
    void SetExeName(const std::string& name);
    // Another name for the distribution folder below Root() (one with a
    // blank, say); what it holds moves with it. Before Start only.
    void SetDistName(const std::string& name);
    // A fresh folder below Root() (outside the distribution), made on demand.
    std::string Folder(const std::string& relative);
    // Writes bytes below Dir() (or at an absolute path), making folders.
    ::testing::AssertionResult WriteFile(const std::string& relative, const std::string& bytes);
    // Writes UTF-16LE with the byte-order mark FF FE, lone LF made CR LF (the
    // settings file's form). The text is given as UTF-8.
    ::testing::AssertionResult WriteUnicodeFile(const std::string& relative,
                                                const std::string& utf8);
    ::testing::AssertionResult CopyFromBin(const std::string& name, const std::string& relative = "");
    // A path outside the working folder that the run may create (a target
    // folder, a file in the Windows folder): removed at the end when it did
    // not exist now. An existing path is left as it is.
    void GuardPath(const std::string& path);

    // --- machine state (all restored by the destructor) ------------------
    // Windows version the program sees: "win98", "winxp", "vista", "win7",
    // "win10" (HKCU\Software\Wine\AppDefaults\<exe name>\Version).
    void SetWindowsVersion(const std::string& version) { m_winVersion = version; }
    ::testing::AssertionResult SetRegString(const std::string& key, const std::string& name,
                                            const std::string& value);
    ::testing::AssertionResult SetRegDword(const std::string& key, const std::string& name,
                                           DWORD value);
    // A key the run may write: its whole tree is recorded now and put back
    // exactly (or removed) at the end.
    ::testing::AssertionResult GuardRegKey(const std::string& key) { return m_registry.Guard(key); }

    // --- the box script --------------------------------------------------
    // Appends the next expected message box (default answer IDOK). Boxes are
    // expected in the order written; may also be called while the program runs.
    BoxExpectation& ExpectBox(FWE2E_HERE) { return m_robot->Add(file, line); }
    std::vector<BoxSeen> Boxes() const { return m_robot->Seen(); } // every box seen so far
    // Unattended runs, before Start: quiet, no window of the program may
    // become visible at all; passive, only the progress window (and the log
    // window beside it) may, never a box or another dialog. Each one that
    // appears fails the run (the robot still closes a box, carefully).
    void ExpectNoWindow();
    void ExpectOnlyProgress();

    // --- running ---------------------------------------------------------
    // The whole run: Start, then Wait. Returns the exit code; a timeout kills
    // the program, fails the test and returns -2.
    int Run(const std::string& arguments = "", DWORD timeoutMs = 60000, FWE2E_HERE);
    // Step by step: Start, interact (FindWindow, Click, ...), then Wait.
    ::testing::AssertionResult Start(const std::string& arguments = "");
    int Wait(DWORD timeoutMs = 60000, FWE2E_HERE);
    bool Running() const;
    // Ends a running program at once (no clean-up by the program itself).
    void Kill();
    // Current folder of the run (default Dir()).
    void SetCurrentDir(const std::string& dir) { m_currentDir = dir; }
    // Waits for a visible top-level window of the program, not a message box,
    // whose title contains the part ("" = any). On timeout the test fails at
    // the caller's line (with the windows that are there) and the result is
    // an invalid window: `if (!w) return;`.
    ProgramWindow FindWindow(const std::string& titleContains = "", DWORD timeoutMs = 10000,
                             const std::string& className = "#32770", FWE2E_HERE) const;
    std::vector<ProgramWindow> Windows() const; // every visible top-level window

    // --- results ----------------------------------------------------------
    // The lines the last run added to the default log (the program's log in
    // the temporary folder), or the whole of another log file (/d <file>).
    LogView Log() const;
    LogView LogFile(const std::string& path) const;

private:
    void ReportRobot(const char* file, int line);

    fwtest::TempDir m_root;
    std::string m_dist, m_exeName, m_currentDir, m_commandLine, m_winVersion, m_logPath;
    unsigned long long m_logOffset = 0;
    HANDLE m_process = NULL;
    DWORD m_pid = 0;
    std::unique_ptr<BoxRobot> m_robot;
    fwtest::RegistryGuard m_registry;
    std::vector<std::string> m_guardedPaths;
};

// A table row's name as a test's name: every run of other characters becomes
// one underscore (gtest names hold letters, digits and underscores only).
std::string TestName(const std::string& rowName);
template <class Row> std::string TestName(const ::testing::TestParamInfo<Row>& info)
{
    return TestName(info.param.name);
}
} // namespace fwe2e
