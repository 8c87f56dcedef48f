#include "PreviousInstallation.h"

#include <stdio.h>
#include <string.h>

#include "AppObjects.h"
#include "CMSI.h"
#include "CResource.h"
#include "CodeTables.h"
#include "FileUtil.h"
#include "FileVersion.h"
#include "Log.h"
#include "Registry.h"
#include "RunState.h"
#include "TextUtil.h"
#include "UserMessages.h"

static const char UNINSTALL_FOLDER_SWITCH[] = "-f";
static const char UNINSTALL_SCRIPT[] = "\\Uninst.isu";
static const wchar_t CLIENT_FIRST_TEXT[] =
    L"\nThis is a client installation.\nYou should first upgrade the server to ZAPH.NET\n"
    L"and then upgrade all individual ZAPH-clients.\n";
// Member states whose data a move could overwrite, in the order they are examined.
static const char* const MOVABLE_MEMBER_STATES[] = { "AT", "BE", "DK", "FR", "LU", "PT", "SE" };
// More language folders than there are languages are not looked at.
static const int MAX_FOUND_LANGUAGES = 24;
// A folder scoring this much by its product names is the product's own.
static const long PRODUCT_FOLDER_SCORE = 4;

// "<a>\<b>" into out (FW_PATH_SIZE bytes); false, and out empty, when too long.
static bool JoinPath(char* out, const char* a, const char* b)
{
    int length = _snprintf(out, FW_PATH_SIZE, "%s\\%s", a, b);
    if (length < 0 || length >= FW_PATH_SIZE)
    {
        out[0] = 0;
        LogMessage(2, LOG_WARNING, "Path too long: '%hs\\%hs'.\n", a, b);
        return false;
    }
    return true;
}

static bool NameIs(const char* name, const char* wanted)
{
    return lstrcmpiA(name, wanted) == 0;
}

static bool IsDots(const char* name)
{
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

static bool IsFolderEntry(const WIN32_FIND_DATAA& entry)
{
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The folder named by the older line's uninstall string: the text after the
// first "-f" (one quote skipped) up to "\Uninst.isu"; both searches are
// case-sensitive because the older installer writes them so.
static bool FolderFromUninstallString(const char* text, C_String& folder)
{
    const char* start = strstr(text, UNINSTALL_FOLDER_SWITCH);
    const char* end = strstr(text, UNINSTALL_SCRIPT);
    if (start == NULL || end == NULL)
        return false;
    start += strlen(UNINSTALL_FOLDER_SWITCH);
    if (*start == '"')
        start++;
    if (end < start)
        return false;
    char buffer[FW_PATH_SIZE];
    size_t length = (size_t)(end - start);
    if (length >= sizeof(buffer))
        return false;
    memcpy(buffer, start, length);
    buffer[length] = 0;
    folder = buffer;
    return true;
}

static void FolderFromRegistry(C_String& folder)
{
    C_String value;
    if (ReadRegistryString(ProductRegistryRoot, ProductRegistryKey, PRODUCT_VALUE_INSTALL_PATH, value) &&
        !value.IsEmpty())
    {
        folder = value;
        LogMessage(3, LOG_INFO, "ZAPH '%hs' retrieved from '%hs'.\n", folder.GetNarrow(), ProductRegistryKey);
    }
    else if (ReadRegistryString(HKEY_LOCAL_MACHINE, OLDER_LINE_UNINSTALL_KEY, OLDER_LINE_UNINSTALL_VALUE, value) &&
             FolderFromUninstallString(value.GetNarrow(), folder))
    {
        LogMessage(3, LOG_INFO, "ZAPH '%hs' derived from '%hs'.\n", folder.GetNarrow(), OLDER_LINE_UNINSTALL_KEY);
    }
    LogMessage(2, LOG_INFO, "Registry info about ZAPH is '%hs'\n", folder.GetNarrow());
}

// Steps on <folder>\<ms>_New: the completion marker always goes (a new run
// is not complete yet); the folder itself goes unless it holds a settings file
// or the settings ask to keep it.
static void CleanStagingFolder(const char* folder, const char* memberState)
{
    bool skip = false;
    if (g_resource != NULL)
    {
        const char* clean = g_resource->GetSetting(SETTING_CLEAN_MS_NEW);
        skip = clean != NULL && lstrcmpiA(clean, SETTING_SKIP_VALUE) == 0;
    }

    char staging[FW_PATH_SIZE];
    char name[FW_PATH_SIZE];
    _snprintf(name, sizeof(name), "%s%s", memberState, STAGING_SUFFIX);
    char path[FW_PATH_SIZE];
    if (!JoinPath(staging, folder, name))
        return;
    if (JoinPath(path, staging, COMPLETION_MARKER) && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
    {
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path);
    }

    if (skip)
    {
        LogMessage(2, LOG_INFO, "SKIP Clean MS_New.\n");
        return;
    }
    if (IsFolder(staging) && JoinPath(path, staging, INSTALLED_SETTINGS) && !FileExists(path))
    {
        if (DeleteFolderTree(staging))
            LogMessage(2, LOG_INFO, "Existing MS_New directory deleted '%hs'.\n", staging);
        else
            LogMessage(2, LOG_WARNING, "Could not delete existing MS_New directory '%hs'.\n", staging);
    }
}

// Compares the installed settings file's version with ours (steps 11 to 14).
static void CompareInstalledVersion(const char* settingsPath, const char* ownLabel, bool& sameOrNewer,
                                    bool& newer, char* versionsText)
{
    if (!FileExists(settingsPath))
    {
        LogMessage(3, LOG_INFO, "INIFILE file '%hs' not found!\n", settingsPath);
        return;
    }
    CResource installed;
    if (!installed.Load(settingsPath))
    {
        LogMessage(2, LOG_WARNING, "INIFILE file '%hs' not OK found!\n", settingsPath);
        return;
    }
    const char* dotNet = installed.GetSetting(SETTING_DOTNET, false);
    bool installedDotNet = dotNet != NULL && lstrcmpiA(dotNet, "yes") == 0;
    char label[VERSION_LABEL_SIZE] = "";
    const char* iniVersion = installed.GetSetting(SETTING_INI_VERSION, false);
    // A version too long for the label counts as an incorrect one.
    MakeVersionLabel(iniVersion, label, sizeof(label), installedDotNet);
    if (label[0] == 0)
    {
        LogMessage(2, LOG_WARNING, "INIFILE '%hs' setting 'VERSION' missing/incorrect!\n", settingsPath);
        return;
    }
    LogMessage(3, LOG_INFO, "INIFILE '%hs' setting 'VERSION' = '%hs'\n", settingsPath, label);

    switch (CompareVersions(ownLabel, label))
    {
    case VERSION_B_LOWER:
        sameOrNewer = false;
        LogMessage(2, LOG_INFO, "INIFILE '%hs' setting 'VERSION=%hs' LOWER than '%hs'\n", settingsPath, label,
                   ownLabel);
        break;
    case VERSION_EQUAL:
        sameOrNewer = true;
        LogMessage(2, LOG_INFO, "INIFILE '%hs' setting 'VERSION=%hs' SAME as '%hs'\n", settingsPath, label,
                   ownLabel);
        break;
    case VERSION_B_HIGHER:
        sameOrNewer = true;
        newer = true;
        LogMessage(2, LOG_INFO, "INIFILE '%hs' setting 'VERSION=%hs' HIGHER than '%hs'\n", settingsPath, label,
                   ownLabel);
        if (versionsText != NULL)
        {
            _snprintf(versionsText, VERSIONS_TEXT_SIZE, "\t\t%s vs. %s", ownLabel, label);
            versionsText[VERSIONS_TEXT_SIZE - 1] = 0;
            // The user reads the .NET edition's versions without its "V1" prefix.
            for (int i = 0; i < 2 && installedDotNet; i++)
            {
                char* place = strstr(versionsText, "V1");
                if (place != NULL)
                    memmove(place, place + 2, strlen(place + 2) + 1);
            }
        }
        break;
    default:
        break;
    }
}

// Marks the languages installed under <folder>\<ms> that this setup offers.
static int MarkInstalledLanguages(const char* memberFolder)
{
    char pattern[FW_PATH_SIZE];
    if (!JoinPath(pattern, memberFolder, "*"))
        return 0;
    int count = 0;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do
    {
        if (!IsFolderEntry(entry) || strlen(entry.cFileName) != 2 || !IsLanguageCode(entry.cFileName))
            continue;
        if (g_resource != NULL && g_resource->HasLabels(entry.cFileName))
        {
            RunState.languageSelected[LanguageIndex(entry.cFileName)] = true;
            count++;
            LogMessage(3, LOG_INFO, "Found language '%hs' in '%hs'\n", entry.cFileName, pattern);
        }
        else
            LogMessage(3, LOG_INFO, "IGNORED found language '%hs' in '%hs' (not available)\n", entry.cFileName,
                       pattern);
    } while (count < MAX_FOUND_LANGUAGES && FindNextFileA(find, &entry));
    FindClose(find);
    return count;
}

bool DetectPreviousInstallation(const char* memberState, const char* ownVersionLabel, C_String& folder,
                                bool& sameOrNewer, bool& newer, char* versionsText)
{
    sameOrNewer = false;
    newer = false;
    RunState.languageCount = 0;

    if (folder.IsEmpty())
        FolderFromRegistry(folder);
    else
        LogMessage(2, LOG_INFO, "Command line info about ZAPH is '%hs'\n", folder.GetNarrow());

    folder.TrimRight('\\');
    if (folder.IsEmpty())
    {
        LogMessage(2, LOG_INFO, "No information about previous ZAPH installation.\n");
        return false;
    }
    if (memberState == NULL || memberState[0] == 0 || ownVersionLabel == NULL || ownVersionLabel[0] == 0)
        return true;

    char dir[FW_PATH_SIZE];
    if (folder.Length() >= sizeof(dir))
    {
        LogMessage(2, LOG_WARNING, "Folder of the earlier installation is too long: '%hs'.\n", folder.GetNarrow());
        return false;
    }
    lstrcpynA(dir, folder.GetNarrow(), sizeof(dir));
    LogMessage(2, LOG_INFO, "Found ZAPH in '%hs'\n", dir);
    char path[FW_PATH_SIZE];
    if (!JoinPath(path, dir, RunState.mainExeName.GetNarrow()) || !FileExists(path))
        LogMessage(2, LOG_WARNING, " ... but did not find %hs.\n", RunState.mainExeName.GetNarrow());

    if (!IsMemberStateCode(memberState) || strlen(memberState) != 2)
    {
        LogMessage(2, LOG_WARNING, "'%hs' is not a valid member state.\n", memberState);
        return false;
    }

    CleanStagingFolder(dir, memberState);

    char memberFolder[FW_PATH_SIZE];
    if (!JoinPath(memberFolder, dir, memberState) || !IsFolder(memberFolder))
    {
        LogMessage(2, LOG_WARNING, "MS directory not found '%hs'.\n", memberFolder);
        return true;
    }
    if (JoinPath(path, memberFolder, INSTALLED_SETTINGS))
        CompareInstalledVersion(path, ownVersionLabel, sameOrNewer, newer, versionsText);

    RunState.languageCount = MarkInstalledLanguages(memberFolder);
    return true;
}

bool FindProductCode(C_String& version, C_String& productCode, const char* tag)
{
    LogMessage(2, LOG_INFO, "=== %hs: Find product code matching '%hs'\n", tag, PRODUCT_CODE_TAIL);
    version = "";
    productCode = "";
    if (!FindRegistrySubkey(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, PRODUCT_CODE_TAIL, productCode))
    {
        LogMessage(2, LOG_INFO, "=== %hs: No matching product code found\n", tag);
        return false;
    }
    char key[FW_PATH_SIZE];
    if (JoinPath(key, UNINSTALL_KEY, productCode.GetNarrow()) &&
        !ReadRegistryString(HKEY_LOCAL_MACHINE, key, DISPLAY_VERSION_VALUE, version))
        version = "";
    LogMessage(2, LOG_INFO, "=== %hs: Product code found '%hs' with version V%hs\n", tag, productCode.GetNarrow(),
               version.GetNarrow());
    return true;
}

bool CheckClientServerOrder()
{
    C_String setupType;
    if (!ReadRegistryString(ProductRegistryRoot, ProductRegistryKey, PRODUCT_VALUE_SETUP_TYPE, setupType) ||
        lstrcmpiA(setupType.GetNarrow(), "Server") == 0)
        return true;

    C_String folder = RunState.targetDir;
    if (folder.IsEmpty() &&
        !ReadRegistryString(ProductRegistryRoot, ProductRegistryKey, PRODUCT_VALUE_INSTALL_PATH, folder))
        folder = "";
    folder.TrimRight('\\');
    if (folder.IsEmpty())
        return true;

    char memberFolder[FW_PATH_SIZE];
    char manifest[FW_PATH_SIZE];
    char program[FW_PATH_SIZE];
    if (JoinPath(memberFolder, folder.GetNarrow(), RunState.memberState.GetNarrow()) &&
        JoinPath(manifest, memberFolder, MEMBER_STATE_MANIFEST) &&
        JoinPath(program, folder.GetNarrow(), MAIN_PROGRAM_LOWER) && FileExists(manifest) && FileExists(program))
        return true;

    LogMessage(2, LOG_WARNING, "Client installation in '%hs' before its server was upgraded.\n",
               folder.GetNarrow());
    // Without its own label the box is the general failure box, naming the order.
    if (g_mainUI != NULL && g_resource != NULL)
    {
        const wchar_t* text = g_resource->GetLabel(LABEL_UPGRADE_SERVER_FIRST);
        if (text == NULL || text[0] == 0)
            TellFormatted(MESSAGE_WARNING, LABEL_ERROR_OCCURRED, NULL, CLIENT_FIRST_TEXT);
        else
            TellText(MESSAGE_WARNING, text);
    }
    return false;
}

bool IsEffectivelyEmpty(const char* folder)
{
    char pattern[FW_PATH_SIZE];
    if (!IsFolder(folder) || !JoinPath(pattern, folder, "*"))
        return true;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return true;
    bool offends = false;
    do
    {
        if (IsFolderEntry(entry))
            offends = !IsDots(entry.cFileName) && !NameIs(entry.cFileName, BIN_FOLDER);
        else
            offends = !NameIs(entry.cFileName, MAIN_PROGRAM_LOWER);
    } while (!offends && FindNextFileA(find, &entry));
    FindClose(find);

    if (offends)
    {
        LogMessage(2, LOG_WARNING, "Directory %hs is *NOT* empty, found '%hs'.\n", folder, entry.cFileName);
        return false;
    }
    LogMessage(2, LOG_INFO, "Directory %hs appears to be empty.\n", folder);
    return true;
}

bool IsForeignDirectory(const char* folder)
{
    char pattern[FW_PATH_SIZE];
    if (!IsFolder(folder) || !JoinPath(pattern, folder, "*"))
        return false;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    long files = 0;
    long folders = 0;
    long score = 0;
    do
    {
        const char* name = entry.cFileName;
        if (IsFolderEntry(entry))
        {
            if (IsDots(name))
                continue;
            folders++;
            if (NameIs(name, BIN_FOLDER))
                score += 1;
            else if (NameIs(name, OLDER_LINE_DATA_FOLDER))
                score += 2;
        }
        else
        {
            files++;
            if (NameIs(name, "zaph.exe") || NameIs(name, "zaph.exe.zip"))
                score += 2;
            else if (NameIs(name, "login.exe") || NameIs(name, "login.exe.zip"))
                score += 1;
        }
    } while (score < PRODUCT_FOLDER_SCORE && FindNextFileA(find, &entry));
    FindClose(find);

    if (score >= PRODUCT_FOLDER_SCORE)
    {
        LogMessage(2, LOG_INFO, "Directory %hs appears to an ZAPH directory (score %ld).\n", folder, score);
        return false;
    }
    if (files + folders > 0)
    {
        LogMessage(2, LOG_INFO, "Directory is not an ZAPH directory (%ld files, %ld dirs)\n.", files, folders);
        return true;
    }
    LogMessage(2, LOG_INFO, "Directory %hs is completely empty\n.", folder);
    return false;
}

bool MayMoveDirectory(const char* oldFolder, const char* newFolder)
{
    LogMessage(2, LOG_INFO, "May Move Directory %hs to %hs?\n", oldFolder, newFolder);
    if (!IsFolder(newFolder))
    {
        LogMessage(2, LOG_INFO, "\t\tDirectory does not exist %hs\n", newFolder);
        LogMessage(2, LOG_INFO, "YES.\n");
        return true;
    }
    bool may = true;
    for (size_t i = 0; i < sizeof(MOVABLE_MEMBER_STATES) / sizeof(MOVABLE_MEMBER_STATES[0]); i++)
    {
        const char* code = MOVABLE_MEMBER_STATES[i];
        char oldMember[FW_PATH_SIZE];
        char newMember[FW_PATH_SIZE];
        char data[FW_PATH_SIZE];
        if (!JoinPath(oldMember, oldFolder, code) || !IsFolder(oldMember))
            continue;
        LogMessage(2, LOG_INFO, "\tMS %hs detected in %hs\n", code, oldFolder);
        if (!JoinPath(newMember, newFolder, code) || !IsFolder(newMember))
        {
            LogMessage(2, LOG_INFO, "\t\tMS %hs *not* detected in %hs\n", code, newFolder);
            continue;
        }
        LogMessage(2, LOG_INFO, "\t\tMS %hs *also* detected in %hs\n", code, newFolder);
        char found[FW_PATH_SIZE];
        if (JoinPath(data, newMember, MEMBER_STATE_DATA_FOLDER) &&
            FindFiles(MEMBER_STATE_DATA_PATTERN, data, false, NULL, NULL, found))
        {
            LogMessage(2, LOG_WARNING, "\t\t\tData detected %hs\n", found);
            may = false;
        }
        else
            LogMessage(2, LOG_INFO, "\t\t\t*NO* Data detected in %hs\n", data);
    }
    LogMessage(2, may ? LOG_INFO : LOG_WARNING, may ? "YES.\n" : "NO!!\n");
    return may;
}
