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
