// The program's only way to the Windows Installer: finds msi.dll where the
// system says it is, loads it at run time (it is not linked), switches on the
// installer's own log, collects the public properties of one installation,
// installs the product's package with the installer's full user interface
// (or the one an unattended run asks for),
// removes a product silently and turns installer result codes into texts.
// No operation shows a message: the callers do.
#pragma once

#include <windows.h>

#include "C_String.h"

// The product's registry key (HKEY_LOCAL_MACHINE). The product's package writes
// its values; the program reads them to find and classify an installation.
const HKEY ProductRegistryRoot = HKEY_LOCAL_MACHINE;
const char ProductRegistryKey[] = "SOFTWARE\\Ombrant\\ZAPH QRT";
const char PRODUCT_VALUE_INSTALL_PATH[] = "InstallPath";
const char PRODUCT_VALUE_SETUP_TYPE[] = "SetupType";
const char PRODUCT_VALUE_DOTNET[] = "DotNet";
const char PRODUCT_VALUE_MULTI_MS_VERSION[] = "MultiMSVersion";
const char PRODUCT_VALUE_INTENDED_PATH[] = "IntendedPath";
const char PRODUCT_VALUE_PRODUCT_CODE[] = "ProductCode";

// Where the system records the installer library's folder.
const char INSTALLER_REGISTRY_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Installer";
const char INSTALLER_LOCATION_VALUE[] = "InstallerLocation";
const char INSTALLER_LIBRARY_NAME[] = "msi.dll";

// The last four groups of every release's product code never change; this is
// their packed form, the tail of every packed product code.
const char PACKED_PRODUCT_CODE_TAIL[] = "E1A5D7B4C802193F6C0A4D8E";

const int MSI_PATH_SIZE = 260;            // library, package, log and intended paths
const int MSI_PACKED_CODE_SIZE = 60;
// The program's own eight properties and the administrator's ten from the
// command line (RunState's MAX_COMMAND_PROPERTIES).
const int MSI_MAX_PROPERTIES = 18;
const int MSI_ERROR_TEXT_SIZE = 1024;

// Installer arguments the program uses (values of the published API).
const int MSI_UI_LEVEL_NONE = 2;          // INSTALLUILEVEL_NONE
const int MSI_UI_LEVEL_BASIC = 3;         // INSTALLUILEVEL_BASIC
const int MSI_UI_LEVEL_FULL = 5;          // INSTALLUILEVEL_FULL
const int MSI_UI_PROGRESS_ONLY = 0x40;    // INSTALLUILEVEL_PROGRESSONLY: no modal box with BASIC
// FATALEXIT, ERROR, WARNING, USER, INFO, RESOLVESOURCE, OUTOFDISKSPACE,
// ACTIONDATA, PROPERTYDUMP, COMMONDATA and VERBOSE.
const DWORD MSI_LOG_MODE = 0x1EDF;
const DWORD MSI_LOG_APPEND = 1;           // INSTALLLOGATTRIBUTES_APPEND
const int MSI_INSTALL_LEVEL_DEFAULT = 0;
const int MSI_INSTALL_STATE_ABSENT = 2;
extern const char* const MSI_UNINSTALL_COMMAND_LINE;   // "UPGRADINGPRODUCTCODE=True"
// What GetErrorText gives when the library holds no text for a code.
extern const char* const MSI_NO_ERROR_TEXT;            // "$$ErrorOccurred"

// Entry points of msi.dll, resolved by name.
typedef int(WINAPI* MsiSetInternalUIFn)(int level, HWND* window);
typedef UINT(WINAPI* MsiInstallProductAFn)(const char* package, const char* commandLine);
typedef UINT(WINAPI* MsiEnableLogAFn)(DWORD mode, const char* logFile, DWORD attributes);
typedef UINT(WINAPI* MsiConfigureProductExAFn)(const char* product, int installLevel, int state,
                                               const char* commandLine);

class CMSI
{
public:
    CMSI();
    virtual ~CMSI();

    // Loads the library and resolves the entry points; true also when it was
    // loaded before. A failure leaves the reason in m_lastResult.
    bool LoadInstaller();
    // Frees the library once its installation is over: it and what it brings
    // along (several megabytes) are not needed by the phases after it. The
    // texts and values read back stay; a later LoadInstaller loads it again.
    void UnloadInstaller();
    // The package to install: an existing local file or a URL.
    bool SetPackage(const char* path);
    // A public property of the next installation. An empty value stores
    // nothing and succeeds; an eleventh name is refused.
    bool SetProperty(const char* name, const char* value);
    // Installs the package with the installer's full UI; true when the
    // installer returned 0. Reads back the folder and product code the
    // package recorded.
    bool InstallProduct();
    // Removes a product without installer dialogs; true on 0 or 3010.
    bool UninstallProduct(const char* productCode);
    // The library's message for an installer result, null for codes that
    // need none. Valid until the next call or the destructor.
    const char* GetErrorText(DWORD code);

    DWORD GetLastResult() const { return m_lastResult; }
    const char* GetIntendedPath() const { return m_intendedPath; }
    const char* GetPackedProductCode() const { return m_packedProductCode; }
    const char* GetLogPath() const { return m_logPath; }
    void SetLogEnabled(bool enabled) { m_logEnabled = enabled; }
    // The installer's user interface for InstallProduct (MSI_UI_LEVEL_FULL
    // unless an unattended run asks for less).
    void SetUILevel(int level) { m_uiLevel = level; }
    int GetUILevel() const { return m_uiLevel; }

    // Read access for the tests and the relocation code.
    const char* GetLibraryPath() const { return m_libraryPath; }
    const char* GetPackagePath() const { return m_packagePath; }
    int GetPropertyCount() const;
    const char* GetPropertyName(int slot) const;
    const char* GetPropertyValue(int slot) const;

private:
    struct Property
    {
        C_String name;
        C_String value;
    };

    HMODULE m_hLibrary;
    DWORD m_lastResult;
    char m_libraryPath[MSI_PATH_SIZE];
    Property m_properties[MSI_MAX_PROPERTIES];
    char m_packagePath[MSI_PATH_SIZE];
    char* m_errorText;
    bool m_logEnabled;
    char m_logPath[MSI_PATH_SIZE];
    char m_intendedPath[MSI_PATH_SIZE];
    char m_packedProductCode[MSI_PACKED_CODE_SIZE];
    int m_uiLevel;
    MsiSetInternalUIFn m_pSetInternalUI;
    MsiInstallProductAFn m_pInstallProduct;
    MsiEnableLogAFn m_pEnableLog;
    MsiConfigureProductExAFn m_pConfigureProductEx;

    CMSI(const CMSI&);
    CMSI& operator=(const CMSI&);
};

// The installer library's version as major * 100 + minor (3.1 gives 301), or 0
// when it cannot be told.
DWORD GetInstallerVersion();

// The packed form of a product code of this product ("{12345678-...}" gives
// "87654321" followed by PACKED_PRODUCT_CODE_TAIL) into out
// (MSI_PACKED_CODE_SIZE bytes); false, and out empty, when the code does not
// begin with a brace and eight hexadecimal digits.
bool PackProductCode(const char* productCode, char* out);
