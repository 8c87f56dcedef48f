// Shared helpers of the unit and end-to-end tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fwtest
{
// A fresh, empty folder under the temporary folder (or under base, such as
// "C:\\" for searches that descend only a few levels below the drive root),
// removed by the destructor.
class TempDir
{
public:
    explicit TempDir(const char* tag = "fwtest", const char* base = NULL);
    ~TempDir();
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& relative) const { return m_path + "\\" + relative; }

private:
    std::string m_path;
};

// Makes the folder and its parents; whether it is there.
bool MakeFolders(const std::string& folder);
// Writes the file, making its folder.
bool WriteBytes(const std::string& path, const std::string& bytes);
// The bytes of a UTF-16 LE file with its mark; a narrow text is read as Latin-1.
std::string Utf16File(const std::wstring& text);
std::string Utf16File(const std::string& text);
bool ReadBytes(const std::string& path, std::string& bytes);
std::vector<std::string> ReadLines(const std::string& path); // CR LF split, line ends removed
bool DeleteTree(const std::string& path);
// The text with every mark (such as "<f>") replaced by value.
std::string Expand(std::string text, const std::string& mark, const std::string& value);
// Runs a program to its end; its exit code, (DWORD)-1 when it cannot start,
// (DWORD)-2 when it was killed after the time limit.
DWORD RunProgram(std::string commandLine, DWORD timeoutMs = 60000);
// The source tree as a Windows path, and where the built programs are.
inline std::string SourceDir() { return FW_SOURCE_DIR; }
inline std::string BinDir() { return std::string(FW_BINARY_DIR) + "\\bin"; }
} // namespace fwtest
