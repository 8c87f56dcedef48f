#include "Log.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

static const char* const KIND_PREFIX[] = { "", "\t", "W\t", "E\t", "***DEBUG*** " };
static const int KIND_COUNT = sizeof(KIND_PREFIX) / sizeof(KIND_PREFIX[0]);
static const size_t FIRST_FORMAT_SIZE = 512;
// A line longer than this is a broken format or argument, not a log line.
static const size_t MAX_LINE_SIZE = 1u << 20;

static int s_verbosity = DEFAULT_LOG_VERBOSITY;
static bool s_loggingOn = false;
static char s_logPath[LOG_PATH_SIZE] = "";
static LogWindowFeed s_windowFeed = NULL;

static const char* KindPrefix(int kind)
{
    return (kind >= 0 && kind < KIND_COUNT) ? KIND_PREFIX[kind] : "";
}

// The log file stays open from its first line until the path changes or a
// banner is written: opening and closing it for every line cost about 0.45 ms
// a line under Wine, a kept handle 0.01 ms. Each line is one WriteFile of the
// whole line on a handle without any buffer of ours, so a line is in the
// system's cache as soon as the call returns and a killed run loses nothing
// that closing the file after it would have kept. Append access makes every
// write land at the end, whoever else appends (the download worker, a second
// instance); readers and writers of other programs are let in.
static HANDLE s_logFile = INVALID_HANDLE_VALUE;
static bool s_appendOnly = false;   // the handle writes at the end by itself

static void CloseLog()
{
    HANDLE file = (HANDLE)InterlockedExchangePointer((PVOID*)&s_logFile, INVALID_HANDLE_VALUE);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

// The open log; a file that cannot be opened gives none and the next line tries again.
static HANDLE OpenLog()
{
    if (s_logFile != INVALID_HANDLE_VALUE)
        return s_logFile;
    // Windows 95 to Me know neither append access nor delete sharing: there
    // the file is written and every line goes to its end first, as before.
    const bool nt = (GetVersion() & 0x80000000u) == 0;
    HANDLE file = CreateFileA(s_logPath, nt ? FILE_APPEND_DATA : GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | (nt ? FILE_SHARE_DELETE : 0), NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    // Two threads that opened it at once keep one handle.
    if (InterlockedCompareExchangePointer((PVOID*)&s_logFile, file, INVALID_HANDLE_VALUE) != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    else
        s_appendOnly = nt;
    return s_logFile;
}

// Appends one line to the log file; a file that cannot be opened loses the line.
static void WriteLine(int kind, const char* text, bool withDate)
{
    if (s_logPath[0] == 0)
        return;

    std::string line = KindPrefix(kind);
    if (withDate)
    {
        char date[32] = "";
        FormatTimestamp(date, false);
        line += date;
        line += '\t';
    }
    size_t length = text ? strlen(text) : 0;
    if (length > 1 && (text[length - 1] == '\r' || text[length - 1] == '\n'))
    {
        line.append(text, length - 1);
        line += "\r\n";
    }
    else
    {
        line.append(text ? text : "", length);
    }

    HANDLE file = OpenLog();
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE && !s_appendOnly)
        SetFilePointer(file, 0, NULL, FILE_END);
    if (file != INVALID_HANDLE_VALUE && !line.empty() &&
        (!WriteFile(file, line.data(), (DWORD)line.size(), &written, NULL) || written != line.size()))
        CloseLog();   // a file gone bad (a removed drive): the next line opens it again
}

// A wide text in the system's ANSI code page; what that code page cannot
// carry becomes the system's replacement character instead of failing.
static void AppendWide(std::string& out, const wchar_t* text, int length)
{
    if (length == 0)
        return;
    // No best fit: a log that shows "l" for "\u0142" misleads; Windows 9x
    // does not know the flag and is asked without it.
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    int size = WideCharToMultiByte(CP_ACP, flags, text, length, NULL, 0, NULL, NULL);
    if (size <= 0)
    {
        flags = 0;
        size = WideCharToMultiByte(CP_ACP, flags, text, length, NULL, 0, NULL, NULL);
    }
    if (size <= 0)
        return;
    std::string narrow((size_t)size, '\0');
    WideCharToMultiByte(CP_ACP, flags, text, length, &narrow[0], size, NULL, NULL);
    if (length < 0)
        narrow.resize(strlen(narrow.c_str()));
    out += narrow;
}

// The runtime's formatter, into a buffer that doubles until the text fits;
// false when it cannot format at all.
static bool AppendOneV(std::string& out, const char* spec, va_list args)
{
    for (size_t size = FIRST_FORMAT_SIZE;; size *= 2)
    {
        std::string piece(size, '\0');
        va_list copy;
        va_copy(copy, args);
        int n = _vsnprintf(&piece[0], size - 1, spec, copy);
        va_end(copy);
        if (n >= 0 && (size_t)n < size - 1)
        {
            out.append(piece.c_str(), (size_t)n);
            return true;
        }
        if (size > MAX_LINE_SIZE)
            return false;
    }
}

static bool AppendOne(std::string& out, const char* spec, ...)
{
    va_list args;
    va_start(args, spec);
    bool ok = AppendOneV(out, spec, args);
    va_end(args);
    return ok;
}

// The runtime's formatter converts wide arguments (%ws, %ls, %S, %lc) in its
// "C" locale and fails the whole line at the first character beyond Latin-1.
// So each conversion is formatted on its own and the wide texts are converted
// by the system. False for a conversion this does not know (the caller then
// leaves the whole line to the runtime).
static bool FormatLine(std::string& out, const char* format, va_list args)
{
    const char* p = format;
    while (*p)
    {
        if (*p != '%')
        {
            out += *p++;
            continue;
        }
        if (p[1] == '%')
        {
            out += '%';
            p += 2;
            continue;
        }
        std::string spec(1, *p++);
        while (*p && strchr("-+ #0", *p))
            spec += *p++;
        while (*p >= '0' && *p <= '9')
            spec += *p++;
        std::string precision;
        if (*p == '.')
            for (precision += *p++; *p >= '0' && *p <= '9';)
                precision += *p++;
        std::string size;
        if (strncmp(p, "I64", 3) == 0)
            size = "I64", p += 3;
        else if (strncmp(p, "ll", 2) == 0)
            size = "I64", p += 2;
        else if (*p == 'h' || *p == 'l' || *p == 'w' || *p == 'I')
            size = *p++;
        if (size == "I")
            size = sizeof(void*) == 8 ? "I64" : "";
        char conversion = *p ? *p++ : 0;
        bool ok = true;
        switch (conversion)
        {
        case 'd': case 'i': case 'o': case 'u': case 'x': case 'X':
            spec += precision;
            if (size == "I64")
                ok = AppendOne(out, (spec + "I64" + conversion).c_str(), va_arg(args, long long));
            else if (size == "l")
                ok = AppendOne(out, (spec + "l" + conversion).c_str(), va_arg(args, long));
            else
                ok = AppendOne(out, (spec + size + conversion).c_str(), va_arg(args, int));
            break;
        case 'p':
            ok = AppendOne(out, (spec + precision + "p").c_str(), va_arg(args, void*));
            break;
        case 'c':
        case 'C':
            if (size == "l" || size == "w" || (conversion == 'C' && size != "h"))
            {
                wchar_t wide = (wchar_t)va_arg(args, int);
                std::string narrow;
                AppendWide(narrow, &wide, 1);
                ok = AppendOne(out, (spec + "s").c_str(), narrow.c_str());
            }
            else
                ok = AppendOne(out, (spec + "c").c_str(), va_arg(args, int));
            break;
        case 's':
        case 'S':
            if (size == "l" || size == "w" || (conversion == 'S' && size != "h"))
            {
                const wchar_t* wide = va_arg(args, const wchar_t*);
                std::string narrow;
                if (wide == NULL)
                    narrow = "(null)";
                else
                {
                    // A precision counts characters of the text, not bytes.
                    int length = precision.size() > 1 ? atoi(precision.c_str() + 1) : -1;
                    if (length >= 0 && (size_t)length > wcslen(wide))
                        length = -1;
                    AppendWide(narrow, wide, length);
                }
                ok = AppendOne(out, (spec + "s").c_str(), narrow.c_str());
            }
            else
            {
                const char* narrow = va_arg(args, const char*);
                ok = AppendOne(out, (spec + precision + "s").c_str(), narrow ? narrow : "(null)");
            }
            break;
        default:   // floating point, '*', %n: not used by our lines
            return false;
        }
        if (!ok)
            return false;
    }
    return true;
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

    std::string line;
    va_list args;
    va_start(args, format);
    bool formatted = FormatLine(line, format, args);
    va_end(args);
    if (!formatted)
    {
        line.clear();
        va_start(args, format);
        formatted = AppendOneV(line, format, args);
        va_end(args);
        if (!formatted)
            return;
    }
    // One byte stays beyond the terminator: the log window feed turns a final
    // LF into CR and appends the LF after it.
    size_t length = line.size();
    line.resize(length + 2, '\0');
    char* buffer = &line[0];

    if (s_windowFeed != NULL)
    {
        char prefix[16];
        strcpy(prefix, KindPrefix(kind));
        s_windowFeed(prefix);
        s_windowFeed(buffer);
    }
    WriteLine(kind, buffer, false);
}

// The banners open and end a run. After one the file is let go: the end of
// the run copies it into the installation, and a copy reads it without
// sharing it for writing. A later line opens it again.
void LogBanner(const char* text)
{
    DWORD saved = GetLastError();
    WriteLine(LOG_PLAIN, text, true);
    CloseLog();
    SetLastError(saved);
}

bool SetLogFile(const char* path)
{
    if (path == NULL || path[0] == 0)
    {
        CloseLog();
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
    CloseLog();
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
