// The two dialogs besides the progress window's own texts and boxes: the
// language selection (check boxes inside the progress window) and the small
// log window (dialog 1074) whose logo moves while an outside installer runs.
#pragma once

#include <windows.h>

class CMainUI;

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
// Without a log window and with an instance: creates it (hidden), titled, with
// the text. With a log window: sets title and text when both are given, else
// shows it.
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

// The whole language selection of the run's window and settings: true when
// the result is 0 (Proceed), the choices recorded in RunState.
bool RunLanguageSelection(DWORD& result, bool preselect);
// The progress window's handling of a click on language choice controlId.
void OnLanguageChoiceClicked(CMainUI* ui, int controlId);
