// Assertions: internal preconditions of the program, never checks of input.
// A violated assertion is reported with its condition text, source file and
// line, logged, and ends the run.
#pragma once

// Receives a violated assertion. The default handler logs it, shows it in a
// message box and ends the process; tests install their own to observe it.
typedef void (*AssertionHandler)(const char* condition, const char* file, int line);

void ReportAssertion(const char* condition, const char* file, int line);

// Returns the previous handler; null restores the default one.
AssertionHandler SetAssertionHandler(AssertionHandler handler);

#define FW_ASSERT(cond) \
    do { if (!(cond)) ReportAssertion(#cond, __FILE__, __LINE__); } while (0)
