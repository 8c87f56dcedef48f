// The component lines of [Components] and [Additional]: one data file per
// line, "name = value ; keyword = value ; ...", walked line by line.
#pragma once

#include <windows.h>

#include "C_String.h"

class CResource;

const unsigned int MAX_COMPONENT_RULES = 4;
const size_t EXE_VERSION_SIZE = 32;       // ExeVersion of 31 characters at most

// Kinds of the rule keywords (bit values, as the installation tests them).
const DWORD RULE_NONE = 0;                // a word the program does not know
const DWORD RULE_IF_EXISTS = 0x1;
const DWORD RULE_SOURCE = 0x2;
const DWORD RULE_MS = 0x10;
const DWORD RULE_MS_ANY = 0x20;
const DWORD RULE_EXTENSION = 0x40;
const DWORD RULE_MULTI = 0x80;
const DWORD RULE_IF_NOT_EXISTS = 0x100;
const DWORD RULE_THEN = 0x200;
const DWORD RULE_ELSE = 0x400;

// The placeholder of component values that the setting ExeVersion replaces.
constexpr const char* PLACEHOLDER_EXE_VERSION = "<ExeVersion>";

struct ComponentRule
{
    C_String keyword;
    C_String value;
    DWORD kind = RULE_NONE;
};

// One line of a component section. A plain record: the installation reads
// its fields directly.
class CComponent
{
public:
    CComponent();
    virtual ~CComponent();

    // Fills the rule table from the text after the first ";" of a line; none
    // or empty leaves no rules. Only the first MAX_COMPONENT_RULES complete
    // keyword/value pairs count.
    void ParseRules(const char* rules);

    C_String m_name;
    C_String m_value;
    unsigned int m_ruleCount;
    ComponentRule m_rules[MAX_COMPONENT_RULES];
};

// The kind of a rule keyword and its value (MS=Any has a kind of its own).
DWORD RuleKindOf(const char* keyword, const char* value);

class CResourceIterator
{
public:
    // Positioned on the first line of the section (SECTION_COMPONENTS or
    // SECTION_ADDITIONAL); resMgr must outlive the iterator.
    CResourceIterator(CResource* resMgr, int sectionIndex);
    virtual ~CResourceIterator();

    // The next line as a component that the caller deletes; null at the end.
    CComponent* Next();

private:
    char m_szExeVersion[EXE_VERSION_SIZE];
    const wchar_t* m_position;    // start of the next line; null once the walk has ended
    int m_remaining;              // characters left in the section
    wchar_t* m_line;
    size_t m_lineCapacity;        // characters

    CResourceIterator(const CResourceIterator&) = delete;
    CResourceIterator& operator=(const CResourceIterator&) = delete;
};
