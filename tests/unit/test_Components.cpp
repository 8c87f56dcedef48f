// Installation of the data and the last two phases: a distribution folder made
// here (checksums written by the release tool), the loopback server, the real
// progress window, copies, unzip library and boxes. The whole runs of
// e2e_install cover a clean installation, the reuse of an up-to-date database,
// the language filter, a damaged archive, a confirmed cancel and the
// completion records; these are the cases they do not reach.
#include <gtest/gtest.h>

#include "AppStage.h" // winsock2.h before windows.h

#include "BoxAnswerer.h"
#include "CResourceIterator.h"
#include "CheckSum.h"
#include "Components.h"
#include "FileUtil.h"
#include "Phases.h"
#include "RunState.h"

#include <stdio.h>

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
        for (size_t i = 0; i < 300000; ++i)
            big += (char)(i * 7 + i / 251);
        ASSERT_TRUE(CreateFolderTree(dist.File("LU\\FR").c_str()));
        ASSERT_TRUE(WriteBytes(dist.File("LU\\FR\\help.pdf"), "help") && WriteBytes(dist.File("LU\\FR\\big.pdf"), big));
        ASSERT_TRUE(WriteBytes(
            dist.File("Zaph.ini"),
            "[Settings]\r\nBASE_URL=unused\r\n"
            "[Labels_EN]\r\nConfirmCancel=Stop the installation?\r\nFailFile=Cannot obtain %hs from %hs\r\n"
            "DownloadFile=Downloading %hs from %hs\r\nWorkingOffLine=Offline\r\nPleaseWait=%s...\r\n"
            "[Additional]\r\nx\r\n"
            "[Components]\r\n<MS>\\FR\\help.pdf\r\n<MS>\\FR\\big.pdf\r\n[CheckSums]\r\n"));
        ASSERT_EQ(0u, RunTool("\"" + dist.Path() + "\""));
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

// A staged file is trusted only with the right checksum, and a copy that
// keeps failing fails the section.
TEST_F(ComponentsTest, StagedFilesAndFailingCopies)
{
    const std::string staged = target.File("LU_New\\FR\\help.pdf");
    EXPECT_EQ(2, Count(Install(true, 0), "\tCopied '"));
    {
        SCOPED_TRACE("staged file with a wrong checksum");
        ASSERT_TRUE(WriteBytes(staged, "damaged"));
        EXPECT_EQ(1, Count(Install(true, 0), "\tCopied '"));
        EXPECT_EQ("help", Read(staged));
    }
    {
        SCOPED_TRACE("a copy that fails twice");
        ASSERT_TRUE(WriteBytes(staged, "locked"));
        HANDLE locked = CreateFileA(staged.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        std::vector<std::string> log = Install(false, 266);
        CloseHandle(locked);
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

    Install(true, 0);
    EXPECT_TRUE(user.Join());
    server.Stop();

    EXPECT_EQ(std::vector<std::string>({"Stop the installation?"}), robot.Texts());
    EXPECT_EQ(big, Read(target.File("LU_New\\FR\\big.pdf")));
    EXPECT_EQ(2, server.RequestCount("LU/FR/big.pdf"));
}

// Names and rule paths come from the settings file: one that would write
// outside the target folder fails its component, and nothing is written.
TEST_F(ComponentsTest, NamesLeavingTheTargetAreRefused)
{
    ASSERT_TRUE(WriteBytes(dist.File("outside.pdf"), "outside"));
    ASSERT_TRUE(WriteBytes(dist.File("LU\\x.pdf"), "x"));
    const std::string outside = target.File("..\\outside.pdf");
    struct Row
    {
        const char* name;
        const char* rules;
    } rows[] = {
        {"..\\outside.pdf", ""},
        {"<MS>\\FR\\..\\..\\..\\outside.pdf", ""},
        {"<MS>\\FR\\... \\..\\outside.pdf", ""},
        {"\\outside.pdf", ""},
        {"C:outside.pdf", ""},
        {"<MS>\\x.pdf", "Source=../outside.pdf"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(std::string(row.name) + ";" + row.rules);
        CComponent component;
        component.m_name = row.name;
        component.ParseRules(row.rules);
        const size_t before = stage->log.Lines().size();
        DWORD result = 12345;
        EXPECT_FALSE(InstallComponent(result, "LU", "FR", &component, target.Path().c_str()));
        EXPECT_EQ(161u, result);
        std::vector<std::string> lines = stage->log.Lines();
        EXPECT_EQ(1, Count(std::vector<std::string>(lines.begin() + before, lines.end()),
                           "' is not a path below the installation folder, refused."));
        EXPECT_FALSE(FileExists(outside.c_str()));
    }
}

// A good archive replaces the main program in the whole runs; a damaged one,
// or one without the unzip library, must fail and leave the working program.
TEST_F(ComponentsTest, MainProgramKeptWithoutAGoodArchive)
{
    RunState.mainExeName = "readme.txt";
    for (bool library : {true, false})
    {
        SCOPED_TRACE(library ? "damaged archive" : "no unzip library");
        DeleteTree(target.File("bin"));
        ASSERT_TRUE(WriteBytes(target.File("readme.txt"), "earlier"));
        ASSERT_TRUE(WriteBytes(target.File("readme.txt.zip"), "PK\x03\x04 not an archive"));
        if (library)
        {
            ASSERT_TRUE(CreateFolderTree(target.File("bin").c_str()));
            ASSERT_TRUE(CopyFileA((BinDir() + "\\dunzip32.dll").c_str(), target.File("bin\\dunzip32.dll").c_str(), FALSE));
        }
        SequenceLocals locals;

        PhaseProgramsAndShortcuts(locals);

        EXPECT_NE(0, locals.rc);
        EXPECT_EQ("earlier", Read(target.File("readme.txt")));
        EXPECT_TRUE(FileExists(target.File("readme.txt.zip").c_str()));
        EXPECT_FALSE(FileExists(target.File("readme.txt.fwkeep").c_str()));
    }
}

// The release tool rewrites only the values and adds what is missing: the
// encoding, the line ends (a CR alone ends a line, as for the program) and
// every other line stay as they were. Programs get their SHA-256 in [SHA256],
// made after [CheckSums] when missing. An entry the program would not read
// back (blanks before "=" are taken out; a name of 80 characters is not)
// leaves the file as it was, with exit code 1.
TEST(ChecksumTool, KeepsEncodingLineEndsAndOtherLines)
{
    const std::string rest = "[Components]\nx\n[Additional]\nx\n[Labels_EN]\nX=Y\n";
    const std::string restCrLf = "[Components]\r\nx\r\n[Additional]\r\nx\r\n[Labels_EN]\r\nX=Y\r\n";
    const std::string longName = std::string(76, 'n') + ".zip";
    struct Row
    {
        bool utf16;
        std::string before, after;
        std::string file = ""; // a further file below the folder
        DWORD rc = 0;
    } rows[] = {
        {true, "[Settings]\nA=1\n[CheckSums]\n; kept\n  a.zip = 0BAD0BAD \nold.zip=12345678\n" + rest,
         "[Settings]\nA=1\n[CheckSums]\n; kept\n  a.zip= " + CheckSumOf("abc") +
             " \nold.zip=12345678\nsub\\b.pdf=" + CheckSumOf("") + "\n" + rest},
        {false, "[Settings]\r\nA=1\r\n" + restCrLf + "[CheckSums]\r\nSUB\\B.PDF=00000000",
         "[Settings]\r\nA=1\r\n" + restCrLf + "[CheckSums]\r\nSUB\\B.PDF=00000000\r\na.zip=" + CheckSumOf("abc") +
             "\r\n"},
        {false, "[CheckSums]\r\nx=1\r\n" + restCrLf + "[Settings]\r\nA=1\r\n",
         "[CheckSums]\r\nx=1\r\na.zip=" + CheckSumOf("abc") + "\r\nsetup\\i.exe=" + CheckSumOf("abc") +
             "\r\nsub\\b.pdf=" + CheckSumOf("") + "\r\n[SHA256]\r\nsetup\\i.exe="
             "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\r\n" + restCrLf +
             "[Settings]\r\nA=1\r\n",
         "setup\\i.exe"},
        {true, "[Settings]\rA=1\r[CheckSums]\ra.zip=1\r" + Expand(rest, "\n", "\r"),
         "[Settings]\rA=1\r[CheckSums]\ra.zip=" + CheckSumOf("abc") + "\rsub\\b.pdf=" + CheckSumOf("") + "\r" +
             Expand(rest, "\n", "\r")},
        {false, "[Settings]\nA=1\n[CheckSums]\nx=1\n" + rest, "", longName, 1},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.before);
        fwtest::TempDir dir("fwtool");
        auto encode = [&](const std::string& text) { return row.utf16 ? fwtest::Utf16File(text) : text; };
        ASSERT_TRUE(CreateFolderTree(dir.File("sub").c_str()));
        ASSERT_TRUE(fwtest::WriteBytes(dir.File("a.zip"), "abc") && fwtest::WriteBytes(dir.File("sub\\b.pdf"), ""));
        ASSERT_TRUE(fwtest::WriteBytes(dir.File("Zaph.ini"), encode(row.before)));
        if (!row.file.empty())
        {
            ASSERT_TRUE(CreateFolderTree(dir.File("setup").c_str()) && fwtest::WriteBytes(dir.File(row.file), "abc"));
        }
        EXPECT_EQ(1u, RunTool("--verify " + dir.Path()));
        EXPECT_EQ(row.rc, RunTool(dir.Path()));
        EXPECT_EQ(encode(row.rc == 0 ? row.after : row.before), Read(dir.File("Zaph.ini")));
        if (row.rc == 0)
        {
            EXPECT_EQ(0u, RunTool("--verify " + dir.Path()));
        }
    }
    EXPECT_EQ(2u, RunTool("C:\\no\\such\\folder"));
}
