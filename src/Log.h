// The run's log: one plain-text file, appended line by line (each line written
// whole at once, so that the file is complete at every moment and others can
// read it while the run goes on).
#pragma once

#include <windows.h>

// Kinds of log line: the prefix written before the text.
enum LogKind
{
    LOG_PLAIN = 0,   // ""
    LOG_INFO = 1,    // "\t"
    LOG_WARNING = 2, // "W\t"
    LOG_ERROR = 3,   // "E\t"
    LOG_DEBUG = 4    // "***DEBUG*** "
};

const int DEFAULT_LOG_VERBOSITY = 3;
const int LOG_PATH_SIZE = 260;

// printf-style; dropped when level is above the verbosity or logging is off.
// Formats with the runtime's own printf (%hs narrow, %ws and %S wide texts),
// which the compiler's format checker does not know: no format attribute.
void LogMessage(int level, int kind, const char* format, ...);
void LogBanner(const char* text);
// A non-empty path switches logging on to that file; none or empty switches it
// off. A path of LOG_PATH_SIZE characters or more is refused (false, logged):
// the previous file stays in use.
bool SetLogFile(const char* path);
void SetLogVerbosity(int level);
int GetLogVerbosity();
bool IsLoggingOn();
const char* GetLogFile();
bool MakeLogName(char* out, const char* namePart);
void FormatTimestamp(char* out, bool dayStampOnly);
void LogSystemError(const char* text, DWORD code);

// The log window (a later part of the program) registers its feed here; while
// one is registered every LogMessage line is also appended to it.
typedef void (*LogWindowFeed)(char* text);
void SetLogWindowFeed(LogWindowFeed feed);
