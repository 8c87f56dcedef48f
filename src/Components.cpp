#include "Components.h"

#include <stdio.h>
#include <string.h>

#include "AppObjects.h"
#include "CDownloadManager.h"
#include "CMainUI.h"
#include "CResource.h"
#include "CResourceIterator.h"
#include "CheckSum.h"
#include "FileUtil.h"
#include "FileVersion.h"
#include "Log.h"
#include "RunState.h"
#include "TextUtil.h"
#include "UserMessages.h"

static const DWORD COPY_RETRY_DELAY_MS = 1000;

// Bars of the progress window stepped per component.
static const UINT BAR_FILE = 0;
static const UINT BAR_COMPONENTS = 1;

static bool EndsWithNoCase(const char* text, const char* tail)
{
    const size_t length = strlen(text), tailLength = strlen(tail);
    return length >= tailLength && TextEqualNoCase(text + length - tailLength, tail);
}

static bool HasAnyMemberStateRule(const CComponent* component)
{
    for (unsigned i = 0; i < component->m_ruleCount; ++i)
        if (component->m_rules[i].kind == RULE_MS_ANY)
            return true;
    return false;
}

// Names of another language's folder. The filter looks only at names that
// begin with the member state's folder (or QvlData) followed by a two-letter
// language folder: a name whose first folder merely has the prefix's length
// (Reports\<MS>.txt) is no language folder and is installed for every language.
static bool BelongsToOtherLanguage(const char* name, const char* language)
{
    if (strstr(name, PLACEHOLDER_LANG) != NULL)
        return false;
    char prefix[FW_PATH_SIZE];
    const char* folder = NULL;
    if (strstr(name, PLACEHOLDER_MS) != NULL)
    {
        folder = "<MS>\\";
        _snprintf(prefix, sizeof(prefix), "%s\\%s\\", PLACEHOLDER_MS, language);
    }
    else if (TextEqualNoCase(name, "QVLDATA\\", 8))
    {
        folder = "QVLDATA\\";
        _snprintf(prefix, sizeof(prefix), "QvlData\\%s\\", language);
    }
    else
    {
        return false;
    }
    prefix[sizeof(prefix) - 1] = 0;
    const size_t n = strlen(prefix);
    return strlen(name) >= n && name[n - 1] == '\\' && TextEqualNoCase(name, folder, strlen(folder)) &&
           !TextEqualNoCase(name, prefix, n);
}

// The names of a settings file are relative to the target folder. One that
// is rooted, names a drive or a stream, or climbs out with ".." would write
// (and replace) files anywhere the setup may write: refused, with the
// component's name in the log. A folder of dots and blanks only counts as a
// climb too, since Windows drops trailing dots and blanks of a folder name.
static bool StaysInside(const char* name, const char* relative)
{
    bool inside = relative[0] != 0 && relative[0] != '\\' && relative[0] != '/' && strchr(relative, ':') == NULL;
    for (const char* part = relative; inside && *part != 0;)
    {
        const char* end = part + strcspn(part, "\\/");
        const size_t length = end - part;
        inside = length == 0 || strspn(part, ". ") < length || (length == 1 && part[0] == '.');
        part = *end != 0 ? end + 1 : end;
    }
    if (!inside)
        LogMessage(2, LOG_ERROR, "Component '%hs': '%hs' is not a path below the installation folder, refused.\n",
                   name, relative);
    return inside;
}

// Waits while the window stays alive.
static void WaitPumping(DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds)
    {
        if (g_mainUI != NULL)
            g_mainUI->PumpMessages();
        Sleep(20);
    }
}

static bool CopyIntoPlace(const char* source, const char* targetDir, const char* target, bool& cancelled)
{
    return CopyFileCreatingFolders(source, targetDir, target, CopyProgress, &cancelled);
}

static C_String Substituted(const char* name, const char* language, const char* memberState)
{
    C_String text(name);
    text.Replace(PLACEHOLDER_LANG, language, 1);
    if (memberState != NULL)
        text.Replace(PLACEHOLDER_MS, memberState, 1);
    return text;
}

static C_String ExpectedCheckSum(const C_String& source, const C_String& packedName, const char* language,
                                 const char* memberState)
{
    C_String candidates[3] = {source, Substituted(packedName.GetNarrowTemp(), language, NULL),
                              Substituted(packedName.GetNarrowTemp(), language, memberState)};
    for (C_String& key : candidates)
    {
        const char* value = g_resource != NULL ? g_resource->GetCheckSum(key.GetNarrow()) : NULL;
        if (value != NULL && value[0] != 0)
            return C_String(value);
    }
    return C_String("");
}

bool InstallComponents(DWORD& result, const char* memberState, const char* language, const char* targetDir,
                       int sectionIndex)
{
    LogMessage(3, LOG_INFO, "--- Install components MS='%hs' LANG='%hs' SECTION='%d'.\n", memberState, language,
               sectionIndex);
    result = COMPONENTS_OK;
    if (g_resource == NULL)
        return false;
    CResourceIterator iterator(g_resource, sectionIndex);
    CComponent* component = iterator.Next();
    while (result == COMPONENTS_OK && component != NULL)
    {
        if (component->m_name.GetNarrowTemp()[0] == '#')
        {
            delete component;
            component = iterator.Next();
            continue;
        }
        bool goOn = InstallComponent(result, memberState, language, component, targetDir);
        if (result == COMPONENTS_CANCELLED ||
            (g_downloadManager != NULL && g_downloadManager->Transfer().CancelRequested()))
        {
            const bool confirmed =
                g_mainUI == NULL || Ask(LABEL_CONFIRM_CANCEL);
            if (confirmed)
            {
                result = COMPONENTS_CANCELLED;
            }
            else
            {
                // A component whose own step was cancelled is tried again.
                if (result != COMPONENTS_CANCELLED)
                {
                    delete component;
                    component = iterator.Next();
                }
                result = COMPONENTS_OK;
                if (g_downloadManager != NULL)
                    g_downloadManager->Transfer().ClearCancel();
                continue;
            }
        }
        else
        {
            delete component;
            component = iterator.Next();
        }
        if (!goOn)
            break;
    }
    delete component;
    return result == COMPONENTS_OK;
}

static C_String StagingName(const char* memberState)
{
    char stagingName[FW_PATH_SIZE];
    _snprintf(stagingName, sizeof(stagingName), STAGING_NAME_FORMAT, memberState);
    stagingName[sizeof(stagingName) - 1] = 0;
    return C_String(stagingName);
}

// The rules, in the order of the line: Source and Multi set where the file
// comes from and lands, Extension its packing; an existence test whose Then
// or Else skips ends the walk with plan.why set.
static void ApplyRules(const CComponent& component, const char* name, const char* memberState,
                       const char* language, C_String& sourcePath, C_String& targetPath, C_String& extension,
                       ComponentPlan& plan)
{
    bool tested = false, outcome = false;
    for (unsigned i = 0; i < component.m_ruleCount; ++i)
    {
        const ComponentRule& rule = component.m_rules[i];
        C_String valueText(rule.value);
        const char* value = valueText.GetNarrow();
        switch (rule.kind)
        {
        case RULE_EXTENSION:
            extension = value;
            break;
        case RULE_SOURCE:
        case RULE_MULTI:
        {
            if (rule.kind == RULE_SOURCE)
                sourcePath = value;
            // The file keeps its place in the name's folder and takes the
            // source's file name: the distribution's layout does not decide
            // where it is installed.
            const char* filePart = FileNamePart(sourcePath.GetNarrowTemp());
            char parent[FW_PATH_SIZE];
            if (filePart != NULL && ParentFolder(name, parent))
            {
                targetPath = parent;
                targetPath += "\\";
                targetPath += filePart;
            }
            else
            {
                targetPath = sourcePath;
            }
            break;
        }
        case RULE_IF_EXISTS:
        case RULE_IF_NOT_EXISTS:
        {
            C_String where;
            const bool exists = FindInstalledFile(rule.value, memberState, language, C_String(""), where);
            if (exists)
                plan.condition = where;
            tested = true;
            outcome = rule.kind == RULE_IF_EXISTS ? exists : !exists;
            break;
        }
        case RULE_THEN:
        case RULE_ELSE:
            if (tested && outcome == (rule.kind == RULE_THEN) && TextEqualNoCase(value, SETTING_SKIP_VALUE))
            {
                plan.action = COMPONENT_SKIP;
                plan.why = rule.kind == RULE_THEN ? SKIP_THEN : SKIP_ELSE;
                return;
            }
            break;
        default:
            break;
        }
    }
}

// A good copy already at target stays. One whose checksum cannot be computed
// (a read that fails) is no good copy: it is obtained again.
static bool GoodCopyInPlace(const char* targetDir, const C_String& target, const C_String& expected)
{
    if (!FileExistsIn(targetDir, target.GetNarrowTemp()))
        return false;
    if (expected.IsEmpty())
        return true;
    char fullTarget[FW_PATH_SIZE * 2];
    _snprintf(fullTarget, sizeof(fullTarget), "%s\\%s", targetDir, target.GetNarrowTemp());
    fullTarget[sizeof(fullTarget) - 1] = 0;
    // A file this run has already checked (a data file both languages share)
    // is not read again while it stays the file it was.
    char computed[CHECKSUM_TEXT_SIZE] = "";
    if (!CheckSum::OfFile(fullTarget, computed))
        LogMessage(3, LOG_INFO, "'%hs' check sum cannot be computed. Need to obtain the file again.\n",
                   target.GetNarrowTemp());
    else if (TextEqualNoCase(computed, expected.GetNarrowTemp()))
        return true;
    else
        LogMessage(3, LOG_INFO, "'%hs' check sum mismatch. Need to obtain the file again.\n",
                   target.GetNarrowTemp());
    return false;
}

ComponentPlan PlanComponent(const CComponent& component, const char* memberState, const char* language,
                            const char* targetDir, bool reuse)
{
    ComponentPlan plan;
    C_String nameText(component.m_name);
    const char* name = nameText.GetNarrow();
    C_String stagingName = StagingName(memberState);
    const char* staging = stagingName.GetNarrow();

    if (BelongsToOtherLanguage(name, language))
    {
        plan.action = COMPONENT_SKIP;
        plan.why = SKIP_OTHER_LANGUAGE;
        return plan;
    }
    if (!StaysInside(name, Substituted(name, language, staging).GetNarrow()))
    {
        plan.action = COMPONENT_REFUSE;
        return plan;
    }

    // An up-to-date copy in the earlier installation is copied, not obtained.
    if (reuse && FindInstalledFile(component.m_name, HasAnyMemberStateRule(&component) ? NULL : memberState,
                                   language, component.m_value, plan.source))
    {
        plan.action = COMPONENT_REUSE;
        plan.target = Substituted(name, language, staging);
        return plan;
    }

    C_String sourcePath(""), targetPath(""), extension("");
    ApplyRules(component, name, memberState, language, sourcePath, targetPath, extension, plan);
    if (plan.action == COMPONENT_SKIP)
        return plan;

    const char* ext = extension.GetNarrow();
    plan.source = sourcePath.IsEmpty() ? name : sourcePath.GetNarrow();
    AddPackedExtension(plan.source, ext);
    plan.source = Substituted(plan.source.GetNarrow(), language, RunState.dotNetEdition ? staging : memberState);
    plan.target = targetPath.IsEmpty() ? name : targetPath.GetNarrow();
    AddPackedExtension(plan.target, ext);
    plan.target = Substituted(plan.target.GetNarrow(), language, staging);
    if (!StaysInside(name, plan.target.GetNarrow()))
    {
        plan.action = COMPONENT_REFUSE;
        return plan;
    }
    C_String packedName(name);
    AddPackedExtension(packedName, ext);
    plan.checkSum = ExpectedCheckSum(plan.source, packedName, language, memberState);
    plan.action = GoodCopyInPlace(targetDir, plan.target, plan.checkSum) ? COMPONENT_KEEP : COMPONENT_OBTAIN;
    return plan;
}

// Obtains the plan's source, copies it to its target (once more after a
// second when the copy fails) and verifies the copy's checksum.
static bool ObtainCopyAndVerify(DWORD& result, ComponentPlan& plan, const char* targetDir)
{
    if (g_downloadManager != NULL && g_downloadManager->Transfer().CancelRequested())
    {
        result = COMPONENTS_CANCELLED;
        return false;
    }
    char localPath[DOWNLOAD_PATH_SIZE] = "";
    result = ObtainSourceFile(plan.source.GetNarrow(), localPath);
    if (result == COMPONENTS_CANCELLED)
        return false;
    if (result != COMPONENTS_OK)
    {
        result = COMPONENTS_NOT_OBTAINED;
        return false;
    }

    const char* target = plan.target.GetNarrow();
    bool cancelled = false;
    bool copied = CopyIntoPlace(localPath, targetDir, target, cancelled);
    if (!copied && !cancelled)
    {
        LogMessage(2, LOG_WARNING, "*RETRY* copying '%hs' '%hs' '%hs' (in 1sec)\n", localPath, targetDir, target);
        WaitPumping(COPY_RETRY_DELAY_MS);
        copied = CopyIntoPlace(localPath, targetDir, target, cancelled);
    }
    if (!copied)
    {
        LogMessage(2, LOG_WARNING, "Could not copy '%hs' '%hs' '%hs'\n", localPath, targetDir, target);
        result = cancelled ? COMPONENTS_CANCELLED : COMPONENTS_COPY_FAILED;
        return false;
    }

    if (!plan.checkSum.IsEmpty())
    {
        char fullTarget[FW_PATH_SIZE * 2];
        _snprintf(fullTarget, sizeof(fullTarget), "%s\\%s", targetDir, target);
        fullTarget[sizeof(fullTarget) - 1] = 0;
        // The copy's checksum was taken as its bytes were written; a file
        // changed since is read again and judged by what it now holds.
        char computed[CHECKSUM_TEXT_SIZE] = "";
        const bool computedOk = CheckSum::OfFile(fullTarget, computed);
        if (!computedOk || !TextEqualNoCase(computed, plan.checkSum.GetNarrow()))
        {
            LogMessage(3, LOG_INFO, "'%hs' check sum mismatch (%hs).\n", fullTarget, computedOk ? computed : "");
            result = COMPONENTS_BAD_CHECKSUM;
            return false;
        }
    }
    LogMessage(3, LOG_INFO, "\tCopied '%hs' to '%hs'\n", localPath, target);
    result = COMPONENTS_OK;
    return true;
}

bool InstallComponent(DWORD& result, const char* memberState, const char* language, CComponent* component,
                      const char* targetDir)
{
    result = COMPONENTS_OK;
    if (g_mainUI != NULL)
    {
        g_mainUI->StepProgress(BAR_COMPONENTS, 1);
        g_mainUI->SetProgressPos(BAR_FILE, 0);
    }
    ComponentPlan plan = PlanComponent(*component, memberState, language, targetDir);
    if (plan.action == COMPONENT_REUSE)
    {
        const char* found = plan.source.GetNarrow();
        const char* target = plan.target.GetNarrow();
        bool cancelled = false;
        if (CopyIntoPlace(found, targetDir, target, cancelled))
        {
            LogMessage(3, LOG_INFO, "\tCopied '%hs' to '%hs'\n", found, target);
            return true;
        }
        LogMessage(2, LOG_WARNING, "Could not copy '%hs' '%hs' '%hs'\n", found, targetDir, target);
        if (cancelled)
        {
            result = COMPONENTS_CANCELLED;
            return false;
        }
        plan = PlanComponent(*component, memberState, language, targetDir, false);
    }

    const char* name = component->m_name.GetNarrow();
    switch (plan.action)
    {
    case COMPONENT_SKIP:
        if (plan.why == SKIP_THEN)
            LogMessage(2, LOG_INFO, "[Non] Existence condition on '%hs' met. THEN skip rule '%hs'\n",
                       plan.condition.GetNarrow(), name);
        else if (plan.why == SKIP_ELSE)
            LogMessage(2, LOG_INFO, "[Non] Existence condition on '%hs' *NOT* met. ELSE skip rule '%hs'\n",
                       plan.condition.GetNarrow(), name);
        return true;
    case COMPONENT_REFUSE:
        result = COMPONENTS_BAD_PATH;
        return false;
    case COMPONENT_KEEP:
        return true;
    default:
        return ObtainCopyAndVerify(result, plan, targetDir);
    }
}

void AddPackedExtension(C_String& name, const char* extension)
{
    const char* text = name.GetNarrow();
    if (EndsWithNoCase(text, ".zip") || EndsWithNoCase(text, ".zsi") || EndsWithNoCase(text, ".pdf"))
        return;
    if (RunState.dotNetEdition)
    {
        C_String upper(text);
        TextUpper(upper.NarrowBuffer());
        const char* kept[] = {"COPYRIGHT.RTF", "COPYRIGHT.GIF", "COLOR.INI"};
        for (const char* k : kept)
            if (strstr(upper.GetNarrowTemp(), k) != NULL)
                return;
    }
    if (extension != NULL && extension[0] != 0)
    {
        if (EndsWithNoCase(text, extension))
            name += extension;
        return;
    }
    name += EndsWithNoCase(text, ".mdb") && !RunState.dotNetEdition ? ".zsi" : ".zip";
}

bool FindInstalledFile(const C_String& path, const char* memberState, const char* language,
                       const C_String& expected, C_String& found)
{
    const char* relative = path.GetNarrowTemp();
    if (relative[0] == 0)
        return false;
    if (memberState == NULL)
    {
        const char* filePart = FileNamePart(relative);
        if (filePart != NULL)
            relative = filePart;
    }
    char combined[FW_PATH_SIZE];
    if (!CombineSourcePath(RunState.targetDir.GetNarrowTemp(), relative, combined))
        return false;
    C_String where = Substituted(combined, language, memberState);

    char out[FW_PATH_SIZE] = "";
    bool answer = false;
    FileVersionQuery query;
    const char* value = expected.GetNarrowTemp();
    if (value[0] == 0)
    {
        answer = FindFilesByPath(where.GetNarrow(), true, NULL, NULL, out);
    }
    else
    {
        query.keepSearching = true;
        strncpy(query.expected, value, VERSION_EXPECTED_SIZE - 1);
        const char* file = where.GetNarrowTemp();
        if (TextEqualNoCase(value, "V") || TextEqualNoCase(value, "V+") || TextEqualNoCase(value, "Any"))
        {
            query.method = VERSION_BY_EXISTENCE;
        }
        else
        {
            query.method = VERSION_BY_CHECKSUM;
            if (EndsWithNoCase(file, ".exe") || EndsWithNoCase(file, ".dll"))
                query.method = VERSION_BY_FILE_VERSION;
            else if (EndsWithNoCase(file, ".mdb"))
                query.method = VERSION_BY_MARKER;
            if (strchr(value, '/') != NULL)
                query.method = VERSION_BY_DATE;
            if ((query.method == VERSION_BY_FILE_VERSION || query.method == VERSION_BY_MARKER) &&
                strchr(value, 'V') == NULL)
            {
                LogMessage(2, LOG_INFO, "Override to checkSum lookup %hs on %hs", file, value);
                query.method = VERSION_BY_CHECKSUM;
            }
        }
        const bool descend = !(RunState.dotNetEdition && TextEqualNoCase(relative, "zaph.exe"));
        answer = FindFilesByPath(file, descend, CheckFileVersionOf, &query, out);
        if (query.found)
        {
            answer = true;
            strcpy(out, query.path);
        }
    }
    if (answer)
    {
        found = out;
        LogMessage(3, LOG_INFO, "File '%hs' version '%hs' found '%hs' ( %hs )\n", path.GetNarrowTemp(), value, out,
                   query.value);
    }
    return answer;
}
