// The main sequence: start-up, the phases of a setup or upgrade, shut-down.
#pragma once

#include <windows.h>

// Name of the mutex that keeps a second run from starting while one is active.
extern const char* const SINGLE_INSTANCE_MUTEX;

// Return codes of the main sequence that belong to no other module.
const long RC_ALREADY_RUNNING = 1618;  // ERROR_INSTALL_ALREADY_RUNNING
const long RC_NOT_AVAILABLE = 50;      // ERROR_NOT_SUPPORTED: the phases are not in this build

int MainSequence(HINSTANCE instance, const char* commandLine);

// True when another instance holds the single-instance mutex. The mutex is
// created once and held until the process ends.
bool IsAlreadyRunning();

// The program's own file version as "V%d.%d.%d.%d"; false (out empty) when the
// version resource cannot be read.
bool GetOwnVersionText(char* out, size_t size);
