// Machine states of an earlier installation, shared by the unit tests and the
// end-to-end harness. A MachineState first clears what the product could find
// (the product's registry values, the older line's uninstall entry, any
// installed test package): that alone is "nothing installed". Apply() then
// builds one state from a row of data: real registry values, a real folder
// layout and, where the row says so, a real test package (Sys_<lang>.msi of
// tests/fixtures/packages) installed through msi.dll. The destructor removes
// every package, folder and value it made and restores what was there before,
// also when an assertion ended the test.
//
//     fwtest::MachineState machine;
//     std::string folder = machine.Apply(fwtest::STATE_QRT_OLDER);     // 6.1, LU, EN
//     // ... run DetectPreviousInstallation, or fernwick.exe, against it ...
//     fwtest::StateRow row = fwtest::STATE_QRT_EQUAL;
//     row.languages = "EN FR NL";                                      // a variant
//     machine.Apply(row);                                              // a second state beside the first
//
// Versions: 6.2 is the release the tests play; the rows
// say older (6.1), equal (6.2) or newer (6.3). A folder row lives under a root
// private to the MachineState unless the row asks for the Program Files
// folder (the protected state); a folder path passed to Apply overrides both.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "RegistryGuard.h"
#include "TestPackages.h"
#include "TestSupport.h"

namespace fwtest
{
// Product code of the test package's first release (6.1.0).
const char PACKAGE_RELEASE1_CODE[] = "{12345678-5A1E-4B7D-8C20-91F3C6A0D4E8}";

enum StateKind
{
    KIND_NOTHING,        // no folder, no values
    KIND_OLDER_LINE,     // the older line's uninstall entry and its folder layout
    KIND_PRODUCT,        // this product: folder, settings file, languages, registry values
};

struct StateRow
{
    const char* name;          // also the folder's name under the root
    StateKind kind;
    const char* iniVersion;    // IniVersion of the installed settings file; null: no settings file
    bool dotNet;               // the .NET edition: Zaph.exe as main program, DotNet=yes
    const char* setupType;     // "Server", "Client"; null: no SetupType value
    const char* languages;     // language folders of the first member state, "EN FR"
    const char* memberStates;  // member-state folders, "LU BE"; each gets PSI\data.mdb
    int packageRelease;        // 0: none; 1 or 2: the real test package installed into the folder
    bool registered;           // InstallPath (and SetupType, DotNet) written to the product key
    bool protectedFolder;      // the folder lies under the Program Files folder
};

extern const StateRow STATE_NOTHING;
extern const StateRow STATE_OLDER_LINE;
extern const StateRow STATE_QRT_OLDER;            // 6.1, LU with EN
extern const StateRow STATE_QRT_EQUAL;            // 6.2
extern const StateRow STATE_QRT_NEWER;            // 6.3, "EN FR DE" and the member states LU and BE
extern const StateRow STATE_QRT_PACKAGE;          // 6.1 over the real release-1 package
extern const StateRow STATE_DOTNET_SERVER;        // .NET 6.2 server: ms.xml and zaph.exe
extern const StateRow STATE_PROTECTED;            // 6.1 under Program Files (see SetWindowsVersion)

class MachineState
{
public:
    MachineState();
    ~MachineState();

    // Builds the row's state and returns its folder ("" for nothing). folder,
    // when given, is where the product goes instead of the row's own place.
    std::string Apply(const StateRow& row, const std::string& folder = "");
    // Sets (or with REG_ABSENT deletes) a string value; the destructor puts
    // back what was there.
    void SetValue(HKEY root, const std::string& key, const std::string& name, const std::string& value);
    // Points the shortcut folders of the shell (all users' and the current
    // user's desktop and Programs menu) at folders under the root, so that
    // shortcut tests leave the machine's own menus alone; returns the root of
    // them ("<root>\shell").
    std::string RedirectShellFolders();
    // A folder that the destructor deletes.
    void OwnFolder(const std::string& folder);
    const std::string& Root() const { return m_root.Path(); }

private:
    // Removes every release of the test product when made (before the
    // values are saved) and on demand.
    TestPackageSetup m_packages;
    RegistryGuard m_registry;
    TempDir m_root{"fwstate"};
    std::vector<std::string> m_folders;

    MachineState(const MachineState&) = delete;
    MachineState& operator=(const MachineState&) = delete;
};
} // namespace fwtest
