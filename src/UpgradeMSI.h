// The Windows Installer engine upgrade: the product's package needs a minimum
// engine version; an older engine is replaced by Microsoft's redistributable
// for the system's family before the package is installed.
#pragma once

#include <windows.h>

class CResource;

// What the engine installer is asked to do about a restart, where it can.
extern const char* const DELAYED_REBOOT_OPTION;   // " /c:\"msiinst /delayreboot\""
// Source name of the engine 1.2 redistributable: this replaces the first
// ".exe" of the name on NT 4.0 before service pack 6.
extern const char* const ENGINE_12_SUFFIX;        // "12.exe"

// True with result 0 when no upgrade was needed or it went in, true with 3010
// when a restart is pending; false with 13, 1313, 995, a code of
// ObtainSourceFile, the installer's exit code, or 0 (empty obtained path,
// installer file too old).
bool UpgradeInstallerEngine(DWORD& result, CResource* settings);
// Whether the engine in the system folder is older than required (major * 100 + minor).
bool NeedsEngineUpgrade(int required);
// Whether the engine installer is at least the required version; checkSkipped
// (the setting "CheckMsiVersion" is "$SKIP$") accepts any installer that is there.
bool CheckEngineInstallerVersion(int required, const char* installerPath, bool checkSkipped);
// Runs the engine installer and returns its exit code (2: no such file).
DWORD DoInstallMSI(const char* installerPath, bool delayedRebootUnsupported);
