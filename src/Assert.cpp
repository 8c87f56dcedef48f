#include "Assert.h"

#include <windows.h>
#include <stdio.h>

#include "Log.h"
#include "RunState.h"

static void DefaultAssertionHandler(const char* condition, const char* file, int line)
{
    char text[1024];
    _snprintf(text, sizeof(text) - 1, "Assertion failed!\n\nExpression: %s\nFile: %s\nLine: %d",
              condition, file, line);
    text[sizeof(text) - 1] = 0;
    // The failure is logged already; an unattended run ends without the box.
    if (!RunState.Unattended())
        MessageBoxA(NULL, text, "Setup", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
    ExitProcess(3);
}

static AssertionHandler s_handler = DefaultAssertionHandler;

void ReportAssertion(const char* condition, const char* file, int line)
{
    LogMessage(0, LOG_ERROR, "ASSERTION '%hs' failed in '%hs' line %d\n", condition, file, line);
    s_handler(condition, file, line);
}

AssertionHandler SetAssertionHandler(AssertionHandler handler)
{
    AssertionHandler previous = s_handler;
    s_handler = handler ? handler : DefaultAssertionHandler;
    return previous;
}
