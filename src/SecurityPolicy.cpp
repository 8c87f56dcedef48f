#include "SecurityPolicy.h"

#include <stdio.h>
#include <string.h>

#include "AppObjects.h"
#include "FileUtil.h"
#include "Log.h"
#include "Prerequisites.h"
#include "PreviousInstallation.h"
#include "ResultCodes.h"
#include "RunState.h"
#include "SystemInfo.h"
#include "UserMessages.h"

const char* const POLICY_GROUP_NAME = "ZAPH";
const char* const POLICY_GROUP_DESCRIPTION = "ZAPH.NET by Ombrant";
const char* const REPAIR_PROGRAM_FORMAT = "%s\\Zaph.exe";

static const int POLICY_COMMAND_SIZE = 1040;
// The tool's path in quotes: the Framework may lie below a folder with a blank.
static const char* const REMOVE_GROUP_FORMAT = "\"%s\" -q -machine -remgroup %s";
static const char* const ADD_GROUP_FORMAT =
    "\"%s\" -q -machine -ag 1 -strong -file \"%s\" %s -noversion FullTrust -description \"%s\" -name %s";
static const char* const REPAIR_NO_FOLDER = "Did not find ZAPH installation path. Could not repair.";
static const wchar_t* const REPAIR_NO_FOLDER_TEXT =
    L"Did not find ZAPH installation path. Could not repair.";

// Runs one tool command and logs its outcome; the exit code, or -1 when the
// command did not fit.
static long RunPolicyCommand(const char* command)
{
    long code = (long)RunAndWait(caspolPath, command, NULL);
    LogMessage(2, code != 0 ? LOG_WARNING : LOG_INFO, "CASPOL: command '%hs' returned %ld.\n",
               command, code);
    return code;
}

bool RegisterSecurityPolicy(const char* programFile, const char* groupName,
                            const char* description)
{
    LogMessage(2, LOG_INFO, "CASPOL on '%hs'.\n", programFile ? programFile : "");
    if (programFile == NULL || !FileExists(programFile))
    {
        LogMessage(2, LOG_WARNING, "CASPOL: file gone missing '%hs'.\n",
                   programFile ? programFile : "");
        return false;
    }
    if (caspolPath[0] == 0)
    {
        LogMessage(2, LOG_WARNING, "CASPOL: command not found.\n");
        return false;
    }

    char command[POLICY_COMMAND_SIZE];
    int n = _snprintf(command, sizeof(command), REMOVE_GROUP_FORMAT, caspolPath, groupName);
    if (n < 0 || n >= (int)sizeof(command))
    {
        LogMessage(2, LOG_WARNING, "CASPOL: command for '%hs' too long.\n", programFile);
        return false;
    }
    // The group may not exist yet: a failed removal does not stop the addition.
    RunPolicyCommand(command);

    n = _snprintf(command, sizeof(command), ADD_GROUP_FORMAT, caspolPath, programFile, "-noname",
                  description, groupName);
    if (n < 0 || n >= (int)sizeof(command))
    {
        LogMessage(2, LOG_WARNING, "CASPOL: command for '%hs' too long.\n", programFile);
        return false;
    }
    return RunPolicyCommand(command) == 0;
}

long RepairSecurityPolicy()
{
    IsDotNetInstalled(DOTNET_V20, false);
    IsDotNetInstalled(DOTNET_V11, false);

    C_String folder;
    bool found;
    if (RunState.targetGiven && !RunState.targetDir.IsEmpty())
    {
        folder = RunState.targetDir;
        found = true;
    }
    else
    {
        // Without member state and version the detection only finds the folder.
        bool sameOrNewer = false, newer = false;
        found = DetectPreviousInstallation(NULL, NULL, folder, sameOrNewer, newer, NULL) &&
                !folder.IsEmpty();
    }
    if (!found)
    {
        TellText(MESSAGE_WARNING, REPAIR_NO_FOLDER_TEXT);
        LogMessage(2, LOG_WARNING, "%hs\n", REPAIR_NO_FOLDER);
        return RC_UNKNOWN_PRODUCT;
    }

    char program[MAX_PATH];
    int n = _snprintf(program, sizeof(program), REPAIR_PROGRAM_FORMAT, folder.GetNarrow());
    if (n < 0 || n >= (int)sizeof(program))
        program[0] = 0;
    LogMessage(2, LOG_INFO, "Attempting CASPOL repair for '%hs'.\n", program);
    bool repaired = RegisterSecurityPolicy(program, POLICY_GROUP_NAME, POLICY_GROUP_DESCRIPTION);
    if (repaired)
        TellText(MESSAGE_WARNING, L"Repair successfull.");
    else
        TellText(MESSAGE_ERROR, L"One or more repair attempts have failed.");
    return repaired ? 0 : RC_INSTALL_FAILURE;
}
