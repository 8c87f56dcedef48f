#include "CResource.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include <string>

#include "Assert.h"
#include "CodeTables.h"
#include "FileUtil.h"
#include "Log.h"
#include "TextUtil.h"
#include "WideAPI.h"

static const size_t MIN_VALUE_CAPACITY = 256;
static const size_t VALUE_SLACK = 80;
static const size_t FIRST_CAPTION_CAPACITY = 256;
// A formatted label is a line or two on the screen; anything near this is a
// broken format or argument, not a text to show.
static const size_t MAX_CAPTION_CAPACITY = 1u << 20;

static const wchar_t LABELS_PREFIX[] = L"[Labels_";

// What each label receives when it is formatted: 'w' a wide text (%s), 'n' a
// narrow text (%hs), in order. A label not listed receives nothing. The label
// is input, and the runtime's formatter reads whatever its specifiers ask for.
static const struct
{
    const wchar_t* key;
    const char* kinds;
} LABEL_ARGUMENTS[] = {
    { LABEL_CAPTION, "wn" },        { LABEL_DOWNLOAD_FILE, "nn" }, { LABEL_FAIL_FILE, "nn" },
    { LABEL_INVALID_VALUE, "w" },   { LABEL_ERROR_OCCURRED, "w" }, { LABEL_PLEASE_WAIT, "w" },
    { LABEL_NO_INSTALLATION, "n" }, { LABEL_CANNOT_MOVE, "nn" },   { LABEL_HAS_MOVED, "nn" },
    { LABEL_CANNOT_COPY, "nn" },    { LABEL_CANNOT_MOVE_SUB, "nn" },
};
static const wchar_t SETTINGS_HEADER[] = L"[Settings]";

// The sections Load requires besides [Settings] and the labels, in the order
// they are checked (the narrow form names the header in the log).
static const struct
{
    int index;
    const wchar_t* header;
    const char* name;
} REQUIRED_SECTIONS[] = {
    { SECTION_COMPONENTS, L"[Components]", "[Components]" },
    { SECTION_CHECKSUMS, L"[CheckSums]", "[CheckSums]" },
    { SECTION_ADDITIONAL, L"[Additional]", "[Additional]" },
};

static const wchar_t* const DIGESTS_HEADER = L"[SHA256]";

static bool IsWhite(wchar_t c)
{
    return c != 0 && iswspace(c) != 0;
}

// White space that does not end a line.
static bool IsLineWhite(wchar_t c)
{
    return c != L'\n' && IsWhite(c);
}

static bool IsQuote(wchar_t c)
{
    return c == L'\'' || c == L'"';
}

// A key counts only where an entry starts: at the start of the body or after
// a line end and indentation. Otherwise "Version" would answer with the value
// of "IniVersion", and a checksum of "a.zip" with that of "data\a.zip".
static bool StartsEntry(const wchar_t* bodyStart, const wchar_t* position)
{
    const wchar_t* p = position;
    while (p > bodyStart && IsLineWhite(p[-1]))
        --p;
    return p == bodyStart || p[-1] == L'\n';
}

// The default settings file: "Zaph.ini" in the current directory; empty when
// the current directory cannot be had.
static void DefaultSettingsPath(char* out)
{
    out[0] = 0;
    char folder[FW_PATH_SIZE];
    if (!GetCurrentFolder(folder) || !CombineSourcePath(folder, SETTINGS_FILE_NAME, out))
        out[0] = 0;
}

static const char* LabelArgumentKinds(const wchar_t* key)
{
    for (size_t i = 0; i < sizeof(LABEL_ARGUMENTS) / sizeof(LABEL_ARGUMENTS[0]); ++i)
        if (TextEqualNoCase(LABEL_ARGUMENTS[i].key, key))
            return LABEL_ARGUMENTS[i].kinds;
    return "";
}

// One specifier of a label: flags, width and precision as digits only, then
// "s" or "ls" (wide) or "hs" (narrow). Returns the kind, or 0 for anything
// else; end is set after the specifier.
static char LabelSpecifier(const wchar_t* p, const wchar_t*& end)
{
    while (*p && wcschr(L"-+ #0", *p))
        ++p;
    while (*p >= L'0' && *p <= L'9')
        ++p;
    if (*p == L'.')
        for (++p; *p >= L'0' && *p <= L'9';)
            ++p;
    char kind = 0;
    if (p[0] == L's')
        kind = 'w', p += 1;
    else if (p[0] == L'l' && p[1] == L's')
        kind = 'w', p += 2;
    else if (p[0] == L'h' && p[1] == L's')
        kind = 'n', p += 2;
    end = p;
    return kind;
}

// True when every specifier of the label takes, in order, an argument of the
// kind its use supplies. Fewer specifiers than arguments leave some unused,
// which is harmless (a translation may leave a path out).
static bool LabelFitsArguments(const wchar_t* label, const char* kinds)
{
    size_t used = 0;
    for (const wchar_t* p = label; *p; ++p)
    {
        if (*p != L'%')
            continue;
        if (p[1] == L'%')
        {
            ++p;
            continue;
        }
        const wchar_t* end;
        char kind = LabelSpecifier(p + 1, end);
        if (kind == 0 || kinds[used] != kind)
            return false;
        ++used;
        p = end - 1;
    }
    return true;
}

// A narrow argument is text in the system's ANSI code page (paths, codes);
// the runtime would read it in its "C" locale instead.
static std::wstring WidenArgument(const char* text)
{
    std::wstring wide;
    if (text == NULL)
        return L"(null)";
    int size = MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
    if (size > 1)
    {
        wide.resize((size_t)size);
        MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], size);
        wide.resize((size_t)size - 1);
    }
    return wide;
}

// Formats a label that LabelFitsArguments accepted, one specifier at a time.
static bool FormatCheckedLabel(std::wstring& out, const wchar_t* label, va_list args)
{
    for (const wchar_t* p = label; *p;)
    {
        if (*p != L'%')
        {
            out += *p++;
            continue;
        }
        if (p[1] == L'%')
        {
            out += L'%';
            p += 2;
            continue;
        }
        const wchar_t* end;
        char kind = LabelSpecifier(p + 1, end);
        // The flags, width and precision as written, for a wide text.
        std::wstring spec(p, end);
        spec.erase(spec.size() - (kind == 'n' || spec[spec.size() - 2] == L'l' ? 2 : 1));
        spec += L"s";
        std::wstring argument;
        if (kind == 'n')
            argument = WidenArgument(va_arg(args, const char*));
        else
        {
            const wchar_t* wide = va_arg(args, const wchar_t*);
            argument = wide != NULL ? wide : L"(null)";
        }
        for (size_t size = 256;; size *= 2)
        {
            if (size > MAX_CAPTION_CAPACITY)
                return false;
            std::wstring piece(size, L'\0');
            int n = _snwprintf(&piece[0], size - 1, spec.c_str(), argument.c_str());
            if (n >= 0 && (size_t)n < size - 1)
            {
                out.append(piece.c_str(), (size_t)n);
                break;
            }
        }
        p = end;
    }
    return true;
}

// A CR not followed by LF ends a line too: files written with old Macintosh
// line ends would otherwise read as one line, and every value would run on
// into the labels after it. True when there was one.
static bool EndLoneCarriageReturns(wchar_t* text)
{
    bool found = false;
    for (; text != NULL && *text; ++text)
        if (text[0] == L'\r' && text[1] != L'\n')
        {
            text[0] = L'\n';
            found = true;
        }
    return found;
}

UINT LanguageCodePage(int languageIndex)
{
    return LanguageGroupOf(languageIndex).codePage;
}

CResource::CResource()
    : m_bValid(true), m_bLocal(false), m_iLanguage(0), m_iPreferredLanguage(-1),
      m_nLabelSections(0), m_captionBuffer(NULL), m_captionCapacity(0),
      m_bUsingCaptionBuffer(false), m_valueBuffer(NULL), m_valueCapacity(0),
      m_bUsingValueBuffer(false), m_formatBuffer(NULL), m_formatCapacity(0),
      m_bUsingFormatBuffer(false)
{
    m_szLocalBase[0] = 0;
    m_szIniFile[0] = 0;
    memset(m_labelCodes, 0, sizeof(m_labelCodes));
    for (int i = 0; i < MAX_SECTIONS; ++i)
    {
        m_iSectionStart[i] = NULL;
        m_iSectionLength[i] = 0;
    }
}

CResource::~CResource()
{
    free(m_captionBuffer);
    m_captionBuffer = NULL;
    m_captionCapacity = 0;
    free(m_valueBuffer);
    m_valueBuffer = NULL;
    m_valueCapacity = 0;
    free(m_formatBuffer);
    m_formatBuffer = NULL;
    m_formatCapacity = 0;
    m_bValid = false;
}

bool CResource::Load(const char* path)
{
    m_szIniFile[0] = 0;
    m_bValid = false;
    // A second Load must not answer from the sections of the first file.
    for (int i = 0; i < MAX_SECTIONS; ++i)
    {
        m_iSectionStart[i] = NULL;
        m_iSectionLength[i] = 0;
    }
    m_nLabelSections = 0;
    memset(m_labelCodes, 0, sizeof(m_labelCodes));

    if (path != NULL && path[0] != 0)
    {
        if (strlen(path) >= RESOURCE_PATH_SIZE)
        {
            LogMessage(2, LOG_ERROR, "INIFILE '%hs' could not be loaded.\n", path);
            return false;
        }
        strcpy(m_szIniFile, path);
    }
    else
    {
        DefaultSettingsPath(m_szIniFile);
    }

    if (!FileExists(m_szIniFile))
    {
        LogMessage(2, LOG_ERROR, "INIFILE '%hs' does not exist.\n", m_szIniFile);
        return false;
    }

    bool read = m_file.Open(m_szIniFile) && m_file.Read();
    m_file.Close();
    if (!read)
    {
        LogMessage(2, LOG_ERROR, "INIFILE '%hs' could not be loaded.\n", m_szIniFile);
        return false;
    }
    m_bValid = true;
    if (EndLoneCarriageReturns(m_file.GetWritableText()))
        LogMessage(2, LOG_WARNING, "INIFILE '%hs' has lines ended by CR alone: read as line ends.\n", m_szIniFile);

    if (!FindSection(SETTINGS_HEADER, SECTION_SETTINGS))
    {
        LogMessage(2, LOG_ERROR, "INIFILE '%hs' doesn't have a valid settings section.\n",
                   m_szIniFile);
        return false;
    }

    m_nLabelSections = FindLabelSections();
    // No label header at all: the main sequence tells the user.
    if (m_nLabelSections == 0)
        return false;

    for (size_t i = 0; i < sizeof(REQUIRED_SECTIONS) / sizeof(REQUIRED_SECTIONS[0]); ++i)
    {
        if (!FindSection(REQUIRED_SECTIONS[i].header, REQUIRED_SECTIONS[i].index))
        {
            LogMessage(2, LOG_ERROR, "INIFILE '%hs' doesn't have a valid '%s' section.\n",
                       m_szIniFile, REQUIRED_SECTIONS[i].name);
            return false;
        }
    }
    // Older settings files have no digests; downloads then rely on signatures.
    FindSection(DIGESTS_HEADER, SECTION_DIGESTS);
    return true;
}

bool CResource::ChooseLanguage(const char* code)
{
    FW_ASSERT(m_bValid == true);
    if (!m_bValid)
        return false;

    char candidate[LABEL_CODE_SIZE] = "";
    bool chosen = false;

    if (code != NULL && strlen(code) == 2)
        strcpy(candidate, code);
    TextUpper(candidate);
    chosen = HasLabels(candidate);

    if (!chosen)
    {
        // The file's own preference. Only the first two characters count, so
        // that "FR (French)" means FR.
        const char* preferred = GetSetting(SETTING_DEFAULT_LANGUAGE, false);
        if (preferred != NULL && preferred[0] != 0)
        {
            lstrcpynA(candidate, preferred, LABEL_CODE_SIZE);
            TextUpper(candidate);
            if (HasLabels(candidate))
            {
                m_iPreferredLanguage = LanguageIndex(candidate);
                chosen = true;
            }
        }
    }

    if (!chosen)
    {
        // The user's language: the abbreviated name ("FRA", "DEU", ...)
        // begins with the two-letter code for most languages of the table.
        char name[8] = "";
        if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME, name, sizeof(name)) >= 2)
        {
            lstrcpynA(candidate, name, LABEL_CODE_SIZE);
            TextUpper(candidate);
            if (HasLabels(candidate))
            {
                if (m_iPreferredLanguage < 0)
                    m_iPreferredLanguage = LanguageIndex(candidate);
                chosen = true;
            }
        }
    }

    if (!chosen)
    {
        strcpy(candidate, "EN");
        chosen = HasLabels(candidate);
    }

    if (!chosen)
    {
        // The first label section of the file that is usable; a header with
        // a code outside the table does not hide the sections after it.
        for (unsigned int i = 0; i < m_nLabelSections && !chosen; ++i)
        {
            if (HasLabels(m_labelCodes[i]))
            {
                strcpy(candidate, m_labelCodes[i]);
                TextUpper(candidate);
                chosen = true;
            }
        }
        if (!chosen)
            strcpy(candidate, "EN");
    }

    m_iLanguage = LanguageIndex(candidate);

    if (!useWideApi)
    {
        UINT codePage = LanguageCodePage(m_iLanguage);
        if (codePage != 0)
            UseLanguageCodePage(codePage);
    }

    if (!chosen)
    {
        LogMessage(2, LOG_ERROR, "INIFILE '%hs' doesn't have a valid labels section.\n",
                   m_szIniFile);
        return false;
    }
    LogMessage(2, LOG_INFO, "Selected language = '%hs'\n", GetLanguageCode());
    return true;
}

void CResource::SetLocal(bool local)
{
    m_bLocal = local;
    if (!GetCurrentFolder(m_szLocalBase))
    {
        m_szLocalBase[0] = 0;
        LogSystemError("The current directory could not be read", GetLastError());
    }
    LogMessage(2, LOG_INFO, "'%hs' Installation\n", local ? "LOCAL" : "WEB");
}

const char* CResource::GetSetting(const wchar_t* key, bool warn)
{
    if (m_bLocal && key != NULL && TextEqualNoCase(key, SETTING_BASE_URL))
        return m_szLocalBase;

    const wchar_t* value = Lookup(key, SECTION_SETTINGS, ValueBufferSlot());
    if (value == NULL)
    {
        if (warn)
            LogMessage(2, LOG_WARNING, "Setting '%ws' missing!\n", key ? key : L"");
        return NULL;
    }
    // Settings are paths, registry data and switches: always the system's
    // code page, whatever the label language has made the conversion use.
    UINT codePage = GetConversionCodePage();
    SetConversionCodePage(0);
    const char* narrow = W2A(value);
    SetConversionCodePage(codePage);
    return narrow;
}

const wchar_t* CResource::GetLabel(const wchar_t* key)
{
    return LookupLabel(key, m_iLanguage, ValueBufferSlot());
}

const wchar_t* CResource::GetLabelFor(const wchar_t* key, int languageIndex)
{
    return LookupLabel(key, languageIndex, ValueBufferSlot());
}

const wchar_t* CResource::FormatLabel(const wchar_t* key, ...)
{
    va_list args;
    va_start(args, key);
    const wchar_t* text = FormatLabelV(key, args);
    va_end(args);
    return text;
}

const wchar_t* CResource::FormatLabelV(const wchar_t* key, va_list args)
{
    const wchar_t* format = LookupLabel(key, m_iLanguage, FormatBufferSlot());
    if (format == NULL || format[0] == 0)
        return NULL;

    if (!LabelFitsArguments(format, LabelArgumentKinds(key)))
    {
        LogMessage(2, LOG_WARNING, "Caption '%ws' does not fit its arguments: not used.\n", key);
        return NULL;
    }

    FW_ASSERT(!m_bUsingCaptionBuffer);
    if (m_bUsingCaptionBuffer)
        return NULL;
    m_bUsingCaptionBuffer = true;

    std::wstring text;
    va_list formatting;
    va_copy(formatting, args);
    bool formatted = FormatCheckedLabel(text, format, formatting);
    va_end(formatting);
    if (!formatted)
    {
        m_bUsingCaptionBuffer = false;
        LogMessage(2, LOG_WARNING, "Caption '%ws' cannot be formatted!\n", key);
        return NULL;
    }
    // The buffer doubles from its first size until the text fits, and stays.
    size_t capacity = m_captionCapacity != 0 ? m_captionCapacity : FIRST_CAPTION_CAPACITY;
    while (capacity <= text.size())
        capacity *= 2;
    if (m_captionBuffer == NULL || capacity != m_captionCapacity)
    {
        free(m_captionBuffer);
        m_captionBuffer = (wchar_t*)malloc(capacity * sizeof(wchar_t));
        m_captionCapacity = m_captionBuffer != NULL ? capacity : 0;
        if (m_captionBuffer == NULL)
        {
            m_bUsingCaptionBuffer = false;
            return NULL;
        }
    }
    memcpy(m_captionBuffer, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    m_bUsingCaptionBuffer = false;
    return m_captionBuffer;
}

const char* CResource::GetCheckSum(const char* key)
{
    if (key == NULL || key[0] == 0)
        return NULL;
    const wchar_t* value = Lookup(A2W(key), SECTION_CHECKSUMS, ValueBufferSlot());
    if (value == NULL)
        return NULL;
    return W2A(value);
}

const char* CResource::GetDigest(const char* key)
{
    if (key == NULL || key[0] == 0)
        return NULL;
    const wchar_t* value = Lookup(A2W(key), SECTION_DIGESTS, ValueBufferSlot());
    if (value == NULL)
        return NULL;
    return W2A(value);
}

bool CResource::HasLabels(int languageIndex) const
{
    if (languageIndex < 0 || languageIndex >= MAX_LABEL_SECTIONS)
        return false;
    int section = SECTION_LABELS + languageIndex;
    return m_iSectionStart[section] != NULL && m_iSectionLength[section] != 0;
}

bool CResource::HasLabels(const char* code) const
{
    return HasLabels(LanguageIndex(code));
}

const wchar_t* CResource::GetSectionStart(int sectionIndex) const
{
    if (sectionIndex < 0 || sectionIndex >= MAX_SECTIONS)
        return NULL;
    return m_iSectionLength[sectionIndex] != 0 ? m_iSectionStart[sectionIndex] : NULL;
}

int CResource::GetSectionLength(int sectionIndex) const
{
    if (sectionIndex < 0 || sectionIndex >= MAX_SECTIONS)
        return 0;
    return m_iSectionLength[sectionIndex];
}

void CResource::SetLanguage(int languageIndex)
{
    if (languageIndex >= 0 && languageIndex < MAX_LABEL_SECTIONS)
        m_iLanguage = languageIndex;
}

const char* CResource::GetLanguageCode() const
{
    const char* code = LanguageCode(m_iLanguage);
    return code != NULL ? code : "";
}

const char* CResource::GetLabelCode(unsigned int slot) const
{
    return slot < m_nLabelSections ? m_labelCodes[slot] : NULL;
}

bool CResource::FindSection(const wchar_t* header, int sectionIndex)
{
    FW_ASSERT(sectionIndex < MAX_SECTIONS);
    if (sectionIndex < 0 || sectionIndex >= MAX_SECTIONS)
        return false;
    m_iSectionStart[sectionIndex] = NULL;
    m_iSectionLength[sectionIndex] = 0;

    const wchar_t* text = m_file.GetText();
    const wchar_t* found = TextFindNoCase(text, header);
    if (found == NULL)
        return false;

    const wchar_t* body = found + wcslen(header);
    while (IsWhite(*body))
        ++body;
    if (*body == 0)
        return false;
    // The header is followed directly by the next section's header: the body
    // is empty, and must not swallow the section after it.
    if (*body == L'[' && body > found + wcslen(header) && body[-1] == L'\n')
        return false;

    const wchar_t* next = wcsstr(body, L"\n[");
    const wchar_t* end;
    if (next != NULL)
    {
        end = next;
        while (end > body && IsWhite(end[-1]))
            --end;
    }
    else
    {
        end = body + wcslen(body);
    }
    if (end == body)
        return false;

    m_iSectionStart[sectionIndex] = body;
    m_iSectionLength[sectionIndex] = (int)(end - body);
    return true;
}

unsigned int CResource::FindLabelSections()
{
    const wchar_t* text = m_file.GetText();
    const size_t prefixLength = wcslen(LABELS_PREFIX);
    unsigned int count = 0;

    const wchar_t* found = TextFindNoCase(text, LABELS_PREFIX);
    while (found != NULL && count < (unsigned int)MAX_LABEL_SECTIONS)
    {
        wchar_t wideCode[LABEL_CODE_SIZE] = { 0 };
        for (int i = 0; i < 2 && found[prefixLength + i] != 0; ++i)
            wideCode[i] = found[prefixLength + i];
        // Two characters may need more than two bytes in a multi-byte code
        // page; such a code is in no table anyway.
        lstrcpynA(m_labelCodes[count], W2A(wideCode), LABEL_CODE_SIZE);
        ++count;

        int language = LanguageIndex(m_labelCodes[count - 1]);
        if (language >= 0)
        {
            wchar_t header[32];
            _snwprintf(header, 32, L"[Labels_%hs]", LanguageCode(language));
            header[31] = 0;
            FindSection(header, SECTION_LABELS + language);
        }
        found = TextFindNoCase(found + 1, LABELS_PREFIX);
    }
    return count;
}

CResource::ValueSlot CResource::ValueBufferSlot()
{
    ValueSlot slot = { &m_valueBuffer, &m_valueCapacity, &m_bUsingValueBuffer,
                       "!m_bUsingValueBuffer" };
    return slot;
}

CResource::ValueSlot CResource::FormatBufferSlot()
{
    ValueSlot slot = { &m_formatBuffer, &m_formatCapacity, &m_bUsingFormatBuffer,
                       "!m_bUsingFormatBuffer" };
    return slot;
}

const wchar_t* CResource::LookupLabel(const wchar_t* key, int languageIndex,
                                      const ValueSlot& slot)
{
    if (languageIndex < 0 || languageIndex >= MAX_LABEL_SECTIONS)
        return NULL;
    const wchar_t* value = Lookup(key, SECTION_LABELS + languageIndex, slot);
    if (value == NULL)
        LogMessage(2, LOG_WARNING, "Caption '%ws' missing!\n", key ? key : L"");
    return value;
}

const wchar_t* CResource::Lookup(const wchar_t* key, int sectionIndex, const ValueSlot& slot)
{
    if (key == NULL || key[0] == 0)
        return NULL;
    if (sectionIndex < 0 || sectionIndex >= MAX_SECTIONS)
        return NULL;
    // An absent section is a matter of the file, not of the program: the
    // key is simply missing.
    const wchar_t* body = m_iSectionStart[sectionIndex];
    int bodyLength = m_iSectionLength[sectionIndex];
    if (body == NULL || bodyLength == 0)
        return NULL;

    size_t keyLength = wcslen(key);
    if (keyLength > (size_t)MAX_KEY_LENGTH)
        return NULL;
    wchar_t pattern[MAX_KEY_LENGTH + 2];
    wcscpy(pattern, key);
    wcscat(pattern, L"=");
    size_t patternLength = keyLength + 1;

    // Only matches that lie wholly inside the section's body count.
    const wchar_t* bodyEnd = body + bodyLength;
    const wchar_t* match = NULL;
    for (const wchar_t* p = body; p + patternLength <= bodyEnd; ++p)
    {
        if (TextEqualNoCase(p, pattern, patternLength) && StartsEntry(body, p))
        {
            match = p;
            break;
        }
    }
    if (match == NULL)
        return NULL;

    const wchar_t* value = match + patternLength;
    while (IsLineWhite(*value))
        ++value;
    if (IsQuote(*value))
        ++value;
    if (*value == 0)
        return NULL;
    const wchar_t* valueEnd = wcschr(value, L'\n');
    if (valueEnd == NULL)
        valueEnd = value + wcslen(value);
    size_t length = (size_t)(valueEnd - value);
    if (length == 0)
        return NULL;

    if (*slot.inUse)
    {
        ReportAssertion(slot.inUseCondition, __FILE__, __LINE__);
        return NULL;
    }
    *slot.inUse = true;
    if (*slot.buffer == NULL || *slot.capacity < length + 1)
    {
        free(*slot.buffer);
        size_t capacity = length + VALUE_SLACK;
        if (capacity < MIN_VALUE_CAPACITY)
            capacity = MIN_VALUE_CAPACITY;
        *slot.buffer = (wchar_t*)malloc(capacity * sizeof(wchar_t));
        if (*slot.buffer == NULL)
        {
            *slot.capacity = 0;
            *slot.inUse = false;
            return NULL;
        }
        *slot.capacity = capacity;
    }

    wchar_t* out = *slot.buffer;
    for (size_t i = 0; i < length; ++i)
        out[i] = value[i] == L'|' ? L'\n' : value[i];
    out[length] = 0;
    while (length > 0 && IsWhite(out[length - 1]))
        out[--length] = 0;
    if (length > 0 && IsQuote(out[length - 1]))
        out[--length] = 0;

    *slot.inUse = false;
    return out;
}
