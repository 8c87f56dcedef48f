#include <gtest/gtest.h>

#include "CheckSum.h"
#include "Log.h"
#include "LogCapture.h"
#include "TestSupport.h"

#include <stdint.h>

#include <random>
#include <string>
#include <stdio.h>
#include "CResource.h"
#include "InstallerTrust.h"
#include "Sha256.h"

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

// SHA-256 of files against the published test vectors, by the system's
// provider and by our own code (which older systems use), and the judgement
// of an obtained installer by its listed digest.




namespace
{
struct Vector
{
    std::string message;
    const char* digest;
};

std::string Repeat(const std::string& part, size_t times)
{
    std::string text;
    for (size_t i = 0; i < times; ++i)
        text += part;
    return text;
}
} // namespace

TEST(Sha256, PublishedVectorsBySystemAndOwnCode)
{
    const Vector rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {Repeat("a", 1000000), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    fwtest::TempDir dir("sha256");
    for (const Vector& row : rows)
    {
        std::string path = dir.File("message.bin");
        ASSERT_TRUE(fwtest::WriteBytes(path, row.message));
        char system[SHA256_TEXT_SIZE];
        char own[SHA256_TEXT_SIZE];
        EXPECT_NE(SHA256_FAILED, Sha256OfFile(path.c_str(), system, true));
        EXPECT_EQ(SHA256_OWN, Sha256OfFile(path.c_str(), own, false));
        EXPECT_STREQ(row.digest, system) << row.message.size() << " bytes";
        EXPECT_STREQ(row.digest, own) << row.message.size() << " bytes";
    }
    char text[SHA256_TEXT_SIZE];
    EXPECT_EQ(SHA256_FAILED, Sha256OfFile(dir.File("missing.bin").c_str(), text));
}

// A listed digest decides for network and local files alike; without one a
// local file runs and a downloaded one needs a signature. The signatures
// themselves (good, tampered, another publisher, an untrusted authority) are
// the rows of the downloaded-installer scenario in e2e_prerequisites.
TEST(InstallerTrust, ListedDigestDecides)
{
    fwtest::TempDir dir("trust");
    const char* const ABC = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string ini = "[Settings]\r\nBASE_URL=http://x/\r\n[Components]\r\na=b\r\n[CheckSums]\r\na=0\r\n"
                      "[Additional]\r\na=b\r\n[SHA256]\r\nsetup\\good.exe=" + std::string(ABC) +
                      "\r\nsetup\\upper.exe=" + "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD" +
                      "\r\nsetup\\bad.exe=" + std::string(64, '0') + "\r\n[Labels_EN]\r\nA=b\r\n";
    ASSERT_TRUE(fwtest::WriteBytes(dir.File("Zaph.ini"), ini));
    ASSERT_TRUE(fwtest::WriteBytes(dir.File("file.exe"), "abc"));
    CResource settings;
    ASSERT_TRUE(settings.Load(dir.File("Zaph.ini").c_str()));
    const std::string file = dir.File("file.exe");
    const struct
    {
        const char* name;
        bool fromNetwork;
        InstallerVerdict verdict;
    } rows[] = {
        {"setup\\good.exe", true, INSTALLER_DIGEST_MATCHES},
        {"SETUP\\Good.exe", false, INSTALLER_DIGEST_MATCHES},
        {"setup\\upper.exe", true, INSTALLER_DIGEST_MATCHES},
        {"setup\\bad.exe", true, INSTALLER_REFUSED},
        {"setup\\bad.exe", false, INSTALLER_REFUSED},
        {"setup\\unlisted.exe", false, INSTALLER_LOCAL},
        {"setup\\unlisted.exe", true, INSTALLER_REFUSED},  // unsigned
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.verdict, JudgeInstaller(&settings, row.name, file.c_str(), row.fromNetwork))
            << row.name << (row.fromNetwork ? " downloaded" : " local");
}
