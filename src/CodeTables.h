// The product's two code tables: languages and member states.
#pragma once

const int LANGUAGE_COUNT = 23;       // real codes, index 0..22
const int LANGUAGE_SLOTS = 24;       // index 23 is the empty "none" slot
const int MEMBER_STATE_COUNT = 26;

// "" for 23; null for anything outside 0..23.
const char* LanguageCode(int index);
int LanguageIndex(const char* code);
bool IsLanguageCode(const char* code);
const char* MemberStateCode(int index);
int MemberStateIndex(const char* code);
bool IsMemberStateCode(const char* code);

// Languages that need their own character set for fonts and, where the narrow
// interfaces are in use, their own ANSI code page (0: the system's).
struct LanguageGroup
{
    unsigned char charSet;
    unsigned int codePage;
};
LanguageGroup LanguageGroupOf(int languageIndex);
