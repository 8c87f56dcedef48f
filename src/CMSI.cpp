#include "CMSI.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "FileUtil.h"
#include "FileVersion.h"
#include "Log.h"
#include "ResultCodes.h"
#include "SystemLibrary.h"
#include "Registry.h"
#include "TextUtil.h"

const char* const MSI_UNINSTALL_COMMAND_LINE = "UPGRADINGPRODUCTCODE=True";
const char* const MSI_NO_ERROR_TEXT = "$$ErrorOccurred";

// The system folder leaves room for "\msi.dll" only below this length.
static const size_t MAX_FALLBACK_FOLDER_LENGTH = 251;

// Result codes the wrapper sets itself.
static const DWORD RESULT_NOT_FOUND = RC_FILE_NOT_FOUND;
static const DWORD RESULT_NO_MEMORY = RC_NOT_ENOUGH_MEMORY;
static const DWORD RESULT_NOT_READY = RC_INVALID_STATE;

// "<folder>\msi.dll" into out (MSI_PATH_SIZE bytes). A folder that already ends
// in a backslash gets no second one. False, and out empty, when it would not fit.
static bool MakeLibraryPath(const char* folder, char* out)
{
    out[0] = 0;
    size_t length = TextLength(folder);
    const char* separator = (length > 0 && folder[length - 1] == '\\') ? "" : "\\";
    int n = _snprintf(out, MSI_PATH_SIZE, "%s%s%s", folder ? folder : "", separator,
                      INSTALLER_LIBRARY_NAME);
    if (n < 0 || n >= MSI_PATH_SIZE)
    {
        out[0] = 0;
        return false;
    }
    return true;
}

// The folder the registry names for the installer library, as the path of the
// library itself; false when the value is absent.
static bool LibraryPathFromRegistry(char* out)
{
    out[0] = 0;
    C_String location;
    if (!ReadRegistryString(HKEY_LOCAL_MACHINE, INSTALLER_REGISTRY_KEY, INSTALLER_LOCATION_VALUE,
                            location))
        return false;
    if (!MakeLibraryPath(location.GetNarrow(), out))
        LogMessage(2, LOG_WARNING, "MSI location '%hs' is too long.\n", location.GetNarrow());
    return true;
}

// Copies a text that must fit a buffer of size bytes; a longer one is refused
// rather than cut.
static bool CopyFitting(char* out, size_t size, const char* text)
{
    out[0] = 0;
    if (TextLength(text) >= size)
        return false;
    TextCopy(out, text);
    return true;
}

static bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

static bool HasBlank(const char* text)
{
    return strchr(text, ' ') != NULL || strchr(text, '\t') != NULL;
}

// A property value as the installer's command line wants it: enclosed in
// double quotes when it holds a blank or a quote, with every quote inside
// doubled, so that a value can never end early and smuggle in a property.
static bool QuotePropertyValue(const char* value, C_String& out)
{
    if (!HasBlank(value) && strchr(value, '"') == NULL)
    {
        out = value;
        return !out.IsEmpty();
    }
    size_t quotes = 0;
    for (const char* p = value; *p; ++p)
        if (*p == '"')
            ++quotes;
    C_String quoted;
    if (!quoted.Allocate((unsigned int)(strlen(value) + quotes + 3), C_String::NARROW))
        return false;
    char* q = quoted.NarrowBuffer();
    *q++ = '"';
    for (const char* p = value; *p; ++p)
    {
        *q++ = *p;
        if (*p == '"')
            *q++ = '"';
    }
    *q++ = '"';
    *q = 0;
    quoted.UpdateLength();
    out = quoted;
    return !out.IsEmpty();
}

CMSI::CMSI()
    : m_hLibrary(NULL),
      m_lastResult(RESULT_NOT_READY),
      m_errorText(NULL),
      m_logEnabled(false),
      m_uiLevel(MSI_UI_LEVEL_FULL),
      m_pSetInternalUI(NULL),
      m_pInstallProduct(NULL),
      m_pEnableLog(NULL),
      m_pConfigureProductEx(NULL)
{
    m_libraryPath[0] = 0;
    m_packagePath[0] = 0;
    m_logPath[0] = 0;
    m_intendedPath[0] = 0;
    m_packedProductCode[0] = 0;
    // The installer's log lies beside the program's own: MSI_<ddmmyyyy>.log.
    MakeLogName(m_logPath, "MSI");
}

CMSI::~CMSI()
{
    if (m_hLibrary != NULL)
        FreeLibrary(m_hLibrary);
    m_hLibrary = NULL;
    free(m_errorText);
    m_errorText = NULL;
    m_lastResult = RESULT_NOT_READY;
}

bool CMSI::LoadInstaller()
{
    if (m_hLibrary != NULL)
        return true;

    char fallback[MSI_PATH_SIZE] = "";
    char systemFolder[MSI_PATH_SIZE] = "";
    UINT systemLength = GetSystemDirectoryA(systemFolder, sizeof(systemFolder));
    if (systemLength > 0 && systemLength < MAX_FALLBACK_FOLDER_LENGTH)
        MakeLibraryPath(systemFolder, fallback);

    if (LibraryPathFromRegistry(m_libraryPath))
        LogMessage(2, LOG_INFO, "MSI Location according to Registry '%hs'\n", m_libraryPath);

    if (!FileExists(m_libraryPath))
    {
        m_lastResult = RESULT_NOT_FOUND;
        LogMessage(2, LOG_INFO, "MSI '%hs' not found.\n", m_libraryPath);
        LogMessage(2, LOG_INFO, "Trying fallback '%hs'\n", fallback);
        TextCopy(m_libraryPath, fallback);
    }
    if (!FileExists(m_libraryPath))
    {
        LogMessage(2, LOG_INFO, "MSI '%hs' not found.\n", m_libraryPath);
        return false;
    }

    m_lastResult = 0;
    m_hLibrary = LoadLibraryFromPath(m_libraryPath);
    if (m_hLibrary == NULL)
    {
        m_lastResult = GetLastError();
        LogMessage(2, LOG_INFO, "Could not load '%hs'\n", m_libraryPath);
        return false;
    }

    LogMessage(2, LOG_INFO, "Loaded '%hs'\n", m_libraryPath);
    m_pSetInternalUI = (MsiSetInternalUIFn)(void*)GetProcAddress(m_hLibrary, "MsiSetInternalUI");
    m_pInstallProduct =
        (MsiInstallProductAFn)(void*)GetProcAddress(m_hLibrary, "MsiInstallProductA");
    m_pEnableLog = (MsiEnableLogAFn)(void*)GetProcAddress(m_hLibrary, "MsiEnableLogA");
    m_pConfigureProductEx =
        (MsiConfigureProductExAFn)(void*)GetProcAddress(m_hLibrary, "MsiConfigureProductExA");

    // The installer's own log holds what our log cannot: why a package failed.
    if (m_logEnabled || GetLogVerbosity() >= 5)
    {
        LogMessage(0, LOG_INFO, "MSI Log file '%hs'\n", m_logPath);
        if (m_logPath[0] != 0 && m_pEnableLog != NULL)
            m_pEnableLog(MSI_LOG_MODE, m_logPath, MSI_LOG_APPEND);
    }

    m_lastResult = 0;
    return true;
}

void CMSI::UnloadInstaller()
{
    if (m_hLibrary == NULL)
        return;
    FreeLibrary(m_hLibrary);
    m_hLibrary = NULL;
    m_pSetInternalUI = NULL;
    m_pInstallProduct = NULL;
    m_pEnableLog = NULL;
    m_pConfigureProductEx = NULL;
    LogMessage(3, LOG_INFO, "Unloaded '%hs'\n", m_libraryPath);
}

bool CMSI::SetPackage(const char* path)
{
    if (path == NULL)
        path = "";
    if (IsLocalSource(path) && !FileExists(path))
    {
        LogMessage(0, LOG_ERROR, "*local* MSI file doesn't exist '%hs'.\n", path);
        return false;
    }
    if (!CopyFitting(m_packagePath, sizeof(m_packagePath), path))
    {
        LogMessage(0, LOG_ERROR, "MSI too long '%hs'.\n", path);
        return false;
    }
    // An empty path is logged like any other, and refused.
    LogMessage(0, LOG_INFO, "Installing using working file '%hs'.\n", m_packagePath);
    return m_packagePath[0] != 0;
}

bool CMSI::SetProperty(const char* name, const char* value)
{
    if (name == NULL || name[0] == 0)
        return false;
    // Callers pass settings that may be empty: nothing to tell the package then.
    if (value == NULL || value[0] == 0)
        return true;

    // Slots fill from the front, so the first free one comes after every name.
    int slot = -1;
    for (int i = 0; i < MSI_MAX_PROPERTIES && slot < 0; ++i)
    {
        if (m_properties[i].name.IsEmpty() || m_properties[i].name.Equals(name))
            slot = i;
    }
    if (slot < 0)
    {
        LogMessage(2, LOG_ERROR, "MSI property %hs refused: all %d places are taken.\n", name,
                   MSI_MAX_PROPERTIES);
        return false;
    }

    C_String stored;
    if (!QuotePropertyValue(value, stored))
    {
        LogMessage(2, LOG_ERROR, "MSI property %hs: out of memory.\n", name);
        return false;
    }
    C_String storedName(name);
    if (storedName.IsEmpty())
    {
        LogMessage(2, LOG_ERROR, "MSI property %hs: out of memory.\n", name);
        return false;
    }
    m_properties[slot].name = storedName;
    m_properties[slot].value = stored;
    return true;
}

bool CMSI::InstallProduct()
{
    m_intendedPath[0] = 0;
    m_packedProductCode[0] = 0;

    if (m_hLibrary == NULL || m_pSetInternalUI == NULL || m_pInstallProduct == NULL ||
        m_pEnableLog == NULL)
    {
        m_lastResult = RESULT_NOT_READY;
        return false;
    }
    if (m_packagePath[0] == 0)
    {
        m_lastResult = RESULT_NOT_FOUND;
        return false;
    }

    size_t size = 40;
    for (int i = 0; i < MSI_MAX_PROPERTIES && !m_properties[i].name.IsEmpty(); ++i)
        size += m_properties[i].name.Length() + m_properties[i].value.Length() + 5;
    char* commandLine = (char*)malloc(size);
    if (commandLine == NULL)
    {
        m_lastResult = RESULT_NO_MEMORY;
        return false;
    }
    commandLine[0] = 0;
    for (int i = 0; i < MSI_MAX_PROPERTIES && !m_properties[i].name.IsEmpty(); ++i)
    {
        strcat(commandLine, m_properties[i].name.GetNarrow());
        strcat(commandLine, "=");
        strcat(commandLine, m_properties[i].value.GetNarrow());
        strcat(commandLine, " ");
    }

    LogMessage(3, LOG_INFO, "MSI InstallProduct (%hs, %hs)\n", m_packagePath, commandLine);
    if (m_uiLevel != MSI_UI_LEVEL_FULL)
        LogMessage(2, LOG_INFO, "MSI user interface level %d.\n", m_uiLevel);
    m_pSetInternalUI(m_uiLevel, NULL);
    m_lastResult = m_pInstallProduct(m_packagePath, commandLine);
    free(commandLine);
    LogMessage(2, LOG_INFO, "MSI InstallProduct returns '%ld'\n", (long)m_lastResult);

    // Read back whatever the outcome: a failed upgrade may still have left the
    // earlier release's values, and the callers log them.
    C_String intended;
    if (ReadRegistryString(ProductRegistryRoot, ProductRegistryKey, PRODUCT_VALUE_INTENDED_PATH,
                           intended) &&
        !CopyFitting(m_intendedPath, sizeof(m_intendedPath), intended.GetNarrow()))
        LogMessage(2, LOG_WARNING, "%hs is too long: '%hs'\n", PRODUCT_VALUE_INTENDED_PATH,
                   intended.GetNarrow());
    LogMessage(2, LOG_INFO, "\t%hs = %hs\n", PRODUCT_VALUE_INTENDED_PATH, m_intendedPath);

    C_String productCode;
    if (ReadRegistryString(ProductRegistryRoot, ProductRegistryKey, PRODUCT_VALUE_PRODUCT_CODE,
                           productCode) &&
        !productCode.IsEmpty())
    {
        if (PackProductCode(productCode.GetNarrow(), m_packedProductCode))
            LogMessage(2, LOG_INFO, "\t%hs = %hs, %hs\n", PRODUCT_VALUE_PRODUCT_CODE,
                       productCode.GetNarrow(), m_packedProductCode);
        else
            LogMessage(2, LOG_WARNING, "%hs '%hs' is not a product code.\n",
                       PRODUCT_VALUE_PRODUCT_CODE, productCode.GetNarrow());
    }

    return m_lastResult == 0;
}

bool CMSI::UninstallProduct(const char* productCode)
{
    if (productCode == NULL || productCode[0] == 0 || m_lastResult != 0 ||
        m_pSetInternalUI == NULL || m_pConfigureProductEx == NULL)
        return false;

    m_pSetInternalUI(MSI_UI_LEVEL_NONE, NULL);
    LogMessage(2, LOG_INFO, "MSI Uninstall '%hs'\n", productCode);
    m_lastResult = m_pConfigureProductEx(productCode, MSI_INSTALL_LEVEL_DEFAULT,
                                         MSI_INSTALL_STATE_ABSENT, MSI_UNINSTALL_COMMAND_LINE);
    LogMessage(2, LOG_INFO, "MSI ConfigureProduct returns '%ld'\n", (long)m_lastResult);
    return m_lastResult == 0 || m_lastResult == ERROR_SUCCESS_REBOOT_REQUIRED;
}

const char* CMSI::GetErrorText(DWORD code)
{
    switch (code)
    {
    // Success, restart and cancel codes, and the failures the callers word
    // themselves, have no text.
    case RC_SUCCESS:
    case RC_APPHELP_BLOCK:
    case RC_INSTALL_USEREXIT:
    case RC_INSTALL_FAILURE:
    case RC_INSTALL_SUSPEND:
    case RC_SUCCESS_REBOOT_INITIATED:
    case RC_SUCCESS_REBOOT_REQUIRED:
        return NULL;
    // A missing or unreadable package reads as the installer's own "could not
    // open the package".
    case RC_FILE_NOT_FOUND:
    case RC_PATH_NOT_FOUND:
    case RC_INVALID_NAME:
        code = RC_INSTALL_PACKAGE_OPEN_FAILED;
        break;
    default:
        break;
    }

    free(m_errorText);
    m_errorText = (char*)malloc(MSI_ERROR_TEXT_SIZE);
    if (m_errorText == NULL)
        return NULL;
    m_errorText[0] = 0;
    // Without the library there is nothing to ask: LoadStringA with a null
    // module would answer from this program's own string table.
    if (m_hLibrary == NULL || LoadStringA(m_hLibrary, code, m_errorText, MSI_ERROR_TEXT_SIZE) <= 0)
        TextCopy(m_errorText, MSI_NO_ERROR_TEXT);
    return m_errorText;
}

int CMSI::GetPropertyCount() const
{
    int count = 0;
    while (count < MSI_MAX_PROPERTIES && !m_properties[count].name.IsEmpty())
        ++count;
    return count;
}

const char* CMSI::GetPropertyName(int slot) const
{
    if (slot < 0 || slot >= MSI_MAX_PROPERTIES)
        return "";
    return m_properties[slot].name.GetNarrowTemp();
}

const char* CMSI::GetPropertyValue(int slot) const
{
    if (slot < 0 || slot >= MSI_MAX_PROPERTIES)
        return "";
    return m_properties[slot].value.GetNarrowTemp();
}

DWORD GetInstallerVersion()
{
    char path[MSI_PATH_SIZE] = "";
    if (!LibraryPathFromRegistry(path))
    {
        char systemFolder[MSI_PATH_SIZE] = "";
        UINT length = GetSystemDirectoryA(systemFolder, sizeof(systemFolder));
        if (length > 0 && length < sizeof(systemFolder))
            MakeLibraryPath(systemFolder, path);
    }
    LogMessage(2, LOG_INFO, "MSI = %hs\n", path);

    if (!FileExists(path))
    {
        LogMessage(2, LOG_WARNING, "MSI does not exist!\n");
        return 0;
    }
    DWORD mostSignificant = 0;
    DWORD leastSignificant = 0;
    if (GetFileVersionNumbers(path, &mostSignificant, &leastSignificant) != 0)
    {
        LogMessage(2, LOG_WARNING, "Can't obtain version info of MSI!\n");
        return 0;
    }
    DWORD version = HIWORD(mostSignificant) * 100 + LOWORD(mostSignificant);
    LogMessage(2, LOG_INFO, "has version %ld\n", (long)version);
    return version;
}

bool PackProductCode(const char* productCode, char* out)
{
    out[0] = 0;
    if (productCode == NULL || TextLength(productCode) < 9 || productCode[0] != '{')
        return false;
    for (int i = 1; i <= 8; ++i)
        if (!IsHexDigit(productCode[i]))
            return false;
    // The first group reversed; the other groups are the same in every release.
    for (int i = 0; i < 8; ++i)
        out[i] = productCode[8 - i];
    TextCopy(out + 8, PACKED_PRODUCT_CODE_TAIL);
    return true;
}
