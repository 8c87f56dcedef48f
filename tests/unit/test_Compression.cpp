// Unpacking through our unzip library, as the program calls it. Stored members
// at the top of an archive are those of every whole run (e2e_install:
// "Uncompressed '<target>\\Login.exe.zip' OK."); these are a deflated member
// below a folder, stale files and the hostile and damaged archives.
#include <gtest/gtest.h>

#include "CCompression.h"
#include "FileUtil.h"
#include "TestSupport.h"

#include <string>

using fwtest::BinDir;
using fwtest::TempDir;
using fwtest::WriteBytes;

namespace
{
std::string Archive(const char* name)
{
    return fwtest::SourceDir() + "\\tests\\fixtures\\zips\\" + name;
}

std::string Content(const std::string& path)
{
    std::string bytes;
    return fwtest::ReadBytes(path, bytes) ? bytes : "<missing>";
}

// An installation folder with our unzip library in its bin folder, a folder
// for the unpacked members, and a temporary folder of the test's own (TMP and
// TEMP point at it meanwhile): the library unpacks there first.
class Compression : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const std::string& folder : {m_install, m_install + "\\bin", m_temp, m_out})
            ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL)) << folder;
        ASSERT_TRUE(CopyFileA((BinDir() + "\\dunzip32.dll").c_str(), (m_install + "\\bin\\dunzip32.dll").c_str(), FALSE));
        for (int i = 0; i < 2; ++i)
        {
            GetEnvironmentVariableA(TEMP_NAMES[i], m_saved[i], MAX_PATH);
            SetEnvironmentVariableA(TEMP_NAMES[i], m_temp.c_str());
        }
        // The unpacking phase runs after the components, in the chunked copy mode.
        copyMode = COPY_MODE_CHUNKED;
    }
    void TearDown() override
    {
        for (int i = 0; i < 2; ++i)
            SetEnvironmentVariableA(TEMP_NAMES[i], m_saved[i][0] ? m_saved[i] : NULL);
        copyMode = m_oldCopyMode;
    }

    const char* const TEMP_NAMES[2] = {"TMP", "TEMP"};
    char m_saved[2][MAX_PATH] = {};
    TempDir m_root{"fwzip"};
    const std::string m_install = m_root.File("install");
    const std::string m_temp = m_root.File("tmp") + "\\";
    const std::string m_out = m_root.File("out");
    const DWORD m_oldCopyMode = copyMode;
};
} // namespace

TEST_F(Compression, UnpacksOneMemberOrSaysWhy)
{
    std::string inner; // as the archives' writer (make_zips.py) made it
    for (int i = 0; i < 10; ++i)
        inner += "inner library\r\n";
    const struct { const char* archive; const char* member; DWORD code; std::string content; } rows[] = {
        {"good.zip", "sub\\inner.dll", 0, inner},
        // The library succeeds without the member; a failure must never read as
        // 0, or the caller deletes the archive.
        {"empty.zip", "ok.txt", ERROR_FILE_NOT_FOUND},
        // Each holds a harmless "ok.txt" first, then a member that would land
        // outside the folder: the archive is refused whole.
        {"parent.zip", "ok.txt", ERROR_BAD_PATHNAME},
        {"parent_backslash.zip", "ok.txt", ERROR_BAD_PATHNAME},
        {"absolute.zip", "ok.txt", ERROR_BAD_PATHNAME},
        {"drive.zip", "ok.txt", ERROR_BAD_PATHNAME},
        {"dots_space.zip", "ok.txt", ERROR_BAD_PATHNAME},
        {"device.zip", "ok.txt", ERROR_BAD_PATHNAME},
        {"bad_crc.zip", "stored.txt", ERROR_CRC},
        {"encrypted.zip", "secret.txt", ERROR_NOT_SUPPORTED},
        {"truncated.zip", "QRT_login.exe", ERROR_BAD_FORMAT},
    };
    CCompression unzip(m_install.c_str());
    ASSERT_TRUE(unzip.IsAvailable());
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.archive + std::string(" ") + row.member);
        // A stale file of the member's name, left over from an earlier run, is
        // never taken for what this extraction produced.
        ASSERT_TRUE(fwtest::DeleteTree(m_root.File("tmp")));
        ASSERT_TRUE(WriteBytes(m_temp + row.member, "stale"));
        const std::string target = m_out + "\\unpacked";
        DeleteFileA(target.c_str());
        EXPECT_EQ(row.code == 0, unzip.Unzip(Archive(row.archive).c_str(), row.member, target.c_str()));
        EXPECT_EQ(row.code, unzip.GetLastErrorCode());
        EXPECT_EQ(row.code ? "<missing>" : row.content, Content(target));
        EXPECT_EQ("<missing>", Content(m_temp + row.member));
        for (const std::string& escaped : {m_root.File("evil.txt"), m_temp + "evil.txt", std::string("C:\\evil.txt"), std::string("C:evil.txt")})
            EXPECT_EQ("<missing>", Content(escaped)) << escaped;
    }
    EXPECT_FALSE(unzip.Unzip(Archive("missing.zip").c_str(), "ok.txt", (m_out + "\\ok.txt").c_str()));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, unzip.GetLastErrorCode());
    // Whether the code page can carry this name exactly decides whether it is
    // refused or written; it never lands outside the temporary folder.
    unzip.Unzip(Archive("fullwidth.zip").c_str(), "ok.txt", (m_out + "\\ok.txt").c_str());
    EXPECT_EQ("<missing>", Content(m_root.File("evil.txt")));

    // A destination that cannot be written fails the call too.
    EXPECT_FALSE(unzip.Unzip(Archive("good.zip").c_str(), "readme.txt", (m_out + "\\no\\such\\r.txt").c_str()));
    EXPECT_NE(0u, unzip.GetLastErrorCode());
}

// Without the library (not installed, or its bin folder gone) nothing is
// unpacked and no file is touched, not even a stale one.
TEST_F(Compression, MissingLibraryLeavesItUnavailable)
{
    ASSERT_TRUE(WriteBytes(m_temp + "QRT_login.exe", "stale"));
    CCompression unzip(m_root.File("nowhere").c_str());
    EXPECT_FALSE(unzip.IsAvailable());
    EXPECT_FALSE(unzip.Unzip(Archive("good.zip").c_str(), "QRT_login.exe", (m_out + "\\a.exe").c_str()));
    EXPECT_EQ((DWORD)UNZIP_NOT_CALLED, unzip.GetLastErrorCode());
    EXPECT_EQ("stale", Content(m_temp + "QRT_login.exe"));
    EXPECT_EQ("<missing>", Content(m_out + "\\a.exe"));
}
