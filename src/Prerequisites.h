// What the .NET edition needs on the machine before its package can go in:
// the .NET Framework (1.1 with its service pack, or 2.0) and MDAC 2.7 or
// later. Finds what is there, runs the Microsoft installers that are missing,
// judges their exit codes and arranges a restart when one asks for it.
#pragma once

#include <windows.h>

#include <string>

class CResource;

// Registry places the detection reads (HKEY_LOCAL_MACHINE).
extern const char* const NDP_KEY;               // "SOFTWARE\Microsoft\NET Framework Setup\NDP"
extern const char* const FRAMEWORK_KEY;         // "SOFTWARE\Microsoft\.NETFramework"
extern const char* const FRAMEWORK_ROOT_VALUE;  // "InstallRoot"
extern const char* const EXPLORER_KEY;          // "SOFTWARE\Microsoft\Internet Explorer"
extern const char* const DATA_ACCESS_KEY;       // "SOFTWARE\Microsoft\DataAccess"
extern const char* const RUN_ONCE_KEY;          // "SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce"
extern const char* const RUN_ONCE_VALUE;        // "Fernwick"
extern const char* const CASPOL_FILE_NAME;      // "caspol.exe"

extern const char* const DOTNET_V10;            // "v1.0"
extern const char* const DOTNET_V11;            // "v1.1.4322"
extern const char* const DOTNET_V20;            // "v2.0"
extern const char* const DOTNET_V30;            // "v3.0"

// One installer of the prerequisites: its file below the installation
// source, the options appended after one blank, and its name for the user.
struct PrerequisiteInstaller
{
    const char* file;
    const char* options;
    const char* name;
};
extern const PrerequisiteInstaller INSTALLER_DOTNET11;
extern const PrerequisiteInstaller INSTALLER_DOTNET11_SP1;
extern const PrerequisiteInstaller INSTALLER_DOTNET20;
extern const PrerequisiteInstaller INSTALLER_MDAC;

// What a prerequisite step ended with, for the phase that tells the user.
struct PrerequisiteOutcome
{
    DWORD code;           // 0, 3010 (restart pending) or the failure's code
    const char* message;  // never null: the reason named in the phase's error box
    bool abandoned;       // an installer's exit code ended the step
    bool cancelled;       // the user cancelled in an installer's own window
    bool restartNeeded;   // an installer asked for a restart

    PrerequisiteOutcome();
};

extern char caspolPath[MAX_PATH];         // "" when no usable Framework folder is known

// Clears what a run remembers (the restart resume registered once, the
// policy tool's path); a run starts with it cleared.
void ResetPrerequisiteState();

// Whether the framework version ("v2.0", "v1.1.4322", ...) is installed, with
// its service pack when required. Also sets caspolPath from the Framework's
// install root when the version is installed (and no service pack is asked for).
bool IsDotNetInstalled(const char* version, bool servicePackRequired);

// Whether .NET Framework 2.0 may be installed on a system with these figures:
// the Internet Explorer version text (null or empty: unknown, counts as too
// old), the family, the version and service pack, and the installer engine's
// version (major * 100 + minor).
bool MayInstallDotNet20(const char* explorerVersion, bool isWin9x, DWORD major, DWORD minor,
                        DWORD servicePack, DWORD engineVersion);

// Whether MDAC must be installed, from the "FullInstallVer" text (null: absent).
bool NeedsMdac(const char* fullInstallVersion);

// The machine as the prerequisites see it: what is installed, which
// installers the release offers, and the figures that decide about them.
struct PrerequisiteMachine
{
    bool netV20, netV11, spV11;                     // installed
    bool v11Offered, spV11Offered, v20Offered;      // installers available
    bool v20Allowed;       // the system may take 2.0 (MayInstallDotNet20)
    bool checkOnly;        // the run only checks: no service pack on its own
    bool haveMdacFullVersion, haveMdacVersion;
    std::string mdacFullVersion, mdacVersion;       // "FullInstallVer", "Version"

    PrerequisiteMachine();
};

// What the frameworks' part of the plan comes to, each with its log lines.
enum FrameworkDecision
{
    FRAMEWORK_UP_TO_DATE,   // 1.1 with its pack
    FRAMEWORK_PACK_ONLY,    // 1.1 without its pack: the pack is installed
    FRAMEWORK_PACK_SKIPPED, // 1.1 without its pack, which is not installed: the user hears
    FRAMEWORK_V20_PRESENT,
    FRAMEWORK_INSTALL_V20,
    FRAMEWORK_INSTALL_V11,  // with its pack slipstreamed when offered
    FRAMEWORK_NO_INSTALLER  // none present, none to install: the step fails
};

// What will be done, decided from the machine alone: the installers in the
// order they run (each with its options), MDAC last.
struct PrerequisitePlan
{
    FrameworkDecision framework;
    bool v20Disabled;        // 2.0 offered, but the system may not take it
    const PrerequisiteInstaller* steps[3];
    int stepCount;
    bool mdacNeeded;         // MDAC is the last step
    bool packMissing;        // 1.1 goes in without its pack: the user hears after it

    PrerequisitePlan();
};

// Reads the machine (logging what is installed, as the detection does).
void DetectPrerequisites(PrerequisiteMachine& machine, CResource* settings);
// The plan for that machine; no registry, file or user involved.
PrerequisitePlan PlanPrerequisites(const PrerequisiteMachine& machine);

// Installs what is missing. True with code 0 when nothing was needed or all
// went in, true with 3010 when a restart is pending; false with 2, 1313, 995,
// a code of ObtainSourceFile or an installer's exit code (0 when an obtained
// path was empty).
bool InstallPreconditions(PrerequisiteOutcome& outcome, CResource* settings);

// The verdict on an installer's exit code, recorded in outcome.
bool AcceptInstallerResult(long exitCode, PrerequisiteOutcome& outcome);

// Registers the program to start again after the restart (once per run,
// unless the setting "Reboot" of settings is "$SKIP$"). Always true: a failure
// to write is told to the user and logged.
bool RegisterRebootResume(const char* name, CResource* settings);

// The command that starts this program again with the options it was given:
// the program's full path in quotes, then the arguments as written on its
// command line (rawArguments: the command line after the program's name).
// False when it does not fit into size bytes.
bool MakeResumeCommand(const char* programPath, const char* rawArguments, char* out, size_t size);

// The arguments part of a whole command line: what follows the program's name
// (quoted or not) and the blanks after it.
const char* SkipProgramName(const char* commandLine);
