#include "EntryGuard.h"

#include "Fernwick.h"
#include "Log.h"
#include "RunState.h"

static const char* const ABORT_TEXT = "Fernwick has encountered an unexpected error and will stop.";
static const char* const ABORT_CAPTION = "Setup";

static volatile LONG s_faulted = 0;
static DWORD s_faultCode = 0;
static void* s_faultAddress = NULL;

static void ShowAbort()
{
    // An unattended run must end, not wait for someone to close a box.
    if (RunState.Unattended())
        LogMessage(0, LOG_ERROR, "Box not shown (%hs): %hs\n", RunState.UnattendedName(), ABORT_TEXT);
    else
        MessageBoxA(NULL, ABORT_TEXT, ABORT_CAPTION, MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
}

static DWORD WINAPI ReportFault(void*)
{
    LogMessage(0, LOG_ERROR, "EXCEPTION - ABORT\n");
    LogMessage(0, LOG_ERROR, "Fault 0x%08lX at 0x%p\n", (unsigned long)s_faultCode, s_faultAddress);
    ShowAbort();
    return 0;
}

// The last stop of a fault nobody handled. The faulting thread may have no
// stack left (an overflow) and the program's state is not to be trusted, so
// a fresh thread reports, and the process then ends without running any
// more of the program (no destructors, no exit handlers).
static LONG WINAPI FaultFilter(EXCEPTION_POINTERS* info)
{
    if (InterlockedExchange(&s_faulted, 1) != 0)
    {
        // A second fault, on another thread or in the report itself: the
        // first one reports and ends the process.
        ExitThread((DWORD)ABORT_EXIT_CODE);
    }
    if (info != NULL && info->ExceptionRecord != NULL)
    {
        s_faultCode = info->ExceptionRecord->ExceptionCode;
        s_faultAddress = info->ExceptionRecord->ExceptionAddress;
    }
    HANDLE reporter = CreateThread(NULL, 0, ReportFault, NULL, 0, NULL);
    if (reporter != NULL)
    {
        WaitForSingleObject(reporter, INFINITE);
        CloseHandle(reporter);
    }
    TerminateProcess(GetCurrentProcess(), (UINT)ABORT_EXIT_CODE);
    return EXCEPTION_EXECUTE_HANDLER;
}

int RunGuarded(HINSTANCE instance, LPSTR commandLine)
{
    SetUnhandledExceptionFilter(FaultFilter);
    try
    {
        return MainSequence(instance, commandLine);
    }
    catch (...)
    {
        LogMessage(0, LOG_ERROR, "EXCEPTION - ABORT\n");
        ShowAbort();
        return ABORT_EXIT_CODE;
    }
}
