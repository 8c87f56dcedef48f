// Checksums and digests against known values. The whole runs check delivered
// files against [CheckSums] entries that the tests compute with the same code,
// so only known values here catch a wrong code.
#include <gtest/gtest.h>

#include "AppObjects.h"
#include "CResource.h"
#include "CheckSum.h"
#include "FileUtil.h"
#include "InstallerTrust.h"
#include "LogCapture.h"
#include "Sha256.h"
#include "StandIns.h"
#include "SystemInfo.h"
#include "TestSupport.h"

#include <sddl.h>

#include <functional>
#include <random>
#include <string>

using fwtest::LogCapture;
using fwtest::TempDir;
using fwtest::WriteBytes;

// The fast codes (eight bytes a step, interleaved streams; the bit streams
// folded 128 or 256 bits at a time, gathered by shifts or by the Galois field
// instructions, where the processor multiplies without
// carries) must agree bit for bit with the plain byte-wise code on the table,
// whose entries are checked when the program is compiled.
TEST(CheckSum, FastCodeEqualsTheByteWiseCode)
{
    // Lengths around the 8-byte step and the 48-byte rounds, around the
    // folding's 1024-byte start and 128-byte blocks, and larger blocks, with
    // the data fed in two pieces split at every kind of offset (a start value
    // other than 0 for the second); by every fast code the processor has the
    // instructions for.
    for (int code : {3, 2, 1, 0})
    {
        if (CheckSum::UseCode(code) != code)
            continue;
        SCOPED_TRACE(code);
        std::mt19937 random(20240611);
        for (size_t size : {0, 1, 7, 8, 9, 15, 16, 17, 47, 48, 95, 96, 97, 119, 1000, 1023, 1024, 1025, 1151, 1152,
                            4099, 16384, 65536 + 5, 524288 + 127})
        {
            std::string bytes(size, '\0');
            uint32_t expected = 0;
            for (char& c : bytes)
            {
                c = (char)(random() & 0xFF);
                expected = (expected >> 8) ^ CheckSum::TableEntry((expected ^ (unsigned char)c) & 0xFF);
            }
            ASSERT_EQ(expected, CheckSum::Update(0, bytes.data(), bytes.size())) << "size " << size;
            const size_t split = size ? random() % size : 0;
            const uint32_t first = CheckSum::Update(0, bytes.data(), split);
            EXPECT_EQ(expected, CheckSum::Update(first, bytes.data() + split, size - split))
                << "size " << size << " split " << split;
        }
    }
    CheckSum::UseCode(3);
}

// The known value of a file is test_FileVersion's checksum rows (through the
// component check that reads it); here the files that give none.
TEST(CheckSum, OfAFileOrNone)
{
    TempDir dir;
    LogCapture log(4);
    const std::string abc = dir.File("abc.txt");
    ASSERT_TRUE(WriteBytes(abc, "abc"));
    char text[CHECKSUM_TEXT_SIZE];

    // Held without read sharing: it cannot be opened, as on a busy machine.
    HANDLE holder = CreateFileA(abc.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    // The process's own memory file opens but cannot be read from its start: the
    // bytes read so far must not pass for the file's checksum.
    for (const std::string& path : {dir.File("missing.bin"), abc, std::string("Z:\\proc\\self\\mem")})
    {
        SCOPED_TRACE(path);
        strcpy(text, "stale");
        EXPECT_EQ(ERROR_INVALID_DATA, GetFileChecksum(path.c_str(), text));
        EXPECT_STREQ("", text);
        EXPECT_TRUE(log.Has({"W\tCould not obtain checksum of '" + path + "'"}));
    }
    CloseHandle(holder);
}

// A copy's checksum is taken while its bytes are written, and a file read whole
// is remembered with its checksum. Either stands for the file only while it is
// still that file: one written to, replaced or never taken is read again, so
// that what the check judges is what lies on disk (a component whose copy was
// changed before its check is refused). A copy that does not finish forgets
// its destination.
TEST(CheckSum, ATakenChecksumIsTheFileAsItIsNow)
{
    TempDir dir("fwcopysum");
    const std::string source = dir.File("source.bin"), copy = dir.File("copy.bin"), other = dir.File("other.bin");
    std::string bytes(3 * ALTCOPY_CHUNK_SIZE + 17, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = (char)(i * 131 + i / 509);
    std::string changed = bytes;
    changed[ALTCOPY_CHUNK_SIZE + 3] ^= 0x55;
    ASSERT_TRUE(WriteBytes(source, bytes) && WriteBytes(other, changed));
    char expected[CHECKSUM_TEXT_SIZE], altered[CHECKSUM_TEXT_SIZE];
    ASSERT_TRUE(CheckSum::Compute(source.c_str(), expected) && CheckSum::Compute(other.c_str(), altered));

    // Writes in place: the same file, its size, a new last-write time (or,
    // forged, the old one put back).
    auto overwrite = [&](const std::string& path, const std::string& data, bool keepTime) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        FILETIME times[3];
        DWORD written = 0;
        bool ok = file != INVALID_HANDLE_VALUE && GetFileTime(file, &times[0], &times[1], &times[2]) &&
                  WriteFile(file, data.data(), (DWORD)data.size(), &written, NULL);
        if (ok && keepTime)
            ok = SetFileTime(file, &times[0], &times[1], &times[2]) != FALSE;
        CloseHandle(file);
        return ok;
    };
    const struct
    {
        const char* what;
        std::function<bool()> after; // between taking the checksum and the check
        const char* checked;         // the file checked
        const char* result;          // what the check gives
    } rows[] = {
        {"unchanged", [] { return true; }, copy.c_str(), expected},
        {"written to in place", [&] { return overwrite(copy, changed, false); }, copy.c_str(), altered},
        {"replaced by another file", [&] { return DeleteFileA(copy.c_str()) && MoveFileA(other.c_str(), copy.c_str()); },
         copy.c_str(), altered},
        {"another file than the copy", [] { return true; }, source.c_str(), expected},
        {"gone", [&] { return DeleteFileA(copy.c_str()) != FALSE; }, copy.c_str(), ""},
        // What no check without reading can see: the taken checksum stands.
        {"written in place, its time put back", [&] { return overwrite(copy, changed, true); }, copy.c_str(),
         expected},
        {"the same, after a copy onto it that failed",
         [&] {
             return AltCopyFileEx(dir.File("missing.bin").c_str(), copy.c_str(), NULL, NULL, NULL, false) == 0 &&
                    overwrite(copy, changed, true);
         },
         copy.c_str(), altered},
    };
    for (const bool byReading : {false, true})
        for (const auto& row : rows)
        {
            SCOPED_TRACE(std::string(row.what) + (byReading ? ", read whole" : ", copied"));
            ASSERT_TRUE(WriteBytes(other, changed));
            ASSERT_EQ(1, AltCopyFileEx(source.c_str(), copy.c_str(), NULL, NULL, NULL, false));
            char text[CHECKSUM_TEXT_SIZE] = "stale";
            if (byReading)
            {
                // A copy by the system, which takes no checksum, then read whole.
                ASSERT_TRUE(CopyFileA(source.c_str(), copy.c_str(), FALSE));
                ASSERT_TRUE(CheckSum::Compute(copy.c_str(), text));
            }
            ASSERT_TRUE(row.after());
            EXPECT_EQ(row.result[0] != 0, CheckSum::OfFile(row.checked, text));
            EXPECT_STREQ(row.result, text);
        }
}

// The system's provider and our own code (which older systems use) against the
// published vectors: padding alone, padding that needs a second block, many
// blocks ("abc" is the listed digest of InstallerTrust below).
TEST(Sha256, PublishedVectorsBySystemAndOwnCode)
{
    const struct { std::string message; const char* digest; } rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    TempDir dir("sha256");
    const std::string path = dir.File("message.bin");
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.message.size());
        ASSERT_TRUE(WriteBytes(path, row.message));
        char system[SHA256_TEXT_SIZE];
        char own[SHA256_TEXT_SIZE];
        EXPECT_NE(SHA256_FAILED, Sha256OfFile(path.c_str(), system, true));
        EXPECT_EQ(SHA256_OWN, Sha256OfFile(path.c_str(), own, false));
        EXPECT_STREQ(row.digest, system);
        EXPECT_STREQ(row.digest, own);
    }
    char text[SHA256_TEXT_SIZE];
    EXPECT_EQ(SHA256_FAILED, Sha256OfFile(dir.File("missing.bin").c_str(), text));
}

// Listed digests, signatures and unlisted installers, downloaded or local, are
// the rows of the downloaded-installer scenario in e2e_prerequisites; these are
// a listed name in another case, and a local file that differs from its digest
// (the medium is not what was released).
TEST(InstallerTrust, ListedDigestDecides)
{
    TempDir dir("trust");
    std::string ini = "[Settings]\r\nBASE_URL=http://x/\r\n[Components]\r\na=b\r\n[CheckSums]\r\na=0\r\n"
                      "[Additional]\r\na=b\r\n[SHA256]\r\nsetup\\good.exe="
                      "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\r\nsetup\\bad.exe=" +
                      std::string(64, '0') + "\r\n[Labels_EN]\r\nA=b\r\n";
    ASSERT_TRUE(WriteBytes(dir.File("Zaph.ini"), ini));
    ASSERT_TRUE(WriteBytes(dir.File("file.exe"), "abc"));
    CResource settings;
    ASSERT_TRUE(settings.Load(dir.File("Zaph.ini").c_str()));
    const struct { const char* name; bool fromNetwork; InstallerVerdict verdict; } rows[] = {
        {"SETUP\\Good.exe", false, INSTALLER_DIGEST_MATCHES},
        {"setup\\bad.exe", false, INSTALLER_REFUSED},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.verdict, JudgeInstaller(&settings, row.name, dir.File("file.exe").c_str(), row.fromNetwork))
            << row.name;
}

// A downloaded installer is judged and started from a copy in a fresh folder
// of its own, made with an access list that lets nobody but the system and
// the administrators write, held open so nobody writes or renames it, gone
// with the object. A name that exists already is never taken; a program put
// in the cache's place after the check is never the one started.
TEST(InstallerTrust, DownloadIsJudgedAndStartedFromItsProtectedCopy)
{
    TempDir dir("trustcopy");
    const std::string program = fwtest::BinDir() + "\\fw_standin.exe";
    char digest[SHA256_TEXT_SIZE];
    ASSERT_NE(SHA256_FAILED, Sha256OfFile(program.c_str(), digest));
    std::string ini = "[Settings]\r\nBASE_URL=http://x/\r\n[Components]\r\na=b\r\n[CheckSums]\r\na=0\r\n"
                      "[Additional]\r\na=b\r\n[SHA256]\r\nsetup\\good.exe=" + std::string(digest) +
                      "\r\nsetup\\bad.exe=" + std::string(64, '0') + "\r\n[Labels_EN]\r\nA=b\r\n";
    ASSERT_TRUE(WriteBytes(dir.File("Zaph.ini"), ini));
    const std::string cached = dir.File("good[1].exe");
    ASSERT_TRUE(CopyFileA(program.c_str(), cached.c_str(), FALSE));
    CResource settings;
    ASSERT_TRUE(settings.Load(dir.File("Zaph.ini").c_str()));
    fwtest::StandIns standIns(dir.Path());
    CResource* before = g_resource;
    g_resource = &settings;
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    const std::string taken = std::string(temp) + "Fernwick-" + std::to_string(GetCurrentProcessId()) + "-1";
    CreateDirectoryA(taken.c_str(), NULL);

    std::string folder;
    {
        CVerifiedInstaller installer;
        DWORD code = 1;
        ASSERT_TRUE(installer.Take("setup\\good.exe", cached.c_str(), code));
        EXPECT_EQ(0u, code);
        folder = installer.Folder();
        EXPECT_EQ(std::string(temp) + "Fernwick-" + std::to_string(GetCurrentProcessId()) + "-2", folder);
        EXPECT_EQ(folder + "\\good.exe", installer.Path());
        // The cache's file replaced by another program after the check.
        ASSERT_TRUE(CopyFileA((fwtest::BinDir() + "\\fw_child.exe").c_str(), cached.c_str(), FALSE));
        EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(installer.Path(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    NULL, OPEN_EXISTING, 0, NULL));
        EXPECT_FALSE(MoveFileA(folder.c_str(), (folder + "x").c_str()));
        // The stand-in exits with 0 and says where it ran; fw_child would exit with 86.
        EXPECT_EQ(0u, RunAndWait(installer.Path(), (std::string("\"") + installer.Path() + "\" 86").c_str(), NULL));
        EXPECT_EQ(installer.Path(), standIns.StartedFrom("good.exe"));

    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(folder.c_str())) << "the protected folder is left";

    // Refused: nothing is left to start, and the folder goes at once.
    CVerifiedInstaller refused;
    DWORD code = 0;
    EXPECT_FALSE(refused.Take("setup\\bad.exe", cached.c_str(), code));
    EXPECT_EQ(577u, code);
    EXPECT_STREQ("", refused.Folder());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(folder.c_str()));
    RemoveDirectoryA(taken.c_str());
    g_resource = before;
}

// Who may write a protected folder: every entry that grants a write right
// names the system or the administrators, the users may read, and nothing of
// the parent is inherited. The list given to the system is checked, not the
// folder's: Wine keeps no access lists (it maps them to the Unix mode and
// reads back the owner and the system account), so only the lock of the held
// copy is enforced there.
TEST(InstallerTrust, ProtectedFolderListLetsOnlyAdministratorsWrite)
{
    CProtectedAccess access;
    ASSERT_TRUE(access.IsReady());
    PSECURITY_DESCRIPTOR descriptor = access.Attributes()->lpSecurityDescriptor;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = NULL;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) && present && acl != NULL);
    const DWORD WRITES = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                         FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    std::string writers, readers;
    for (DWORD i = 0; i < acl->AceCount; ++i)
    {
        ACCESS_ALLOWED_ACE* ace = NULL;
        ASSERT_TRUE(GetAce(acl, i, (void**)&ace));
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
        EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, ace->Header.AceFlags);
        char* sid = NULL;
        ASSERT_TRUE(ConvertSidToStringSidA(&ace->SidStart, &sid));
        ((ace->Mask & WRITES) ? writers : readers) += std::string(sid) + " ";
        LocalFree(sid);
    }
    EXPECT_EQ("S-1-5-18 S-1-5-32-544 ", writers);
    EXPECT_EQ("S-1-5-32-545 ", readers);
}
