// Entry of fernwick.exe: the main sequence inside the guard that turns an
// abnormal end into a log line, a message box and exit code -1.
#include <windows.h>

#include "EntryGuard.h"
#include "SystemLibrary.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    // Before anything can load a library: none from the folders an
    // administrator's download may share with planted files.
    RestrictLibrarySearch();
    LoadLibrariesAskedForByName();
    return RunGuarded(instance, commandLine);
}
