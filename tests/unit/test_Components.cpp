// Installation of the data and the last two phases: a distribution folder made
// here (real zip archives, checksums written by the release tool), the
// loopback server, the real progress window, copies, unzip library, boxes and
// registry. The whole runs of e2e_install cover a clean installation, the
// reuse of an up-to-date database, a damaged archive and a confirmed cancel;
// these are the cases they do not reach.
#include <gtest/gtest.h>

#include "AppStage.h" // winsock2.h before windows.h

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CMSI.h"
#include "CheckSum.h"
#include "Components.h"
#include "FileUtil.h"
#include "MachineStates.h"
#include "Phases.h"
#include "PreviousInstallation.h"
#include "Registry.h"
#include "RunState.h"

#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

using namespace fwtest;

namespace
{
int Count(const std::vector<std::string>& lines, const std::string& part)
{
    int n = 0;
    for (const std::string& line : lines)
        n += line.find(part) != std::string::npos;
    return n;
}

std::string CheckSumOf(const std::string& bytes)
{
    char text[16];
    sprintf(text, "%08lX", (unsigned long)CheckSum::Update(0, bytes.data(), bytes.size()));
    return text;
}

// Runs the checksum tool; its exit code.
DWORD RunTool(const std::string& arguments)
{
    return RunProgram("\"" + BinDir() + "\\fwchecksums.exe\" " + arguments);
}

std::string Read(const std::string& path)
{
    std::string bytes;
    return ReadBytes(path, bytes) ? bytes : "<missing>";
}

class ComponentsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string zips = BinaryDir() + "\\componentzips\\";
        for (size_t i = 0; i < 300000; ++i)
            big += (char)(i * 7 + i / 251);
        for (const char* folder : {"LU\\FR", "LU\\DE", "docs", "Reports"})
            ASSERT_TRUE(CreateFolderTree(dist.File(folder).c_str()));
        ASSERT_TRUE(WriteBytes(dist.File("LU\\FR\\help.pdf"), "help") &&
                    WriteBytes(dist.File("LU\\DE\\hilfe.pdf"), "Hilfe") && WriteBytes(dist.File("LU\\FR\\big.pdf"), big));
        for (const char* copy : {"Reports\\LU.txt.zip", "extra.txt.zip", "docs\\readme.txt.zip"})
            ASSERT_TRUE(CopyFileA((zips + "readme.txt.zip").c_str(), dist.File(copy).c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((zips + "data.mdb.zsi").c_str(), dist.File("LU\\data.mdb.zsi").c_str(), FALSE));
        ASSERT_TRUE(WriteBytes(
            dist.File("Zaph.ini"),
            "[Settings]\r\nBASE_URL=unused\r\n"
            "[Labels_EN]\r\nConfirmCancel=Stop the installation?\r\nFailFile=Cannot obtain %hs from %hs\r\n"
            "DownloadFile=Downloading %hs from %hs\r\nWorkingOffLine=Offline\r\nPleaseWait=%s...\r\n"
            "[Additional]\r\nx\r\n"
            "[Components]\r\n# data of the member state\r\n<MS>\\FR\\help.pdf\r\n<MS>\\FR\\big.pdf\r\n"
            "<MS>\\DE\\hilfe.pdf\r\n<MS>\\data.mdb\r\ndocs\\readme.txt\r\n"
            // Not a language folder; another language's QvlData folder.
            "Reports\\<MS>.txt\r\nQvlData\\DE\\y.mdb\r\n"
            // Existence rules: skipped ones have nothing to obtain; Then before the test does nothing.
            "skipped.txt=;IfExists=help.pdf;Then=$SKIP$\r\nelse.txt=;IfNotExists=help.pdf;Else=$SKIP$\r\n"
            "else2.txt = ; IfExists = nothere.txt ; Else = $SKIP$\r\nextra.txt=;Then=$SKIP$;IfExists=help.pdf\r\n"
            "[CheckSums]\r\n"));
        ASSERT_EQ(0u, RunTool("\"" + dist.Path() + "\""));
        ASSERT_EQ(0u, RunTool("--verify \"" + dist.Path() + "\""));
        stage.reset(new AppStage(Read(dist.File("Zaph.ini")), dist.Path()));
        RunState.Reset();
        RunState.targetDir = target.Path().c_str();
        RunState.memberState = "LU";
        copyMode = COPY_MODE_CHUNKED;
    }

    void TearDown() override
    {
        stage.reset();
        RunState.Reset();
        copyMode = COPY_MODE_SHELL;
    }

    // One section for LU and FR; the log lines it wrote.
    std::vector<std::string> Install(bool expectedOk, DWORD expectedResult)
    {
        const size_t before = stage->log.Lines().size();
        DWORD result = 12345;
        EXPECT_EQ(expectedOk, InstallComponents(result, "LU", "FR", target.Path().c_str(), SECTION_COMPONENTS));
        EXPECT_EQ(expectedResult, result) << stage->log.Text();
        std::vector<std::string> lines = stage->log.Lines();
        return std::vector<std::string>(lines.begin() + std::min(before, lines.size()), lines.end());
    }

    TempDir dist{"fwcdist"};
    // Near the root: the search for installed files descends only into
    // folders of a few levels, as below an installation folder.
    TempDir target{"fwc", "C:\\"};
    std::string big;
    std::unique_ptr<AppStage> stage;
    BoxAnswerer robot;
};
} // namespace

TEST_F(ComponentsTest, FromTheDistributionFolder)
{
    const std::string staged = target.File("LU_New\\FR\\help.pdf");
    {
        SCOPED_TRACE("empty target");
        std::vector<std::string> log = Install(true, 0);
        EXPECT_EQ(6, Count(log, "\tCopied '"));
        EXPECT_EQ(Read(dist.File("Reports\\LU.txt.zip")), Read(target.File("Reports\\LU_New.txt.zip")));
        EXPECT_TRUE(FileExists(target.File("extra.txt.zip").c_str()));
        EXPECT_EQ(1, Count(log, "[Non] Existence condition on '" + staged + "' met. THEN skip rule 'skipped.txt'"));
        EXPECT_EQ(1, Count(log, "[Non] Existence condition on '' *NOT* met. ELSE skip rule 'else2.txt'"));
    }
    {
        SCOPED_TRACE("staged file with a wrong checksum");
        ASSERT_TRUE(WriteBytes(staged, "damaged"));
        std::vector<std::string> log = Install(true, 0);
        EXPECT_EQ(1, Count(log, "'LU_New\\FR\\help.pdf' check sum mismatch. Need to obtain the file again."));
        EXPECT_EQ(1, Count(log, "\tCopied '"));
        EXPECT_EQ("help", Read(staged));
    }
    {
        SCOPED_TRACE("a copy that fails twice");
        ASSERT_TRUE(WriteBytes(staged, "locked"));
        HANDLE locked = CreateFileA(staged.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        std::vector<std::string> log = Install(false, 266);
        CloseHandle(locked);
        EXPECT_EQ(1, Count(log, "*RETRY* copying '" + dist.File("lu\\fr\\help.pdf") + "' '" + target.Path() +
                                    "' 'LU_New\\FR\\help.pdf' (in 1sec)"));
        EXPECT_EQ(0, Count(log, "\tCopied '")); // the section ends at the first failure
    }
}

// A cancel during a download that the user takes back: the component is
// obtained again and the section completes. (A confirmed cancel is the whole
// run "cancelled download, then a full run".)
TEST_F(ComponentsTest, DeclinedCancelObtainsTheFileAgain)
{
    HttpTestServer server(dist.Path());
    ASSERT_TRUE(server.Start());
    server.SetBehaviour("LU/FR/big.pdf", HttpTestServer::SERVE_STALL);
    stage->manager.SetBaseUrl(server.BaseUrl().c_str());
    stage->manager.SetUseWorkerThread(true);
    robot.SetButton(IDNO);
    CancelOnStall user(server, stage->ui, true);

    std::vector<std::string> log = Install(true, 0);
    EXPECT_TRUE(user.Join());
    server.Stop();

    EXPECT_EQ(std::vector<std::string>({"Stop the installation?"}), robot.Texts());
    EXPECT_EQ(1, Count(log, "'Stop the installation?' => 'no'"));
    EXPECT_EQ(big, Read(target.File("LU_New\\FR\\big.pdf")));
    EXPECT_EQ(2, server.RequestCount("LU/FR/big.pdf"));
    EXPECT_EQ(Read(dist.File("docs\\readme.txt.zip")), Read(target.File("docs\\readme.txt.zip")));
}

// A good archive replaces the main program in the whole runs; anything else
// must leave the working program in place.
TEST_F(ComponentsTest, MainProgramKeptWithoutAGoodArchive)
{
    struct Row
    {
        const char* name;
        bool archive, library;
        bool rcIsFailure;
        bool archiveLeft;
    } rows[] = {
        {"damaged archive", true, true, true, true},
        {"no archive", false, true, false, false},
        {"no unzip library", true, false, true, true},
    };
    RunState.mainExeName = "readme.txt";
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        DeleteTree(target.File("bin"));
        DeleteFileA(target.File("readme.txt.zip").c_str());
        ASSERT_TRUE(WriteBytes(target.File("readme.txt"), "earlier"));
        if (row.library)
        {
            ASSERT_TRUE(CreateFolderTree(target.File("bin").c_str()));
            ASSERT_TRUE(CopyFileA((BinDir() + "\\dunzip32.dll").c_str(), target.File("bin\\dunzip32.dll").c_str(), FALSE));
        }
        if (row.archive)
            ASSERT_TRUE(WriteBytes(target.File("readme.txt.zip"), "PK\x03\x04 not an archive"));
        SequenceLocals locals;

        PhaseProgramsAndShortcuts(locals);

        EXPECT_EQ(row.rcIsFailure, locals.rc != 0) << locals.rc;
        EXPECT_EQ("earlier", Read(target.File("readme.txt")));
        EXPECT_EQ(row.archiveLeft, FileExists(target.File("readme.txt.zip").c_str()));
        EXPECT_FALSE(FileExists(target.File("readme.txt.fwkeep").c_str()));
    }
}

// The records of the QRT server and client and of the .NET edition are
// checked after every whole run; a Multi-MS run without the package step also
// records its version and keeps what the registry says of the edition.
TEST_F(ComponentsTest, CompletionRecordsOfAMultiMsRun)
{
    MachineState machine;
    machine.SetValue(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_DOTNET, "before");
    machine.SetValue(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_MULTI_MS_VERSION, REG_ABSENT);
    ASSERT_TRUE(EnsureRegistryKey(HKEY_LOCAL_MACHINE, OLDER_LINE_UNINSTALL_KEY));
    RunState.multiMode = true;
    SequenceLocals locals;
    locals.skipMsi = true;
    strcpy(locals.ownVersion, "V1.2.3.4");

    WriteCompletionRecords(locals);

    EXPECT_EQ(target.File("LU_New"), RunState.targetDir.GetNarrow());
    EXPECT_EQ("before", RegString(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_DOTNET));
    EXPECT_EQ("V1.2.3.4", RegString(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_MULTI_MS_VERSION));
    std::string settings = Read(stage->dir.File("Zaph.ini"));
    EXPECT_EQ(settings, Read(target.File("LU_New\\setup\\Zaph.ini")));
    EXPECT_EQ(settings, Read(target.File("LU_New\\FW_Complete.lol")));
    HKEY key;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, OLDER_LINE_UNINSTALL_KEY, 0, KEY_READ, &key));
}

// Archives of the member state's data and the main program are every whole
// run's; these are the other names.
TEST(ComponentNames, PackedExtensionAndLanguageFilter)
{
    struct PackedRow
    {
        bool dotNet;
        const char* name;
        const char* extension;
        const char* packed;
    } packed[] = {
        {false, "data.mdb", ".mdb", "data.mdb.mdb"},    {false, "readme.txt", ".mdb", "readme.txt"},
        {false, "a.ZIP", "", "a.ZIP"},
        {true, "x\\Copyright.rtf", "", "x\\Copyright.rtf"}, {false, "Copyright.rtf", "", "Copyright.rtf.zip"},
        {true, "color.ini", "", "color.ini"},           {false, "notes.txt", NULL, "notes.txt.zip"},
    };
    for (const PackedRow& row : packed)
    {
        RunState.dotNetEdition = row.dotNet;
        C_String name(row.name);
        AddPackedExtension(name, row.extension);
        EXPECT_STREQ(row.packed, name.GetNarrow()) << row.name << " " << row.dotNet;
    }
    RunState.Reset();
}

// The release tool rewrites only the values and adds what is missing: the
// encoding, the line ends and every other line stay as they were. Programs
// get their SHA-256 in [SHA256], made after [CheckSums] when missing.
TEST(ChecksumTool, KeepsEncodingLineEndsAndOtherLines)
{
    struct Row
    {
        bool utf16;
        std::string before, after;
        std::string program = "";
    } rows[] = {
        {true, "[Settings]\nA=1\n[CheckSums]\n; kept\n  a.zip = 0BAD0BAD \nold.zip=12345678\n[Labels_EN]\nX=Y\n",
         "[Settings]\nA=1\n[CheckSums]\n; kept\n  a.zip = " + CheckSumOf("abc") +
             " \nold.zip=12345678\nsub\\b.pdf=" + CheckSumOf("") + "\n[Labels_EN]\nX=Y\n"},
        {false, "[Settings]\r\nA=1\r\n[CheckSums]\r\nSUB\\B.PDF=00000000",
         "[Settings]\r\nA=1\r\n[CheckSums]\r\nSUB\\B.PDF=00000000\r\na.zip=" + CheckSumOf("abc") + "\r\n"},
        {false, "[CheckSums]\r\nx=1\r\n[Labels_EN]\r\nX=Y\r\n",
         "[CheckSums]\r\nx=1\r\na.zip=" + CheckSumOf("abc") + "\r\nsetup\\i.exe=" + CheckSumOf("abc") +
             "\r\nsub\\b.pdf=" + CheckSumOf("") + "\r\n[SHA256]\r\nsetup\\i.exe="
             "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\r\n[Labels_EN]\r\nX=Y\r\n",
         "setup\\i.exe"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.before);
        fwtest::TempDir dir("fwtool");
        auto encode = [&](const std::string& text) { return row.utf16 ? fwtest::Utf16File(text) : text; };
        ASSERT_TRUE(CreateFolderTree(dir.File("sub").c_str()));
        ASSERT_TRUE(fwtest::WriteBytes(dir.File("a.zip"), "abc") && fwtest::WriteBytes(dir.File("sub\\b.pdf"), ""));
        ASSERT_TRUE(fwtest::WriteBytes(dir.File("Zaph.ini"), encode(row.before)));
        if (!row.program.empty())
            ASSERT_TRUE(CreateFolderTree(dir.File("setup").c_str()) &&
                        fwtest::WriteBytes(dir.File(row.program), "abc"));
        EXPECT_EQ(1u, RunTool("--verify " + dir.Path()));
        EXPECT_EQ(0u, RunTool(dir.Path()));
        EXPECT_EQ(encode(row.after), Read(dir.File("Zaph.ini")));
    }
    EXPECT_EQ(2u, RunTool("C:\\no\\such\\folder"));
}
