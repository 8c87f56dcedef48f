// The settings file "Zaph.ini": settings of the run, component lists,
// checksums of the delivered files and the user-visible texts of every
// language. Loaded once, kept in memory whole, answered by key.
#pragma once

#include <windows.h>
#include <stdarg.h>

#include "UniFile.h"

const int MAX_SECTIONS = 29;
const int MAX_LABEL_SECTIONS = 24;      // one slot per language index 0..23
const int MAX_KEY_LENGTH = 79;          // longer keys are never found
const int LABEL_CODE_SIZE = 3;          // two characters and the terminator
const int RESOURCE_PATH_SIZE = 260;

// Indices of the section table.
const int SECTION_SETTINGS = 0;
const int SECTION_COMPONENTS = 1;
const int SECTION_CHECKSUMS = 2;
const int SECTION_ADDITIONAL = 3;
const int SECTION_DIGESTS = 4;          // optional: SHA-256 of downloaded installers
const int SECTION_LABELS = 5;           // + language index

// The settings file beside the tool, when no other path is given.
constexpr const char* SETTINGS_FILE_NAME = "Zaph.ini";

// Keys of [Settings].
constexpr const wchar_t* SETTING_BASE_URL = L"BASE_URL";
constexpr const wchar_t* SETTING_DEFAULT_LANGUAGE = L"DefaultLanguage";
constexpr const wchar_t* SETTING_EXE_VERSION = L"ExeVersion";
constexpr const wchar_t* SETTING_LOGGING = L"Logging";
constexpr const wchar_t* SETTING_THREADING = L"Threading";
constexpr const wchar_t* SETTING_DOTNET = L"DotNet";
constexpr const wchar_t* SETTING_MEMBER_STATE = L"MemberState";
constexpr const wchar_t* SETTING_INI_VERSION = L"IniVersion";
constexpr const wchar_t* SETTING_CLEAN_MS_NEW = L"CleanMSNew";
constexpr const wchar_t* SETTING_DEFAULT_TARGET_DIR = L"DefaultTargetDir";
constexpr const wchar_t* SETTING_MSI_VERSION = L"MSI_Version";
constexpr const wchar_t* SETTING_CHECK_MSI_VERSION = L"CheckMSIVersion";
constexpr const wchar_t* SETTING_ASK_MSI_UPGRADE = L"AskMSIUpgrade";
constexpr const wchar_t* SETTING_MSI_NT = L"MSI_NT";
constexpr const wchar_t* SETTING_MSI_9X = L"MSI_9X";
constexpr const wchar_t* SETTING_SYS_LN_DIR = L"SYS_LN_DIR";
constexpr const wchar_t* SETTING_SYSLN_VERSION = L"SYSLNVersion";
constexpr const wchar_t* SETTING_INSTALL_SYSLN = L"InstallSysLN";
constexpr const wchar_t* SETTING_NUM_COMPONENTS = L"NumComponents";
constexpr const wchar_t* SETTING_REBOOT = L"Reboot";
constexpr const wchar_t* SETTING_V11_INSTALLER = L"V11InstallerAvailable";
constexpr const wchar_t* SETTING_SPV11_INSTALLER = L"SPV11InstallerAvailable";
constexpr const wchar_t* SETTING_V20_INSTALLER = L"V20InstallerAvailable";

// A setting value that bypasses its step (compared without regard to case).
constexpr const char* SETTING_SKIP_VALUE = "$SKIP$";

// Keys of the label sections.
constexpr const wchar_t* LABEL_CAPTION = L"Caption";                 // %s organisation, %hs language
constexpr const wchar_t* LABEL_ORGANISATION = L"Organisation";
constexpr const wchar_t* LABEL_HEADER = L"Header";
constexpr const wchar_t* LABEL_BRANDING = L"Branding";
constexpr const wchar_t* LABEL_CANCEL_BUTTON = L"CancelButton";
constexpr const wchar_t* LABEL_PROCEED_BUTTON = L"ProceedButton";
constexpr const wchar_t* LABEL_CONFIRM_CANCEL = L"ConfirmCancel";
constexpr const wchar_t* LABEL_SELECT_LANGUAGE = L"SelectLanguage";
constexpr const wchar_t* LABEL_LANGUAGE_SELECTION = L"LanguageSelection";
constexpr const wchar_t* LABEL_DOWNLOAD_FILE = L"DownloadFile";      // %hs name, %hs base
constexpr const wchar_t* LABEL_FAIL_FILE = L"FailFile";              // %hs name, %hs base
constexpr const wchar_t* LABEL_WORKING_OFFLINE = L"WorkingOffLine";
constexpr const wchar_t* LABEL_INVALID_VALUE = L"InvalidValue";      // %s setting name
constexpr const wchar_t* LABEL_ERROR_OCCURRED = L"ErrorOccurred";    // %s text
constexpr const wchar_t* LABEL_PLEASE_WAIT = L"PleaseWait";          // %s text
constexpr const wchar_t* LABEL_NO_INSTALLATION = L"NoInstallation";  // %hs directory
constexpr const wchar_t* LABEL_CANNOT_MOVE = L"CannotMove";          // %hs, %hs directories
constexpr const wchar_t* LABEL_HAS_MOVED = L"HasMoved";              // %hs, %hs directories
constexpr const wchar_t* LABEL_CANNOT_COPY = L"CannotCopy";          // %hs, %hs directories
constexpr const wchar_t* LABEL_CANNOT_MOVE_SUB = L"CannotMoveSub";   // %hs, %hs directories
constexpr const wchar_t* LABEL_INITIALISING = L"Initialising";
constexpr const wchar_t* LABEL_INSTALL_SYSTEM = L"InstallSystem";
constexpr const wchar_t* LABEL_POST_INSTALL_CHECK = L"PostInstallCheck";
constexpr const wchar_t* LABEL_INSTALL_COMPONENTS = L"InstallComponents";
constexpr const wchar_t* LABEL_WAS_ABANDONED = L"WasAbandoned";
constexpr const wchar_t* LABEL_NO_UPGRADE = L"NoUpgrade";
constexpr const wchar_t* LABEL_MADE_BACKUP = L"MadeBackup";
constexpr const wchar_t* LABEL_AFTER_BACKUP = L"AfterBackup";
constexpr const wchar_t* LABEL_IN_USE = L"InUse";
constexpr const wchar_t* LABEL_WARN_NOT_ADMIN = L"WarnNotAdmin";
constexpr const wchar_t* LABEL_CANNOT_INSTALL_PRE = L"CannotInstallPre";
constexpr const wchar_t* LABEL_FAIL_INSTALL_PRE = L"FailInstallPre";
constexpr const wchar_t* LABEL_REBOOT = L"Reboot";
constexpr const wchar_t* LABEL_SUCCESS = L"Success";
constexpr const wchar_t* LABEL_FAIL_LOAD_MSI = L"FailLoadMSI";
constexpr const wchar_t* LABEL_UNINSTALL_FAIL = L"UninstallFail";
constexpr const wchar_t* LABEL_WAS_CANCELLED = L"WasCancelled";
constexpr const wchar_t* LABEL_UPGRADE_SERVER_FIRST = L"UpgradeServerFirst";
constexpr const wchar_t* LABEL_SHOULD_UPGRADE_V11 = L"ShouldUpgradeV11";
constexpr const wchar_t* LABEL_MUST_BE_ADMIN = L"MustBeAdmin";
constexpr const wchar_t* LABEL_ALLOW_PRE_UPGRADE = L"AllowPreUpgrade";
constexpr const wchar_t* LABEL_ALLOW_UPDATE_MSI = L"AllowUpdateMSI";
constexpr const wchar_t* LABEL_FAIL_INSTALL_MSI = L"FailInstallMSI";

// The ANSI code page that texts of a language need on a system without the
// wide interfaces (Greek, East European, Baltic, Turkish groups); 0 for a
// language that keeps whatever code page is in use.
UINT LanguageCodePage(int languageIndex);

class CResource
{
public:
    CResource();
    virtual ~CResource();

    // Reads the settings file (none or empty: "Zaph.ini" in the current
    // directory) and locates its sections. Logs why it fails; shows nothing.
    bool Load(const char* path = NULL);
    // Chooses the label language: the code given, else DefaultLanguage, the
    // user's locale, EN, the first label section. Follows with the conversion
    // code page when the narrow interfaces are in use.
    bool ChooseLanguage(const char* code = NULL);
    // LOCAL mode: BASE_URL is answered with the current directory from now on.
    void SetLocal(bool local);

    // Look-ups. Results live in buffers shared by all look-ups of the same
    // kind (GetSetting and GetCheckSum: the narrow conversion buffer of W2A;
    // GetLabel/GetLabelFor: the value buffer; FormatLabel: the caption
    // buffer) and stay valid only until the next such call: copy what you keep.
    const char* GetSetting(const wchar_t* key, bool warn = true);
    const wchar_t* GetLabel(const wchar_t* key);
    const wchar_t* GetLabelFor(const wchar_t* key, int languageIndex);
    // The label used as a wide printf format (%s wide text, %hs narrow text).
    const wchar_t* FormatLabel(const wchar_t* key, ...);
    const wchar_t* FormatLabelV(const wchar_t* key, va_list args);
    const char* GetCheckSum(const char* key);
    // The SHA-256 digest (64 hexadecimal digits) that the optional section
    // [SHA256] lists for a source name, or null; same buffer rule as GetCheckSum.
    const char* GetDigest(const char* key);

    bool HasLabels(int languageIndex) const;
    bool HasLabels(const char* code) const;

    // The section table (for CResourceIterator): start of the body, or null
    // when absent; length in characters, 0 when absent.
    const wchar_t* GetSectionStart(int sectionIndex) const;
    int GetSectionLength(int sectionIndex) const;

    bool IsValid() const { return m_bValid; }
    bool IsLocal() const { return m_bLocal; }
    const char* GetLocalBase() const { return m_szLocalBase; }
    const char* GetIniFile() const { return m_szIniFile; }

    // The current label language. The window's language switch sets it
    // directly; every later GetLabel/FormatLabel answers in that language.
    int GetLanguage() const { return m_iLanguage; }
    void SetLanguage(int languageIndex);
    const char* GetLanguageCode() const;          // "EN", ...; never null
    // Preferred by DefaultLanguage or the user's locale; -1 when neither.
    int GetPreferredLanguage() const { return m_iPreferredLanguage; }

    // "[Labels_" headers in file order, whatever their code.
    unsigned int GetLabelSectionCount() const { return m_nLabelSections; }
    const char* GetLabelCode(unsigned int slot) const;   // null beyond the count

private:
    bool FindSection(const wchar_t* header, int sectionIndex);
    unsigned int FindLabelSections();
    // One growing result buffer of the look-ups, with its re-entry guard.
    struct ValueSlot
    {
        wchar_t** buffer;
        size_t* capacity;
        bool* inUse;
        const char* inUseCondition;
    };
    const wchar_t* Lookup(const wchar_t* key, int sectionIndex, const ValueSlot& slot);
    const wchar_t* LookupLabel(const wchar_t* key, int languageIndex, const ValueSlot& slot);
    ValueSlot ValueBufferSlot();
    ValueSlot FormatBufferSlot();

    bool m_bValid;
    bool m_bLocal;
    char m_szLocalBase[RESOURCE_PATH_SIZE];
    char m_szIniFile[RESOURCE_PATH_SIZE];
    int m_iLanguage;
    int m_iPreferredLanguage;
    unsigned int m_nLabelSections;
    char m_labelCodes[MAX_LABEL_SECTIONS][LABEL_CODE_SIZE];

    wchar_t* m_captionBuffer;
    size_t m_captionCapacity;               // characters
    bool m_bUsingCaptionBuffer;
    wchar_t* m_valueBuffer;
    size_t m_valueCapacity;                 // characters
    bool m_bUsingValueBuffer;
    // FormatLabel reads its format into a buffer of its own, so that an
    // argument just returned by GetLabel is not overwritten by the format.
    wchar_t* m_formatBuffer;
    size_t m_formatCapacity;
    bool m_bUsingFormatBuffer;

    const wchar_t* m_iSectionStart[MAX_SECTIONS];
    int m_iSectionLength[MAX_SECTIONS];

    CUniFile m_file;

    CResource(const CResource&) = delete;
    CResource& operator=(const CResource&) = delete;
};
