#include "CommandLine.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "AppObjects.h"
#include "CMainUI.h"
#include "CodeTables.h"
#include "Layout.h"
#include "Log.h"
#include "ProductPackage.h"
#include "SystemLibrary.h"
#include "TextUtil.h"
#include "RunState.h"
#include "WideAPI.h"
#include "resource.h"
#include "UserMessages.h"

// Room for every switch's line (the switches of unattended runs made 512 too few).
static const int USAGE_TEXT_SIZE = 1024;
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

// What a switch takes from the argument after it.
enum SwitchValue
{
    VALUE_NONE,    // nothing
    VALUE_USABLE,  // the next argument when it is a usable value
    VALUE_NEXT,    // the next argument whatever it is; only a usable value counts
    VALUE_ANY      // the next argument whatever it is, even an option
};

// The texts a switch's value fills.
enum SwitchText
{
    TEXT_NONE,
    TEXT_INI_FILE,
    TEXT_LANGUAGE,
    TEXT_TARGET,
    TEXT_COUNT
};

struct SwitchCall
{
    const char* arg;    // the switch as typed
    const char* value;  // what it took, or null
    C_String* texts[TEXT_COUNT];
};

struct CommandSwitch
{
    char letter;                 // lower case: the scan folds A-Z
    SwitchValue value;
    bool* flag;                  // set when given, or null
    const char* logLine;         // logged when given; for a text, its format with the text
    int (*act)(SwitchCall& call);  // the rest of what it does, or null; a result, CMDLINE_OK goes on
    SwitchText text;             // filled from an accepted value (such a switch has no act)
    bool (*accept)(const char* value, C_String& text);  // fills text when it takes value
    int badValue;                // result for a rejected value
    int noValue;                 // result when the text stays empty
};

static int ForceNarrowApi(SwitchCall&)
{
    if (isWinNT)
    {
        TellAlone("FORCED WIN95");
        useWideApi = false;
    }
    return CMDLINE_OK;
}

static int UsageBox(SwitchCall&)
{
    ShowUsage("");
    return CMDLINE_BOX_SHOWN;
}

static int VersionBox(SwitchCall&)
{
    ShowVersionInfo();
    return CMDLINE_BOX_SHOWN;
}

static int LogOption(SwitchCall& call)
{
    TakeLogOption(call.arg, call.value);
    return CMDLINE_OK;
}

// /r takes whatever follows, even an option: "/r /u" repairs in "/u".
static int RepairFolder(SwitchCall& call)
{
    if (call.value != NULL && call.value[0] != 0)
    {
        TakeFolder(call.value, RunState.targetDir);
        RunState.targetGiven = !RunState.targetDir.IsEmpty();
        LogMessage(2, LOG_INFO, "REPAIR %hs\n", RunState.targetDir.GetNarrowTemp());
    }
    else
    {
        LogMessage(2, LOG_INFO, "REPAIR\n");
    }
    return CMDLINE_OK;
}

static int LayoutOption(SwitchCall& call)
{
    return TakeLayoutFolder(call.value);
}

// A switch's value refused: the usage box with the reason, and the result of
// a rejected value; when no value came at all, that of an empty text unless
// an earlier occurrence of the switch gave one.
static int RefuseValue(const char* error, bool hadValue, bool givenBefore)
{
    ShowUsage(error);
    return hadValue || givenBefore ? CMDLINE_BAD_ARGUMENT : CMDLINE_NO_VALUE;
}

// /s FR,EN: every code as /l checks it; a code named twice counts once.
static int LanguagesOption(SwitchCall& call)
{
    bool givenBefore = RunState.commandLanguageCount > 0;
    if (call.value == NULL)
        return RefuseValue("/s option invalid", false, givenBefore);
    bool wanted[LANGUAGE_SLOTS] = {false};
    std::string list = call.value;
    size_t from = 0;
    for (;;)
    {
        size_t comma = list.find(',', from);
        std::string code = list.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        if (!IsLanguageCode(code.c_str()))
        {
            LogMessage(2, LOG_ERROR, "Language code '%hs' of /s not known.\n", code.c_str());
            return RefuseValue("/s option invalid", true, givenBefore);
        }
        wanted[LanguageIndex(code.c_str())] = true;
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    // A later /s replaces an earlier one, as a later /l does.
    RunState.commandLanguageCount = 0;
    for (int i = 0; i < LANGUAGE_SLOTS; ++i)
    {
        RunState.commandLanguages[i] = wanted[i];
        if (wanted[i])
            ++RunState.commandLanguageCount;
    }
    LogMessage(2, LOG_INFO, "LANGUAGES='%hs'\n", call.value);
    return CMDLINE_OK;
}

// The properties the program gives the package itself: the run's own
// decisions, which no command line may change behind its back.
static const char* const* const OWN_PROPERTIES[] = {&PROPERTY_LANGUAGE_COUNT, &PROPERTY_TARGET_DIR,
                                                    &PROPERTY_FORCE_FOLDER,    &PROPERTY_AUTO_UPGRADE,
                                                    &PROPERTY_DEFAULT_DIR,     &PROPERTY_SETUP_TYPE,
                                                    &PROPERTY_DOTNET};

// A public property's name as the installer takes it from a command line:
// upper-case letters, digits, underscores and periods, not beginning with a
// digit or a period.
static bool IsPublicPropertyName(const std::string& name)
{
    if (name.empty() || (name[0] >= '0' && name[0] <= '9') || name[0] == '.')
        return false;
    for (char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.'))
            return false;
    return true;
}

static bool IsOwnProperty(const std::string& name)
{
    for (const char* const* own : OWN_PROPERTIES)
        if (TextEqualNoCase(name.c_str(), *own))
            return true;
    // Unattended, the program also tells the package never to restart the machine.
    return RunState.Unattended() && TextEqualNoCase(name.c_str(), PROPERTY_REBOOT);
}

// /p NAME=VALUE, repeatable: a public property for the product package. A
// name given again takes the later value. SETUPTYPE=Client is the one
// exception to the program's own names: it asks for a client installation,
// which the program then sets up itself.
static int PropertyOption(SwitchCall& call)
{
    bool givenBefore = RunState.propertyCount > 0 || RunState.clientRequested;
    if (call.value == NULL)
        return RefuseValue("/p option invalid", false, givenBefore);
    std::string item = call.value;
    size_t eq = item.find('=');
    std::string name = item.substr(0, eq), value = eq == std::string::npos ? "" : item.substr(eq + 1);
    std::string error;
    if (TextEqualNoCase(name.c_str(), PROPERTY_SETUP_TYPE) && TextEqualNoCase(value.c_str(), SETUP_TYPE_CLIENT))
    {
        RunState.clientRequested = true;
        LogMessage(2, LOG_INFO, "PROPERTY %hs=%hs: a client installation is asked for.\n", PROPERTY_SETUP_TYPE,
                   SETUP_TYPE_CLIENT);
        return CMDLINE_OK;
    }
    if (eq != std::string::npos && IsOwnProperty(name))
        error = "/p option invalid: " + name + " is set by the program";
    else if (eq == std::string::npos || value.empty() || !IsPublicPropertyName(name))
        error = "/p option invalid: NAME=VALUE with a public (upper-case) name";
    int slot = 0;
    while (error.empty() && slot < RunState.propertyCount && !RunState.propertyNames[slot].Equals(name.c_str()))
        ++slot;
    if (error.empty() && slot == MAX_COMMAND_PROPERTIES)
        error = "/p option invalid: more than " + std::to_string(MAX_COMMAND_PROPERTIES) + " properties";
    if (!error.empty())
    {
        LogMessage(2, LOG_ERROR, "Property '%hs' refused.\n", item.c_str());
        return RefuseValue(error.c_str(), true, givenBefore);
    }
    RunState.propertyNames[slot] = name.c_str();
    RunState.propertyValues[slot] = value.c_str();
    if (slot == RunState.propertyCount)
        ++RunState.propertyCount;
    LogMessage(2, LOG_INFO, "PROPERTY %hs='%hs'\n", name.c_str(), value.c_str());
    return CMDLINE_OK;
}

static bool AnyText(const char* value, C_String& text)
{
    text = value;
    return true;
}

static bool LanguageText(const char* value, C_String& text)
{
    if (!IsLanguageCode(value))
        return false;
    text = value;
    return true;
}

// A value made only of quotes and backslashes names no folder.
static bool FolderText(const char* value, C_String& text)
{
    C_String folder;
    TakeFolder(value, folder);
    if (folder.IsEmpty())
        return false;
    text = folder;
    RunState.targetGiven = true;
    return true;
}

// Adding a switch is adding its row.
static const CommandSwitch SWITCHES[] = {
    // letter, value, flag, log line, act, text, accept, bad value, no value
    {'9', VALUE_NONE, NULL, "ForceWin95\n", ForceNarrowApi},
    {'?', VALUE_NONE, NULL, NULL, UsageBox},
    {'b', VALUE_NONE, &RunState.passive, "PASSIVE\n"},
    {'h', VALUE_NONE, NULL, NULL, UsageBox},
    {'c', VALUE_NONE, &RunState.checkOnly, "CHECKONLY\n"},
    {'d', VALUE_USABLE, NULL, NULL, LogOption},
    {'f', VALUE_NONE, &RunState.addFeatures, "Adding Features\n"},
    {'i', VALUE_NEXT, NULL, "INIFILE='%hs'\n", NULL, TEXT_INI_FILE, AnyText, CMDLINE_BAD_ARGUMENT, CMDLINE_NO_VALUE},
    {'l', VALUE_NEXT, NULL, "Language='%hs'\n", NULL, TEXT_LANGUAGE, LanguageText, CMDLINE_BAD_ARGUMENT,
     CMDLINE_NO_VALUE},
    {'m', VALUE_NONE, &RunState.multiMode, "MULTIMODE\n"},
    {'o', VALUE_NEXT, NULL, NULL, LayoutOption},
    {'p', VALUE_NEXT, NULL, NULL, PropertyOption},
    {'q', VALUE_NONE, &RunState.quiet, "QUIET\n"},
    {'r', VALUE_ANY, &RunState.repairMode, NULL, RepairFolder},
    {'s', VALUE_NEXT, NULL, NULL, LanguagesOption},
    {'t', VALUE_NEXT, NULL, "TARGETDIR='%hs'\n", NULL, TEXT_TARGET, FolderText, CMDLINE_BAD_ARGUMENT,
     CMDLINE_NO_VALUE},
    {'u', VALUE_NONE, &RunState.autoUpgrade, "AUTOUPGRADE\n"},
    {'v', VALUE_NONE, NULL, NULL, VersionBox},
    {'x', VALUE_NONE, NULL, "DEBUG\n"},
};

static const CommandSwitch* FindSwitch(char letter)
{
    if (letter >= 'A' && letter <= 'Z')
        letter = (char)(letter - 'A' + 'a');
    for (const CommandSwitch& entry : SWITCHES)
        if (entry.letter == letter)
            return &entry;
    return NULL;
}

// The value of a text switch into its text when accepted; otherwise the usage
// box and the bad-value result. A text still empty afterwards had no usable
// value from any occurrence.
static int TakeText(const CommandSwitch& entry, const SwitchCall& call)
{
    C_String& text = *call.texts[entry.text];
    int result = CMDLINE_OK;
    if (call.value == NULL || !entry.accept(call.value, text))
    {
        char error[32];
        _snprintf(error, sizeof(error), "/%c option invalid", entry.letter);
        error[sizeof(error) - 1] = 0;
        ShowUsage(error);
        result = entry.badValue;
    }
    if (text.IsEmpty())
        return entry.noValue;
    LogMessage(2, LOG_INFO, entry.logLine, text.GetNarrowTemp());
    return result;
}

// The value a switch takes at argv[i]; i moves past what it took.
static const char* TakeValue(SwitchValue kind, int argc, const char* const* argv, int& i)
{
    const char* value = NULL;
    switch (kind)
    {
    case VALUE_USABLE:
        value = UsableValue(argc, argv, i);
        if (value != NULL)
            ++i;
        break;
    case VALUE_NEXT:
        value = UsableValue(argc, argv, i);
        if (i + 1 < argc)
            ++i;
        break;
    case VALUE_ANY:
        if (i + 1 < argc)
            value = argv[++i];
        break;
    default:
        break;
    }
    return value;
}

// Whether the run is quiet or passive is known before any switch acts, so
// that no box of the command line (a rejected value before /q, say) is shown
// to a screen nobody watches. The values are skipped as the scan takes them.
static void TakeUnattendedSwitches(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i)
    {
        const char* arg = argv[i];
        if (arg == NULL || !IsOptionLead(arg[0]))
            break;
        const CommandSwitch* entry = FindSwitch(arg[1]);
        if (entry == NULL)
            continue;
        if (entry->flag == &RunState.quiet || entry->flag == &RunState.passive)
            *entry->flag = true;
        TakeValue(entry->value, argc, argv, i);
    }
}

int ParseCommandLineArgs(int argc, const char* const* argv, const char* commandLine,
                         C_String& languageCode, C_String& iniFile)
{
    int result = CMDLINE_OK;
    TakeUnattendedSwitches(argc, argv);
    for (int i = 1; i < argc && result == CMDLINE_OK; ++i)
    {
        const char* arg = argv[i];
        if (arg == NULL || !IsOptionLead(arg[0]))
            break;
        const CommandSwitch* entry = FindSwitch(arg[1]);
        if (entry == NULL)
        {
            LogMessage(2, LOG_WARNING, "Argument '%hs' not recognised ( ignored )\n", arg);
            continue;
        }
        SwitchCall call = {arg, TakeValue(entry->value, argc, argv, i),
                           {NULL, &iniFile, &languageCode, &RunState.targetDir}};
        if (entry->flag != NULL)
            *entry->flag = true;
        if (entry->text != TEXT_NONE)
        {
            result = TakeText(*entry, call);
            continue;
        }
        if (entry->logLine != NULL)
            LogMessage(2, LOG_INFO, "%hs", entry->logLine);
        if (entry->act != NULL)
            result = entry->act(call);
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
        TellAlone(text);
    }
    else
    {
        wchar_t usage[USAGE_TEXT_SIZE];
        if (LoadStringWide(ResourceModule(), IDS_USAGE, usage, USAGE_TEXT_SIZE) <= 0)
        {
            TellText(MESSAGE_WARNING, L"USAGE???");
        }
        else
        {
            std::wstring text = usage;
            if (error[0] != 0)
            {
                text += L"\n\nCommand line ERROR: ";
                text += A2W(error);
            }
            TellText(error[0] != 0 ? MESSAGE_ERROR : MESSAGE_WARNING, text.c_str());
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
        TellAlone("Version Information");
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
    TellText(MESSAGE_WARNING, text.c_str());
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
