#include "CodeTables.h"

#include <windows.h>
#include <string.h>

static const char* const LANGUAGE_CODES[LANGUAGE_SLOTS] = {
    "DA", "DE", "EL", "EN", "ES", "FI", "FR", "IT", "NL", "PT", "SV", "LU",
    "EU", "CY", "CZ", "EE", "HU", "LV", "LT", "MT", "PL", "SI", "SK", ""
};

static const char* const MEMBER_STATE_CODES[MEMBER_STATE_COUNT + 1] = {
    "AT", "BE", "DE", "DK", "ES", "FI", "FR", "GB", "GR", "IE", "IT", "LU", "NL", "PT",
    "SE", "EU", "CY", "CZ", "EE", "HU", "LV", "LT", "MT", "PL", "SI", "SK", ""
};

// Walks a table up to its empty slot; only two-character texts can match.
static int FindCode(const char* const* table, const char* code)
{
    if (code == NULL || strlen(code) != 2)
        return -1;
    for (int i = 0; table[i][0] != 0; ++i)
    {
        if (lstrcmpiA(table[i], code) == 0)
            return i;
    }
    return -1;
}

const char* LanguageCode(int index)
{
    return (index >= 0 && index < LANGUAGE_SLOTS) ? LANGUAGE_CODES[index] : NULL;
}

int LanguageIndex(const char* code)
{
    return FindCode(LANGUAGE_CODES, code);
}

bool IsLanguageCode(const char* code)
{
    return LanguageIndex(code) >= 0;
}

const char* MemberStateCode(int index)
{
    return (index >= 0 && index <= MEMBER_STATE_COUNT) ? MEMBER_STATE_CODES[index] : NULL;
}

int MemberStateIndex(const char* code)
{
    return FindCode(MEMBER_STATE_CODES, code);
}

bool IsMemberStateCode(const char* code)
{
    return MemberStateIndex(code) >= 0;
}

LanguageGroup LanguageGroupOf(int languageIndex)
{
    static const LanguageGroup WESTERN = { ANSI_CHARSET, 0 };
    static const LanguageGroup GREEK = { GREEK_CHARSET, 1253 };
    static const LanguageGroup EAST_EUROPE = { EASTEUROPE_CHARSET, 1250 };
    static const LanguageGroup BALTIC = { BALTIC_CHARSET, 1257 };
    static const LanguageGroup TURKISH = { TURKISH_CHARSET, 1254 };
    switch (languageIndex)
    {
    case 2: case 13:                             // EL, CY
        return GREEK;
    case 14: case 16: case 20: case 21: case 22: // CZ, HU, PL, SI, SK
        return EAST_EUROPE;
    case 15: case 17: case 18:                   // EE, LV, LT
        return BALTIC;
    case 19:                                     // MT
        return TURKISH;
    default:
        return WESTERN;
    }
}
