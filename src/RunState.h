// The program-wide state of one run: filled first by the command line, then by
// the main sequence and its phases; read by most of the program.
#pragma once

#include <windows.h>

#include "C_String.h"
#include "CodeTables.h"

struct RunStateRecord
{
    bool repairMode;
    bool autoUpgrade;
    bool addFeatures;
    bool checkOnly;
    bool multiMode;
    C_String targetDir;
    bool targetGiven;
    bool isAdmin;
    bool dotNetEdition;
    C_String mainExeName;
    C_String memberState;
    C_String defaultTargetDir;
    bool rebootNeeded;
    bool oldPackageRemoved;
    int phase;
    bool languageSelected[LANGUAGE_SLOTS];
    int languageCount;
    char msiLogPath[MAX_PATH];

    // Whether the system is NT and the wide interfaces are in use is kept in
    // one place only: isWinNT and useWideApi of the wide layer (WideAPI.h).

    // Clears every field.
    void Reset();
};

extern RunStateRecord RunState;
