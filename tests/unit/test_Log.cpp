#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Log.h"
#include "LogCapture.h"
#include "TestSupport.h"

namespace
{
std::vector<std::string> s_fed;   // what the log window's feed was given

// Each test logs into the capture's file and leaves logging off.
class LogTest : public ::testing::Test
{
protected:
    void TearDown() override { SetLogWindowFeed(NULL); }
    std::string Content() const
    {
        std::string bytes;
        fwtest::ReadBytes(m_file, bytes);
        return bytes;
    }

    fwtest::LogCapture m_capture;
    const std::string m_file = GetLogFile();
    fwtest::TempDir m_dir{ "fwlog" };
};
} // namespace

// The kind prefixes and the start banner are read in every scenario's log;
// these are the line ends, conversions and losses no scenario meets.
TEST_F(LogTest, LineEndsBecomeCrLfOnlyAfterMoreThanOneCharacter)
{
    // The last row: a line without an end is continued by the next one.
    const struct { const char* text; const char* next; const char* written; } rows[] = {
        { "abc\n", "", "abc\r\n" }, { "abc\r", "", "abc\r\n" }, { "x", "", "x" },
        { "\n", "", "\n" },         { "no end", "", "no end" }, { "start ", "and rest\n", "start and rest\r\n" },
    };
    for (const auto& row : rows)
    {
        m_capture.Clear();
        LogMessage(2, LOG_PLAIN, "%hs", row.text);
        LogMessage(2, LOG_PLAIN, "%hs", row.next);
        EXPECT_EQ(row.written, Content()) << row.text;
    }
}

TEST_F(LogTest, FormatsNarrowWideAndLongTexts)
{
    LogMessage(2, LOG_INFO, "'%hs' '%ws' '%S' '%ld' '%08lX'\n", "narrow", L"wide", L"also",
               (long)-1618, 0xBEEFUL);
    std::string longText(3000, 'L');
    LogMessage(2, LOG_INFO, "%hs|\n", longText.c_str());
    // Beyond Latin-1 (the euro sign is in the code page, Greek and Polish
    // letters are not): the line keeps what the code page carries and marks the rest.
    ASSERT_EQ(1252u, GetACP());
    LogMessage(2, LOG_ERROR, "%ws|%S|%.2ws|%lc|%I64u\n", L"caf\u00e9 \u20ac \u0395\u03bb", L"\u0142", L"\u20ac\u20ac\u20ac",
               (wint_t)0x20AC, 1ULL << 40);
    EXPECT_EQ("\t'narrow' 'wide' 'also' '-1618' '0000BEEF'\r\n\t" + longText + "|\r\n" +
                  "E\tcaf\xE9 \x80 ??|?|\x80\x80|\x80|1099511627776\r\n",
              Content());
}

// Messages above the verbosity are dropped, and so are they all below 0, but
// never a banner; the window's feed gets only what the file gets.
TEST_F(LogTest, VerbosityAndTheWindowFeed)
{
    SetLogWindowFeed([](char* text) { s_fed.push_back(text); });
    LogMessage(4, LOG_INFO, "file check\n");
    LogMessage(3, LOG_WARNING, "detail\n");
    SetLogVerbosity(0);
    LogMessage(1, LOG_INFO, "level one\n");
    LogMessage(0, LOG_ERROR, "essential\n");
    SetLogVerbosity(-3);
    LogMessage(0, LOG_ERROR, "dropped\n");
    LogBanner("banner\n");
    // The banner's line starts with the time.
    const std::string kept = "W\tdetail\r\nE\tessential\r\n", content = Content();
    EXPECT_EQ(kept, content.substr(0, kept.size()));
    EXPECT_EQ("\tbanner\r\n", content.substr(content.find('\t', kept.size()))) << content;
    EXPECT_EQ(std::vector<std::string>({ "W\t", "detail\n", "E\t", "essential\n" }), s_fed);

    // An empty name switches logging off, the feed too.
    SetLogFile("");
    EXPECT_FALSE(IsLoggingOn());
    LogMessage(0, LOG_ERROR, "lost\n");
    LogBanner("lost banner\n");
    EXPECT_EQ(4u, s_fed.size());
    EXPECT_EQ(content, Content());
}

// A file in a missing folder loses its lines silently; a name too long is
// refused and the log stays where it was.
TEST_F(LogTest, NamesTheLogCannotUse)
{
    std::string lost = m_dir.File("no such folder\\run.log");
    ASSERT_TRUE(SetLogFile(lost.c_str()));
    LogMessage(0, LOG_ERROR, "nowhere\n");
    LogBanner("nowhere either\n");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(lost.c_str()));
    ASSERT_TRUE(SetLogFile(m_file.c_str()));

    std::string tooLong = m_dir.Path() + "\\" + std::string(LOG_PATH_SIZE, 'n') + ".log";
    EXPECT_FALSE(SetLogFile(tooLong.c_str()));
    EXPECT_EQ(m_file, GetLogFile());
    LogMessage(2, LOG_INFO, "still here\n");
    std::string content = Content();
    EXPECT_EQ(0u, content.find("W\tLog file name of ")) << content;
    EXPECT_NE(std::string::npos, content.find("\tstill here\r\n"));

    // 259 characters still fit the buffer.
    std::string longest = m_dir.Path() + "\\";
    longest += std::string(LOG_PATH_SIZE - 1 - longest.size(), 'm');
    EXPECT_TRUE(SetLogFile(longest.c_str()));
    EXPECT_EQ(longest, GetLogFile());

    // A default name that cannot fit leaves the text empty.
    char out[LOG_PATH_SIZE] = "garbage";
    EXPECT_FALSE(MakeLogName(out, std::string(LOG_PATH_SIZE, 'x').c_str()));
    EXPECT_STREQ("", out);
    EXPECT_FALSE(MakeLogName(NULL, "MSI"));
}

TEST_F(LogTest, SystemErrorLineCarriesCodeAndSystemText)
{
    LogSystemError("Opening", ERROR_FILE_NOT_FOUND);
    SetLastError(ERROR_ACCESS_DENIED);
    LogSystemError("Writing", 0);
    std::vector<std::string> lines = fwtest::ReadLines(m_file);
    ASSERT_EQ(2u, lines.size());
    // Each line: the text, the code and the system's words for it, quoted.
    const std::string starts[] = { "E\t'Opening' '2' '", "E\t'Writing' '5' '" };
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(lines[i].find(starts[i]) == 0 && lines[i].size() > starts[i].size() + 1 && lines[i].back() == '\'')
            << lines[i];
}
