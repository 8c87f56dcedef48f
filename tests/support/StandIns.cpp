#include "StandIns.h"

#include "RegistryGuard.h"
#include "TestSupport.h"

namespace fwtest
{
static const char* const STANDIN_KEY = "SOFTWARE\\FernwickTest\\StandIn";
static const char* const NDP_KEY_PATH = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP";
const char* const RUN_ONCE_KEY_PATH = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
static const char* const FRAMEWORK_KEY_PATH = "SOFTWARE\\Microsoft\\.NETFramework";
static const char* const DATA_ACCESS_KEY_PATH = "SOFTWARE\\Microsoft\\DataAccess";
static const char* const RUN_ONCE_NAME = "Fernwick";

static void SetDword(const std::string& key, const std::string& name, DWORD value)
{
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), REG_DWORD, &value,
                    sizeof(value));
}

StandIns::StandIns(const std::string& folder)
    : m_record(folder + "\\standins.txt"), m_framework(folder + "\\Framework\\")
{
    ClearMachine();
    SetRegString(HKEY_LOCAL_MACHINE, STANDIN_KEY, "Record", m_record);
    SetRegString(HKEY_LOCAL_MACHINE, STANDIN_KEY, "FrameworkRoot", m_framework);
}

StandIns::~StandIns()
{
    ClearMachine();
}

void StandIns::ClearMachine() const
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, STANDIN_KEY);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, NDP_KEY_PATH);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, FRAMEWORK_KEY_PATH);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, DATA_ACCESS_KEY_PATH);
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, RUN_ONCE_KEY_PATH, RUN_ONCE_NAME);
}

void StandIns::ExitWith(const std::string& fileName, DWORD code) const
{
    SetDword(STANDIN_KEY, fileName, code);
}

void StandIns::Crash(const std::string& fileName) const
{
    SetRegString(HKEY_LOCAL_MACHINE, STANDIN_KEY, fileName, "crash");
}

void StandIns::WriteRestartOnRun(const std::string& fileName, const std::string& text) const
{
    SetRegString(HKEY_LOCAL_MACHINE, STANDIN_KEY, fileName + ":RunOnce", text);
}

std::vector<std::string> StandIns::Calls() const
{
    return ReadLines(m_record);
}

std::string StandIns::StartedFrom(const std::string& fileName) const
{
    std::string path = RegString(HKEY_LOCAL_MACHINE, STANDIN_KEY, fileName + ":StartedFrom");
    return path == REG_ABSENT ? "" : path;
}

void StandIns::SetFramework(const std::string& version, DWORD servicePack, bool withTool) const
{
    std::string key = std::string(NDP_KEY_PATH) + "\\" + version;
    SetDword(key, "Install", 1);
    SetDword(key, "SP", servicePack);
    SetRegString(HKEY_LOCAL_MACHINE, FRAMEWORK_KEY_PATH, "InstallRoot", m_framework);
    if (withTool && MakeFolders(m_framework + version))
        CopyFileA((BinDir() + "\\fw_standin.exe").c_str(), (m_framework + version + "\\caspol.exe").c_str(), FALSE);
}

void StandIns::SetMdac(const std::string& fullInstallVersion) const
{
    SetRegString(HKEY_LOCAL_MACHINE, DATA_ACCESS_KEY_PATH, "FullInstallVer", fullInstallVersion);
}

std::string StandIns::RestartCommand() const
{
    std::string command = RegString(HKEY_LOCAL_MACHINE, RUN_ONCE_KEY_PATH, RUN_ONCE_NAME);
    return command == REG_ABSENT ? "" : command;
}
} // namespace fwtest
