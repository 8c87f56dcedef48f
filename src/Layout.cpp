#include "Layout.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <map>
#include <set>

#include "AppObjects.h"
#include "CDownloadManager.h"
#include "CMainUI.h"
#include "CResource.h"
#include "CResourceIterator.h"
#include "CheckSum.h"
#include "CodeTables.h"
#include "CommandLine.h"
#include "Components.h"
#include "Fernwick.h"
#include "FileUtil.h"
#include "InstallerTrust.h"
#include "Log.h"
#include "Phases.h"
#include "Prerequisites.h"
#include "RunState.h"
#include "TextUtil.h"
#include "UserMessages.h"
#include "WideAPI.h"
#include "resource.h"

const char* const LAYOUT_RECORD_FILE = "_FW_LAYOUT_.txt";
const char* const LAYOUT_PARTIAL_SUFFIX = ".fwlayout";

static const char* const DOTNET_YES = "yes";
static const char* const RECORD_SETTINGS_KEY = "*settings*";
static const char* const MARKER_TEXT = "This folder is a local distribution: Fernwick takes its files from here.\r\n";
static const wchar_t* const LABEL_LAYOUT_COMPLETE = L"LayoutComplete";  // %hs folder
static const wchar_t* const LAYOUT_COMPLETE_TEXT = L"The layout in '%hs' is complete.";
static const wchar_t* const LABEL_LAYOUT_FOLDER = L"LayoutFolder";      // %hs folder
static const wchar_t* const LAYOUT_FOLDER_TEXT = L"The folder '%hs' cannot hold the layout.";
static const wchar_t* const FAIL_FILE_TEXT = L"The file '%hs' could not be obtained from '%hs'.";
static const wchar_t* const WORKING_OFFLINE_TEXT = L"No connection to the Internet is available.";
static const wchar_t* const CONFIRM_CANCEL_TEXT = L"Stop the layout?";

// The phases a layout shares with a setup: the settings file and its
// language, the window, the source mode and the base.
static const size_t LAYOUT_PHASES = 2;
// Bars of the progress window: the file in hand, and the whole layout.
static const UINT BAR_FILE = 0;
static const UINT BAR_OVERALL = 1;

static std::string s_folder;
// The target folder the plan of a line is made for: one that cannot exist
// ("<" and ">" are not allowed in names), so that nothing a machine or this
// one holds changes what a line needs.
static const char* const NO_TARGET = "<none>";

// ---------------------------------------------------------------------------
// The plan
// ---------------------------------------------------------------------------

static bool IsExistenceTest(DWORD kind)
{
    return kind == RULE_IF_EXISTS || kind == RULE_IF_NOT_EXISTS;
}

static bool SkipsOn(const ComponentRule& rule, bool outcome)
{
    return ((rule.kind == RULE_THEN && outcome) || (rule.kind == RULE_ELSE && !outcome)) &&
           TextEqualNoCase(C_String(rule.value).GetNarrow(), SETTING_SKIP_VALUE);
}

// Whether some machine installs the line's file: the existence tests look at
// what a machine holds, which the layout cannot know, so every outcome of
// every test counts (taken as independent, which can only take a file too
// many, never one too few). The line is installed when some outcome walks
// past every Then and Else without a skip.
static bool SomeBranchInstalls(const CComponent& component)
{
    unsigned tests = 0;
    for (unsigned i = 0; i < component.m_ruleCount; ++i)
        tests += IsExistenceTest(component.m_rules[i].kind) ? 1 : 0;
    for (unsigned outcomes = 0; outcomes < (1u << tests); ++outcomes)
    {
        bool tested = false, outcome = false, skipped = false;
        unsigned test = 0;
        for (unsigned i = 0; i < component.m_ruleCount && !skipped; ++i)
        {
            const ComponentRule& rule = component.m_rules[i];
            if (IsExistenceTest(rule.kind))
            {
                tested = true;
                outcome = (outcomes >> test++) & 1;
            }
            else if (tested && SkipsOn(rule, outcome))
            {
                skipped = true;
            }
        }
        if (!skipped)
            return true;
    }
    return false;
}

// The line as a branch that installs it sees it: Source, Multi and
// Extension in their order, without the tests and their skips.
static void WithoutTests(const CComponent& component, CComponent& branch)
{
    branch.m_name = component.m_name;
    branch.m_value = component.m_value;
    branch.m_ruleCount = 0;
    for (unsigned i = 0; i < component.m_ruleCount; ++i)
    {
        const ComponentRule& rule = component.m_rules[i];
        if (!IsExistenceTest(rule.kind) && rule.kind != RULE_THEN && rule.kind != RULE_ELSE)
            branch.m_rules[branch.m_ruleCount++] = rule;
    }
}

static void AddOnce(std::vector<LayoutFile>& plan, std::set<std::string>& seen, const std::string& source,
                    LayoutKind kind, const char* checkSum)
{
    if (source.empty())
        return;
    std::string key = source;
    TextLower(&key[0]);
    if (!seen.insert(key).second)
        return;
    plan.push_back({source, kind, checkSum != NULL ? checkSum : ""});
}

static std::string SettingText(CResource& settings, const wchar_t* key)
{
    const char* value = settings.GetSetting(key, false);
    return value != NULL ? value : "";
}

static std::string CheckSumOf(CResource& settings, const std::string& source)
{
    const char* value = settings.GetCheckSum(source.c_str());
    return value != NULL ? value : "";
}

static void PlanPackages(CResource& settings, const std::vector<std::string>& languages,
                         std::vector<LayoutFile>& plan, std::set<std::string>& seen)
{
    if (TextEqualNoCase(SettingText(settings, SETTING_INSTALL_SYSLN).c_str(), SETTING_SKIP_VALUE))
        return;
    std::string folder = SettingText(settings, SETTING_SYS_LN_DIR);
    for (const std::string& language : languages)
    {
        char name[DOWNLOAD_PATH_SIZE];
        // A name too long to hold stays empty: obtaining it then fails the layout.
        SystemPackageName(folder.c_str(), language.c_str(), name, sizeof(name));
        AddOnce(plan, seen, name, LAYOUT_DATA, CheckSumOf(settings, name).c_str());
    }
}

static void PlanDataLines(CResource& settings, const std::string& memberState,
                          const std::vector<std::string>& languages, std::vector<LayoutFile>& plan,
                          std::set<std::string>& seen)
{
    for (const std::string& language : languages)
        for (int section : {SECTION_COMPONENTS, SECTION_ADDITIONAL})
        {
            CResourceIterator lines(&settings, section);
            for (CComponent* component = lines.Next(); component != NULL; component = lines.Next())
            {
                if (component->m_name.GetNarrowTemp()[0] != '#' && SomeBranchInstalls(*component))
                {
                    CComponent branch;
                    WithoutTests(*component, branch);
                    // No reuse and no target folder: the file as it comes
                    // from the distribution, whatever a machine holds.
                    ComponentPlan one = PlanComponent(branch, memberState.c_str(), language.c_str(), NO_TARGET, false);
                    if (one.action == COMPONENT_OBTAIN)
                        AddOnce(plan, seen, one.source.GetNarrow(), LAYOUT_DATA, one.checkSum.GetNarrow());
                }
                delete component;
            }
        }
}

// The installers a run may obtain: the .NET edition's prerequisites that the
// settings offer (as a run from the Internet reads the offer), and the
// engine's redistributables for both system families unless the engine step
// is bypassed.
static void PlanInstallers(CResource& settings, std::vector<LayoutFile>& plan, std::set<std::string>& seen)
{
    if (RunState.dotNetEdition)
    {
        struct
        {
            const wchar_t* setting;
            const PrerequisiteInstaller& installer;
            bool whenMissing;
        } offers[] = {{SETTING_V11_INSTALLER, INSTALLER_DOTNET11, true},
                      {SETTING_SPV11_INSTALLER, INSTALLER_DOTNET11_SP1, false},
                      {SETTING_V20_INSTALLER, INSTALLER_DOTNET20, false}};
        for (const auto& offer : offers)
        {
            const char* value = settings.GetSetting(offer.setting, false);
            if (value == NULL ? offer.whenMissing : TextEqualNoCase(value, DOTNET_YES))
                AddOnce(plan, seen, offer.installer.file, LAYOUT_INSTALLER, NULL);
        }
        AddOnce(plan, seen, INSTALLER_MDAC.file, LAYOUT_INSTALLER, NULL);
    }
    std::string required = SettingText(settings, SETTING_MSI_VERSION);
    if (required.empty() || TextEqualNoCase(required.c_str(), SETTING_SKIP_VALUE))
        return;
    for (const wchar_t* key : {SETTING_MSI_NT, SETTING_MSI_9X})
        AddOnce(plan, seen, SettingText(settings, key), LAYOUT_INSTALLER, NULL);
}

std::vector<LayoutFile> PlanLayout(CResource& settings)
{
    RunState.dotNetEdition = TextEqualNoCase(SettingText(settings, SETTING_DOTNET).c_str(), DOTNET_YES);
    std::string memberState = SettingText(settings, SETTING_MEMBER_STATE);
    // The languages the command line names (/s), else every one with labels.
    std::vector<std::string> languages;
    for (int i = 0; i < LANGUAGE_COUNT; ++i)
        if (RunState.commandLanguageCount > 0 ? RunState.commandLanguages[i] : settings.HasLabels(i))
            languages.push_back(LanguageCode(i));

    std::vector<LayoutFile> plan;
    std::set<std::string> seen;
    PlanPackages(settings, languages, plan, seen);
    PlanDataLines(settings, memberState, languages, plan, seen);
    PlanInstallers(settings, plan, seen);
    return plan;
}

// ---------------------------------------------------------------------------
// The command line
// ---------------------------------------------------------------------------

int TakeLayoutFolder(const char* value)
{
    std::string folder = value != NULL ? value : "";
    // A quoted folder ending in a backslash reaches us with its closing quote escaped.
    if (!folder.empty() && (folder[0] == '"' || folder[0] == '\''))
        folder.erase(0, 1);
    while (!folder.empty() && strchr("\"'\\", folder[folder.size() - 1]) != NULL)
        folder.erase(folder.size() - 1);
    char full[FW_PATH_SIZE];
    DWORD length = folder.empty() ? 0 : GetFullPathNameA(folder.c_str(), sizeof(full), full, NULL);
    if (length == 0 || length >= sizeof(full))
    {
        ShowUsage("/o option invalid");
        return CMDLINE_BAD_ARGUMENT;
    }
    s_folder = full;
    LogMessage(2, LOG_INFO, "LAYOUT='%hs'\n", full);
    return CMDLINE_OK;
}

bool IsLayoutRun()
{
    return !s_folder.empty();
}

const char* GetLayoutFolder()
{
    return s_folder.c_str();
}

void ResetLayout()
{
    s_folder.clear();
}

// ---------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------

// A formatted fallback: the user still learns which file or folder.
static std::wstring Formatted(const wchar_t* format, const char* a, const char* b = "")
{
    wchar_t text[1024];
    _snwprintf(text, 1023, format, a, b);
    text[1023] = 0;
    return text;
}

static std::string PathIn(const std::string& relative)
{
    return s_folder + "\\" + relative;
}

// Gives a written file its name. Windows 9x has no replacing rename
// (MoveFileEx is a stub there): the old file goes first.
static bool PutInPlace(const std::string& partial, const std::string& path)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    return MoveFileA(partial.c_str(), path.c_str()) != 0;
}

// The record of an earlier layout: the checksum of each file as it arrived,
// and of the settings file it was made for.
typedef std::map<std::string, std::string> LayoutRecord;

static std::string RecordKey(const std::string& source)
{
    std::string key = source;
    TextLower(&key[0]);
    return key;
}

static LayoutRecord ReadRecord()
{
    LayoutRecord record;
    FILE* file = fopen(PathIn(LAYOUT_RECORD_FILE).c_str(), "r");
    if (file == NULL)
        return record;
    char line[FW_PATH_SIZE + 32];
    while (fgets(line, sizeof(line), file) != NULL)
    {
        char* sum = strrchr(line, '=');
        if (sum == NULL)
            continue;
        *sum++ = 0;
        record[RecordKey(line)] = TextTrim(sum);
    }
    fclose(file);
    return record;
}

static bool WriteRecord(const LayoutRecord& record)
{
    std::string path = PathIn(LAYOUT_RECORD_FILE), partial = path + LAYOUT_PARTIAL_SUFFIX;
    FILE* file = fopen(partial.c_str(), "w");
    if (file == NULL)
        return false;
    bool written = true;
    for (const auto& entry : record)
        written = fprintf(file, "%s=%s\n", entry.first.c_str(), entry.second.c_str()) > 0 && written;
    written = fclose(file) == 0 && written;
    return written && PutInPlace(partial, path);
}

// 0 when the file at path is the planned one: its [CheckSums] entry, its
// digest when one is listed, and an installer as a run judges it before it
// starts it. sum receives its checksum (empty when unreadable).
static DWORD Verify(const LayoutFile& file, const char* path, char* sum)
{
    if (!CheckSum::Compute(path, sum))
    {
        LogMessage(2, LOG_ERROR, "Layout: '%hs' cannot be read [%ld].\n", path, GetLastError());
        return RC_CRC;
    }
    if (!file.checkSum.empty() && !TextEqualNoCase(sum, file.checkSum.c_str()))
    {
        LogMessage(2, LOG_WARNING, "Layout: '%hs' has check sum '%hs' i.s.o. '%hs'.\n", file.source.c_str(), sum,
                   file.checkSum.c_str());
        return RC_CRC;
    }
    const char* digest = g_resource->GetDigest(file.source.c_str());
    bool judged = file.kind == LAYOUT_INSTALLER || (digest != NULL && digest[0] != 0);
    if (judged && JudgeInstaller(g_resource, file.source.c_str(), path, true) == INSTALLER_REFUSED)
        return RC_INVALID_IMAGE_HASH;
    return 0;
}

// Whether the layout already holds the file: it verifies, and what vouches
// for it is the settings file (a checksum, a digest, a signature) or, for a
// file the settings list nothing for, the checksum it had on arrival for
// these same settings.
static bool InPlace(const LayoutFile& file, const LayoutRecord& record, bool sameSettings, std::string& sum)
{
    std::string path = PathIn(file.source);
    if (!FileExists(path.c_str()))
    {
        LogMessage(2, LOG_INFO, "Layout: '%hs' missing.\n", file.source.c_str());
        return false;
    }
    char computed[CHECKSUM_TEXT_SIZE] = "";
    bool good = Verify(file, path.c_str(), computed) == 0;
    sum = computed;
    if (good && file.checkSum.empty() && file.kind == LAYOUT_DATA &&
        g_resource->GetDigest(file.source.c_str()) == NULL)
    {
        auto entry = record.find(RecordKey(file.source));
        good = sameSettings && entry != record.end() && TextEqualNoCase(entry->second.c_str(), computed);
    }
    LogMessage(2, LOG_INFO, good ? "Layout: '%hs' in place.\n" : "Layout: '%hs' changed or damaged.\n",
               file.source.c_str());
    return good;
}

// The user's Cancel, confirmed; a withdrawn one is forgotten.
static bool CancelConfirmed()
{
    CDownloadManager* manager = g_downloadManager;
    if (!manager->Transfer().CancelRequested())
        return false;
    if (Ask(LABEL_CONFIRM_CANCEL, CONFIRM_CANCEL_TEXT))
        return true;
    manager->Transfer().ClearCancel();
    return false;
}

static void TellObtainFailure(const char* source, DWORD code)
{
    if (code == RC_NOT_CONNECTED)
        Tell(MESSAGE_ERROR, LABEL_WORKING_OFFLINE, WORKING_OFFLINE_TEXT);
    else
        TellFormatted(MESSAGE_ERROR, LABEL_FAIL_FILE,
                      Formatted(FAIL_FILE_TEXT, source, g_downloadManager->GetBaseUrl()).c_str(), source,
                      g_downloadManager->GetBaseUrl());
}

// Copies a local file into the layout under its partial name, verifies it
// there and only then gives it its name: whatever fails, nothing that is not
// the planned file stays under that name.
static DWORD PlaceFile(const LayoutFile& file, const char* localPath, std::string& sum)
{
    std::string path = PathIn(file.source), partial = path + LAYOUT_PARTIAL_SUFFIX;
    bool cancelled = false;
    DeleteFileA(partial.c_str());
    if (!CopyFileCreatingFolders(localPath, s_folder.c_str(), (file.source + LAYOUT_PARTIAL_SUFFIX).c_str(),
                                 CopyProgress, &cancelled))
    {
        LogMessage(2, LOG_WARNING, "Could not copy '%hs' '%hs' '%hs'\n", localPath, s_folder.c_str(),
                   partial.c_str());
        DeleteFileA(partial.c_str());
        return cancelled ? RC_CANCELLED : RC_CANNOT_COPY;
    }
    char computed[CHECKSUM_TEXT_SIZE] = "";
    DWORD code = Verify(file, partial.c_str(), computed);
    if (code == 0 && !PutInPlace(partial, path))
    {
        code = GetLastError();
        LogSystemError("The verified file could not take its name", code);
    }
    if (code != 0)
    {
        DeleteFileA(partial.c_str());
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
        LogMessage(2, LOG_ERROR, "Layout: '%hs' failed [%lu], not kept.\n", file.source.c_str(), code);
        return code;
    }
    sum = computed;
    LogMessage(2, LOG_INFO, "Layout: '%hs' obtained and verified.\n", file.source.c_str());
    return 0;
}

// One file: obtained, placed and verified; a cancel the user withdraws
// obtains it again.
static DWORD LayOutFile(const LayoutFile& file, std::string& sum)
{
    for (;;)
    {
        if (CancelConfirmed())
            return RC_CANCELLED;
        char localPath[DOWNLOAD_PATH_SIZE] = "";
        DWORD code = 0;
        g_mainUI->SetBusy(true);
        bool obtained = g_downloadManager->ObtainFile(file.source.c_str(), localPath, code);
        g_mainUI->SetBusy(false);
        if (obtained)
            code = PlaceFile(file, localPath, sum);
        else if (code == 0)
            code = RC_FILE_NOT_FOUND;
        if (code != RC_CANCELLED)
        {
            if (!obtained)
                LogMessage(2, LOG_ERROR, "Layout: '%hs' could not be obtained [%lu].\n", file.source.c_str(), code);
            if (code != 0)
                TellObtainFailure(file.source.c_str(), code);
            return code;
        }
        // The transfer stopped for a Cancel: the user is asked at the loop's top.
        if (!g_downloadManager->Transfer().CancelRequested())
            g_downloadManager->Transfer().RequestCancel();
        LogMessage(2, LOG_INFO, "Layout: '%hs' cancelled.\n", file.source.c_str());
    }
}

// A local file of this run (the settings file, the program) into the layout
// under name, by the same partial name and rename.
static bool CopyOwnFile(const char* source, const char* name)
{
    std::string path = PathIn(name), partial = path + LAYOUT_PARTIAL_SUFFIX;
    bool copied = CopyFileCreatingFolders(source, s_folder.c_str(), (std::string(name) + LAYOUT_PARTIAL_SUFFIX).c_str(),
                                          NULL) &&
                  PutInPlace(partial, path);
    if (!copied)
    {
        LogMessage(2, LOG_ERROR, "Layout: '%hs' could not be written [%ld].\n", path.c_str(), GetLastError());
        DeleteFileA(partial.c_str());
    }
    return copied;
}

// The settings file as it is (a LOCAL run replaces the base by its folder
// and needs nothing else), the program that installs from it, and the marker
// that makes that run LOCAL whatever the program is called. Written last, so
// that a folder that lacks them is not yet a distribution.
static DWORD FinishDistribution()
{
    char program[FW_PATH_SIZE];
    DWORD length = GetModuleFileNameA(NULL, program, sizeof(program));
    const char* programName = length > 0 && length < sizeof(program) ? FileNamePart(program) : NULL;
    if (!CopyOwnFile(g_resource->GetIniFile(), SETTINGS_FILE_NAME) ||
        (programName != NULL && !IsSameFile(program, PathIn(programName).c_str()) &&
         !CopyOwnFile(program, programName)))
        return RC_CANNOT_COPY;
    std::string marker = PathIn(LOCAL_MARKER_FILE);
    FILE* file = fopen(marker.c_str(), "wb");
    bool written = file != NULL && fputs(MARKER_TEXT, file) >= 0;
    if (file != NULL)
        written = fclose(file) == 0 && written;
    if (!written)
    {
        LogMessage(2, LOG_ERROR, "Layout: '%hs' could not be written.\n", marker.c_str());
        return RC_CANNOT_COPY;
    }
    return 0;
}

static std::string SettingsCheckSum()
{
    char sum[CHECKSUM_TEXT_SIZE] = "";
    CheckSum::Compute(g_resource->GetIniFile(), sum);
    return sum;
}

// Every planned file in turn, the window showing which and how far.
static DWORD LayOutFiles(const std::vector<LayoutFile>& plan, LayoutRecord& record)
{
    CMainUI* ui = g_mainUI;
    std::string settingsSum = SettingsCheckSum();
    bool sameSettings = !settingsSum.empty() && record[RECORD_SETTINGS_KEY] == settingsSum;
    LayoutRecord now;
    now[RECORD_SETTINGS_KEY] = settingsSum;
    ui->ShowForWork(false);
    ui->SetProgressRange(BAR_OVERALL, (UINT)plan.size() + 1);
    ui->SetProgressPos(BAR_OVERALL, 0);
    DWORD code = 0;
    size_t done = 0;
    for (const LayoutFile& file : plan)
    {
        wchar_t count[64];
        _snwprintf(count, 63, L"%u / %u", (unsigned)done + 1, (unsigned)plan.size());
        count[63] = 0;
        ui->SetItemText(IDC_STATUS_LOWER, count);
        ui->SetItemText(IDC_STATUS_UPPER, A2W(file.source.c_str()));
        ui->SetProgressPos(BAR_FILE, 0);
        std::string sum;
        if (!InPlace(file, record, sameSettings, sum))
            code = LayOutFile(file, sum);
        if (code != 0)
            break;
        now[RecordKey(file.source)] = sum;
        ui->SetProgressPos(BAR_OVERALL, (UINT)++done);
        ui->PumpMessages();
    }
    // What this run did not reach stays recorded while the settings are the same.
    if (sameSettings)
        for (const auto& entry : record)
            now.insert(entry);
    record = now;
    return code;
}

long RunLayout(SequenceLocals& locals)
{
    size_t count = 0;
    const PhaseRow* rows = GetPhaseTable(&count);
    RunPhases(rows, count < LAYOUT_PHASES ? count : LAYOUT_PHASES, locals);
    if (locals.rc != 0)
        return locals.rc;
    // Every failure of the layout tells the user itself.
    locals.stepKey = NULL;

    const char* folder = s_folder.c_str();
    const char* base = g_downloadManager->GetBaseUrl();
    char current[FW_PATH_SIZE] = "";
    bool sameAsSource = g_resource->IsLocal() && GetCurrentFolder(current) && IsSameFolder(current, folder);
    if (sameAsSource || !CreateFolderTree(folder) || !IsFolder(folder))
    {
        LogMessage(2, LOG_ERROR, "Layout: the folder '%hs' cannot hold the layout of '%hs'.\n", folder, base);
        TellFormatted(MESSAGE_ERROR, LABEL_LAYOUT_FOLDER, Formatted(LAYOUT_FOLDER_TEXT, folder).c_str(), folder);
        return RC_BAD_ARGUMENTS;
    }

    std::vector<LayoutFile> plan = PlanLayout(*g_resource);
    LogMessage(2, LOG_INFO, "Layout of %u files from '%hs' into '%hs'.\n", (unsigned)plan.size(), base, folder);
    LayoutRecord record = ReadRecord();
    DWORD code = LayOutFiles(plan, record);
    if (!WriteRecord(record))
        LogMessage(2, LOG_WARNING, "Layout: the record '%hs' could not be written.\n", LAYOUT_RECORD_FILE);
    if (code == 0)
    {
        code = FinishDistribution();
        if (code != 0)
            TellFormatted(MESSAGE_ERROR, LABEL_LAYOUT_FOLDER, Formatted(LAYOUT_FOLDER_TEXT, folder).c_str(), folder);
    }

    LogMessage(2, LOG_INFO, "Layout into '%hs' ended with '%lu'.\n", folder, code);
    g_mainUI->StepProgress(BAR_OVERALL, 1);
    if (code == 0)
        TellFormatted(MESSAGE_INFORMATION, LABEL_LAYOUT_COMPLETE, Formatted(LAYOUT_COMPLETE_TEXT, folder).c_str(),
                      folder);
    return (long)code;
}
