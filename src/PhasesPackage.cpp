// The product package and what follows it: whether the package must run at
// all, the package itself, where the product lives afterwards, the finish of
// a client, and the move of an earlier installation into the folder the
// package chose, with the registry and the installer's key paths following it.
#include "Phases.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "AppObjects.h"
#include "CMSI.h"
#include "CMainUI.h"
#include "CResource.h"
#include "FileUtil.h"
#include "FileVersion.h"
#include "Log.h"
#include "Migration.h"
#include "PreviousInstallation.h"
#include "ProductPackage.h"
#include "Registry.h"
#include "RunState.h"
#include "Shortcuts.h"
#include "TextUtil.h"
#include "UserMessages.h"
#include "WideAPI.h"
#include "resource.h"


static const char* const SETUP_TYPE_SERVER = "Server";
static const char* const DOTNET_REFUSED_VALUE = "Yes";
// The subfolder the product takes inside a folder that holds something else,
// when DefaultTargetDir names none.
static const char* const FALLBACK_SUBFOLDER = "ZAPH_QVL";
static const char* const PACKAGE_MAIN_PROGRAM = "Zaph.exe";
static const char* const PACKAGE_BIN_FOLDER = "Bin";
static const wchar_t* const RELOCATION_STATUS = L".... ... .. .";
static const wchar_t* const HARD_BYPASS_TEXT = L"HARD Bypass of SYS_LN installation!";
// The libraries whose presence in the target's bin folder shows a complete
// earlier installation.
static const char* const EVIDENCE_LIBRARIES[] = {"%s\\bin\\dunzip32.dll", "%s\\bin\\dzip32.dll",
                                                 "%s\\bin\\VBC.dll"};
static const int FULL_EVIDENCE = 4;

void RelocationLocals::Reset()
{
    oldDir.Clear();
    newDir.Clear();
    setupType.Clear();
    dirMoved = registryUpdateNeeded = subdirAppended = newDirWasEmpty = false;
}

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

static bool ReadProductValue(const char* name, std::string& out)
{
    C_String value;
    out.clear();
    if (!ReadRegistryString(ProductRegistryRoot, ProductRegistryKey, name, value))
        return false;
    out = value.GetNarrow();
    return true;
}

static std::string WithoutTrailingBackslashes(std::string path)
{
    while (!path.empty() && path[path.size() - 1] == '\\')
        path.erase(path.size() - 1);
    return path;
}

static std::string Narrow(C_String& text)
{
    return std::string(text.GetNarrow());
}

// A label formatted with two folders, kept beyond the next look-up.
static void ShowFolderMessage(bool isError, const wchar_t* label, const std::string& first,
                              const std::string& second)
{
    TellFormatted(isError ? MESSAGE_ERROR : MESSAGE_WARNING, label, NULL, first.c_str(), second.c_str());
}

static void ShowInUse()
{
    Tell(MESSAGE_ERROR, LABEL_IN_USE);
}

// The in-use test looks at RunState.targetDir; here it must look at the
// folder about to be moved, whatever the registry says the target is now.
static bool IsProductInUseAt(const std::string& folder)
{
    C_String saved = RunState.targetDir;
    RunState.targetDir = folder.c_str();
    bool inUse = IsProductInUse();
    RunState.targetDir = saved;
    return inUse;
}

// The installer's records of the key files and InstallPath follow the
// product into newDir.
static void UpdateRegistryForNewDir(SequenceLocals& locals)
{
    C_String& newDir = locals.relocation.newDir;
    for (int i = 0; i < KEY_PATH_FILE_COUNT; ++i)
        UpdateComponentKeyPath(newDir, KEY_PATH_FILES[i].packedComponent, KEY_PATH_FILES[i].relativePath);

    std::string value = Narrow(newDir) + "\\";
    if (WriteRegistryString(ProductRegistryRoot, ProductRegistryKey, PRODUCT_VALUE_INSTALL_PATH, value.c_str()))
        LogMessage(2, LOG_INFO, "Updated %hs with %hs\n", ProductRegistryKey, value.c_str());
    else
        LogMessage(2, LOG_WARNING, "Could not update %hs with %hs\n", ProductRegistryKey, value.c_str());
}

// Through the file's listing entry: Windows 95 has no GetFileAttributesEx.
static bool LastWriteTime(const char* path, FILETIME& time)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(path, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    FindClose(find);
    time = entry.ftLastWriteTime;
    return true;
}

// The kinds of file a package installs as program code. Databases, settings
// and everything else are the installation's data, which the package never
// brings newer than the copy in use.
static const char* const PROGRAM_EXTENSIONS[] = {".exe", ".dll", ".ocx", ".tlb", ".chm", ".hlp"};

static bool IsProgramCode(const char* relativePath)
{
    const char* dot = strrchr(relativePath, '.');
    if (dot == NULL || strchr(dot, '\\') != NULL)
        return false;
    for (size_t i = 0; i < sizeof(PROGRAM_EXTENSIONS) / sizeof(PROGRAM_EXTENSIONS[0]); ++i)
        if (TextEqualNoCase(dot, PROGRAM_EXTENSIONS[i]))
            return true;
    return false;
}

// Whether a file the package's folder holds already stays when the earlier
// installation is copied over it. The package's own files stay: the key files
// whose records follow the product, and program code newer than the earlier
// release's (the installer gives a file the time it has in the package). Any
// other file is not the package's (a leftover of an abandoned installation,
// a database or settings file, whatever its date): the earlier installation's
// copy, the one in use, replaces it, since the earlier folder is deleted
// afterwards.
static bool IsPackageFile(const char* relativePath, const char* source, const char* target, void*)
{
    for (int i = 0; i < KEY_PATH_FILE_COUNT; ++i)
        if (TextEqualNoCase(relativePath, KEY_PATH_FILES[i].relativePath))
        {
            LogMessage(3, LOG_INFO, "'%hs' kept: the package installed it.\n", target);
            return true;
        }
    FILETIME sourceTime, targetTime;
    if (IsProgramCode(relativePath) && LastWriteTime(source, sourceTime) && LastWriteTime(target, targetTime) &&
        CompareFileTime(&targetTime, &sourceTime) > 0)
    {
        LogMessage(3, LOG_INFO, "'%hs' kept: newer than '%hs'.\n", target, source);
        return true;
    }
    return false;
}

// A refused or failed move: the product is registered at the old folder again.
// The move deletes nothing before its copy is complete, so the old folder is
// whole; nothing is copied back from the new one, which may hold files that
// were never the old installation's.
static void FailRelocation(SequenceLocals& locals, long rc)
{
    locals.rc = rc;
    RestorePreviousLocation(locals.relocation.oldDir.GetNarrow());
}

// ---------------------------------------------------------------------------
// The phases
// ---------------------------------------------------------------------------

void PhaseProductPackageSkip(SequenceLocals& locals)
{
    const char* setting = g_resource->GetSetting(SETTING_SYSLN_VERSION, true);
    bool haveVersion = setting != NULL;
    std::string packageVersion = setting ? setting : "";

    std::string installPath;
    int evidence = ReadProductValue(PRODUCT_VALUE_INSTALL_PATH, installPath) && !installPath.empty() ? 1 : 0;

    if (RunState.dotNetEdition)
    {
        LogMessage(2, LOG_INFO, "Upgrading to ZAPH.NET");
        LogMessage(2, LOG_INFO, "We will *not* skip SYS_LN step.\n");
        return;
    }

    const std::string target = Narrow(RunState.targetDir);
    for (size_t i = 0; i < sizeof(EVIDENCE_LIBRARIES) / sizeof(EVIDENCE_LIBRARIES[0]); ++i)
    {
        char path[FW_PATH_SIZE];
        int length = _snprintf(path, sizeof(path), EVIDENCE_LIBRARIES[i], target.c_str());
        if (length > 0 && length < (int)sizeof(path) && FileExists(path))
            ++evidence;
    }
    if (evidence != FULL_EVIDENCE || !haveVersion)
        return;

    LogMessage(2, LOG_INFO, "Real upgrade. Checking MSI skip.\n");
    // A version that does not fit is no version: the package then runs.
    char wanted[VERSION_LABEL_SIZE];
    wanted[0] = 0;
    if (packageVersion.size() < sizeof(wanted))
        strcpy(wanted, packageVersion.c_str());
    LogMessage(2, LOG_INFO, "INIFILE variable '%S' = '%hs'\n", SETTING_SYSLN_VERSION, wanted);

    C_String version, productCode;
    if (!FindProductCode(version, productCode, "QRT"))
        return;
    std::string installed = std::string("V") + version.GetNarrow();
    int order = CompareVersions(installed.c_str(), wanted);
    if (order == VERSION_B_LOWER || order == VERSION_EQUAL)
    {
        LogMessage(2, LOG_INFO, "Installed version is higher/equal. We will skip SYS_LN step!\n");
        locals.skipProductPackage = true;
    }
    else
    {
        LogMessage(2, LOG_INFO, "Installed version is lower. We will *not* skip SYS_LN step.\n");
    }
}

void PhaseSetupTypeAndProtection(SequenceLocals& locals)
{
    RelocationLocals& reloc = locals.relocation;
    std::string setupType;
    if (ReadProductValue(PRODUCT_VALUE_SETUP_TYPE, setupType))
    {
        LogMessage(2, LOG_INFO, "[1] Client or server = '%hs'.\n", setupType.c_str());
        if (TextEqualNoCase(setupType.c_str(), SETUP_TYPE_CLIENT))
        {
            LogMessage(2, LOG_INFO, "Client installation!");
            locals.isClient = true;
        }
    }

    reloc.oldDir.Clear();
    if (locals.previousFound)
    {
        reloc.oldDir = RunState.targetDir;
        if (locals.isVista)
            CheckProtectedDirectory();
    }
}

void PhaseProductPackage(SequenceLocals& locals)
{
    const char* install = g_resource->GetSetting(SETTING_INSTALL_SYSLN, true);
    if (install != NULL && TextEqualNoCase(install, SETTING_SKIP_VALUE))
    {
        TellText(MESSAGE_ERROR, HARD_BYPASS_TEXT);
        return;
    }
    if (locals.skipProductPackage)
    {
        LogMessage(2, LOG_INFO,
                   "Skip of install SYS_LN due to lack of Admin privileges, Multi-MS mode or not necessary.\n");
        return;
    }
    DWORD result = 0;
    if (!InstallProductPackage(result, locals.isClient))
        locals.rc = (long)result;
}

void PhaseTargetAfterInstallation(SequenceLocals& locals)
{
    locals.stepKey = LABEL_POST_INSTALL_CHECK;

    std::string installPath;
    std::string target;
    if (ReadProductValue(PRODUCT_VALUE_INSTALL_PATH, installPath) && !installPath.empty())
    {
        target = WithoutTrailingBackslashes(installPath);
        std::string given = Narrow(RunState.targetDir);
        // A folder from the command line that the installation check found
        // unusable is gone from the run: the package's folder stands then.
        if (RunState.targetGiven && !given.empty() && !IsSameFolder(target.c_str(), given.c_str()))
        {
            LogMessage(2, LOG_WARNING, "'%hs' from registry does not match '%hs' from command line\n",
                       target.c_str(), given.c_str());
            LogMessage(2, LOG_WARNING, "We'll use the command line value\n");
            target = given;
        }
    }
    else
    {
        LogMessage(2, LOG_ERROR, "ZAPH registry key '%hs\\%hs' after installation is missing.\n",
                   ProductRegistryKey, PRODUCT_VALUE_INSTALL_PATH);
        locals.rc = RC_NOT_REGISTRY_FILE;
        // A command-line folder the installation check dropped cannot stand
        // in: without any folder there is nothing to install into.
        if (!RunState.targetGiven || RunState.targetDir.IsEmpty())
            return;
        target = Narrow(RunState.targetDir);
        LogMessage(2, LOG_WARNING, "We'll use the TargetDir '%hs' from the command line to recover.\n",
                   target.c_str());
        locals.rc = 0;
    }

    target = WithoutTrailingBackslashes(target);
    RunState.targetDir = target.c_str();
    LogMessage(2, LOG_INFO, "Target directory after install = '%hs'\n", target.c_str());
}

// The folder inside a foreign folder that the product takes: the last part of
// DefaultTargetDir, or the fallback when that names none.
static std::string SubfolderName()
{
    std::string defaultDir = Narrow(RunState.defaultTargetDir);
    size_t slash = defaultDir.rfind('\\');
    if (slash == std::string::npos || slash + 1 == defaultDir.size())
        return FALLBACK_SUBFOLDER;
    return defaultDir.substr(slash + 1);
}

void PhaseDirectoryChange(SequenceLocals& locals)
{
    RelocationLocals& reloc = locals.relocation;
    reloc.dirMoved = reloc.registryUpdateNeeded = reloc.subdirAppended = reloc.newDirWasEmpty = false;

    const char* intended = g_msi != NULL ? g_msi->GetIntendedPath() : "";
    if (!reloc.oldDir.IsEmpty() && intended[0] != 0)
    {
        std::string oldDir = Narrow(reloc.oldDir);
        std::string newDir = WithoutTrailingBackslashes(intended);
        // Two spellings of one folder are no move: the move would delete the
        // folder it had just "copied" into.
        if (IsSameFolder(newDir.c_str(), oldDir.c_str()))
        {
            LogMessage(2, LOG_INFO, "Target directory %hs *not* changed\n", newDir.c_str());
        }
        else
        {
            LogMessage(2, LOG_WARNING, "Target directory *has* changed from %hs to %hs\n", oldDir.c_str(),
                       newDir.c_str());
            reloc.dirMoved = true;
        }

        std::string registered;
        ReadProductValue(PRODUCT_VALUE_INSTALL_PATH, registered);
        registered = WithoutTrailingBackslashes(registered);
        if (TextEqualNoCase(registered.c_str(), newDir.c_str()))
        {
            LogMessage(2, LOG_INFO, "Registry value '%hs' is up-to-date.\n", registered.c_str());
        }
        else
        {
            reloc.registryUpdateNeeded = true;
            LogMessage(2, LOG_WARNING, "Registry value information with '%hs' must be updated with '%hs'.\n",
                       registered.c_str(), newDir.c_str());
        }

        reloc.newDirWasEmpty = IsEffectivelyEmpty(newDir.c_str());

        // A client's files stay where the package put them (no data and no
        // Bin folder move into a subfolder for a client): a subfolder would
        // leave InstallPath, the key paths and the shortcuts naming a folder
        // that holds nothing.
        std::string setupType;
        bool client = ReadProductValue(PRODUCT_VALUE_SETUP_TYPE, setupType) &&
                      TextEqualNoCase(setupType.c_str(), SETUP_TYPE_CLIENT);
        bool foreign = reloc.dirMoved && IsForeignDirectory(newDir.c_str());
        if (foreign && client)
        {
            LogMessage(2, LOG_INFO, "Client: ZAPH stays in %hs.\n", newDir.c_str());
        }
        else if (foreign)
        {
            newDir = WithoutTrailingBackslashes(newDir + "\\" + SubfolderName());
            reloc.registryUpdateNeeded = true;
            reloc.subdirAppended = true;
            LogMessage(2, LOG_WARNING, "Registry value information with '%hs' must be updated with '%hs'.\n",
                       registered.c_str(), newDir.c_str());
        }
        reloc.newDir = newDir.c_str();
    }

    locals.isClient = false;
    std::string setupType;
    if (ReadProductValue(PRODUCT_VALUE_SETUP_TYPE, setupType) && !setupType.empty())
    {
        LogMessage(2, LOG_INFO, "[2] Client or server = '%hs'.\n", setupType.c_str());
    }
    else
    {
        LogMessage(2, LOG_ERROR, "ZAPH registry key '%hs\\%hs' after installation is missing.\n",
                   ProductRegistryKey, PRODUCT_VALUE_SETUP_TYPE);
        LogMessage(2, LOG_WARNING, "Let's assume it's normal installation.\n");
        setupType = SETUP_TYPE_SERVER;
        locals.rc = 0;
    }
    reloc.setupType = setupType.c_str();
}

bool IsClientSetup(const SequenceLocals& locals)
{
    return TextEqualNoCase(locals.relocation.setupType.GetNarrowTemp(), SETUP_TYPE_CLIENT);
}

void PhaseClientFinish(SequenceLocals& locals)
{
    RelocationLocals& reloc = locals.relocation;
    LogMessage(2, LOG_INFO, "Client installation requested. Finito!.\n");
    locals.rc = 0;
    locals.isClient = true;

    if (RunState.dotNetEdition && !CheckClientServerOrder())
    {
        WriteRegistryString(ProductRegistryRoot, ProductRegistryKey, PRODUCT_VALUE_DOTNET, DOTNET_REFUSED_VALUE);
        locals.rc = RC_CANCELLED;
    }
    // A client holds no data: it only follows the package's folder.
    if (reloc.dirMoved)
        RunState.targetDir = reloc.newDir;
    if (reloc.registryUpdateNeeded)
        UpdateRegistryForNewDir(locals);
    CreateProductShortcuts(RunState.targetDir.GetNarrow(), true);
    locals.endPhases = true;
}

void PhaseFilesInUseAfterInstallation(SequenceLocals& locals)
{
    if (!IsProductInUse())
        return;
    ShowInUse();
    locals.rc = RC_PATH_BUSY;
}

void PhaseRelocation(SequenceLocals& locals)
{
    RelocationLocals& reloc = locals.relocation;
    const std::string oldDir = Narrow(reloc.oldDir);
    const std::string newDir = Narrow(reloc.newDir);
    g_mainUI->SetItemText(IDC_STATUS_UPPER, RELOCATION_STATUS);

    // Either inside the other: the copy would copy into itself, or the delete
    // would take the copy with it.
    if (IsFolderWithin(oldDir.c_str(), newDir.c_str()) || IsFolderWithin(newDir.c_str(), oldDir.c_str()))
    {
        ShowFolderMessage(true, LABEL_CANNOT_MOVE_SUB, oldDir, newDir);
        FailRelocation(locals, RC_DIRECTORY);
        return;
    }
    if (IsProductInUseAt(oldDir))
    {
        ShowInUse();
        // The user had the box to close the product.
        if (IsProductInUseAt(oldDir))
        {
            ShowInUse();
            FailRelocation(locals, RC_PATH_BUSY);
            return;
        }
    }
    if (!MayMoveDirectory(oldDir.c_str(), newDir.c_str()))
    {
        ShowFolderMessage(true, LABEL_CANNOT_MOVE, oldDir, newDir);
        FailRelocation(locals, RC_CANNOT_COPY);
        return;
    }

    LogMessage(2, LOG_INFO, "Copying %hs to %hs ...\n", oldDir.c_str(), newDir.c_str());
    DWORD copyError = 0;
    if (!CopyFolderTree(oldDir.c_str(), newDir.c_str(), IsPackageFile, NULL, &copyError))
    {
        long error = (long)copyError;
        ShowFolderMessage(true, LABEL_CANNOT_COPY, oldDir, newDir);
        LogMessage(2, LOG_ERROR, "Could not copy %hs to %hs [%ld]\n", oldDir.c_str(), newDir.c_str(), error);
        if (reloc.newDirWasEmpty)
        {
            if (DeleteFolderTree(newDir.c_str()))
                LogMessage(2, LOG_INFO, "Cleanup after failure. Deleted %hs\n", newDir.c_str());
            else
                LogMessage(2, LOG_WARNING, "Cleanup after failure. Could not delete %hs (DIY)\n", newDir.c_str());
        }
        else
        {
            LogMessage(2, LOG_INFO, "*DO NOT* cleanup after failure as not initially empty. %hs\n", newDir.c_str());
        }
        FailRelocation(locals, RC_CANNOT_COPY);
        return;
    }

    LogMessage(2, LOG_INFO, "Deleting %hs ...\n", oldDir.c_str());
    if (DeleteFolderTree(oldDir.c_str()))
        LogMessage(2, LOG_INFO, "OK. Deleted %hs\n", oldDir.c_str());
    else
        LogMessage(2, LOG_WARNING, "Could not delete %hs (DIY)\n", oldDir.c_str());
    RunState.targetDir = newDir.c_str();

    if (reloc.subdirAppended)
    {
        // The package put its Bin folder and main program beside the foreign
        // files; they belong in the product's own subfolder.
        char parent[FW_PATH_SIZE];
        if (ParentFolder(newDir.c_str(), parent))
        {
            std::string bin = std::string(parent) + "\\" + PACKAGE_BIN_FOLDER;
            if (MoveFolder(bin.c_str(), newDir.c_str()))
                LogMessage(2, LOG_INFO, "OK. Moved %hs to %hs\n", bin.c_str(), newDir.c_str());
            else
                LogMessage(2, LOG_WARNING, "Could not %hs to %hs\n", bin.c_str(), newDir.c_str());
            std::string program = std::string(parent) + "\\" + PACKAGE_MAIN_PROGRAM;
            ForceDeleteFile(program.c_str());
        }
    }
    ShowFolderMessage(false, LABEL_HAS_MOVED, oldDir, newDir);
}

void PhaseRegistryAndKeyPaths(SequenceLocals& locals)
{
    RelocationLocals& reloc = locals.relocation;
    if (reloc.registryUpdateNeeded)
        UpdateRegistryForNewDir(locals);

    std::wstring status = std::wstring(A2W(RunState.memberState.GetNarrow())) + L" - ";
    status += A2W(RunState.targetDir.GetNarrow());
    g_mainUI->SetItemText(IDC_STATUS_UPPER, status.c_str());
    LogMessage(2, LOG_INFO, "ZAPH will be installed in '%hs' and '%hs=%hs'.\n", RunState.targetDir.GetNarrow(),
               PRODUCT_VALUE_SETUP_TYPE, reloc.setupType.GetNarrow());
    if (RunState.multiMode)
        LogMessage(2, LOG_INFO, "=== Multi-MS mode.\n");
}
