// The entry's promise: whatever ends the main sequence abnormally, an escaping
// exception or a fault of the processor on any thread (access violation,
// stack overflow), the run ends with the log line "EXCEPTION - ABORT", a box
// that says so, and exit code -1; never with the system's crash dialog.
#pragma once

#include <windows.h>

const int ABORT_EXIT_CODE = -1;

// Runs MainSequence under that guard and returns its code (or -1).
int RunGuarded(HINSTANCE instance, LPSTR commandLine);
