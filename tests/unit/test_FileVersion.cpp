#include <gtest/gtest.h>

#include "FileVersion.h"
#include "Log.h"
#include "LogCapture.h"
#include "TestSupport.h"

#include <string>
#include <vector>

using fwtest::BinDir;
using fwtest::LogCapture;
using fwtest::TempDir;
using fwtest::WriteBytes;

namespace
{
std::string VersionText(DWORD ms, DWORD ls)
{
    char text[64];
    sprintf(text, "%u.%u.%u.%u", (unsigned)HIWORD(ms), (unsigned)LOWORD(ms), (unsigned)HIWORD(ls),
            (unsigned)LOWORD(ls));
    return text;
}

// A text as the 16-bit characters it is embedded as.
std::string Utf16(const std::string& text)
{
    std::string bytes;
    for (char c : text)
        bytes += std::string{c, '\0'};
    return bytes;
}

std::string Marker(const std::string& version)
{
    return Utf16("OMBRANT_--" + version + "--_OMBRANT");
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
    return BinDir() + "\\" + name + ".exe";
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
    LogCapture log(4);
    ASSERT_TRUE(WriteBytes(dir.File("plain.txt"), "no resources here"));
    const struct { std::string path; const char* expected; } rows[] = {   // null: no version
        {Fixture("ver_build"), "7.1.4.123"},          // third field 0: the build number of "...-123]" comes fourth
        {Fixture("ver_full"), "6.2.1234.5"},          // third field set: taken as it is
        {Fixture("ver_noproductversion"), "7.1.0.4"}, // without a product version nothing moves
        {Fixture("ver_bigbuild"), "7.1.4.0"},         // 70000 does not fit a field and is not used
        {dir.File("plain.txt"), NULL},
        {dir.File("missing.exe"), NULL},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.path);
        DWORD ms = 0xDEAD;
        DWORD ls = 0xBEEF;
        const DWORD rc = GetFileVersionNumbers(row.path.c_str(), &ms, &ls);
        EXPECT_EQ(row.expected ? row.expected : "0.0.0.0", VersionText(ms, ls));
        if (row.expected)
        {
            EXPECT_EQ(0u, rc);
            EXPECT_TRUE(log.Has({"\t'" + row.path + "' is version " + row.expected}));
        }
        else
        {
            EXPECT_NE(0u, rc);
            EXPECT_TRUE(log.Has({"W\tCould not obtain verions info of '" + row.path + "'"}));
        }
    }
}

// The program's own version, logged at every verbosity, is read back by the
// command-line scenario "VersionBoxShowsTheVersionResource".
TEST(FileVersion, MarkerVersions)
{
    TempDir dir;
    LogCapture log(4);
    const size_t W = MARKER_WINDOW_SIZE;
    const std::string m = Marker("6.2.0.15");
    const size_t big = 40000; // windows start at 23616 and 7232
    const struct { const char* name; std::string content; const char* expected; } rows[] = { // null: none
        { "in_last_window", FileWith(big, big - W + 100, m), "6.2.0.15" },
        { "in_second_window", FileWith(big, big - 2 * W + 2, m), "6.2.0.15" },
        { "exactly_one_window", FileWith(W, 2, m), NULL },
        { "odd_offset", FileWith(big, big - W + 101, m), NULL },
        { "straddles_windows", FileWith(big, big - W - 10, m), NULL },
        { "in_unsearched_head", FileWith(big, 200, m), NULL },
        { "longest_version", FileWith(big, big - W, Marker(std::string(31, '9'))), "9999999999999999999999999999999" },
        { "version_too_long", FileWith(big, big - W, Marker(std::string(32, '9'))), NULL },
        { "only_start_marker", FileWith(big, big - W, Utf16("OMBRANT_--6.2")), NULL },
        { "beyond_30_windows", FileWith(31 * W + 1000, 1000 + 16, m), NULL },
        { "in_window_30", FileWith(31 * W + 1000, 1000 + W + 16, m), "6.2.0.15" },
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::string path = dir.File(row.name);
        ASSERT_TRUE(WriteBytes(path, row.content));
        char version[MARKER_VERSION_SIZE] = "stale";
        EXPECT_EQ(row.expected ? 0u : (DWORD)ERROR_INVALID_DATA, GetMarkerVersion(path.c_str(), version));
        if (row.expected)
        {
            EXPECT_STREQ(row.expected, version);
        }
    }
    EXPECT_TRUE(log.Has({"\t'" + dir.File("in_second_window") + "' has version '6.2.0.15' ( 2 reads ).",
                         "\t'" + dir.File("in_window_30") + "' has version '6.2.0.15' ( 30 reads ).",
                         "W\tCould not retrieve version property from '" + dir.File("beyond_30_windows") + "' ( 30 reads )",
                         "W\tCould not retrieve version property from '" + dir.File("exactly_one_window") + "' ( 0 reads )"}));
    char version[MARKER_VERSION_SIZE];
    EXPECT_EQ((DWORD)ERROR_INVALID_DATA, GetMarkerVersion(dir.File("missing").c_str(), version));
}

TEST(FileVersion, CompareVersionsTable)
{
    const struct { const char* a; const char* b; int expected; } rows[] = {
        { "V6.2", "6.2.0.0", 0 },      // "V" is optional, missing fields are 0
        { "V6.9", "V6.10", 1 },        // fields are numbers, not text
        { "V6.10", "V6.9", -1 },
        { "V6.9", "V16.2", 1 },        // the .NET edition is above every 6.x
        { "V16.2", "V6.200.255.255", -1 },
        { "V6.2-1", "V6.2.1", 0 },     // "-" separates fields as "." does
        { "V7+", "V6.9", -1 },         // "+" ends the first text
        { "V7+", "V7.0.0.0", 0 },
        { "V6.9", "V7+", -2 },         // ... and is not allowed in the second
        { "V256.1", "V0.1", 0 },       // fields are kept modulo 256
        { "V6.257", "V6.1", 0 },
        { "V1.2.3.4.5", "V1.2.3.4", 0 }, // fields after the fourth are ignored
        { "v6.2", "V6.2", -1 },        // a small "v" counts as a digit: (118-48)*10+6 wraps to 194
        { "V6.A", "V6.17", 0 },        // "A" is the digit 17
        { "", "V6.2", -2 },
        { "V6.2", "", -2 },
        { NULL, "V6.2", -2 },
        { "V6.2", NULL, -2 },
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ(row.expected, CompareVersions(row.a, row.b))
            << (row.a ? row.a : "(null)") << " vs " << (row.b ? row.b : "(null)");
    }
}

TEST(FileVersion, CompareVersionsDifference)
{
    DWORD difference = 1;
    EXPECT_EQ(1, CompareVersions("V6.2", "V6.2.1.3", &difference));
    EXPECT_EQ(0x0103u, difference);
    EXPECT_EQ(-1, CompareVersions("V6.2.1", "V6.2", &difference));
    EXPECT_EQ(0xFFFFFF00u, difference); // b - a as an unsigned 32-bit number
    EXPECT_EQ(-2, CompareVersions("V6", "V7+", &difference));
    EXPECT_EQ(0u, difference);
}

TEST(FileVersion, CheckByChecksum)
{
    TempDir dir;
    const std::string path = dir.File("abc.txt");
    ASSERT_TRUE(WriteBytes(path, "abc"));

    FileVersionQuery match = Query(VERSION_BY_CHECKSUM, "14ada6d0"); // case is ignored
    EXPECT_TRUE(CheckFileVersion(path.c_str(), &match));
    EXPECT_TRUE(match.found);
    EXPECT_STREQ("14ADA6D0", match.value);
    EXPECT_EQ(path, match.path);
    EXPECT_EQ(0u, match.best);

    FileVersionQuery other = Query(VERSION_BY_CHECKSUM, "14ADA6D1");
    EXPECT_FALSE(CheckFileVersionOf(path.c_str(), &other));
    EXPECT_FALSE(other.found);
    EXPECT_STREQ("", other.path);
}

TEST(FileVersion, CheckByFileVersionKeepsTheNewestFile)
{
    const std::string newer = Fixture("ver_build"); // 7.1.4.123
    const std::string older = Fixture("ver_full");  // 6.2.1234.5

    FileVersionQuery query = Query(VERSION_BY_FILE_VERSION, "V6.0");
    query.keepSearching = true;
    EXPECT_FALSE(CheckFileVersion(newer.c_str(), &query)); // go on searching
    EXPECT_TRUE(query.found);
    EXPECT_STREQ("V7.1.4.123", query.value);
    EXPECT_EQ(0x01010000u + 0x0400u + 123u, query.best);
    EXPECT_FALSE(CheckFileVersion(older.c_str(), &query));
    EXPECT_EQ(newer, query.path); // the older one does not replace it
    EXPECT_STREQ("V7.1.4.123", query.value);
    EXPECT_EQ(0x01010000u + 0x0400u + 123u, query.best);

    FileVersionQuery first = Query(VERSION_BY_FILE_VERSION, "V6.2");
    EXPECT_TRUE(CheckFileVersion(older.c_str(), &first)); // stop at the first acceptable file
    EXPECT_STREQ("V6.2.1234.5", first.value);

    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.File("plain.txt"), "text"));
    const struct { std::string path; const char* expected; } refused[] = {
        {newer, "V7.2"},                // too old
        {dir.File("plain.txt"), "V1"},  // no version resource
    };
    for (const auto& row : refused)
    {
        FileVersionQuery none = Query(VERSION_BY_FILE_VERSION, row.expected);
        EXPECT_FALSE(CheckFileVersion(row.path.c_str(), &none)) << row.path;
        EXPECT_FALSE(none.found) << row.path;
    }
}

TEST(FileVersion, CheckByMarkerAndExistence)
{
    TempDir dir;
    const std::string path = dir.File("data.mdb");
    ASSERT_TRUE(WriteBytes(path, FileWith(40000, 40000 - MARKER_WINDOW_SIZE, Marker("16.2.0.7"))));

    FileVersionQuery marker = Query(VERSION_BY_MARKER, "16.2");
    EXPECT_TRUE(CheckFileVersion(path.c_str(), &marker));
    EXPECT_STREQ("16.2.0.7", marker.value);
    EXPECT_EQ(7u, marker.best);
    FileVersionQuery newer = Query(VERSION_BY_MARKER, "16.3");
    EXPECT_FALSE(CheckFileVersion(path.c_str(), &newer));

    FileVersionQuery exists = Query(VERSION_BY_EXISTENCE);
    EXPECT_TRUE(CheckFileVersion(path.c_str(), &exists));
    EXPECT_FALSE(exists.found); // nothing is recorded
    FileVersionQuery unknown = Query(5);
    EXPECT_FALSE(CheckFileVersion(path.c_str(), &unknown));
    FileVersionQuery tooLong = Query(VERSION_BY_EXISTENCE);
    EXPECT_FALSE(CheckFileVersion(("C:\\" + std::string(300, 'x')).c_str(), &tooLong))
        << "a path that cannot be recorded";
    EXPECT_FALSE(tooLong.found);
}

TEST(FileVersion, CheckByCreationDate)
{
    TempDir dir;
    const std::string path = dir.File("new.bin");
    ASSERT_TRUE(WriteBytes(path, "x"));
    SYSTEMTIME now;
    GetSystemTime(&now);
    char today[16];
    sprintf(today, "%02u.%02u.%04u", now.wDay, now.wMonth, now.wYear);

    const struct { const char* expected; std::string file; bool result; } rows[] = {
        { "01.01.2000", path, true },
        { today, path, true },              // midnight today: not earlier
        { "31.12.2999", path, false },
        { "1.02.2006", path, false },       // nine characters: not a date
        { "01.02.2006 ", path, false },
        { "32.13.2006", path, false },      // no such day
        { "01/01/2000", path, true },       // the separators are not looked at
        { "01.01.2000", dir.File("missing"), false },
    };
    for (const auto& row : rows)
    {
        FileVersionQuery query = Query(VERSION_BY_DATE, row.expected);
        EXPECT_EQ(row.result, CheckFileVersion(row.file.c_str(), &query)) << row.expected;
        EXPECT_FALSE(query.found) << row.expected; // nothing is recorded
    }
}

