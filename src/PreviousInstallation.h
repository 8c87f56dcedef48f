// The earlier installation: where it is, which version and languages it holds,
// whether a client may be upgraded yet, and what kind of folder the product is
// about to move into. Reads the registry and the file system; changes nothing
// but the staging folder of the member state being installed.
#pragma once

#include <windows.h>

#include "C_String.h"

// Where the older product line records its uninstaller (HKEY_LOCAL_MACHINE).
const char OLDER_LINE_UNINSTALL_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZAPH QVL";
const char OLDER_LINE_UNINSTALL_VALUE[] = "UninstallString";
const char UNINSTALL_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char DISPLAY_VERSION_VALUE[] = "DisplayVersion";
// The fixed end of every release's product code.
const char PRODUCT_CODE_TAIL[] = "-5A1E-4B7D-8C20-91F3C6A0D4E8}";

// Folder layout of an installation.
const char STAGING_SUFFIX[] = "_New";                       // <member state>_New
const char COMPLETION_MARKER[] = "FW_Complete.lol";
const char INSTALLED_SETTINGS[] = "setup\\Zaph.ini";        // under a member-state folder
const char MEMBER_STATE_MANIFEST[] = "ms.xml";              // a server of the .NET edition
const char MAIN_PROGRAM_LOWER[] = "zaph.exe";
const char LOGIN_PROGRAM_LOWER[] = "login.exe";
const char BIN_FOLDER[] = "bin";
const char OLDER_LINE_DATA_FOLDER[] = "qvldata";
const char MEMBER_STATE_DATA_FOLDER[] = "PSI";
const char MEMBER_STATE_DATA_PATTERN[] = "*.mdb";

// The versions text of a newer installation ("\t\t<own> vs. <installed>").
const int VERSIONS_TEXT_SIZE = 68;

// Finds the earlier installation. folder: in, the folder given on the command
// line (or empty); out, the folder found, without trailing backslashes.
// With a member state and this setup's version label it also compares the
// installed version, cleans the member state's staging folder and marks the
// installed languages in RunState. True when an installation was found.
bool DetectPreviousInstallation(const char* memberState, const char* ownVersionLabel, C_String& folder,
                                bool& sameOrNewer, bool& newer, char* versionsText);

// The installed package's product code among the uninstall entries, and its
// displayed version (empty when it has none). tag names the caller in the log.
bool FindProductCode(C_String& version, C_String& productCode, const char* tag);

// False, after telling the user, when this is a client installation whose
// server has not been upgraded yet.
bool CheckClientServerOrder();

// A folder that holds nothing of importance (absent, empty, or only a bin
// folder and zaph.exe).
bool IsEffectivelyEmpty(const char* folder);
// A folder that holds something other than the product.
bool IsForeignDirectory(const char* folder);
// False when moving oldFolder into newFolder would overwrite a member state's
// data in newFolder.
bool MayMoveDirectory(const char* oldFolder, const char* newFolder);
