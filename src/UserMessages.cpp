#include "UserMessages.h"

#include <stdarg.h>

#include "AppObjects.h"
#include "CMainUI.h"
#include "CResource.h"
#include "Log.h"
#include "RunState.h"

const wchar_t* const NOTHING_WITHOUT_LABEL = L"";

static const char* const ALONE_CAPTION = "Setup";

// An unattended run's box: the text that would have been shown, whole, in
// one line that support and scripts can find; a question's answer with it.
static bool LogNotShown(MessageKind kind, const wchar_t* text)
{
    bool missing = text == NULL || text[0] == 0;
    if (missing)
        text = kind == MESSAGE_QUESTION ? MISSING_CONFIRM_TEXT : MISSING_MESSAGE_TEXT;
    int logKind = kind == MESSAGE_ERROR ? LOG_ERROR : LOG_INFO;
    if (kind != MESSAGE_QUESTION)
    {
        LogMessage(2, logKind, "Box not shown (%hs): %ws\n", RunState.UnattendedName(), text);
        return false;
    }
    bool yes = !missing;
    LogMessage(2, logKind, "Box not shown (%hs): %ws => '%hs'\n", RunState.UnattendedName(), text,
               yes ? "yes" : "no");
    return yes;
}

// The box of kind with text; a null or empty text shows the window's box
// for a missing text. True only for a question answered yes.
static bool Show(MessageKind kind, const wchar_t* text)
{
    CMainUI* ui = g_mainUI;
    if (ui == NULL)
        return false;
    if (RunState.Unattended())
        return LogNotShown(kind, text);
    switch (kind)
    {
    case MESSAGE_ERROR:
        ui->ShowMessage(true, text);
        return false;
    case MESSAGE_WARNING:
        ui->ShowMessage(false, text);
        return false;
    case MESSAGE_INFORMATION:
        ui->ShowInfo(text);
        return false;
    case MESSAGE_QUESTION:
        return ui->Confirm(text);
    }
    return false;
}

// text is what the label gave (null: missing).
static bool ShowLabel(MessageKind kind, const wchar_t* text, const wchar_t* fallback)
{
    if (fallback == NOTHING_WITHOUT_LABEL)
        return text != NULL && Show(kind, text);
    return Show(kind, (text == NULL || text[0] == 0) ? fallback : text);
}

// Without the window a label is not even looked up: nobody would read it.
void Tell(MessageKind kind, const wchar_t* key, const wchar_t* fallback)
{
    if (g_mainUI == NULL)
        return;
    ShowLabel(kind, g_resource != NULL ? g_resource->GetLabel(key) : NULL, fallback);
}

void TellFormatted(MessageKind kind, const wchar_t* key, const wchar_t* fallback, ...)
{
    if (g_mainUI == NULL)
        return;
    const wchar_t* text = NULL;
    if (g_resource != NULL)
    {
        va_list args;
        va_start(args, fallback);
        text = g_resource->FormatLabelV(key, args);
        va_end(args);
    }
    ShowLabel(kind, text, fallback);
}

void TellText(MessageKind kind, const wchar_t* text)
{
    Show(kind, text);
}

bool Ask(const wchar_t* key, const wchar_t* fallback)
{
    if (g_mainUI == NULL)
        return false;
    return ShowLabel(MESSAGE_QUESTION, g_resource != NULL ? g_resource->GetLabel(key) : NULL, fallback);
}

bool AskText(const wchar_t* text)
{
    return Show(MESSAGE_QUESTION, text);
}

void TellAlone(const char* text)
{
    if (RunState.Unattended())
    {
        LogMessage(2, LOG_INFO, "Box not shown (%hs): %hs\n", RunState.UnattendedName(), text ? text : "");
        return;
    }
    MessageBoxA(NULL, text, ALONE_CAPTION, MB_OK | MB_ICONEXCLAMATION);
}
