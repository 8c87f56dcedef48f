#include <gtest/gtest.h>

#include <stdio.h>

#include <regex>
#include <string>
#include <vector>

#include "Log.h"
#include "TestSupport.h"

namespace
{
std::vector<std::string> s_fed;
void RecordFeed(char* text)
{
    s_fed.push_back(text);
}

std::string Today(bool dayStampOnly)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    sprintf(text, dayStampOnly ? "%02d%02d%04d" : "%02d/%02d/%04d", now.wDay, now.wMonth, now.wYear);
    return text;
}

// Each test logs into a file of its own and leaves logging off.
class LogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_file = m_dir.File("run.log");
        ASSERT_TRUE(SetLogFile(m_file.c_str()));
        SetLogVerbosity(DEFAULT_LOG_VERBOSITY);
        s_fed.clear();
    }
    void TearDown() override
    {
        SetLogWindowFeed(NULL);
        SetLogFile(NULL);
        SetLogVerbosity(DEFAULT_LOG_VERBOSITY);
    }
    std::string Content() const
    {
        std::string bytes;
        fwtest::ReadBytes(m_file, bytes);
        return bytes;
    }

    fwtest::TempDir m_dir{ "fwlog" };
    std::string m_file;
};
} // namespace

// The kind prefixes and the start banner are read in every scenario's log;
// these are the line ends, conversions and losses no scenario meets.
TEST_F(LogTest, LineEndsBecomeCrLfOnlyAfterMoreThanOneCharacter)
{
    // The last row: a line without an end is continued by the next one.
    struct Row { const char* text; const char* next; const char* written; };
    const Row rows[] = {
        { "abc\n", "", "abc\r\n" }, { "abc\r", "", "abc\r\n" }, { "x", "", "x" },
        { "\n", "", "\n" },         { "no end", "", "no end" }, { "start ", "and rest\n", "start and rest\r\n" },
    };
    for (const Row& row : rows)
    {
        DeleteFileA(m_file.c_str());
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
    // Beyond Latin-1 (the euro sign is in the code page, Greek is not): the
    // line keeps what the code page carries and marks the rest.
    ASSERT_EQ(1252u, GetACP());
    LogMessage(2, LOG_ERROR, "%ws|%S|%.2ws|%lc|%I64u\n", L"caf\u00e9 \u20ac \u0395\u03bb", L"\u0142", L"\u20ac\u20ac\u20ac",
               (wint_t)0x20AC, 1ULL << 40);
    EXPECT_EQ("\t'narrow' 'wide' 'also' '-1618' '0000BEEF'\r\n\t" + longText + "|\r\n" +
                  "E\tcaf\xE9 \x80 ??|?|\x80\x80|\x80|1099511627776\r\n",
              Content());
}

TEST_F(LogTest, VerbosityDropsHigherLevelsButNeverBanners)
{
    LogMessage(4, LOG_INFO, "file check\n");
    LogMessage(3, LOG_INFO, "detail\n");
    SetLogVerbosity(0);
    LogMessage(1, LOG_INFO, "level one\n");
    LogMessage(0, LOG_ERROR, "essential\n");
    SetLogVerbosity(72);
    LogMessage(4, LOG_INFO, "everything\n");
    SetLogVerbosity(-3);
    LogMessage(0, LOG_ERROR, "dropped too\n");
    LogBanner("banner\n");
    std::string content = Content();
    EXPECT_EQ(0u, content.find("\tdetail\r\nE\tessential\r\n\teverything\r\n")) << content;
    EXPECT_EQ(std::string::npos, content.find("dropped"));
    EXPECT_NE(std::string::npos, content.find("\tbanner\r\n"));
}

TEST_F(LogTest, EmptyFileNameSwitchesLoggingOffAndStopsTheFeed)
{
    SetLogWindowFeed(RecordFeed);
    LogMessage(2, LOG_WARNING, "fed\n");
    ASSERT_EQ(2u, s_fed.size());
    EXPECT_EQ("W\t", s_fed[0]);
    EXPECT_EQ(0u, s_fed[1].find("fed"));

    SetLogFile("");
    EXPECT_FALSE(IsLoggingOn());
    LogMessage(0, LOG_ERROR, "lost\n");
    LogBanner("lost banner\n");
    EXPECT_EQ(2u, s_fed.size());
    EXPECT_EQ("W\tfed\r\n", Content());

    // A message above the verbosity is not fed either.
    SetLogFile(m_file.c_str());
    LogMessage(4, LOG_INFO, "too detailed\n");
    EXPECT_EQ(2u, s_fed.size());
}

TEST_F(LogTest, MissingDirectoryLosesLinesSilently)
{
    std::string lost = m_dir.File("no such folder\\run.log");
    ASSERT_TRUE(SetLogFile(lost.c_str()));
    EXPECT_TRUE(IsLoggingOn());
    LogMessage(0, LOG_ERROR, "nowhere\n");
    LogBanner("nowhere either\n");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(lost.c_str()));

    // The next usable file gets the next lines.
    ASSERT_TRUE(SetLogFile(m_file.c_str()));
    LogMessage(2, LOG_INFO, "back\n");
    EXPECT_EQ("\tback\r\n", Content());
}

TEST_F(LogTest, TooLongFileNameIsRefusedAndTheLogStays)
{
    std::string tooLong = m_dir.Path() + "\\" + std::string(LOG_PATH_SIZE, 'n') + ".log";
    EXPECT_FALSE(SetLogFile(tooLong.c_str()));
    EXPECT_TRUE(IsLoggingOn());
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
}

TEST(LogName, FormsOfTheDefaultName)
{
    char tempPath[MAX_PATH];
    GetTempPathA(MAX_PATH, tempPath);
    const std::string temp = tempPath, day = Today(true);
    struct Row { const char* namePart; std::string expected; };
    const Row rows[] = {
        { "", temp + "Fern_" + day + ".log" },
        { ".txt", temp + "txt_" + day + ".txt" },
    };
    for (const Row& row : rows)
    {
        char out[LOG_PATH_SIZE] = "garbage";
        EXPECT_TRUE(MakeLogName(out, row.namePart));
        EXPECT_EQ(row.expected, out) << (row.namePart ? row.namePart : "(null)");
    }
    EXPECT_FALSE(MakeLogName(NULL, "MSI"));

    // A name that cannot fit leaves the text empty.
    char out[LOG_PATH_SIZE] = "garbage";
    EXPECT_FALSE(MakeLogName(out, std::string(LOG_PATH_SIZE, 'x').c_str()));
    EXPECT_STREQ("", out);
}

TEST_F(LogTest, SystemErrorLineCarriesCodeAndSystemText)
{
    LogSystemError("Opening", ERROR_FILE_NOT_FOUND);
    SetLastError(ERROR_ACCESS_DENIED);
    LogSystemError("Writing", 0);
    std::vector<std::string> lines = fwtest::ReadLines(m_file);
    ASSERT_EQ(2u, lines.size());
    std::regex form("^E\\t'(\\w+)' '(\\d+)' '([^\\r\\n]+)'$");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, form)) << lines[0];
    EXPECT_EQ("Opening", match[1].str());
    EXPECT_EQ("2", match[2].str());
    ASSERT_TRUE(std::regex_match(lines[1], match, form)) << lines[1];
    EXPECT_EQ("5", match[2].str());
}
