#include "CResourceIterator.h"

#include <stdlib.h>
#include <string.h>
#include <wctype.h>

#include <new>

#include "Assert.h"
#include "CResource.h"
#include "TextUtil.h"
#include "WideAPI.h"

static const size_t LINE_SLACK = 80;

static const struct
{
    const char* keyword;
    DWORD kind;
} RULE_KEYWORDS[] = {
    { "IfExists", RULE_IF_EXISTS },   { "IfNotExists", RULE_IF_NOT_EXISTS },
    { "Source", RULE_SOURCE },        { "MS", RULE_MS },
    { "Multi", RULE_MULTI },          { "Extension", RULE_EXTENSION },
    { "Then", RULE_THEN },            { "Else", RULE_ELSE },
};

static bool IsSeparator(char c)
{
    return c == ';' || c == '=';
}

// The next token of a rules text: the run up to the next ";" or "=", trimmed.
// Empty runs are skipped, so doubled separators count as one. A tokenizer of
// our own instead of the runtime's, which keeps its place in shared state.
static bool NextToken(const char*& cursor, C_String& token)
{
    for (;;)
    {
        while (*cursor != 0 && IsSeparator(*cursor))
            ++cursor;
        if (*cursor == 0)
            return false;
        const char* start = cursor;
        while (*cursor != 0 && !IsSeparator(*cursor))
            ++cursor;
        char* run = (char*)malloc(cursor - start + 1);
        if (run == NULL)
            return false;
        memcpy(run, start, cursor - start);
        run[cursor - start] = 0;
        TextTrimRight(run, 0);
        token = TextTrimLeft(run, 0);
        free(run);
        if (!token.IsEmpty())
            return true;
    }
}

DWORD RuleKindOf(const char* keyword, const char* value)
{
    for (const auto& known : RULE_KEYWORDS)
        if (TextEqualNoCase(keyword, known.keyword))
            return known.kind == RULE_MS && TextEqualNoCase(value, "Any") ? RULE_MS_ANY : known.kind;
    return RULE_NONE;
}

CComponent::CComponent() : m_ruleCount(0)
{
}

CComponent::~CComponent()
{
}

void CComponent::ParseRules(const char* rules)
{
    for (ComponentRule& rule : m_rules)
    {
        rule.keyword.Clear();
        rule.value.Clear();
        rule.kind = RULE_NONE;
    }
    m_ruleCount = 0;
    if (rules == NULL)
        return;

    const char* cursor = rules;
    C_String token;
    bool expectKeyword = true;
    while (m_ruleCount < MAX_COMPONENT_RULES && NextToken(cursor, token))
    {
        ComponentRule& rule = m_rules[m_ruleCount];
        if (expectKeyword)
        {
            rule.keyword = token;
        }
        else
        {
            rule.value = token;
            rule.kind = RuleKindOf(rule.keyword.GetNarrow(), rule.value.GetNarrow());
            ++m_ruleCount;
        }
        expectKeyword = !expectKeyword;
    }
    // A keyword left without its value is no rule.
    if (m_ruleCount < MAX_COMPONENT_RULES)
        m_rules[m_ruleCount].keyword.Clear();
}

CResourceIterator::CResourceIterator(CResource* resMgr, int sectionIndex)
    : m_position(NULL), m_remaining(0), m_line(NULL), m_lineCapacity(0)
{
    m_szExeVersion[0] = 0;
    FW_ASSERT(resMgr != NULL);
    if (resMgr == NULL)
        return;
    const char* exeVersion = resMgr->GetSetting(SETTING_EXE_VERSION, true);
    if (exeVersion != NULL && strlen(exeVersion) < EXE_VERSION_SIZE)
        strcpy(m_szExeVersion, exeVersion);
    m_position = resMgr->GetSectionStart(sectionIndex);
    m_remaining = m_position != NULL ? resMgr->GetSectionLength(sectionIndex) + 1 : 0;
}

CResourceIterator::~CResourceIterator()
{
    free(m_line);
}

CComponent* CResourceIterator::Next()
{
    if (m_position == NULL || m_remaining < 1)
        return NULL;

    // The line runs to its LF. The section's last line may have none within
    // the section (spaces before its line end, or the end of the file): it
    // is still a line of the list and runs to the section's end.
    int length = 0;
    while (length < m_remaining && m_position[length] != 0 && m_position[length] != L'\n')
        ++length;
    const bool lastLine = length >= m_remaining || m_position[length] != L'\n';
    if (lastLine)
        length = m_remaining - 1;

    if (m_lineCapacity < (size_t)length + 1)
    {
        free(m_line);
        m_lineCapacity = 0;
        m_line = (wchar_t*)malloc((length + LINE_SLACK) * sizeof(wchar_t));
        if (m_line == NULL)
        {
            m_position = NULL;
            return NULL;
        }
        m_lineCapacity = length + LINE_SLACK;
    }
    int copied = 0;
    while (copied < length && m_position[copied] != 0)
    {
        m_line[copied] = m_position[copied];
        ++copied;
    }
    m_line[copied] = 0;

    if (lastLine)
    {
        m_position = NULL;
        m_remaining = 0;
    }
    else
    {
        m_remaining -= length + 1;
        m_position += length + 1;
        while (m_remaining > 0 && *m_position != 0 && iswspace(*m_position))
        {
            ++m_position;
            --m_remaining;
        }
    }

    C_String line(W2A(m_line));
    char* text = line.NarrowBuffer();
    if (text == NULL)
        return NULL;
    TextTrimRight(text, 0);
    text = TextTrimLeft(text, 0);
    if (*text == 0)
        return NULL; // only white space up to the section's end

    CComponent* component = new (std::nothrow) CComponent();
    if (component == NULL)
        return NULL;
    char* equals = strchr(text, '=');
    if (equals != NULL)
    {
        *equals = 0;
        TextTrimRight(text, 0);
        component->m_name = text;
        char* value = equals + 1;
        char* semicolon = strchr(value, ';');
        if (semicolon != NULL)
            *semicolon = 0;
        component->ParseRules(semicolon != NULL ? semicolon + 1 : NULL);
        TextTrimRight(value, 0);
        component->m_value = TextTrimLeft(value, 0);
    }
    else
    {
        component->m_name = text;
        component->ParseRules(NULL);
    }
    component->m_value.Replace(PLACEHOLDER_EXE_VERSION, m_szExeVersion, 1);
    return component;
}
