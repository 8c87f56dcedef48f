#include "TlsRelay.h"

#include <windows.h>

#include "TestSupport.h"

namespace fwtest
{
namespace
{
// The host's name of a Windows path: the relay runs outside Wine.
std::string UnixPath(const std::string& path)
{
    typedef char*(CDECL * UnixName)(const WCHAR*);
    UnixName unixName = (UnixName)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    WCHAR wide[MAX_PATH];
    if (unixName == NULL || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH))
        return "";
    char* name = unixName(wide);
    std::string text = name != NULL ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return text;
}
} // namespace

TlsRelay::TlsRelay() : m_port(0)
{
}

TlsRelay::~TlsRelay()
{
    if (!m_folder.empty())
    {
        WriteBytes(m_folder + "\\stop", "");
        Sleep(500); // the relay looks for the stop file five times a second
        DeleteTree(m_folder);
    }
}

bool TlsRelay::Start(unsigned short targetPort, bool trusted)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    m_folder = std::string(temp) + "fw_tls_" + std::to_string(GetCurrentProcessId()) + "_" +
               std::to_string(GetTickCount());
    if (!CreateDirectoryA(m_folder.c_str(), NULL))
        return false;
    std::string keys = BinDir() + "\\signed\\keys\\" + (trusted ? "localhost" : "stranger");
    std::string line = "/usr/bin/python3 " + UnixPath(SourceDir() + "\\tests\\fixtures\\tls-relay.py") + " " +
                       std::to_string(targetPort) + " " + UnixPath(keys + ".crt") + " " + UnixPath(keys + ".key") +
                       " " + UnixPath(m_folder + "\\port") + " " + UnixPath(m_folder + "\\stop");
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return false;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    std::string port;
    for (int i = 0; i < 100 && !ReadBytes(m_folder + "\\port", port); ++i)
        Sleep(100);
    m_port = (unsigned short)atoi(port.c_str());
    return m_port != 0;
}
} // namespace fwtest
