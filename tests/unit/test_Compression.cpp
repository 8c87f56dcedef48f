#include <gtest/gtest.h>

#include "CCompression.h"
#include "FileUtil.h"
#include "TestSupport.h"
#include "UnzipBlock.h"

#include <string>
#include <vector>

using fwtest::BinDir;
using fwtest::ReadBytes;
using fwtest::SourceDir;
using fwtest::TempDir;
using fwtest::WriteBytes;

namespace
{
std::string Archive(const char* name)
{
    return SourceDir() + "\\tests\\fixtures\\zips\\" + name;
}

std::string Repeat(const std::string& text, int count)
{
    std::string result;
    for (int i = 0; i < count; ++i)
        result += text;
    return result;
}

const std::string LOGIN = Repeat("login program v2\r\n", 64);
const std::string INNER = Repeat("inner library\r\n", 10);

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Content(const std::string& path)
{
    std::string bytes;
    return ReadBytes(path, bytes) ? bytes : "<missing>";
}

// Names in a folder, "." and ".." left out.
std::vector<std::string> Listing(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        if (strcmp(data.cFileName, ".") && strcmp(data.cFileName, ".."))
            names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

// Points an environment variable elsewhere for the lifetime of the object.
class EnvScope
{
public:
    EnvScope(const char* name, const std::string& value) : m_name(name)
    {
        char old[MAX_PATH] = "";
        const DWORD length = GetEnvironmentVariableA(name, old, MAX_PATH);
        m_had = length > 0 && length < MAX_PATH;
        m_old = old;
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~EnvScope() { SetEnvironmentVariableA(m_name, m_had ? m_old.c_str() : NULL); }

private:
    const char* m_name;
    bool m_had;
    std::string m_old;
};

// An installation folder with our unzip library in its bin folder, and a
// temporary folder of the test's own (TMP and TEMP point at it meanwhile).
class CompressionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const std::string& folder : {m_install, m_install + "\\bin", m_temp, m_out})
            ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL)) << folder;
        ASSERT_TRUE(CopyFileA((BinDir() + "\\dunzip32.dll").c_str(), (m_install + "\\bin\\dunzip32.dll").c_str(), FALSE));
        // The unpacking phase runs after the components, in the chunked copy mode.
        m_oldCopyMode = copyMode;
        copyMode = COPY_MODE_CHUNKED;
    }
    void TearDown() override { copyMode = m_oldCopyMode; }

    TempDir m_root{"fwzip"};
    const std::string m_install = m_root.File("install");
    const std::string m_temp = m_root.File("tmp") + "\\";
    const std::string m_out = m_root.File("out");
    EnvScope m_tmpVariable{"TMP", m_temp};
    EnvScope m_tempVariable{"TEMP", m_temp};
    DWORD m_oldCopyMode = COPY_MODE_SHELL;
};

// An extraction block with nothing but the fields the library reads.
UnzipCommandBlock ExtractBlock(const char* archive, const char* pattern, const char* destination)
{
    UnzipCommandBlock block;
    memset(&block, 0, sizeof(block));
    block.size = sizeof(block);
    block.operation = UNZIP_OPERATION_EXTRACT;
    block.archive = archive;
    block.fileSpec = pattern;
    block.destination = destination;
    return block;
}
} // namespace

// A good archive unpacked to its destination is every whole run's program
// archive (e2e_install: "Uncompressed '<target>\\Login.exe.zip' OK."); a member
// below a folder of the archive is found where the library puts it.
TEST_F(CompressionTest, MemberBelowAFolderOfTheArchive)
{
    CCompression unzip(m_install.c_str());
    ASSERT_TRUE(unzip.Unzip(Archive("good.zip").c_str(), "sub\\inner.dll", (m_out + "\\inner.dll").c_str()));
    EXPECT_EQ(INNER, Content(m_out + "\\inner.dll"));
    EXPECT_FALSE(Exists(m_temp + "sub\\inner.dll"));
}

TEST_F(CompressionTest, StaleFileIsNeverTakenForTheMember)
{
    CCompression unzip(m_install.c_str());
    ASSERT_TRUE(unzip.IsAvailable());
    // Left over from an earlier run; the archive has no such member.
    ASSERT_TRUE(WriteBytes(m_temp + "absent.exe", "stale"));
    const std::string target = m_out + "\\absent.exe";
    EXPECT_FALSE(unzip.Unzip(Archive("good.zip").c_str(), "absent.exe", target.c_str()));
    EXPECT_FALSE(Exists(m_temp + "absent.exe"));
    EXPECT_FALSE(Exists(target));
    // A failure must never read as 0: the caller would delete the archive.
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, unzip.GetLastErrorCode());

    // A stale file of the member's own name is replaced by the extracted one.
    ASSERT_TRUE(WriteBytes(m_temp + "QRT_login.exe", "stale"));
    ASSERT_TRUE(unzip.Unzip(Archive("good.zip").c_str(), "QRT_login.exe", target.c_str()));
    EXPECT_EQ(LOGIN, Content(target));
}

TEST_F(CompressionTest, FailuresKeepTheirReason)
{
    CCompression unzip(m_install.c_str());
    ASSERT_TRUE(unzip.IsAvailable());

    EXPECT_FALSE(unzip.Unzip(Archive("missing.zip").c_str(), "QRT_login.exe", (m_out + "\\a.exe").c_str()));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, unzip.GetLastErrorCode());

    // The library's own code comes back; nothing reaches the destination.
    EXPECT_FALSE(unzip.Unzip(Archive("parent.zip").c_str(), "ok.txt", (m_out + "\\ok.txt").c_str()));
    EXPECT_EQ((DWORD)ERROR_BAD_PATHNAME, unzip.GetLastErrorCode());
    EXPECT_FALSE(Exists(m_out + "\\ok.txt"));
    EXPECT_FALSE(Exists(m_temp + "ok.txt"));
    EXPECT_FALSE(Exists(m_root.File("evil.txt")));

    // The copy to a destination that cannot be written fails the call too.
    EXPECT_FALSE(unzip.Unzip(Archive("good.zip").c_str(), "readme.txt", (m_out + "\\no\\such\\folder\\r.txt").c_str()));
    EXPECT_NE(0u, unzip.GetLastErrorCode());
    EXPECT_FALSE(Exists(m_temp + "readme.txt"));
}

TEST_F(CompressionTest, MissingOrForeignLibraryLeavesItUnavailable)
{
    ASSERT_TRUE(WriteBytes(m_temp + "QRT_login.exe", "stale"));
    {
        CCompression unzip(m_root.File("nowhere").c_str());
        EXPECT_FALSE(unzip.IsAvailable());
        EXPECT_EQ(UNZIP_NOT_CALLED, unzip.GetLastErrorCode());
        EXPECT_FALSE(unzip.Unzip(Archive("good.zip").c_str(), "QRT_login.exe", (m_out + "\\a.exe").c_str()));
        EXPECT_EQ(UNZIP_NOT_CALLED, unzip.GetLastErrorCode());
        // Unavailable: no file is touched, not even the stale one.
        EXPECT_EQ("stale", Content(m_temp + "QRT_login.exe"));
        EXPECT_FALSE(Exists(m_out + "\\a.exe"));
    }
    {
        // A module without the entry point.
        ASSERT_TRUE(CopyFileA((BinDir() + "\\ver_build.exe").c_str(), (m_install + "\\bin\\dunzip32.dll").c_str(), FALSE));
        CCompression unzip(m_install.c_str());
        EXPECT_FALSE(unzip.IsAvailable());
        EXPECT_EQ((DWORD)ERROR_PROC_NOT_FOUND, unzip.GetLastErrorCode());
        EXPECT_FALSE(unzip.Unzip(Archive("good.zip").c_str(), "QRT_login.exe", (m_out + "\\a.exe").c_str()));
        EXPECT_EQ((DWORD)ERROR_PROC_NOT_FOUND, unzip.GetLastErrorCode());
    }
}

// The library itself, called as the program calls it.
class UnzipLibraryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_module = LoadLibraryA((BinDir() + "\\dunzip32.dll").c_str());
        ASSERT_NE((HMODULE)NULL, m_module);
        m_dunzip = (DunzipEntry)(void*)GetProcAddress(m_module, UNZIP_LIBRARY_ENTRY);
        ASSERT_NE((DunzipEntry)NULL, m_dunzip);
        m_dest = m_root.File("dest") + "\\";
        ASSERT_TRUE(CreateDirectoryA(m_dest.c_str(), NULL));
    }
    void TearDown() override
    {
        if (m_module)
            FreeLibrary(m_module);
    }

    uint32_t Run(const std::string& archive, const char* pattern = "*.*")
    {
        UnzipCommandBlock block = ExtractBlock(archive.c_str(), pattern, m_dest.c_str());
        return m_dunzip(&block);
    }

    TempDir m_root{ "fwdunzip" };
    std::string m_dest;
    HMODULE m_module = NULL;
    DunzipEntry m_dunzip = NULL;
};

TEST_F(UnzipLibraryTest, ExtractsEveryMemberUnderItsName)
{
    ASSERT_EQ(0u, Run(Archive("good.zip")));
    EXPECT_EQ(LOGIN, Content(m_dest + "QRT_login.exe"));
    EXPECT_EQ("read me\r\n", Content(m_dest + "readme.txt"));
    EXPECT_EQ(INNER, Content(m_dest + "sub\\inner.dll"));
    // The stored time comes with the file: 14.03.2006 10:20:30 local time.
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA((m_dest + "readme.txt").c_str(), GetFileExInfoStandard, &data));
    FILETIME local;
    SYSTEMTIME time;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &time);
    EXPECT_EQ(2006, time.wYear);
    EXPECT_EQ(14, time.wDay);
    EXPECT_EQ(10, time.wHour);

    // Extracting again overwrites.
    ASSERT_TRUE(WriteBytes(m_dest + "readme.txt", "old"));
    ASSERT_EQ(0u, Run(Archive("good.zip")));
    EXPECT_EQ("read me\r\n", Content(m_dest + "readme.txt"));
}

TEST_F(UnzipLibraryTest, HostileArchivesAreRefusedWhole)
{
    // Each holds a harmless "ok.txt" first: nothing at all may be written.
    for (const char* name : { "parent.zip", "parent_backslash.zip", "absolute.zip", "drive.zip", "dots_space.zip",
                              "device.zip" })
    {
        EXPECT_EQ((uint32_t)ERROR_BAD_PATHNAME, Run(Archive(name))) << name;
        EXPECT_TRUE(Listing(m_dest).empty()) << name;
        EXPECT_EQ(std::vector<std::string>{ "dest" }, Listing(m_root.Path())) << name;
        EXPECT_FALSE(Exists("C:\\evil.txt")) << name;
    }
    // Whether the code page can carry this name exactly decides whether it is
    // refused or written; it never lands outside the destination.
    Run(Archive("fullwidth.zip"));
    EXPECT_EQ(std::vector<std::string>{ "dest" }, Listing(m_root.Path()));
}

TEST_F(UnzipLibraryTest, DamagedOrUnsupportedArchivesFail)
{
    const struct
    {
        const char* name;
        uint32_t code;
    } rows[] = {
        { "bad_crc.zip", ERROR_CRC },
        { "encrypted.zip", ERROR_NOT_SUPPORTED },
        { "unknown_method.zip", ERROR_NOT_SUPPORTED },
        { "truncated.zip", ERROR_BAD_FORMAT },
        { "not_a_zip.zip", ERROR_BAD_FORMAT },
        { "missing.zip", ERROR_FILE_NOT_FOUND },
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ(row.code, Run(Archive(row.name))) << row.name;
        // A member that failed its check is not left half-written.
        EXPECT_TRUE(Listing(m_dest).empty()) << row.name;
    }
    EXPECT_EQ(0u, Run(Archive("empty.zip")));
}

TEST_F(UnzipLibraryTest, RefusesABlockItDoesNotKnow)
{
    const std::string archive = Archive("good.zip");
    UnzipCommandBlock block = ExtractBlock(archive.c_str(), "*.*", m_dest.c_str());
    EXPECT_EQ(0u, m_dunzip(&block));

    UnzipCommandBlock wrongSize = block;
    wrongSize.size = 100;
    EXPECT_EQ((uint32_t)ERROR_INVALID_PARAMETER, m_dunzip(&wrongSize));
    UnzipCommandBlock otherOperation = block;
    otherOperation.operation = 7;
    EXPECT_EQ((uint32_t)ERROR_NOT_SUPPORTED, m_dunzip(&otherOperation));
    UnzipCommandBlock noDestination = block;
    noDestination.destination = NULL;
    EXPECT_EQ((uint32_t)ERROR_INVALID_PARAMETER, m_dunzip(&noDestination));
    EXPECT_EQ((uint32_t)ERROR_INVALID_PARAMETER, m_dunzip(NULL));
    UnzipCommandBlock missingFolder = block;
    const std::string nowhere = m_root.File("nowhere") + "\\";
    missingFolder.destination = nowhere.c_str();
    EXPECT_EQ((uint32_t)ERROR_PATH_NOT_FOUND, m_dunzip(&missingFolder));
}
