// The main sequence: start-up, the phases of a setup or upgrade, shut-down.
#pragma once

#include <windows.h>

int MainSequence(HINSTANCE instance, const char* commandLine);
