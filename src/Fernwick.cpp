#include "Fernwick.h"

#include "AppObjects.h"
#include "CMainUI.h"
#include "Log.h"
#include "RunState.h"

static const char* const START_BANNER = "**** Fernwick START ****.\n";
static const char* const END_BANNER = "**** Fernwick END ****.\n";

int MainSequence(HINSTANCE instance, const char* commandLine)
{
    g_hInstance = instance;
    RunState.Reset();

    char logName[LOG_PATH_SIZE];
    MakeLogName(logName, NULL);
    SetLogFile(logName);
    SetLogVerbosity(DEFAULT_LOG_VERBOSITY);
    LogBanner(START_BANNER);

    CMainUI* ui = new CMainUI(instance);
    g_mainUI = ui;

    long rc = 0;
    (void)commandLine;

    LogMessage(2, LOG_INFO, "**> Main return code '%ld'.\n", rc);
    LogBanner(END_BANNER);
    g_mainUI = NULL;
    delete ui;
    return (int)rc;
}
