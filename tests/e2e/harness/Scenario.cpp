// The scenario: working folder, machine state, the program's process and the
// results of a run.
#include "Scenario.h"

#include <stdio.h>

namespace fwe2e
{
static const char* const PROGRAM_NAME = "fernwick.exe";
static const char* const APP_DEFAULTS_KEY = "HKCU\\Software\\Wine\\AppDefaults\\";

static bool IsAbsolute(const std::string& path)
{
    return (path.size() > 1 && path[1] == ':') || path.compare(0, 2, "\\\\") == 0;
}

static std::string Backslashes(const std::string& path)
{
    return fwtest::Expand(path, "/", "\\");
}

static std::string TestName()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "_" + info->name() : "scenario";
    for (char& c : name)
        if (!isalnum((unsigned char)c) && c != '_' && c != '-')
            c = '_';
    return name.substr(0, 60);
}

Scenario::Scenario()
    : m_root(("fwe2e_" + TestName()).c_str()), m_dist(m_root.Path() + "\\dist"), m_exeName(PROGRAM_NAME),
      m_currentDir(m_dist), m_robot(new BoxRobot)
{
    CreateDirectoryA(m_dist.c_str(), NULL);
    std::string program = fwtest::BinDir() + "\\" + PROGRAM_NAME;
    if (!CopyFileA(program.c_str(), ExePath().c_str(), FALSE))
        ADD_FAILURE() << "cannot copy " << program << " into " << m_dist << " (" << GetLastError()
                      << "): is the program built?";
}

Scenario::~Scenario()
{
    Kill();
    m_robot->Stop();
    if (m_process)
        CloseHandle(m_process);
    for (auto it = m_guardedPaths.rbegin(); it != m_guardedPaths.rend(); ++it)
        fwtest::DeleteTree(*it);
}

// --- folders and files ----------------------------------------------------------

std::string Scenario::Path(const std::string& relative) const
{
    if (relative.empty())
        return m_dist;
    std::string path = Backslashes(relative);
    return IsAbsolute(path) ? path : m_dist + "\\" + path;
}

void Scenario::SetExeName(const std::string& name)
{
    if (Running() || name == m_exeName)
        return;
    std::string from = ExePath();
    m_exeName = name;
    if (!MoveFileExA(from.c_str(), ExePath().c_str(), MOVEFILE_REPLACE_EXISTING))
        ADD_FAILURE() << "cannot rename " << from << " to " << ExePath() << " (" << GetLastError() << ")";
}

void Scenario::SetDistName(const std::string& name)
{
    std::string to = m_root.Path() + "\\" + name;
    if (Running() || to == m_dist)
        return;
    if (!MoveFileExA(m_dist.c_str(), to.c_str(), 0))
    {
        ADD_FAILURE() << "cannot rename " << m_dist << " to " << to << " (" << GetLastError() << ")";
        return;
    }
    if (m_currentDir == m_dist)
        m_currentDir = to;
    m_dist = to;
}

std::string Scenario::Folder(const std::string& relative)
{
    std::string folder = m_root.Path() + "\\" + Backslashes(relative);
    if (!fwtest::MakeFolders(folder))
        ADD_FAILURE() << "cannot make the folder " << folder;
    return folder;
}

::testing::AssertionResult Scenario::WriteFile(const std::string& relative, const std::string& bytes)
{
    std::string path = Path(relative);
    if (fwtest::WriteBytes(path, bytes))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "cannot write " << path << " (" << GetLastError() << ")";
}

::testing::AssertionResult Scenario::WriteUnicodeFile(const std::string& relative, const std::string& utf8)
{
    std::string crLf = fwtest::Expand(fwtest::Expand(utf8, "\r\n", "\n"), "\n", "\r\n");
    return WriteFile(relative, fwtest::Utf16File(FromUtf8(crLf)));
}

::testing::AssertionResult Scenario::CopyFromBin(const std::string& name, const std::string& relative)
{
    std::string source = fwtest::BinDir() + "\\" + Backslashes(name);
    std::string target = Path(relative.empty() ? name : relative);
    if (fwtest::MakeFolders(target.substr(0, target.rfind('\\'))) &&
        CopyFileA(source.c_str(), target.c_str(), FALSE))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "cannot copy " << source << " to " << target << " ("
                                         << GetLastError() << ")";
}

void Scenario::GuardPath(const std::string& path)
{
    std::string full = Backslashes(path);
    if (GetFileAttributesA(full.c_str()) == INVALID_FILE_ATTRIBUTES)
        m_guardedPaths.push_back(full);
}

// --- machine state ---------------------------------------------------------------

::testing::AssertionResult Scenario::SetRegString(const std::string& key, const std::string& name,
                                                  const std::string& value)
{
    return m_registry.SetValue(key, name, REG_SZ, value.c_str(), (DWORD)value.size() + 1);
}

::testing::AssertionResult Scenario::SetRegDword(const std::string& key, const std::string& name,
                                                 DWORD value)
{
    return m_registry.SetValue(key, name, REG_DWORD, &value, sizeof(value));
}

// --- the box script ---------------------------------------------------------------

void Scenario::ReportRobot(const char* file, int line)
{
    for (const BoxRobot::Problem& problem : m_robot->TakeProblems())
        ADD_FAILURE_AT(problem.file ? problem.file : file, problem.file ? problem.line : line)
            << problem.message;
}

// --- running ----------------------------------------------------------------------

bool Scenario::Running() const
{
    return m_process != NULL && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT;
}

::testing::AssertionResult Scenario::Start(const std::string& arguments)
{
    if (Running())
        return ::testing::AssertionFailure() << "the program is still running";
    if (m_process)
        CloseHandle(m_process);
    m_process = NULL;
    m_pid = 0;

    // The Windows version is set for the program's file name; with none asked
    // for, a value left over from an aborted test must not apply either.
    const std::string key = APP_DEFAULTS_KEY + m_exeName;
    ::testing::AssertionResult version = GuardRegKey(key);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, key.substr(5).c_str(), "Version");
    if (version && !m_winVersion.empty())
        version = SetRegString(key, "Version", m_winVersion);
    // Under a bare X server (no window manager) Wine waits two seconds for
    // every closed "managed" window to be withdrawn; unmanaged windows close
    // at once and behave the same for the program.
    if (version)
        version = SetRegString(key + "\\X11 Driver", "Managed", "N");
    if (!version)
        return version;

    m_logPath = DefaultLogPath();
    std::string log;
    fwtest::ReadBytes(m_logPath, log);
    m_logOffset = log.size();

    m_commandLine = "\"" + ExePath() + "\"" + (arguments.empty() ? "" : " " + arguments);
    std::string line = m_commandLine;
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(ExePath().c_str(), &line[0], NULL, NULL, FALSE, 0, NULL,
                        m_currentDir.c_str(), &startup, &process))
        return ::testing::AssertionFailure() << "cannot start " << m_commandLine << " in "
                                             << m_currentDir << " (" << GetLastError() << ")";
    CloseHandle(process.hThread);
    m_process = process.hProcess;
    m_pid = process.dwProcessId;
    m_robot->Attach(m_pid);
    return ::testing::AssertionSuccess();
}

int Scenario::Wait(DWORD timeoutMs, const char* file, int line)
{
    if (m_process == NULL)
    {
        ADD_FAILURE_AT(file, line) << "Wait without a started program";
        return -2;
    }
    if (WaitForSingleObject(m_process, timeoutMs) == WAIT_TIMEOUT)
    {
        std::string windows = DescribeWindows(m_pid);
        Kill();
        m_robot->Stop();
        // One failure tells it all: what the robot saw and still expected.
        std::string notes;
        for (const BoxRobot::Problem& problem : m_robot->TakeProblems())
            notes += problem.message + "\n";
        ADD_FAILURE_AT(file, line) << "The program did not end within " << timeoutMs
                                   << " ms and was killed.\n  command line: " << m_commandLine
                                   << "\n  windows it showed at the end:\n" << windows
                                   << "  boxes seen:\n" << DescribeBoxes(Boxes()) << notes << Log().Describe();
        return -2;
    }
    DWORD code = 0;
    GetExitCodeProcess(m_process, &code);
    m_robot->Stop();
    ReportRobot(file, line);
    return (int)code;
}

int Scenario::Run(const std::string& arguments, DWORD timeoutMs, const char* file, int line)
{
    ::testing::AssertionResult started = Start(arguments);
    if (!started)
    {
        ADD_FAILURE_AT(file, line) << started.message();
        return -2;
    }
    return Wait(timeoutMs, file, line);
}

void Scenario::Kill()
{
    if (!Running())
        return;
    TerminateProcess(m_process, 0xDEAD);
    WaitForSingleObject(m_process, 10000);
}

ProgramWindow Scenario::FindWindow(const std::string& titleContains, DWORD timeoutMs,
                                   const std::string& className, const char* file, int line) const
{
    DWORD start = GetTickCount();
    for (;;)
    {
        for (HWND hwnd : TopLevelWindowsOf(m_pid))
            if (!IsMessageBox(hwnd) && (className.empty() || WindowClass(hwnd) == className) &&
                WindowText(hwnd).find(titleContains) != std::string::npos)
                return ProgramWindow(hwnd);
        if (GetTickCount() - start >= timeoutMs || !Running())
            break;
        Sleep(25);
    }
    ADD_FAILURE_AT(file, line) << "No window \"" << titleContains << "\" (class " << className
                               << ") of the program within " << timeoutMs << " ms"
                               << (Running() ? "" : "; the program has ended") << ".\n  windows:\n"
                               << DescribeWindows(m_pid);
    return ProgramWindow();
}

// --- results ------------------------------------------------------------------------

std::vector<ProgramWindow> Scenario::Windows() const
{
    std::vector<HWND> windows = TopLevelWindowsOf(m_pid);
    return std::vector<ProgramWindow>(windows.begin(), windows.end());
}

static std::string ReadFrom(const std::string& path, unsigned long long offset)
{
    std::string bytes;
    fwtest::ReadBytes(path, bytes);
    return offset < bytes.size() ? bytes.substr((size_t)offset) : std::string();
}

LogView Scenario::Log() const
{
    std::string path = m_logPath.empty() ? DefaultLogPath() : m_logPath;
    std::string text = ReadFrom(path, m_logOffset);
    // A run over midnight goes on in the next day's file.
    std::string today = DefaultLogPath();
    if (!m_logPath.empty() && _stricmp(today.c_str(), m_logPath.c_str()) != 0)
        text += ReadFrom(today, 0);
    return LogView(path, text);
}

LogView Scenario::LogFile(const std::string& path) const
{
    std::string full = Path(path);
    unsigned long long offset = _stricmp(full.c_str(), m_logPath.c_str()) == 0 ? m_logOffset : 0;
    return LogView(full, ReadFrom(full, offset));
}

// "DDMMYYYY" of today, as the program names its files.
static std::string DayStamp()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[16];
    _snprintf(stamp, sizeof(stamp), "%02d%02d%04d", now.wDay, now.wMonth, now.wYear);
    return stamp;
}

std::string DefaultLogPath()
{
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof(temp), temp);
    return std::string(temp) + "Fern_" + DayStamp() + ".log";
}

std::string TestName(const std::string& rowName)
{
    std::string name;
    for (char c : rowName)
        if (isalnum((unsigned char)c))
            name += c;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    if (!name.empty() && name.back() == '_')
        name.pop_back();
    return name;
}
} // namespace fwe2e
