// The command line: switches that pick the run mode, the target folder, the
// language, the settings file and the logging; the usage and version boxes.
#pragma once

#include <windows.h>

#include <vector>

#include "C_String.h"
#include "ResultCodes.h"

// Results of ParseCommandLine (Windows error codes with their usual meaning).
const int CMDLINE_OK = 0;
const int CMDLINE_NO_VALUE = RC_NOT_ENOUGH_MEMORY;  // an option left its text empty
const int CMDLINE_BOX_SHOWN = RC_BAD_COMMAND;       // usage or version box shown
const int CMDLINE_BAD_ARGUMENT = RC_BAD_ARGUMENTS;  // rejected value of /i, /l or /t

// Reads the process's argument vector (__argc/__argv, quotes already removed)
// and fills RunState, the language code, the settings-file name and the log
// settings. The raw command line is only used for the closing log line.
int ParseCommandLine(const char* commandLine, C_String& languageCode, C_String& iniFile);

// The same on a given argument vector; argv[0] is the program name.
int ParseCommandLineArgs(int argc, const char* const* argv, const char* commandLine,
                         C_String& languageCode, C_String& iniFile);

// The usage box; a non-empty error text is appended to it and logged as an error.
void ShowUsage(const char* errorText);
void ShowVersionInfo();

// Copies the "Comments", "CompanyName", "LegalCopyright" and "ProductVersion"
// strings of the program's own version resource (block 080904b0); a value the
// resource lacks leaves its text unchanged. False when the resource cannot be read.
// The program's own version resource, whole (empty and false when it has none).
bool ReadOwnVersionResource(std::vector<char>& data);
bool GetProgramVersionStrings(C_String& comments, C_String& companyName,
                              C_String& legalCopyright, C_String& productVersion);
