#include "TestSupport.h"

namespace fwtest
{
TempDir::TempDir(const char* tag, const char* base)
{
    char temp[MAX_PATH] = "";
    if (base)
        lstrcpynA(temp, base, sizeof(temp));
    else
        GetTempPathA(sizeof(temp), temp);
    static LONG counter = 0;
    do
        m_path = std::string(temp) + tag + "_" + std::to_string(GetCurrentProcessId()) + "_" +
                 std::to_string(InterlockedIncrement(&counter));
    while (!CreateDirectoryA(m_path.c_str(), NULL) && GetLastError() == ERROR_ALREADY_EXISTS);
}

TempDir::~TempDir()
{
    // A program that has just ended may still hold its files for a moment.
    for (int attempt = 0; attempt < 20 && !DeleteTree(m_path) &&
                          GetFileAttributesA(m_path.c_str()) != INVALID_FILE_ATTRIBUTES;
         ++attempt)
        Sleep(50);
}

std::string Expand(std::string text, const std::string& mark, const std::string& value)
{
    for (size_t at = 0; (at = text.find(mark, at)) != std::string::npos; at += value.size())
        text.replace(at, mark.size(), value);
    return text;
}

DWORD RunProgram(std::string commandLine, DWORD timeoutMs)
{
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup,
                        &process))
        return (DWORD)-1;
    DWORD code = (DWORD)-2;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

std::string Utf16File(const std::wstring& text)
{
    std::string bytes("\xFF\xFE", 2);
    for (wchar_t c : text)
        bytes += std::string{(char)(c & 0xFF), (char)(c >> 8)};
    return bytes;
}

std::string Utf16File(const std::string& text)
{
    std::wstring wide;
    for (char c : text)
        wide += (wchar_t)(unsigned char)c;
    return Utf16File(wide);
}

bool MakeFolders(const std::string& folder)
{
    for (size_t at = 3; at <= folder.size(); ++at)
        if (at == folder.size() || folder[at] == '\\')
            CreateDirectoryA(folder.substr(0, at).c_str(), NULL);
    DWORD attributes = GetFileAttributesA(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteBytes(const std::string& path, const std::string& bytes)
{
    size_t slash = path.rfind('\\');
    if (slash != std::string::npos && slash > 2)
        MakeFolders(path.substr(0, slash));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool ReadBytes(const std::string& path, std::string& bytes)
{
    bytes.clear();
    // Share delete access too: programs under test replace files that the
    // tests poll (write a temporary file, then rename it over the old one).
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, NULL) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return true;
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::string bytes;
    ReadBytes(path, bytes);
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < bytes.size(); start = end + 2)
    {
        end = bytes.find("\r\n", start);
        if (end == std::string::npos)
            end = bytes.size();
        lines.push_back(bytes.substr(start, end - start));
    }
    return lines;
}

bool DeleteTree(const std::string& path)
{
    if (path.size() < 4)
        return false; // never a drive root
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE)
    {
        do
        {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(child);
            else
            {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryA(path.c_str()) || DeleteFileA(path.c_str());
}
} // namespace fwtest
