#include "Log.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* const KIND_PREFIX[] = { "", "\t", "W\t", "E\t", "***DEBUG*** " };
static const int KIND_COUNT = sizeof(KIND_PREFIX) / sizeof(KIND_PREFIX[0]);
static const size_t FIRST_FORMAT_SIZE = 512;

static int s_verbosity = DEFAULT_LOG_VERBOSITY;
static bool s_loggingOn = false;
static char s_logPath[LOG_PATH_SIZE] = "";
static LogWindowFeed s_windowFeed = NULL;

static const char* KindPrefix(int kind)
{
    return (kind >= 0 && kind < KIND_COUNT) ? KIND_PREFIX[kind] : "";
}

static void WriteAll(HANDLE file, const char* data, size_t length)
{
    DWORD written = 0;
    if (length > 0)
        WriteFile(file, data, (DWORD)length, &written, NULL);
}

// Appends one line to the log file; a file that cannot be opened loses the line.
static void WriteLine(int kind, const char* text, bool withDate)
{
    if (s_logPath[0] == 0)
        return;

    char date[32] = "";
    if (withDate)
    {
        FormatTimestamp(date, false);
        strcat(date, "\t");
    }

    HANDLE file = CreateFileA(s_logPath, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    SetFilePointer(file, 0, NULL, FILE_END);

    const char* prefix = KindPrefix(kind);
    WriteAll(file, prefix, strlen(prefix));
    WriteAll(file, date, strlen(date));
    size_t length = text ? strlen(text) : 0;
    if (length > 1 && (text[length - 1] == '\r' || text[length - 1] == '\n'))
    {
        WriteAll(file, text, length - 1);
        WriteAll(file, "\r\n", 2);
    }
    else
    {
        WriteAll(file, text, length);
    }
    CloseHandle(file);
}

void LogMessage(int level, int kind, const char* format, ...)
{
    if (level > s_verbosity || !s_loggingOn || format == NULL)
        return;
    // Callers often log a failure and then read the last error for the next
    // line; opening the log file must not change it under them.
    struct LastErrorKeeper
    {
        DWORD saved = GetLastError();
        ~LastErrorKeeper() { SetLastError(saved); }
    } keeper;

    // The runtime's own formatter: it knows %hs, %ws and %S. Most lines fit the
    // first buffer and are formatted once. A failure is either a short buffer
    // or a wide argument the code page cannot carry; only then is the size
    // asked, so that the second is not taken for the first.
    // One byte stays beyond the terminator: the log window feed turns a final
    // LF into CR and appends the LF after it.
    size_t size = FIRST_FORMAT_SIZE;
    char* buffer = (char*)malloc(size);
    if (buffer == NULL)
        return;
    va_list args;
    va_start(args, format);
    int n = _vsnprintf(buffer, size - 1, format, args);
    va_end(args);
    if (n < 0 || (size_t)n >= size - 1)
    {
        free(buffer);
        va_start(args, format);
        int needed = _vscprintf(format, args);
        va_end(args);
        if (needed < 0)
        {
            LogMessage(level, kind, "<unprintable text> %hs", format);
            return;
        }
        while (size <= (size_t)needed + 1)
            size *= 2;
        buffer = (char*)malloc(size);
        if (buffer == NULL)
            return;
        va_start(args, format);
        n = _vsnprintf(buffer, size, format, args);
        va_end(args);
        if (n < 0)
        {
            free(buffer);
            return;
        }
    }
    buffer[n] = 0;

    if (s_windowFeed != NULL)
    {
        char prefix[16];
        strcpy(prefix, KindPrefix(kind));
        s_windowFeed(prefix);
        s_windowFeed(buffer);
    }
    WriteLine(kind, buffer, false);
    free(buffer);
}

void LogBanner(const char* text)
{
    DWORD saved = GetLastError();
    WriteLine(LOG_PLAIN, text, true);
    SetLastError(saved);
}

bool SetLogFile(const char* path)
{
    if (path == NULL || path[0] == 0)
    {
        s_logPath[0] = 0;
        s_loggingOn = false;
        return true;
    }
    // A cut name would send the lines to some other file, and switching off
    // would lose them all: the log stays where it is.
    if (strlen(path) >= (size_t)LOG_PATH_SIZE)
    {
        LogMessage(0, LOG_WARNING, "Log file name of %u characters too long, log stays '%hs'\n",
                   (unsigned)strlen(path), s_logPath);
        return false;
    }
    strcpy(s_logPath, path);
    s_loggingOn = true;
    return true;
}

void SetLogVerbosity(int level)
{
    s_verbosity = level;
}

int GetLogVerbosity()
{
    return s_verbosity;
}

bool IsLoggingOn()
{
    return s_loggingOn;
}

const char* GetLogFile()
{
    return s_logPath;
}

bool MakeLogName(char* out, const char* namePart)
{
    if (out == NULL)
        return false;
    out[0] = 0;

    char temp[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof(temp), temp);
    if (n == 0 || n >= MAX_PATH)
        return false;

    char day[16];
    FormatTimestamp(day, true);

    // Plain %s: this _snprintf may be the C99 one, which reads %hs differently
    // from the system's formatter; for narrow arguments both agree on %s.
    char name[1024];
    if (namePart == NULL || namePart[0] == 0)
        _snprintf(name, sizeof(name), "%sFern_%s.log", temp, day);
    else if (namePart[0] == '.')
        _snprintf(name, sizeof(name), "%s%s_%s%s", temp, namePart + 1, day, namePart);
    else
        _snprintf(name, sizeof(name), "%s%s_%s.log", temp, namePart, day);
    name[sizeof(name) - 1] = 0;
    if (strlen(name) >= LOG_PATH_SIZE)
        return false;
    strcpy(out, name);
    return true;
}

void FormatTimestamp(char* out, bool dayStampOnly)
{
    if (out == NULL)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    if (dayStampOnly)
        sprintf(out, "%02d%02d%04d", now.wDay, now.wMonth, now.wYear);
    else
        sprintf(out, "%02d/%02d/%04d %02d:%02d:%02d", now.wDay, now.wMonth, now.wYear,
                now.wHour, now.wMinute, now.wSecond);
}

void LogSystemError(const char* text, DWORD code)
{
    if (code == 0)
        code = GetLastError();
    char* message = NULL;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&message, 0,
                   NULL);
    // The system's texts end with a line break of their own; keep the log line whole.
    if (message != NULL)
    {
        size_t length = strlen(message);
        while (length > 0 && (message[length - 1] == '\r' || message[length - 1] == '\n' ||
                              message[length - 1] == ' '))
            message[--length] = 0;
    }
    LogMessage(0, LOG_ERROR, "'%hs' '%ld' '%hs'\n", text ? text : "", (long)code,
               message ? message : "");
    if (message != NULL)
        LocalFree(message);
}

void SetLogWindowFeed(LogWindowFeed feed)
{
    s_windowFeed = feed;
}
