#include "StandIns.h"

#include <shlobj.h>

#include "TestSupport.h"

namespace fwtest
{
static const char* const STANDIN_KEY = "SOFTWARE\\FernwickTest\\StandIn";
static const char* const NDP_KEY_PATH = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP";
const char* const RUN_ONCE_KEY_PATH = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
static const char* const FRAMEWORK_KEY_PATH = "SOFTWARE\\Microsoft\\.NETFramework";
static const char* const DATA_ACCESS_KEY_PATH = "SOFTWARE\\Microsoft\\DataAccess";
static const char* const RUN_ONCE_NAME = "Fernwick";

static void SetString(const char* key, const std::string& name, const std::string& value)
{
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, name.c_str(), REG_SZ, value.c_str(),
                    (DWORD)value.size() + 1);
}

static void SetDword(const std::string& key, const std::string& name, DWORD value)
{
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), REG_DWORD, &value,
                    sizeof(value));
}

StandIns::StandIns(const std::string& folder)
    : m_record(folder + "\\standins.txt"), m_framework(folder + "\\Framework\\")
{
    ClearMachine();
    SetString(STANDIN_KEY, "Record", m_record);
    SetString(STANDIN_KEY, "FrameworkRoot", m_framework);
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

bool StandIns::Place(const std::string& path) const
{
    std::string folder = path.substr(0, path.find_last_of('\\'));
    SHCreateDirectoryExA(NULL, folder.c_str(), NULL);
    return CopyFileA((BinDir() + "\\fw_standin.exe").c_str(), path.c_str(), FALSE) != FALSE;
}

void StandIns::ExitWith(const std::string& fileName, DWORD code) const
{
    SetDword(STANDIN_KEY, fileName, code);
}

void StandIns::Crash(const std::string& fileName) const
{
    SetString(STANDIN_KEY, fileName, "crash");
}

void StandIns::WriteRestartOnRun(const std::string& fileName, const std::string& text) const
{
    SetString(STANDIN_KEY, fileName + ":RunOnce", text);
}

std::vector<std::string> StandIns::Calls() const
{
    return ReadLines(m_record);
}

void StandIns::SetFramework(const std::string& version, DWORD servicePack, bool withTool) const
{
    std::string key = std::string(NDP_KEY_PATH) + "\\" + version;
    SetDword(key, "Install", 1);
    SetDword(key, "SP", servicePack);
    SetString(FRAMEWORK_KEY_PATH, "InstallRoot", m_framework);
    if (withTool)
        Place(m_framework + version + "\\caspol.exe");
}

void StandIns::SetMdac(const std::string& fullInstallVersion) const
{
    SetString(DATA_ACCESS_KEY_PATH, "FullInstallVer", fullInstallVersion);
}

std::string StandIns::RestartCommand() const
{
    char value[4096] = "";
    DWORD size = sizeof(value) - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, RUN_ONCE_KEY_PATH, RUN_ONCE_NAME, RRF_RT_REG_SZ, NULL,
                     value, &size) != ERROR_SUCCESS)
        return "";
    return value;
}
} // namespace fwtest
