// Small routines on terminated character arrays. Null arguments are tolerated:
// the routine does nothing or returns the neutral value.
#pragma once

#include <stddef.h>

size_t TextLength(const char* text);
size_t TextLength(const wchar_t* text);
char* TextCopy(char* dest, const char* src);
wchar_t* TextCopy(wchar_t* dest, const wchar_t* src);
char* TextConcat(char* dest, const char* src);
wchar_t* TextConcat(wchar_t* dest, const wchar_t* src);
char* TextDuplicate(const char* text);          // free() the result
wchar_t* TextDuplicate(const wchar_t* text);    // free() the result
void TextUpper(char* text);
void TextLower(char* text);
char* TextTrimRight(char* text, char c);        // c 0: white space
char* TextTrimLeft(char* text, char c);         // position after leading c / white space
char* TextTrim(char* text);
const char* TextRight(const char* text, size_t n);
const wchar_t* TextFindNoCase(const wchar_t* text, const wchar_t* search);
const wchar_t* TextFindInRange(const wchar_t* text, size_t n, const wchar_t* search);
bool TextEqualNoCase(const char* a, const char* b);
bool TextEqualNoCase(const wchar_t* a, const wchar_t* b);
bool TextEqualNoCase(const char* a, const char* b, size_t n);
bool TextEqualNoCase(const wchar_t* a, const wchar_t* b, size_t n);
void TextStripPrefixNoCase(char* text, const char* prefix);
// Replaces the first place of search by a replacement that is not longer.
bool TextReplaceInPlace(char* text, const char* search, const char* replacement);
