// The product's own Windows Installer package, one per user-interface language
// ("Sys_<lang>.msi", called SYS_LN in the log): installs or upgrades it with
// the run's choices as public properties and judges the installer's result.
#pragma once

#include <windows.h>

#include "ResultCodes.h"

// Public properties the package reads.
extern const char* const PROPERTY_LANGUAGE_COUNT;   // "LNS"
extern const char* const PROPERTY_TARGET_DIR;       // "TARGETDIR"
extern const char* const PROPERTY_FORCE_FOLDER;     // "FORCEFOLDER"
extern const char* const PROPERTY_AUTO_UPGRADE;     // "AUTOUPGRADE"
extern const char* const PROPERTY_DEFAULT_DIR;      // "DEFAULTDIR"
extern const char* const PROPERTY_SETUP_TYPE;       // "SETUPTYPE"
extern const char* const PROPERTY_DOTNET;           // "DOTNET"
extern const char* const SETUP_TYPE_CLIENT;         // "Client"
// Set in unattended runs only: the package never restarts the machine itself.
extern const char* const PROPERTY_REBOOT;           // "REBOOT"
extern const char* const REBOOT_REALLY_SUPPRESS;    // "ReallySuppress"

// Installs the package of the current language through the run's CMSI, with
// the progress window hidden while the installer's own dialogs are up.
// isClient: the earlier installation registered itself as a client. True
// exactly when result is 0; a restart code counts as 0 and sets
// RunState.rebootNeeded. Otherwise result is 2 or 2250 (package not located),
// the reason the installer library could not be loaded, 13 (path or property
// refused) or the installer's own code; the user has been told where this
// step is the one to tell (package not found, library, user cancel).
bool InstallProductPackage(DWORD& result, bool isClient);
