// Version information of files on disk: the file version of a version
// resource, the version marker embedded in delivered data files, the
// comparison of version texts, and the per-file check that decides whether an
// installed file is up to date.
#pragma once

#include <windows.h>

#include <stddef.h>

// The text forms kept in a FileVersionQuery. "V65535.65535.65535.65535" and a
// marker version of 31 characters both fit the value.
const size_t VERSION_EXPECTED_SIZE = 16;
const size_t VERSION_VALUE_SIZE = 32;
// A marker version is shorter than this many characters (and narrow bytes).
const size_t MARKER_VERSION_SIZE = 32;
// Marker versions are searched in windows of this size from the end of a file,
// at most MARKER_MAX_WINDOWS of them.
const DWORD MARKER_WINDOW_SIZE = 16384;
const int MARKER_MAX_WINDOWS = 30;

// How CheckFileVersion judges a candidate file.
enum VersionCheckMethod
{
    VERSION_BY_CHECKSUM = 0,   // checksum text equal to the expected one
    VERSION_BY_FILE_VERSION = 1, // file version at least the expected one
    VERSION_BY_MARKER = 2,     // marker version at least the expected one
    VERSION_BY_EXISTENCE = 3,  // any file will do
    VERSION_BY_DATE = 4        // created on or after the expected DD.MM.YYYY
};

// The record CheckFileVersion works on, filled by the component installation.
struct FileVersionQuery
{
    bool found = false;          // a file has been accepted
    bool keepSearching = false;  // look on for a newer file after the first accepted one
    DWORD method = VERSION_BY_CHECKSUM;
    char expected[VERSION_EXPECTED_SIZE] = {}; // checksum, minimum version, or DD.MM.YYYY
    char value[VERSION_VALUE_SIZE] = {};       // the accepted file's checksum or version
    char path[MAX_PATH] = {};                  // the accepted file
    DWORD best = 0;              // largest version difference accepted so far
};

// The file version of path (null: this program's own file) as its two 32-bit
// words. When the third field is 0 and the file has a product version, the
// fourth field moves to the third place and the build number of the product
// name ("...-<build>]") becomes the fourth. Returns a Windows error code.
DWORD GetFileVersionNumbers(const char* path, DWORD* mostSignificant, DWORD* leastSignificant);

// The version marker near the end of path into out (MARKER_VERSION_SIZE
// bytes): 0, or 13 (ERROR_INVALID_DATA) when there is none.
DWORD GetMarkerVersion(const char* path, char* out);

// Judges one candidate file for the file search; true tells the search to stop.
bool CheckFileVersion(const char* path, FileVersionQuery* query);
// The same as a file-search callback: context is the FileVersionQuery.
bool CheckFileVersionOf(const char* path, void* context);

// Results of CompareVersions.
const int VERSION_B_HIGHER = 1;
const int VERSION_EQUAL = 0;
const int VERSION_B_LOWER = -1;
const int VERSION_NOT_COMPARABLE = -2;

// Compares version texts ("V" and up to four numbers): 1 when b is higher than
// a, 0 when equal, -1 when b is lower, -2 when they cannot be compared. The
// second form also gives b - a of the packed values (0 when not comparable).
int CompareVersions(const char* a, const char* b);
int CompareVersions(const char* a, const char* b, DWORD* difference);

// Bytes of a version label: "V" and the settings file's IniVersion (or "V1"
// and it for the .NET edition).
const int VERSION_LABEL_SIZE = 32;

// Writes "V" and text (one leading "v" or "V" of text dropped) into out, or
// "V1" and it when prefixOne is set. Nothing is written when text or out is
// missing or text is empty. A label that would not fit into outSize
// characters (terminator included) leaves out empty and returns false.
bool MakeVersionLabel(const char* text, char* out, size_t outSize, bool prefixOne);
