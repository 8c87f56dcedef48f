#include "CommandLine.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "AppObjects.h"
#include "CMainUI.h"
#include "CodeTables.h"
#include "Log.h"
#include "SystemLibrary.h"
#include "RunState.h"
#include "WideAPI.h"
#include "resource.h"

static const char* const BOX_CAPTION = "Setup";
static const int USAGE_TEXT_SIZE = 512;
static const int VERSION_TEXT_SIZE = 256;
static const char* const VERSION_BLOCK = "\\StringFileInfo\\080904b0\\";
static const wchar_t* const VERSION_FORMAT_FALLBACK = L"%s\nVersion %s.\n%s\n%s";

static HINSTANCE ResourceModule()
{
    return g_hInstance != NULL ? g_hInstance : GetModuleHandleA(NULL);
}

static bool IsOptionLead(char c)
{
    return c == '-' || c == '/';
}

// The value of /d, /i, /l and /t: the next argument when there is one that is
// not empty and is not itself an option.
static const char* UsableValue(int argc, const char* const* argv, int i)
{
    if (i + 1 >= argc || argv[i + 1] == NULL)
        return NULL;
    const char* value = argv[i + 1];
    if (value[0] == 0 || IsOptionLead(value[0]))
        return NULL;
    return value;
}

// A folder as administrators type it: one opening quote is tolerated (a
// quoted path ending in a backslash reaches us with the closing quote
// escaped), and trailing quotes and backslashes are dropped.
static void TakeFolder(const char* value, C_String& folder)
{
    if (value[0] == '"' || value[0] == '\'')
        ++value;
    size_t length = strlen(value);
    while (length > 0 &&
           (value[length - 1] == '"' || value[length - 1] == '\'' || value[length - 1] == '\\'))
        --length;
    folder = std::string(value, length).c_str();
}

// /d: optional verbosity digit in the same argument, optional file name after it.
static void TakeLogOption(const char* arg, const char* value)
{
    if (arg[2] != 0)
        SetLogVerbosity((int)(unsigned char)arg[2] - '0');

    char defaultName[LOG_PATH_SIZE];
    const char* name = value;
    if (name == NULL)
    {
        if (!MakeLogName(defaultName, NULL))
        {
            LogMessage(0, LOG_WARNING,
                       "No default log file name (temporary folder unusable), log stays '%hs'\n",
                       GetLogFile());
            return;
        }
        name = defaultName;
    }
    // A name too long for the log's path buffer is refused there (and logged):
    // logging goes on in the previous file.
    if (SetLogFile(name))
        LogMessage(2, LOG_INFO, "LOGFILE='%hs'\n", name);
}

int ParseCommandLineArgs(int argc, const char* const* argv, const char* commandLine,
                         C_String& languageCode, C_String& iniFile)
{
    int result = CMDLINE_OK;
    for (int i = 1; i < argc && result == CMDLINE_OK; ++i)
    {
        const char* arg = argv[i];
        if (arg == NULL || !IsOptionLead(arg[0]))
            break;

        char option = arg[1];
        if (option >= 'A' && option <= 'Z')
            option = (char)(option - 'A' + 'a');

        switch (option)
        {
        case '9':
            LogMessage(2, LOG_INFO, "ForceWin95\n");
            if (isWinNT)
            {
                MessageBoxA(NULL, "FORCED WIN95", BOX_CAPTION, MB_OK | MB_ICONEXCLAMATION);
                useWideApi = false;
            }
            break;

        case '?':
        case 'h':
            ShowUsage("");
            result = CMDLINE_BOX_SHOWN;
            break;

        case 'c':
            RunState.checkOnly = true;
            LogMessage(2, LOG_INFO, "CHECKONLY\n");
            break;

        case 'd':
        {
            const char* value = UsableValue(argc, argv, i);
            if (value != NULL)
                ++i;
            TakeLogOption(arg, value);
            break;
        }

        case 'f':
            RunState.addFeatures = true;
            LogMessage(2, LOG_INFO, "Adding Features\n");
            break;

        case 'i':
        case 'l':
        case 't':
        {
            const char* value = UsableValue(argc, argv, i);
            // These three take the next argument even when they reject it.
            if (i + 1 < argc)
                ++i;
            C_String folder;
            bool accepted = value != NULL && (option != 'l' || IsLanguageCode(value));
            if (accepted && option == 't')
            {
                // A value made only of quotes and backslashes names no folder.
                TakeFolder(value, folder);
                accepted = !folder.IsEmpty();
            }
            C_String& text =
                option == 'i' ? iniFile : (option == 'l' ? languageCode : RunState.targetDir);
            if (accepted)
            {
                text = option == 't' ? folder : C_String(value);
                if (option == 't')
                    RunState.targetGiven = true;
            }
            else
            {
                ShowUsage(option == 'i' ? "/i option invalid"
                                        : (option == 'l' ? "/l option invalid" : "/t option invalid"));
                result = CMDLINE_BAD_ARGUMENT;
            }
            // A text still empty here had no usable value from any occurrence.
            if (text.IsEmpty())
            {
                result = CMDLINE_NO_VALUE;
                break;
            }
            if (option == 'i')
                LogMessage(2, LOG_INFO, "INIFILE='%hs'\n", iniFile.GetNarrowTemp());
            else if (option == 'l')
                LogMessage(2, LOG_INFO, "Language='%hs'\n", languageCode.GetNarrowTemp());
            else
                LogMessage(2, LOG_INFO, "TARGETDIR='%hs'\n", RunState.targetDir.GetNarrowTemp());
            break;
        }

        case 'm':
            RunState.multiMode = true;
            LogMessage(2, LOG_INFO, "MULTIMODE\n");
            break;

        case 'r':
        {
            RunState.repairMode = true;
            // /r takes whatever follows, even an option: "/r /u" repairs in "/u".
            const char* value = NULL;
            if (i + 1 < argc)
            {
                ++i;
                value = argv[i];
            }
            if (value != NULL && value[0] != 0)
            {
                TakeFolder(value, RunState.targetDir);
                RunState.targetGiven = !RunState.targetDir.IsEmpty();
                LogMessage(2, LOG_INFO, "REPAIR %hs\n", RunState.targetDir.GetNarrowTemp());
            }
            else
            {
                LogMessage(2, LOG_INFO, "REPAIR\n");
            }
            break;
        }

        case 'u':
            RunState.autoUpgrade = true;
            LogMessage(2, LOG_INFO, "AUTOUPGRADE\n");
            break;

        case 'v':
            ShowVersionInfo();
            result = CMDLINE_BOX_SHOWN;
            break;

        case 'x':
            LogMessage(2, LOG_INFO, "DEBUG\n");
            break;

        default:
            LogMessage(2, LOG_WARNING, "Argument '%hs' not recognised ( ignored )\n", arg);
            break;
        }
    }

    LogMessage(3, LOG_INFO, "Command line '%hs' parsed%hsOK.\n", commandLine ? commandLine : "",
               result == CMDLINE_OK ? " " : " *NOT* ");
    return result;
}

int ParseCommandLine(const char* commandLine, C_String& languageCode, C_String& iniFile)
{
    return ParseCommandLineArgs(__argc, __argv, commandLine, languageCode, iniFile);
}

void ShowUsage(const char* errorText)
{
    const char* error = errorText != NULL ? errorText : "";

    if (g_mainUI == NULL)
    {
        // Without the window there is no caption of ours; an error says what
        // was wrong, and with no error the usage itself is what was asked for.
        char usage[USAGE_TEXT_SIZE];
        const char* text = error;
        if (text[0] == 0)
            text = LoadStringA(ResourceModule(), IDS_USAGE, usage, sizeof(usage)) > 0 ? usage
                                                                                    : "USAGE???";
        MessageBoxA(NULL, text, BOX_CAPTION, MB_OK | MB_ICONEXCLAMATION);
    }
    else
    {
        wchar_t usage[USAGE_TEXT_SIZE];
        if (LoadStringWide(ResourceModule(), IDS_USAGE, usage, USAGE_TEXT_SIZE) <= 0)
        {
            g_mainUI->ShowMessage(false, L"USAGE???");
        }
        else
        {
            std::wstring text = usage;
            if (error[0] != 0)
            {
                text += L"\n\nCommand line ERROR: ";
                text += A2W(error);
            }
            g_mainUI->ShowMessage(error[0] != 0, text.c_str());
        }
    }

    if (error[0] != 0)
        LogMessage(2, LOG_ERROR, "Command line ERROR: '%hs'\n", error);
}

// Fills the version box's text: each %s takes the next text, %% is a percent
// sign; at most VERSION_TEXT_SIZE - 1 characters.
static std::wstring FillVersionText(const wchar_t* format, const std::wstring* texts, int count)
{
    std::wstring out;
    int next = 0;
    for (const wchar_t* p = format; *p; ++p)
    {
        if (p[0] == L'%' && p[1] == L's')
        {
            if (next < count)
                out += texts[next++];
            ++p;
        }
        else if (p[0] == L'%' && p[1] == L'%')
        {
            out += L'%';
            ++p;
        }
        else
        {
            out += *p;
        }
    }
    if (out.size() > (size_t)(VERSION_TEXT_SIZE - 1))
        out.resize(VERSION_TEXT_SIZE - 1);
    return out;
}

void ShowVersionInfo()
{
    if (g_mainUI == NULL)
    {
        MessageBoxA(NULL, "Version Information", BOX_CAPTION, MB_OK | MB_ICONEXCLAMATION);
        return;
    }

    C_String comments, companyName, legalCopyright, productVersion;
    if (!GetProgramVersionStrings(comments, companyName, legalCopyright, productVersion))
        LogMessage(2, LOG_WARNING, "Version resource of the program not readable\n");

    wchar_t format[VERSION_TEXT_SIZE];
    if (LoadStringWide(ResourceModule(), IDS_VERSION_INFO, format, VERSION_TEXT_SIZE) <= 0)
    {
        // lstrcpynW is only a failing stub on Windows 9x.
        wcsncpy(format, VERSION_FORMAT_FALLBACK, VERSION_TEXT_SIZE - 1);
        format[VERSION_TEXT_SIZE - 1] = 0;
    }

    // Each conversion is copied at once: GetWide hands out one shared buffer.
    std::wstring texts[4];
    texts[0] = comments.GetWide();
    texts[1] = productVersion.GetWide();
    texts[2] = legalCopyright.GetWide();
    texts[3] = companyName.GetWide();
    std::wstring text = FillVersionText(format, texts, 4);
    g_mainUI->ShowMessage(false, text.c_str());
}

bool ReadOwnVersionResource(std::vector<char>& data)
{
    data.clear();
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    DWORD handle = 0;
    DWORD size = VersionInfoSize(path, &handle);
    if (size == 0)
        return false;
    data.resize(size);
    if (!VersionInfoRead(path, size, &data[0]))
    {
        data.clear();
        return false;
    }
    return true;
}

bool GetProgramVersionStrings(C_String& comments, C_String& companyName,
                              C_String& legalCopyright, C_String& productVersion)
{
    std::vector<char> data;
    if (!ReadOwnVersionResource(data))
        return false;

    struct Entry
    {
        const char* name;
        C_String* text;
    } entries[] = {
        { "Comments", &comments },
        { "CompanyName", &companyName },
        { "LegalCopyright", &legalCopyright },
        { "ProductVersion", &productVersion },
    };
    for (size_t k = 0; k < sizeof(entries) / sizeof(entries[0]); ++k)
    {
        std::string key = std::string(VERSION_BLOCK) + entries[k].name;
        char* value = NULL;
        UINT valueLength = 0;
        if (VersionInfoQuery(&data[0], key.c_str(), (void**)&value, &valueLength) && value != NULL)
            *entries[k].text = value;
    }
    return true;
}
