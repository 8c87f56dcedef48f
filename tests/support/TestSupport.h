// Shared helpers of the unit and end-to-end tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fwtest
{
// A fresh, empty folder under the temporary folder, removed by the destructor.
class TempDir
{
public:
    explicit TempDir(const char* tag = "fwtest");
    ~TempDir();
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& relative) const { return m_path + "\\" + relative; }

private:
    std::string m_path;
};

bool WriteBytes(const std::string& path, const std::string& bytes);
bool ReadBytes(const std::string& path, std::string& bytes);
std::vector<std::string> ReadLines(const std::string& path); // CR LF split, line ends removed
bool DeleteTree(const std::string& path);
std::string SourceDir();   // the source tree, as a Windows path
std::string BinaryDir();   // the build tree, as a Windows path
std::string BinDir();      // where the built programs are
std::string ModuleDir();   // folder of the running test program
} // namespace fwtest
