#include <gtest/gtest.h>

#include "CheckSum.h"
#include "Log.h"
#include "LogCapture.h"
#include "TestSupport.h"

#include <stdint.h>

#include <random>
#include <string>

using fwtest::LogCapture;
using fwtest::TempDir;
using fwtest::WriteBytes;

namespace
{
// The code as first written: the table built with a signed (arithmetic)
// shift, one byte per step. The fast code must agree with it bit for bit.
struct ReferenceCode
{
    uint32_t table[256];
    ReferenceCode()
    {
        for (int i = 0; i < 256; ++i)
        {
            int32_t value = i;
            for (int bit = 0; bit < 8; ++bit)
                value = (value & 1) ? ((value >> 1) ^ (int32_t)0xEDB88320u) : (value >> 1);
            table[i] = (uint32_t)value;
        }
    }
    uint32_t Of(const std::string& bytes) const
    {
        uint32_t value = 0;
        for (unsigned char b : bytes)
            value = (value >> 8) ^ table[(value ^ b) & 0xFF];
        return value;
    }
};
const ReferenceCode REFERENCE;

std::string RandomBytes(std::mt19937& random, size_t size)
{
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = (char)(random() & 0xFF);
    return bytes;
}

std::string Hex(uint32_t value)
{
    char text[16];
    sprintf(text, "%08X", (unsigned)value);
    return text;
}

} // namespace

// The table is built with a signed shift: not the common CRC-32 table.
TEST(CheckSum, TableIsTheProgramsOwnNotTheCommonCrc32)
{
    for (unsigned i = 0; i < 256; ++i)
        ASSERT_EQ(REFERENCE.table[i], CheckSum::TableEntry(i)) << "entry " << i;
}

TEST(CheckSum, FilesOfKnownContentAreComputedAndLogged)
{
    TempDir dir;
    LogCapture log(4);
    std::mt19937 random(7);
    const std::string chunks = RandomBytes(random, 3 * CHECKSUM_CHUNK_SIZE + 123);
    const struct { const char* name; std::string content, expected; } rows[] = {
        {"empty.bin", "", "00000000"},
        {"abc.txt", "abc", "14ADA6D0"},
        {"chunks.bin", chunks, Hex(REFERENCE.Of(chunks))},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::string path = dir.File(row.name);
        ASSERT_TRUE(WriteBytes(path, row.content));
        char text[CHECKSUM_TEXT_SIZE] = "garbage!";
        EXPECT_TRUE(CheckSum::Compute(path.c_str(), text));
        EXPECT_EQ(row.expected, text);
        strcpy(text, "garbage!");
        EXPECT_EQ(0u, GetFileChecksum(path.c_str(), text));
        EXPECT_EQ(row.expected, text);
        EXPECT_TRUE(log.Has({"\t'" + path + "' has checksum '" + row.expected + "'"}));
    }
}

TEST(CheckSum, FastCodeEqualsReferenceOnRandomData)
{
    std::mt19937 random(20240611);
    // Lengths around the 8-byte step, and larger blocks, with the data fed
    // in two pieces split at every kind of offset.
    for (size_t size : {0, 1, 3, 7, 8, 9, 15, 16, 17, 39, 40, 79, 80, 81, 119, 1000, 4099, 16384, 65536 + 5})
    {
        const std::string bytes = RandomBytes(random, size);
        const uint32_t expected = REFERENCE.Of(bytes);
        ASSERT_EQ(Hex(expected), Hex(CheckSum::Update(0, bytes.data(), bytes.size()))) << "size " << size;
        const size_t split = size ? random() % size : 0;
        const uint32_t first = CheckSum::Update(0, bytes.data(), split);
        EXPECT_EQ(Hex(expected), Hex(CheckSum::Update(first, bytes.data() + split, size - split)))
            << "size " << size << " split " << split;
    }
}

TEST(CheckSum, UnreadableFileGivesNoChecksum)
{
    TempDir dir;
    LogCapture log(4);
    const std::string missing = dir.File("missing.bin");
    const std::string locked = dir.File("locked.bin");
    ASSERT_TRUE(WriteBytes(locked, "abc"));
    // Held without read sharing: it cannot be opened, as on a busy machine.
    HANDLE holder = CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);

    for (const std::string& path : {missing, locked, dir.Path()})
    {
        SCOPED_TRACE(path);
        char text[CHECKSUM_TEXT_SIZE] = "stale";
        EXPECT_FALSE(CheckSum::Compute(path.c_str(), text));
        EXPECT_STREQ("", text);
        EXPECT_EQ(ERROR_INVALID_DATA, GetFileChecksum(path.c_str(), text));
        EXPECT_TRUE(log.Has({"W\tCould not obtain checksum of '" + path + "'"}));
    }
    CloseHandle(holder);
    EXPECT_FALSE(CheckSum::Compute(missing.c_str(), NULL));
}
