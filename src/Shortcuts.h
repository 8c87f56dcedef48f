// The product's shortcuts on the desktop and in the Programs menu, and the
// check of an installation that is about to be upgraded: a broken one is
// forgotten and its installer registration removed, so that the run goes on
// as a new installation.
#pragma once

#include <windows.h>

// Where the shell keeps the shortcut folders (HKLM for all users on the NT
// family, HKCU on Windows 9x).
const char SHELL_FOLDERS_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char COMMON_DESKTOP_VALUE[] = "Common Desktop";
const char COMMON_PROGRAMS_VALUE[] = "Common Programs";
const char USER_DESKTOP_VALUE[] = "Desktop";
const char USER_PROGRAMS_VALUE[] = "Programs";

// What the shortcuts point at and say.
const char SHORTCUT_TARGET[] = "Login.exe";
const char SHORTCUT_DESCRIPTION[] = "Login MORV/TELA por Windows";
const char DESKTOP_SHORTCUT[] = "GESTION BALVORA.lnk";
const char PROGRAMS_SHORTCUT[] = "MORV OSKE\\GESTION BALVORA.lnk";
// Shortcuts of earlier releases and of the older line, removed.
const char OLD_DESKTOP_SHORTCUT_1[] = "Zaph.lnk";
const char OLD_DESKTOP_SHORTCUT_2[] = "Login.lnk";
const char OLD_PROGRAMS_SHORTCUT[] = "ZAPH QVL\\ZAPH QVL.lnk";

// Files an installation cannot do without (relative to its folder).
const char REQUIRED_LOGIN[] = "Login.exe";
const char REQUIRED_MAIN[] = "Zaph.exe";
const char REQUIRED_UNZIP[] = "bin\\dunzip32.dll";

// Saves a shell link to target at shortcut. Without evenWithoutTarget a
// missing target makes no shortcut, and removes one that is there.
bool CreateShortcut(const char* target, const char* shortcut, const char* description, bool evenWithoutTarget);

// The product's shortcuts for productFolder; client: made even when
// Login.exe is not (yet) in the folder.
void CreateProductShortcuts(const char* productFolder, bool client);

// False only when the installer library cannot be loaded (result: its
// code). A broken installation at RunState.targetDir is forgotten and its
// package removed; result then holds the removal's code when it was 3010.
bool VerifyInstallation(DWORD& result);
