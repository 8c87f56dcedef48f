// Entry of fernwick.exe: the main sequence inside the guard that turns an
// abnormal end into a log line, a message box and exit code -1.
#include <windows.h>

#include "EntryGuard.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    return RunGuarded(instance, commandLine);
}
