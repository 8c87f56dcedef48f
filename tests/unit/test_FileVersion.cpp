// The marker of an up-to-date database is found by every upgrade run
// (e2e_install: "upgrade reuses the up-to-date database"); these are the
// boundaries of the search windows, the version texts and the other checks.
#include <gtest/gtest.h>

#include "FileVersion.h"
#include "TestSupport.h"

#include <string>

using fwtest::TempDir;
using fwtest::WriteBytes;

namespace
{
// The marker as the 16-bit characters it is embedded as.
std::string Marker(const std::string& version)
{
    std::string bytes;
    for (char c : "OMBRANT_--" + version + "--_OMBRANT")
        bytes += std::string{c, '\0'};
    return bytes;
}

// A file of size bytes (filler 0x01) with text placed at offset.
std::string FileWith(size_t size, size_t offset, const std::string& text)
{
    std::string bytes(size, '\x01');
    bytes.replace(offset, text.size(), text);
    return bytes.substr(0, size);
}

std::string Fixture(const char* name)
{
    return fwtest::BinDir() + "\\" + name + ".exe";
}

FileVersionQuery Query(DWORD method, const char* expected = "")
{
    FileVersionQuery query;
    query.method = method;
    strcpy(query.expected, expected);
    return query;
}
} // namespace

TEST(FileVersion, NumbersFromVersionResources)
{
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.File("plain.txt"), "no resources here"));
    const struct { std::string path; const char* expected; } rows[] = {
        {Fixture("ver_build"), "7.1.4.123"},          // third field 0: the build number of "...-123]" comes fourth
        {Fixture("ver_full"), "6.2.1234.5"},          // third field set: taken as it is
        {Fixture("ver_bigbuild"), "7.1.4.0"},         // 70000 does not fit a field and is not used
        {dir.File("plain.txt"), "0.0.0.0"},
    };
    for (const auto& row : rows)
    {
        DWORD ms = 0xDEAD, ls = 0xBEEF;
        const DWORD rc = GetFileVersionNumbers(row.path.c_str(), &ms, &ls);
        char text[64];
        sprintf(text, "%u.%u.%u.%u", (unsigned)HIWORD(ms), (unsigned)LOWORD(ms), (unsigned)HIWORD(ls), (unsigned)LOWORD(ls));
        EXPECT_EQ(row.expected, std::string(text)) << row.path;
        EXPECT_EQ(ms == 0, rc != 0) << row.path;
    }
}

TEST(FileVersion, MarkerWindows)
{
    TempDir dir;
    const size_t W = MARKER_WINDOW_SIZE;
    const std::string m = Marker("6.2.0.15");
    const size_t big = 40000; // windows start at 23616 and 7232
    const struct { const char* name; std::string content; const char* expected; } rows[] = { // null: none
        { "longest_version", FileWith(big, big - W, Marker(std::string(31, '9'))), "9999999999999999999999999999999" },
        { "version_too_long", FileWith(big, big - W, Marker(std::string(32, '9'))), NULL },
        // The thirtieth window from the end is the last one searched.
        { "in_window_30", FileWith(31 * W + 1000, 1000 + W + 16, m), "6.2.0.15" },
        { "missing", "", NULL },
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::string path = dir.File(row.name);
        ASSERT_TRUE(row.content.empty() || WriteBytes(path, row.content));
        char version[MARKER_VERSION_SIZE] = "stale";
        EXPECT_EQ(row.expected ? 0u : (DWORD)ERROR_INVALID_DATA, GetMarkerVersion(path.c_str(), version));
        if (row.expected)
        {
            EXPECT_STREQ(row.expected, version);
        }
    }
}

TEST(FileVersion, CompareVersions)
{
    const struct { const char* a; const char* b; int expected; } rows[] = {
        { "V6.2", "6.2.0.0", 0 },      // "V" is optional, missing fields are 0
        { "V6.9", "V6.10", 1 },        // fields are numbers, not text
        { "V6.2-1", "V6.2.1", 0 },     // "-" separates fields as "." does
        { "V7+", "V6.9", -1 },         // "+" ends the first text
        { "V6.9", "V7+", -2 },         // ... and is not allowed in the second
        { "V256.1", "V0.1", 0 },       // fields are kept modulo 256
        { "V1.2.3.4.5", "V1.2.3.4", 0 }, // fields after the fourth are ignored
        { NULL, "V6.2", -2 },
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ(row.expected, CompareVersions(row.a, row.b))
            << (row.a ? row.a : "(null)") << " vs " << (row.b ? row.b : "(null)");
    }
}

// One candidate file judged by each method; true stops the search. Only an
// accepted file of the checksum and version methods is recorded. The marker
// method is every upgrade run's check of the database.
TEST(FileVersion, CheckOneFile)
{
    TempDir dir;
    const std::string abc = dir.File("abc.txt");
    ASSERT_TRUE(WriteBytes(abc, "abc"));
    SYSTEMTIME now;
    GetSystemTime(&now);
    char today[16];
    sprintf(today, "%02u.%02u.%04u", now.wDay, now.wMonth, now.wYear);
    const struct { DWORD method; const char* expected; std::string path; bool result; const char* value; } rows[] = {
        {VERSION_BY_CHECKSUM, "14ada6d0", abc, true, "14ADA6D0"},  // case is ignored
        {VERSION_BY_CHECKSUM, "14ADA6D1", abc, false, NULL},
        {VERSION_BY_FILE_VERSION, "V7.2", Fixture("ver_build"), false, NULL},
        {VERSION_BY_EXISTENCE, "", "C:\\" + std::string(300, 'x'), false, NULL}, // a path that cannot be recorded
        {VERSION_BY_DATE, today, abc, true, NULL},                // midnight today: not earlier
        {VERSION_BY_DATE, "31.12.2999", abc, false, NULL},
        {VERSION_BY_DATE, "32.13.2006", abc, false, NULL},        // no such day
        {VERSION_BY_DATE, "01.01.2000", dir.File("missing"), false, NULL},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(std::to_string(row.method) + " " + row.expected);
        FileVersionQuery query = Query(row.method, row.expected);
        EXPECT_EQ(row.result, CheckFileVersionOf(row.path.c_str(), &query));
        EXPECT_EQ(row.value != NULL, query.found);
        EXPECT_STREQ(row.value ? row.value : "", query.value);
        EXPECT_STREQ(row.value ? row.path.c_str() : "", query.path);
    }
}

TEST(FileVersion, SearchOnKeepsTheNewestFile)
{
    const std::string newer = Fixture("ver_build"); // 7.1.4.123
    const std::string older = Fixture("ver_full");  // 6.2.1234.5
    FileVersionQuery query = Query(VERSION_BY_FILE_VERSION, "V6.0");
    query.keepSearching = true;
    EXPECT_FALSE(CheckFileVersion(newer.c_str(), &query));
    EXPECT_TRUE(query.found);
    EXPECT_FALSE(CheckFileVersion(older.c_str(), &query));
    EXPECT_EQ(newer, query.path) << "the older one does not replace it";
    EXPECT_STREQ("V7.1.4.123", query.value);
}
