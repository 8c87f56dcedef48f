// The baseline of the start-up and memory figures: the least a Win32 program
// with a window does, one message box.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    MessageBoxA(NULL, "A minimal Win32 program.", "Minimal", MB_OK | MB_ICONINFORMATION);
    return 0;
}
