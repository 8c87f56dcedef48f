// The language selection of the run: a check box in the progress window for
// each language of the settings file, and the wait for Proceed.
#pragma once

#include <windows.h>

// The whole language selection of the run's window and settings: true when
// the result is 0 (Proceed), the choices recorded in RunState.
bool RunLanguageSelection(DWORD& result, bool preselect);
