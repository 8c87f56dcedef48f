// The one road to the user: every failure, warning, information and question
// of a run passes here, with the label of its text, so that how the user is
// told (a box of the run's window, with its icon, and the log line) is
// decided in one place. Without the run's window nothing is shown, and a
// question is answered no. In an unattended run (quiet or passive) no box is
// shown at all: its whole text is logged as "Box not shown (quiet): ..." and
// a question takes the answer of an administrator who asked for an unattended
// installation, yes (a question without its text is answered no, as when it
// is shown).
#pragma once

#include <windows.h>

enum MessageKind
{
    MESSAGE_ERROR,         // stop icon, logged as an error
    MESSAGE_WARNING,       // warning icon, logged as information
    MESSAGE_INFORMATION,   // information icon
    MESSAGE_QUESTION       // Yes and No
};

// As fallback: a label that is missing shows nothing at all (the label is the
// settings file's way of asking for the box).
extern const wchar_t* const NOTHING_WITHOUT_LABEL;

// The text of label key in the run's language, or, when the label is missing
// or empty, the fallback (null: the box says that the text is missing).
void Tell(MessageKind kind, const wchar_t* key, const wchar_t* fallback = NULL);
// The same with the label formatted with the arguments (as the settings'
// FormatLabel); a label that does not fit its arguments counts as missing.
void TellFormatted(MessageKind kind, const wchar_t* key, const wchar_t* fallback, ...);
// A text already made: several labels joined, or a text that is no label.
void TellText(MessageKind kind, const wchar_t* text);

// A question; true when the user answers yes.
bool Ask(const wchar_t* key, const wchar_t* fallback = NULL);
bool AskText(const wchar_t* text);

// A warning box before the run's window exists (no owner, caption "Setup"),
// or its log line in an unattended run.
void TellAlone(const char* text);
