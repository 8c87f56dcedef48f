// Installation of data components from a distribution folder made here (real
// zip archives, checksums written by the release tool), from the folder and
// over HTTP from the loopback server, with the real progress window, copies
// and message boxes.
#include <gtest/gtest.h>

#include "HttpTestServer.h" // winsock2.h before windows.h

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CDownloadManager.h"
#include "CMainUI.h"
#include "CResource.h"
#include "CResourceIterator.h"
#include "CheckSum.h"
#include "Components.h"
#include "FileUtil.h"
#include "Log.h"
#include "RunState.h"
#include "TestSupport.h"

#include <stdio.h>

#include <string>
#include <vector>

using fwtest::HttpTestServer;

namespace
{
const std::string EARLIER_DATA = "A database of the member state.\r\n"; // the zipped data.mdb

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
    return fwtest::RunProgram("\"" + fwtest::BinDir() + "\\fwchecksums.exe\" " + arguments);
}

std::string Read(const std::string& path)
{
    std::string bytes;
    return fwtest::ReadBytes(path, bytes) ? bytes : "<missing>";
}

class ComponentsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string zips = fwtest::BinaryDir() + "\\componentzips\\";
        for (size_t i = 0; i < 300000; ++i)
            big += (char)(i * 7 + i / 251);
        ASSERT_TRUE(CreateFolderTree(dist.File("LU\\FR").c_str()) && CreateFolderTree(dist.File("LU\\DE").c_str()) &&
                    CreateFolderTree(dist.File("docs").c_str()));
        ASSERT_TRUE(fwtest::WriteBytes(dist.File("LU\\FR\\help.pdf"), "help"));
        ASSERT_TRUE(fwtest::WriteBytes(dist.File("LU\\DE\\hilfe.pdf"), "Hilfe"));
        ASSERT_TRUE(fwtest::WriteBytes(dist.File("LU\\FR\\big.pdf"), big));
        ASSERT_TRUE(CreateFolderTree(dist.File("Reports").c_str()));
        ASSERT_TRUE(CopyFileA((zips + "readme.txt.zip").c_str(), dist.File("Reports\\LU.txt.zip").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((zips + "readme.txt.zip").c_str(), dist.File("extra.txt.zip").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((zips + "data.mdb.zsi").c_str(), dist.File("LU\\data.mdb.zsi").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((zips + "readme.txt.zip").c_str(), dist.File("docs\\readme.txt.zip").c_str(), FALSE));
        ASSERT_TRUE(fwtest::WriteBytes(
            dist.File("Zaph.ini"),
            "[Settings]\r\nBASE_URL=unused\r\n"
            "[Labels_EN]\r\nConfirmCancel=Stop the installation?\r\nFailFile=Cannot obtain %hs from %hs\r\n"
            "DownloadFile=Downloading %hs from %hs\r\nWorkingOffLine=Offline\r\n"
            "[Additional]\r\nx\r\n"
            "[Components]\r\n# data of the member state\r\n<MS>\\FR\\help.pdf\r\n<MS>\\FR\\big.pdf\r\n"
            "<MS>\\DE\\hilfe.pdf\r\n<MS>\\data.mdb=" + CheckSumOf(EARLIER_DATA) + "\r\ndocs\\readme.txt\r\n"
            // Not a language folder; another language's QvlData folder.
            "Reports\\<MS>.txt\r\nQvlData\\DE\\y.mdb\r\n"
            // Existence rules: skipped ones have nothing to obtain; Then before the test does nothing.
            "skipped.txt=;IfExists=help.pdf;Then=$SKIP$\r\nelse.txt=;IfNotExists=help.pdf;Else=$SKIP$\r\n"
            "else2.txt = ; IfExists = nothere.txt ; Else = $SKIP$\r\nextra.txt=;Then=$SKIP$;IfExists=help.pdf\r\n"
            "[CheckSums]\r\n"));
        ASSERT_EQ(0u, RunTool("\"" + dist.Path() + "\""));
        ASSERT_EQ(0u, RunTool("--verify \"" + dist.Path() + "\""));

        SetLogFile(logPath.c_str());
        ASSERT_TRUE(resource.Load(dist.File("Zaph.ini").c_str()));
        ASSERT_TRUE(resource.ChooseLanguage("EN"));
        ASSERT_TRUE(ui.Create(NULL));
        manager = new CDownloadManager(&ui, &resource);
        manager->SetBaseUrl(dist.Path().c_str());
        g_mainUI = &ui;
        g_resource = &resource;
        g_downloadManager = manager;
        RunState.Reset();
        RunState.targetDir = target.Path().c_str();
        copyMode = COPY_MODE_CHUNKED;
    }

    void TearDown() override
    {
        delete manager;
        g_downloadManager = NULL;
        g_resource = NULL;
        g_mainUI = NULL;
        ui.Close(0);
        SetLogFile("");
        RunState.Reset();
        copyMode = COPY_MODE_SHELL;
    }

    // One section for LU and FR; the log lines it wrote.
    std::vector<std::string> Install(bool expectedOk, DWORD expectedResult)
    {
        const size_t before = fwtest::ReadLines(logPath).size();
        DWORD result = 12345;
        EXPECT_EQ(expectedOk, InstallComponents(result, "LU", "FR", target.Path().c_str(), SECTION_COMPONENTS));
        EXPECT_EQ(expectedResult, result);
        std::vector<std::string> lines = fwtest::ReadLines(logPath);
        if (result != expectedResult) // what happened, for the failure report
            for (size_t i = before; i < lines.size(); ++i)
                printf("  log: %s\n", lines[i].c_str());
        return std::vector<std::string>(lines.begin() + std::min(before, lines.size()), lines.end());
    }

    fwtest::TempDir dist{"fwcdist"};
    // Near the root: the search for installed files descends only into
    // folders of a few levels, as below an installation folder.
    fwtest::TempDir target{"fwc", "C:\\"};
    fwtest::TempDir logDir{"fwclog"};
    std::string logPath = logDir.File("components.log");
    std::string big;
    CResource resource;
    CMainUI ui{GetModuleHandleA(NULL)};
    CDownloadManager* manager = NULL;
    fwtest::BoxAnswerer robot;
};

// Presses the window's Cancel once the server stalls, then lets it go on.
DWORD WINAPI PressCancel(void* param)
{
    auto* self = static_cast<std::pair<HttpTestServer*, CMainUI*>*>(param);
    if (!self->first->WaitForStall(20000))
        return 1;
    DWORD_PTR ignored;
    SendMessageTimeoutA(GetDlgItem(self->second->GetWindow(), IDCANCEL), BM_CLICK, 0, 0, SMTO_NORMAL, 10000,
                        &ignored);
    PostMessageA(self->second->GetWindow(), WM_NULL, 0, 0);
    self->first->ReleaseStalls();
    return 0;
}
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
        EXPECT_EQ("help", Read(staged));
        EXPECT_EQ(big, Read(target.File("LU_New\\FR\\big.pdf")));
        EXPECT_EQ(Read(dist.File("LU\\data.mdb.zsi")), Read(target.File("LU_New\\data.mdb.zsi")));
        EXPECT_EQ(Read(dist.File("docs\\readme.txt.zip")), Read(target.File("docs\\readme.txt.zip")));
        EXPECT_FALSE(FileExists(target.File("LU_New\\DE\\hilfe.pdf").c_str())); // another language
        EXPECT_EQ(1, Count(log, "--- Install components MS='LU' LANG='FR' SECTION='1'."));
    }
    {
        SCOPED_TRACE("everything in place");
        EXPECT_EQ(0, Count(Install(true, 0), "\tCopied '"));
    }
    {
        SCOPED_TRACE("staged file with a wrong checksum");
        ASSERT_TRUE(fwtest::WriteBytes(staged, "damaged"));
        std::vector<std::string> log = Install(true, 0);
        EXPECT_EQ(1, Count(log, "'LU_New\\FR\\help.pdf' check sum mismatch. Need to obtain the file again."));
        EXPECT_EQ(1, Count(log, "\tCopied '"));
        EXPECT_EQ("help", Read(staged));
    }
    {
        SCOPED_TRACE("up-to-date copy in the earlier installation");
        ASSERT_TRUE(fwtest::DeleteTree(target.File("LU_New")));
        ASSERT_TRUE(CreateFolderTree(target.File("LU").c_str()));
        ASSERT_TRUE(fwtest::WriteBytes(target.File("LU\\data.mdb"), EARLIER_DATA));
        std::vector<std::string> log = Install(true, 0);
        EXPECT_EQ(1, Count(log, "\tCopied '" + target.File("LU\\data.mdb") + "' to 'LU_New\\data.mdb'"));
        EXPECT_EQ(1, Count(log, "Override to checkSum lookup "));
        EXPECT_EQ(3, Count(log, "\tCopied '")); // the rest stayed in place
        EXPECT_EQ(EARLIER_DATA, Read(target.File("LU_New\\data.mdb")));
        EXPECT_FALSE(FileExists(target.File("LU_New\\data.mdb.zsi").c_str()));
    }
    {
        SCOPED_TRACE("a copy that fails twice");
        ASSERT_TRUE(fwtest::WriteBytes(staged, "locked"));
        HANDLE locked = CreateFileA(staged.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        std::vector<std::string> log = Install(false, 266);
        CloseHandle(locked);
        EXPECT_EQ(1, Count(log, "*RETRY* copying '" + dist.File("lu\\fr\\help.pdf") + "' '" + target.Path() +
                                    "' 'LU_New\\FR\\help.pdf' (in 1sec)"));
        EXPECT_EQ(1, Count(log, "Could not copy '" + dist.File("lu\\fr\\help.pdf") + "'"));
        EXPECT_EQ(0, Count(log, "\tCopied '")); // the section ends at the first failure
    }
    {
        SCOPED_TRACE("a delivered file that does not match [CheckSums]");
        ASSERT_TRUE(fwtest::DeleteTree(target.File("LU_New")));
        ASSERT_TRUE(fwtest::WriteBytes(dist.File("LU\\FR\\help.pdf"), "help, changed after the release"));
        EXPECT_EQ(1u, RunTool("--verify \"" + dist.Path() + "\""));
        std::vector<std::string> log = Install(false, 23);
        EXPECT_EQ(1, Count(log, "'" + staged + "' check sum mismatch (" +
                                    CheckSumOf("help, changed after the release") + ")."));
    }
}

// Cancel during a download: declined, the component is tried again and the
// section completes; confirmed, the section ends with 1223.
class ComponentsHttpTest : public ComponentsTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(ComponentsHttpTest, CancelDuringADownload)
{
    const bool confirm = GetParam();
    HttpTestServer server(dist.Path());
    ASSERT_TRUE(server.Start());
    server.SetBehaviour("LU/FR/big.pdf", HttpTestServer::SERVE_STALL);
    manager->SetBaseUrl(server.BaseUrl().c_str());
    manager->SetUseWorkerThread(true);
    robot.SetButton(confirm ? IDYES : IDNO);
    std::pair<HttpTestServer*, CMainUI*> presser(&server, &ui);
    HANDLE thread = CreateThread(NULL, 0, PressCancel, &presser, 0, NULL);

    std::vector<std::string> log = Install(!confirm, confirm ? 1223 : 0);
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    server.Stop();

    EXPECT_EQ(std::vector<std::string>({"Stop the installation?"}), robot.Texts());
    EXPECT_EQ(1, Count(log, std::string("'Stop the installation?' => '") + (confirm ? "yes'" : "no'")));
    EXPECT_EQ("help", Read(target.File("LU_New\\FR\\help.pdf")));
    EXPECT_EQ(confirm ? "<missing>" : big, Read(target.File("LU_New\\FR\\big.pdf")));
    EXPECT_EQ(confirm ? 1 : 2, server.RequestCount("LU/FR/big.pdf"));
    EXPECT_EQ(confirm ? "<missing>" : Read(dist.File("docs\\readme.txt.zip")),
              Read(target.File("docs\\readme.txt.zip")));
}
INSTANTIATE_TEST_SUITE_P(Answer, ComponentsHttpTest, ::testing::Values(false, true));

TEST(ComponentNames, PackedExtensionAndLanguageFilter)
{
    struct PackedRow
    {
        bool dotNet;
        const char* name;
        const char* extension;
        const char* packed;
    } packed[] = {
        {false, "data.mdb", "", "data.mdb.zsi"},        {true, "data.mdb", "", "data.mdb.zip"},
        {false, "data.mdb", ".mdb", "data.mdb.mdb"},    {false, "readme.txt", ".mdb", "readme.txt"},
        {false, "a.ZIP", "", "a.ZIP"},                  {false, "b.pdf", ".pdf", "b.pdf"},
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
