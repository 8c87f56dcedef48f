// The stand-in product packages (tests/fixtures/packages) as the tests use
// them: where each release lies, what it records, and a machine set-up that
// installs releases directly through msi.dll and takes every one of them away
// again, with the folders and registry values a test names, even when the
// test fails.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fwtest
{
// One built release: its folder below bin\packages and its product code.
struct TestRelease
{
    const char* folder;   // "6.1.0", "6.2.0", "6.2.0-moved", ...
    const char* code;
};
extern const TestRelease RELEASE_610;
extern const TestRelease RELEASE_620;
extern const TestRelease RELEASE_620_MOVED;    // installs into Program Files\Ombrant\ZAPH
extern const TestRelease RELEASE_620_CLIENT;   // SetupType "Client" unless told otherwise
extern const TestRelease RELEASE_620_DOTNET;   // the .NET edition: DotNet "Yes"
extern const TestRelease RELEASE_620_RESTART;  // installs and asks for a restart

std::string PackagesDir();                                       // bin\packages
// Where the moved release puts the product, with a trailing backslash.
std::string MovedFolder();

// Whether the installer lists the release as installed.
bool IsInstalled(const TestRelease& release);

// Holds the machine free of the test product for its lifetime: removes every
// release (the variants too, which MachineState does not know) and the given
// folders when made and again when destroyed.
class TestPackageSetup
{
public:
    explicit TestPackageSetup(const std::vector<std::string>& folders = std::vector<std::string>());
    ~TestPackageSetup();

    // Installs a release silently, as an earlier installation: the
    // installer's result (0 on success).
    UINT Install(const TestRelease& release, const std::string& commandLine);
    void RemoveAll();

private:
    std::vector<std::string> m_folders;

    TestPackageSetup(const TestPackageSetup&);
    TestPackageSetup& operator=(const TestPackageSetup&);
};
} // namespace fwtest
