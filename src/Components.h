// Installation of the data components of a member state and a language: the
// lines of [Components] and [Additional], each file reused from the earlier
// installation, kept when already in place, or obtained, copied into the
// member state's staging folder and verified against [CheckSums].
#pragma once

#include <windows.h>

#include "C_String.h"
#include "ResultCodes.h"

class CComponent;

// Result codes of the component loop.
const DWORD COMPONENTS_OK = 0;
const DWORD COMPONENTS_CANCELLED = RC_CANCELLED;
const DWORD COMPONENTS_COPY_FAILED = RC_CANNOT_COPY;  // a file cannot be copied into place
const DWORD COMPONENTS_NOT_OBTAINED = RC_FILE_NOT_FOUND;  // the obtain step told the user
const DWORD COMPONENTS_BAD_CHECKSUM = RC_CRC;
const DWORD COMPONENTS_BAD_PATH = RC_BAD_PATHNAME;  // a name that leaves the target folder

// Placeholders of component names and rule values (first place, case-sensitive).
constexpr const char* PLACEHOLDER_MS = "<MS>";
constexpr const char* PLACEHOLDER_LANG = "<Lang>";
// The staging folder of a member state: its code and this suffix.
constexpr const char* STAGING_NAME_FORMAT = "%s_New";

// Installs every component of a section (SECTION_COMPONENTS or
// SECTION_ADDITIONAL) for one member state and language into targetDir. The
// first failing component ends the section; true when result is 0.
bool InstallComponents(DWORD& result, const char* memberState, const char* language, const char* targetDir,
                       int sectionIndex);

// One component; false ends the section (result tells why).
bool InstallComponent(DWORD& result, const char* memberState, const char* language, CComponent* component,
                      const char* targetDir);

// What to do with the file of one component line.
enum ComponentAction
{
    COMPONENT_SKIP,    // nothing to do (why tells the reason)
    COMPONENT_REFUSE,  // a name that leaves the target folder (logged)
    COMPONENT_REUSE,   // copy source, a copy of the earlier installation
    COMPONENT_KEEP,    // a good copy is already at target
    COMPONENT_OBTAIN   // obtain source, copy it to target, verify checkSum
};

enum ComponentSkip
{
    SKIP_NONE,
    SKIP_OTHER_LANGUAGE,  // a file of another language's folder
    SKIP_THEN,            // the existence test was met and Then skips
    SKIP_ELSE             // the existence test was not met and Else skips
};

struct ComponentPlan
{
    ComponentAction action = COMPONENT_OBTAIN;
    ComponentSkip why = SKIP_NONE;
    C_String source;     // reuse: the installed copy's path; obtain: the name in the distribution
    C_String target;     // relative to the target folder
    C_String checkSum;   // expected of the obtained file; empty: not checked
    C_String condition;  // the file an existence test found last (for the skip's log line)
};

// Decides, from the line, the settings and the files on disk alone, what
// InstallComponent does for one component: no copy, no download, no box.
// Without reuse the earlier installation is not looked at (its copy failed).
ComponentPlan PlanComponent(const CComponent& component, const char* memberState, const char* language,
                            const char* targetDir, bool reuse = true);

// The packed name of a delivered file: ".zip", or ".zsi" for databases of
// the non-.NET edition; with an extension rule only names ending in it are
// packed, by that extension once more.
void AddPackedExtension(C_String& name, const char* extension);

// Looks below the run's target directory for a copy of path (relative, with
// placeholders) that satisfies expected (checksum, version, date, "V", "Any"
// or empty: any file). Without a member state the file is looked for by its
// name from the top of the target directory.
bool FindInstalledFile(const C_String& path, const char* memberState, const char* language,
                       const C_String& expected, C_String& found);
