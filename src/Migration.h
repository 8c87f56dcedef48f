// What a move of the product into another folder needs around the copy
// itself: the Windows Installer's records of the product's key files follow
// the product, a running product is never moved, a failed move points
// everything back at the old folder, and an installation inside a folder that
// the system protects is reported.
#pragma once

#include <windows.h>

#include "C_String.h"

// The installer's component records (HKEY_LOCAL_MACHINE): one subkey per
// packed component code, one value per product named by its packed code.
const char COMPONENTS_KEY_NT[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";
const char COMPONENTS_KEY_9X[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Components";

// The product's files whose key paths follow the product, in the order the
// move and the restore process them.
struct KeyPathFile
{
    const char* relativePath;
    const char* packedComponent;
};
const int KEY_PATH_FILE_COUNT = 4;
extern const KeyPathFile KEY_PATH_FILES[KEY_PATH_FILE_COUNT];

// The spare copy IsProductInUse makes of the main program.
const char SPARE_PREFIX[] = "__";

// Points the component's record for this run's product at
// "<productFolder>\<relativePath>"; a component not registered for the
// product is left alone.
void UpdateComponentKeyPath(const C_String& productFolder, const char* packedComponent, const char* relativePath);

// True when the main program in RunState.targetDir is running or cannot be
// replaced. A false answer leaves the program as a fresh copy of itself.
bool IsProductInUse();

// After a refused or failed move: the key paths, InstallPath and the
// shortcuts point at oldFolder again. Nothing is copied back: every failure
// of the move comes before the old folder is deleted.
void RestorePreviousLocation(const char* oldFolder);

// True when RunState.targetDir lies in a folder the system protects.
bool CheckProtectedDirectory();
