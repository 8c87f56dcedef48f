// System queries: the Windows version with a readable name, the administrator
// test, the Program Files folder, and the two waits that keep the calling
// thread's windows alive while another program runs.
#pragma once

#include <windows.h>

const int VERSION_DESCRIPTION_SIZE = 128;   // bytes of GetWindowsVersion's description

// Where the service-pack number of the running system is recorded.
extern const char* const CSD_VERSION_KEY;          // under HKEY_LOCAL_MACHINE
extern const char* const CSD_VERSION_VALUE;        // "CSDVersion": the pack number in its second byte
extern const char* const CURRENT_VERSION_KEY;      // under HKEY_LOCAL_MACHINE
extern const char* const PROGRAM_FILES_VALUE;      // "ProgramFilesDir"
extern const char* const DEFAULT_PROGRAM_FILES;    // "C:\Program Files"

// Reads the running system's version. Every out may be null. The description
// (VERSION_DESCRIPTION_SIZE bytes) reads like
// "WinNT V5.1.2600 [Service Pack 3] = Windows XP". The service-pack number is 0
// when the system does not record one. Returns true for the 9x family (any
// platform other than NT).
bool GetWindowsVersion(DWORD* major, DWORD* minor, DWORD* servicePack, char* description);

// Builds the description of GetWindowsVersion from the given figures; out
// holds VERSION_DESCRIPTION_SIZE bytes. Separate so that every system name can
// be checked without running on that system.
void FormatWindowsVersion(DWORD platform, DWORD major, DWORD minor, DWORD build,
                          const char* servicePackText, char* out);

// True on the 9x family (no security there); on NT, whether the process runs
// as a member of the built-in Administrators group.
bool IsAdministrator();

// The Program Files folder recorded by the system under valueName (the program
// passes PROGRAM_FILES_VALUE), else DEFAULT_PROGRAM_FILES. out holds MAX_PATH
// bytes; returns out.
char* GetProgramFilesDir(const char* valueName, char* out);

// The command line of an outside program: its path in quotes, then the
// arguments after one blank (none: the path alone). False when it does not
// fit into size bytes.
bool MakeCommandLine(const char* program, const char* arguments, char* out, size_t size);

// Runs the program with the command line (see MakeCommandLine) detached from
// any console and waits for it to end. The program's path is given to the
// system as such: a command line's first word is never searched for a program
// (a folder "D:\ZAPH Setup" would start "D:\ZAPH.exe"). With a second handle
// (for example the busy indicator's thread) the calling thread's messages are
// dispatched during the wait; a signalled second handle does not end the wait.
// Returns the program's exit code, or the system error when it could not be
// started.
DWORD RunAndWait(const char* program, const char* commandLine, HANDLE other);

// Waits for a handle while dispatching the calling thread's messages. Returns 0
// when the handle is signalled, otherwise the system's last error.
DWORD WaitWithMessages(HANDLE handle);
