// SHA-256 of files against the published test vectors, by the system's
// provider and by our own code (which older systems use), and the judgement
// of an obtained installer by its listed digest.
#include <gtest/gtest.h>

#include <string>

#include <stdio.h>

#include "CResource.h"
#include "InstallerTrust.h"
#include "Sha256.h"
#include "TestSupport.h"

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
// local file runs and a downloaded one needs a signature.
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

namespace
{
std::string Why(const std::string& path)
{
    char signer[256];
    LONG status = 0;
    bool ok = SignedBy(path.c_str(), signer, sizeof(signer), status);
    char text[400];
    sprintf(text, ": signed=%d by '%s', status 0x%08lX", ok, signer, (unsigned long)status);
    return text;
}
} // namespace

// Without a listed digest a downloaded file needs a valid signature of the
// expected publisher from an authority the system trusts (the test set-up's
// authority, added before this program starts: tests/cmake/signing.cmake).
TEST(InstallerTrust, SignatureOfTheExpectedPublisher)
{
    fwtest::TempDir dir("signed");
    const std::string bin = fwtest::BinDir();
    std::string signedBytes;
    ASSERT_TRUE(fwtest::ReadBytes(bin + "\\signed\\fw_child_ms.exe", signedBytes));
    signedBytes[0x400] ^= 1; // one byte of the code
    ASSERT_TRUE(fwtest::WriteBytes(dir.File("tampered.exe"), signedBytes));
    ASSERT_TRUE(fwtest::WriteBytes(dir.File("Zaph.ini"),
                                   "[Settings]\r\nA=b\r\n[Components]\r\na=b\r\n[CheckSums]\r\na=0\r\n"
                                   "[Additional]\r\na=b\r\n[Labels_EN]\r\nA=b\r\n"));
    CResource settings;
    ASSERT_TRUE(settings.Load(dir.File("Zaph.ini").c_str()));
    const struct
    {
        std::string path;
        InstallerVerdict verdict;
    } rows[] = {
        {bin + "\\signed\\fw_child_ms.exe", INSTALLER_SIGNED},
        {dir.File("tampered.exe"), INSTALLER_REFUSED},
        {bin + "\\fw_child.exe", INSTALLER_REFUSED}, // unsigned
        {bin + "\\signed\\fw_child_other.exe", INSTALLER_REFUSED},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.verdict, JudgeInstaller(&settings, "setup\\x.exe", row.path.c_str(), true))
            << row.path << Why(row.path);
}
