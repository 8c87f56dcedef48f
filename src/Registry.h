// Thin registry wrappers on 8-bit key paths and value names. Root is a
// predefined key such as HKEY_LOCAL_MACHINE. Each operation closes every key it
// opened. Reads report a missing key or value by their result only (callers
// probe freely); failed writes and deletes are logged at detail level with the
// system's code, the caller logs what it means.
#pragma once

#include <windows.h>

#include "C_String.h"

const int REGISTRY_NAME_SIZE = 260;   // longest subkey name FindRegistrySubkey reads

// The view in which 64-bit Windows keeps what a 32-bit program shares with
// the system's own 64-bit programs (the installer's records, the native
// Program Files folder): KEY_WOW64_64KEY for a 32-bit program on 64-bit
// Windows, else 0 (systems before XP refuse the flag).
REGSAM NativeRegistryView();

// A string value (REG_SZ or REG_EXPAND_SZ, unexpanded) into out. view: 0 (the
// program's own) or NativeRegistryView().
bool ReadRegistryString(HKEY root, const char* keyPath, const char* valueName, C_String& out,
                        REGSAM view = 0);

// A 32-bit value into out (unchanged on failure).
bool ReadRegistryDword(HKEY root, const char* keyPath, const char* valueName, DWORD& out);

// Writes a REG_SZ value into an existing key; a missing key is not created.
// All three texts must be non-empty. True only when the value was written.
bool WriteRegistryString(HKEY root, const char* keyPath, const char* valueName, const char* value,
                         REGSAM view = 0);

// True when the key exists or could be created.
bool EnsureRegistryKey(HKEY root, const char* keyPath);

// Deletes a key that has no subkeys.
bool DeleteRegistryKey(HKEY root, const char* keyPath);

bool DeleteRegistryValue(HKEY root, const char* keyPath, const char* valueName);

// The name of the subkey with the highest index whose name contains text
// (case-sensitive) into out.
bool FindRegistrySubkey(HKEY root, const char* keyPath, const char* text, C_String& out);
