// The program-wide state of one run: filled first by the command line, then by
// the main sequence and its phases; read by most of the program.
#pragma once

#include <windows.h>

#include "C_String.h"
#include "CodeTables.h"

// Package properties an administrator may add on the command line (/p).
const int MAX_COMMAND_PROPERTIES = 10;

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

    // Unattended runs, for software-distribution systems: quiet shows no
    // window at all, passive only the moving progress window; neither waits
    // for anyone (UserMessages logs the boxes instead of showing them).
    bool quiet;
    bool passive;
    // The languages named on the command line (/s), by language index.
    bool commandLanguages[LANGUAGE_SLOTS];
    int commandLanguageCount;
    // A new client installation asked for on the command line.
    bool clientRequested;
    // Public properties for the product package from the command line, in
    // their order, each name once; passed after the program's own.
    C_String propertyNames[MAX_COMMAND_PROPERTIES];
    C_String propertyValues[MAX_COMMAND_PROPERTIES];
    int propertyCount;

    bool Unattended() const { return quiet || passive; }
    // "quiet" or "passive" (quiet wins when both are given), for the log.
    const char* UnattendedName() const { return quiet ? "quiet" : "passive"; }

    // Whether the system is NT and the wide interfaces are in use is kept in
    // one place only: isWinNT and useWideApi of the wide layer (WideAPI.h).

    // Clears every field.
    void Reset();
};

extern RunStateRecord RunState;
