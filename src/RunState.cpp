#include "RunState.h"

#include <string.h>


RunStateRecord RunState;

void RunStateRecord::Reset()
{
    repairMode = autoUpgrade = addFeatures = checkOnly = multiMode = false;
    targetDir.Clear();
    targetGiven = false;
    isAdmin = false;
    dotNetEdition = false;
    mainExeName.Clear();
    memberState.Clear();
    defaultTargetDir.Clear();
    rebootNeeded = oldPackageRemoved = false;
    phase = 0;
    memset(languageSelected, 0, sizeof(languageSelected));
    languageCount = 0;
    msiLogPath[0] = 0;
    quiet = passive = false;
    memset(commandLanguages, 0, sizeof(commandLanguages));
    commandLanguageCount = 0;
    clientRequested = false;
    for (int i = 0; i < MAX_COMMAND_PROPERTIES; ++i)
    {
        propertyNames[i].Clear();
        propertyValues[i].Clear();
    }
    propertyCount = 0;
}
