// Entry of fernwick.exe: the main sequence inside a guard that turns any
// escaping exception into a log line, a message box and exit code -1.
#include <windows.h>

#include "Fernwick.h"
#include "Log.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    try
    {
        return MainSequence(instance, commandLine);
    }
    catch (...)
    {
        LogMessage(0, LOG_ERROR, "EXCEPTION - ABORT\n");
        MessageBoxA(NULL, "Fernwick has encountered an unexpected error and will stop.", "Setup",
                    MB_OK | MB_ICONSTOP);
        return -1;
    }
}
