// The phases of a setup or upgrade: the locals they share with the main
// sequence, the run-wide switches of a phase row, and the phases themselves.
// MainSequence (Fernwick.cpp) runs them in the order of its phase table.
#pragma once

#include <windows.h>

#include "C_String.h"
#include "FileVersion.h"
#include "ResultCodes.h"

// The program's own version, "V%d.%d.%d.%d".
const int OWN_VERSION_SIZE = 32;
// The installed version text that the earlier-installation check reports.
const int INSTALLED_VERSION_SIZE = 68;

// Marker file that makes a run LOCAL, and the program name that does the same.
extern const char* const LOCAL_MARKER_FILE;   // "_FW_LOCAL_.txt"
extern const char* const LOCAL_PROGRAM_NAME;  // "setup.exe"


// Where the product lives before and after its package, and what must follow
// it there (phases 17 to 24).
struct RelocationLocals
{
    C_String oldDir;     // the earlier installation's folder; empty without one
    C_String newDir;     // the folder the package installed to
    C_String setupType;  // "Server" or "Client", from the product key
    bool dirMoved;
    bool registryUpdateNeeded;
    bool subdirAppended;
    bool newDirWasEmpty;

    void Reset();
};

// What the phases of one run share. The first phase that sets rc to a value
// other than 0 ends the phases (restart codes aside, see PhaseRow).
struct SequenceLocals
{
    long rc;
    // Label key of the step in progress, named in the final error box; null
    // when a failure shows only its own box.
    const wchar_t* stepKey;
    // Filled by the command line; empty when the option was not given.
    C_String languageCode;
    C_String iniFile;
    char ownVersion[OWN_VERSION_SIZE];
    char versionLabel[VERSION_LABEL_SIZE];

    // The running system, read once at start-up.
    DWORD winMajor;
    DWORD winMinor;
    DWORD winServicePack;
    bool isVista;

    // Results of the checks before installation.
    bool skipMsi;
    bool skipProductPackage;
    bool qrtRegistered;
    bool previousFound;
    bool noUpgradeNeeded;
    bool abandonUpgrade;
    bool isClient;
    char installedVersion[INSTALLED_VERSION_SIZE];
    C_String detectedDir;

    RelocationLocals relocation;

    // A phase that finishes the run early on purpose (the client finish) sets
    // this: the rows after it do not run, and rc keeps its value.
    bool endPhases;

    SequenceLocals();
    void Reset();

private:
    SequenceLocals(const SequenceLocals&);
    SequenceLocals& operator=(const SequenceLocals&);
};

typedef void (*PhaseFunction)(SequenceLocals& locals);
typedef bool (*PhaseCondition)(const SequenceLocals& locals);

// One row of the phase table.
struct PhaseRow
{
    int number;
    const char* name;         // for the log
    PhaseFunction run;        // null: the phase is not part of this build
    PhaseCondition when;      // null: every run (while rc allows)
    // A restart code (3010, 1641) left by the row before does not stop this
    // row: the engine step and the language selection decide about it.
    bool takesRestartCode;
};

// Phase 1: settings file, logging and download settings, language.
void PhaseSettingsAndLanguage(SequenceLocals& locals);
// Phase 2: progress window, source mode, member state, versions, base URL.
void PhaseWindowAndSource(SequenceLocals& locals);

// The program's own file name from its module path (what follows the last
// backslash); empty when it cannot be read. out holds MAX_PATH bytes.
void GetProgramFileName(char* out);
// LOCAL when the marker file can be opened in the current directory or the
// program is named setup.exe (any case).
bool IsLocalRun(const char* programName);

// The checks before installation, phases 3 to 15.
void PhaseEditionConflict(SequenceLocals& locals);
void PhaseClientServerOrder(SequenceLocals& locals);
void PhaseEarlierInstallation(SequenceLocals& locals);
void PhaseDefaultTargetDir(SequenceLocals& locals);
void PhaseBackupConfirmation(SequenceLocals& locals);
void PhaseMultiMs(SequenceLocals& locals);
void PhaseNothingToUpgrade(SequenceLocals& locals);
void PhaseFilesInUse(SequenceLocals& locals);
void PhaseAdministratorWarning(SequenceLocals& locals);
void PhaseSystemAndPrerequisites(SequenceLocals& locals);
void PhaseInstallerEngine(SequenceLocals& locals);
void PhaseLanguageSelection(SequenceLocals& locals);
void PhaseInstallationCheck(SequenceLocals& locals);

// The product package and the relocation of the earlier installation,
// phases 16 to 24.
void PhaseProductPackageSkip(SequenceLocals& locals);
void PhaseSetupTypeAndProtection(SequenceLocals& locals);
void PhaseProductPackage(SequenceLocals& locals);
void PhaseTargetAfterInstallation(SequenceLocals& locals);
void PhaseDirectoryChange(SequenceLocals& locals);
// The client finish runs, and ends the phases, when the package left a client.
bool IsClientSetup(const SequenceLocals& locals);
void PhaseClientFinish(SequenceLocals& locals);
void PhaseFilesInUseAfterInstallation(SequenceLocals& locals);
void PhaseRelocation(SequenceLocals& locals);
void PhaseRegistryAndKeyPaths(SequenceLocals& locals);

// The data components and the completion, phases 25 and 26.
void PhaseDataComponents(SequenceLocals& locals);
void PhaseProgramsAndShortcuts(SequenceLocals& locals);
// After a successful run (not a repair): the edition, the login settings, the
// settings file in the staging folder, the end of the older line's entry.
void WriteCompletionRecords(SequenceLocals& locals);
