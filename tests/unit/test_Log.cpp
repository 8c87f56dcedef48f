#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Log.h"
#include "LogCapture.h"
#include "TestSupport.h"

// The kind prefixes, line ends and the start banner are read in every
// scenario's log; these are the long lines and the letters no scenario meets.
TEST(Log, LongTextsAndLettersBeyondTheCodePage)
{
    fwtest::LogCapture log;
    std::string longText(3000, 'L');
    LogMessage(2, LOG_INFO, "%hs|\n", longText.c_str());
    // Beyond Latin-1 (the euro sign is in the code page, Greek and Polish
    // letters are not): the line keeps what the code page carries and marks the rest.
    ASSERT_EQ(1252u, GetACP());
    LogMessage(2, LOG_ERROR, "%ws|%S|%.2ws|%lc|%I64u\n", L"caf\u00e9 \u20ac \u0395\u03bb", L"\u0142", L"\u20ac\u20ac\u20ac",
               (wint_t)0x20AC, 1ULL << 40);
    EXPECT_EQ("\t" + longText + "|\r\n" + "E\tcaf\xE9 \x80 ??|?|\x80\x80|\x80|1099511627776\r\n", log.Text());
}

// A name too long is refused and the log stays where it was (e2e_faults runs
// "/d3" with a deep path); here the edge of the buffer, and a default name that
// cannot fit.
TEST(Log, NamesAtTheEdgeOfTheBuffer)
{
    fwtest::TempDir dir("fwlog");
    fwtest::LogCapture log;
    // 259 characters still fit the buffer, 260 do not.
    std::string longest = dir.Path() + "\\";
    longest += std::string(LOG_PATH_SIZE - 1 - longest.size(), 'm');
    EXPECT_TRUE(SetLogFile(longest.c_str()));
    EXPECT_FALSE(SetLogFile((longest + "m").c_str()));
    EXPECT_EQ(longest, GetLogFile());

    // A default name that cannot fit leaves the text empty.
    char out[LOG_PATH_SIZE] = "garbage";
    EXPECT_FALSE(MakeLogName(out, std::string(LOG_PATH_SIZE, 'x').c_str()));
    EXPECT_STREQ("", out);
}

// The line support reads for a failed system call.
TEST(Log, SystemErrorLineCarriesCodeAndSystemText)
{
    fwtest::LogCapture log;
    LogSystemError("Opening", ERROR_FILE_NOT_FOUND);
    SetLastError(ERROR_ACCESS_DENIED);
    LogSystemError("Writing", 0);
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(2u, lines.size());
    // Each line: the text, the code and the system's words for it, quoted.
    const std::string starts[] = { "E\t'Opening' '2' '", "E\t'Writing' '5' '" };
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(lines[i].find(starts[i]) == 0 && lines[i].size() > starts[i].size() + 1 && lines[i].back() == '\'')
            << lines[i];
}

// The file stays open between lines: every line is in it as soon as it is
// logged, for a reader who shares it for writing (as support's viewers and the
// tests do), a second instance's lines land after ours, and after a banner
// the file is let go, so that the run's closing copy can read it without
// sharing it for writing.
TEST(Log, FileOpenBetweenLinesYetWholeAndFreeAfterABanner)
{
    fwtest::LogCapture log;
    const std::string path = GetLogFile();
    auto open = [&](DWORD access, DWORD share) {
        return CreateFileA(path.c_str(), access, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    };
    LogMessage(2, LOG_INFO, "first\n");
    EXPECT_EQ("\tfirst\r\n", log.Text());
    HANDLE other = open(FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(INVALID_HANDLE_VALUE, other);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(other, "other\r\n", 7, &written, NULL));
    CloseHandle(other);
    LogMessage(2, LOG_WARNING, "second\n");
    EXPECT_EQ("\tfirst\r\nother\r\nW\tsecond\r\n", log.Text());

    LogBanner("end\n");
    HANDLE copy = open(GENERIC_READ, FILE_SHARE_READ);
    EXPECT_NE(INVALID_HANDLE_VALUE, copy) << GetLastError();
    CloseHandle(copy);
    LogMessage(2, LOG_INFO, "after\n");
    EXPECT_TRUE(log.Has({"end", "\tafter"}));
}
