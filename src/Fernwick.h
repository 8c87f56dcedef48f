// The main sequence: start-up, the phases of a setup or upgrade, shut-down.
#pragma once

#include <windows.h>

#include "Phases.h"

// Name of the mutex that keeps a second run from starting while one is active.
extern const char* const SINGLE_INSTANCE_MUTEX;

// Names of the log copies below the target folder (with the day stamp).
extern const char* const LOG_COPY_NAME;      // "Log\Fernwick_%s.log"
extern const char* const MSI_LOG_COPY_NAME;  // "Log\MSI_%s.log"

int MainSequence(HINSTANCE instance, const char* commandLine);

// True when another instance holds the single-instance mutex. The mutex is
// created once and held until the process ends.
bool IsAlreadyRunning();

// The program's own file version as "V%d.%d.%d.%d" (the build-number rule of
// GetFileVersionNumbers applies); false when the version resource cannot be
// read (the text then shows the words that reading left).
bool GetOwnVersionText(char* out, size_t size);

// Runs the rows in order: a row runs while rc is 0 (or holds a restart code
// and the row takes one) and its condition holds. A row whose phase is not in
// this build ends the phases with RC_NOT_SUPPORTED and a log line naming it.
// Returns locals.rc.
long RunPhases(const PhaseRow* rows, size_t count, SequenceLocals& locals);

// The phase table of a setup or upgrade, in order; count in *count.
const PhaseRow* GetPhaseTable(size_t* count);
