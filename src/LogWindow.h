// The small log window (dialog 1074) beside the progress window: the run's
// log lines in a console, and a logo that moves while an outside installer
// runs, so that the user sees the run is alive.
#pragma once

#include <windows.h>

// Timer of the logo animation on the log window.
const UINT_PTR LOG_WINDOW_TIMER_ID = 1234;
const UINT LOG_WINDOW_TIMER_MS = 750;
// Where the logo sits at creation and how far it moves per tick.
const int LOG_LOGO_START_X = 4;
const int LOG_LOGO_Y = 4;
const int LOG_LOGO_STEP = 2;

// The busy thread while the animation runs (null before the first start).
extern HANDLE busyThread;

HWND GetLogWindow();
// Without a log window and with an instance: prepares it, titled, with the
// text; it is made when first shown (never in a quiet run). With a log window
// or one prepared: sets title and text when both are given, else shows it.
void ShowLogWindow(HINSTANCE instance, HWND parent, const wchar_t* title, const wchar_t* text);
void SetLogWindowStatus(const wchar_t* text);
void SetLogWindowStatus(const char* text);
void StartLogWindowAnimation();
// Stops the animation, ends the busy thread and hides the window.
void StopLogWindowAnimation();
// The log feed: appends a log line to the log window's console, if it has one.
// A final LF of text is changed into CR in the caller's buffer.
void AppendLogWindowText(char* text);
// The logo's position and direction (for the window's own tests).
int LogLogoX();
bool LogLogoMovesRight();
