// The stand-ins of the outside installers and tools (bin\fw_standin.exe,
// copied under each program's name) and the machine state they read and
// write: the .NET Framework, MDAC and the restart registration. One StandIns
// clears that state when made and again when destroyed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fwtest
{
extern const char* const RUN_ONCE_KEY_PATH; // HKLM: where the restart is registered

class StandIns
{
public:
    // Calls are recorded in folder\standins.txt; the Framework installers
    // put their tool below folder\Framework\.
    explicit StandIns(const std::string& folder);
    ~StandIns();
    StandIns(const StandIns&) = delete;
    StandIns& operator=(const StandIns&) = delete;

    // The exit code of the program of that file name (lower case), or a crash.
    void ExitWith(const std::string& fileName, DWORD code) const;
    void Crash(const std::string& fileName) const;
    // The program of that file name puts text into the restart registration.
    void WriteRestartOnRun(const std::string& fileName, const std::string& text) const;
    // "<file name>|<arguments>" per call, in order.
    std::vector<std::string> Calls() const;
    // The full path the program of that file name was last started from ("" never).
    std::string StartedFrom(const std::string& fileName) const;

    // Machine states: a Framework version ("v1.1.4322", "v2.0.50727") with
    // its service pack and, when given a tool, caspol.exe in its folder.
    void SetFramework(const std::string& version, DWORD servicePack, bool withTool) const;
    void SetMdac(const std::string& fullInstallVersion) const;
    // The registered restart command, "" when none.
    std::string RestartCommand() const;

private:
    void ClearMachine() const;
    std::string m_record;
    std::string m_framework;
};
} // namespace fwtest
