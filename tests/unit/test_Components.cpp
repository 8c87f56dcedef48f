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
#include "CodeTables.h"
#include "Components.h"
#include "Layout.h"
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

// What a line's rules decide, from the line and the files below the target
// alone: which file, from where, to where, or why not. Names and rule paths
// that would write outside the target folder are refused.
TEST_F(ComponentsTest, PlanOfOneLine)
{
    ASSERT_TRUE(WriteBytes(target.File("old\\marker.pdf"), "m") && WriteBytes(target.File("old\\handbook.pdf"), "h"));
    ASSERT_TRUE(WriteBytes(target.File("LU_New\\FR\\help.pdf"), "help"));
    struct Row
    {
        const char* line; // name=value;rules
        ComponentAction action;
        const char* source = ""; // below the target for a reuse
        const char* target = "";
        ComponentSkip why = SKIP_NONE;
        const char* condition = ""; // below the target
    } rows[] = {
        {"<MS>\\ms.mdb", COMPONENT_OBTAIN, "LU\\ms.mdb.zsi", "LU_New\\ms.mdb.zsi"},
        {"<MS>\\docs\\guide.pdf;Source=manuals\\handbook.pdf", COMPONENT_OBTAIN, "manuals\\handbook.pdf",
         "LU_New\\docs\\handbook.pdf"},
        {"<MS>\\forms.dat=;Extension=.dat;Multi=on", COMPONENT_OBTAIN, "LU\\forms.dat.dat", "LU_New\\forms.dat.dat"},
        {"<MS>\\notes.txt;Extension=.dat", COMPONENT_OBTAIN, "LU\\notes.txt", "LU_New\\notes.txt"},
        {"<MS>\\a.pdf;IfExists=marker.pdf;Then=$SKIP$", COMPONENT_SKIP, "", "", SKIP_THEN, "old\\marker.pdf"},
        {"<MS>\\a.pdf;IfNotExists=marker.pdf;Then=$SKIP$", COMPONENT_OBTAIN, "LU\\a.pdf", "LU_New\\a.pdf"},
        {"<MS>\\a.pdf;IfNotExists=marker.pdf;Else=$SKIP$", COMPONENT_SKIP, "", "", SKIP_ELSE, "old\\marker.pdf"},
        {"<MS>\\a.pdf;IfExists=none.pdf;Else=$SKIP$", COMPONENT_SKIP, "", "", SKIP_ELSE},
        {"<MS>\\handbook.pdf=Any;MS=Any", COMPONENT_REUSE, "old\\handbook.pdf", "LU_New\\handbook.pdf"},
        {"<MS>\\handbook.pdf=Any", COMPONENT_OBTAIN, "LU\\handbook.pdf", "LU_New\\handbook.pdf"},
        {"<MS>\\DE\\help.pdf", COMPONENT_SKIP, "", "", SKIP_OTHER_LANGUAGE},
        {"<MS>\\FR\\help.pdf", COMPONENT_KEEP, "LU\\FR\\help.pdf", "LU_New\\FR\\help.pdf"},
        {"..\\outside.pdf", COMPONENT_REFUSE},
        {"<MS>\\FR\\..\\..\\..\\outside.pdf", COMPONENT_REFUSE},
        {"<MS>\\FR\\... \\..\\outside.pdf", COMPONENT_REFUSE},
        {"\\outside.pdf", COMPONENT_REFUSE},
        {"C:outside.pdf", COMPONENT_REFUSE},
        {"<MS>\\x.pdf;Source=../outside.pdf", COMPONENT_REFUSE, "../outside.pdf", "../outside.pdf"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.line);
        const std::string line = row.line, head = line.substr(0, line.find(';'));
        CComponent component;
        component.m_name = head.substr(0, head.find('=')).c_str();
        component.m_value = head.find('=') == std::string::npos ? "" : head.substr(head.find('=') + 1).c_str();
        component.ParseRules(line.find(';') == std::string::npos ? "" : line.c_str() + line.find(';') + 1);
        const size_t before = stage->log.Lines().size();

        ComponentPlan plan = PlanComponent(component, "LU", "FR", target.Path().c_str());

        EXPECT_EQ(row.action, plan.action);
        EXPECT_EQ(row.why, plan.why);
        EXPECT_STRCASEEQ(row.action == COMPONENT_REUSE ? target.File(row.source).c_str() : row.source,
                         plan.action == COMPONENT_SKIP ? "" : plan.source.GetNarrow());
        EXPECT_STREQ(row.target, plan.target.GetNarrow());
        if (row.action == COMPONENT_SKIP)
        {
            EXPECT_STRCASEEQ(row.condition[0] == 0 ? "" : target.File(row.condition).c_str(),
                             plan.condition.GetNarrow());
        }
        std::vector<std::string> lines = stage->log.Lines();
        EXPECT_EQ(row.action == COMPONENT_REFUSE, Count(std::vector<std::string>(lines.begin() + before, lines.end()),
                                                         "' is not a path below the installation folder, refused."));
    }

    // A refused line fails its component, and nothing is written.
    ASSERT_TRUE(WriteBytes(dist.File("outside.pdf"), "outside") && WriteBytes(dist.File("LU\\x.pdf"), "x"));
    CComponent component;
    component.m_name = "<MS>\\x.pdf";
    component.ParseRules("Source=../outside.pdf");
    DWORD result = 12345;
    EXPECT_FALSE(InstallComponent(result, "LU", "FR", &component, target.Path().c_str()));
    EXPECT_EQ(161u, result);
    EXPECT_FALSE(FileExists(target.File("..\\outside.pdf").c_str()));
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
// every other line stay as they were. Programs and packages get their SHA-256 in [SHA256],
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
        // The product's package is listed like a program.
        {false, "[CheckSums]\r\nx=1\r\n" + restCrLf + "[Settings]\r\nA=1\r\n",
         "[CheckSums]\r\nx=1\r\na.zip=" + CheckSumOf("abc") + "\r\nsetup\\Sys_EN.msi=" + CheckSumOf("abc") +
             "\r\nsub\\b.pdf=" + CheckSumOf("") + "\r\n[SHA256]\r\nsetup\\Sys_EN.msi="
             "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\r\n" + restCrLf +
             "[Settings]\r\nA=1\r\n",
         "setup\\Sys_EN.msi"},
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

// What a layout fetches, from the settings file alone: the package of every
// language with labels, every data line for each of them once (a line that
// some machine installs, whichever way its existence tests go, with its
// Source and Extension), and the installers the settings offer.
TEST(LayoutPlan, EveryFileAnInstallationCouldNeed)
{
    const std::string lines = "[Components]\r\n# the program\r\nLogin.exe.zip=V6.2.0.5\r\n<MS>\\ms.mdb=V6.2.0.0\r\n"
                              "<MS>\\<Lang>\\labels.mdb=V6.2.0.0\r\n<MS>\\FR\\guide.pdf=Any\r\n<MS>\\IT\\guide.pdf=Any\r\n"
                              "<MS>\\rates.mdb=01/07/2007;IfNotExists=<MS>\\rates.lock;Else=$SKIP$\r\n"
                              "<MS>\\never.pdf=;IfExists=a.txt;Then=$SKIP$;Else=$SKIP$\r\n"
                              "<MS>\\docs\\guide.pdf=;IfExists=x.txt;Then=$SKIP$;Source=manuals\\handbook.pdf\r\n"
                              "<MS>\\forms.dat=;Extension=.dat\r\n..\\outside.pdf\r\n"
                              "[Additional]\r\n<MS>\\news.txt=Any\r\n<MS>\\ms.mdb=V6.2.0.0\r\n"
                              "[CheckSums]\r\nLU\\ms.mdb.zsi=1234ABCD\r\nLU_New\\ms.mdb.zip=5678ABCD\r\n"
                              "[Labels_EN]\r\nCaption=x\r\n[Labels_FR]\r\nCaption=x\r\n";
    struct Row
    {
        const char* settings;
        std::vector<std::string> files; // "I:" an installer; "=<checksum>" when listed
    } rows[] = {
        {"MemberState=LU\r\nSYS_LN_DIR=Setup\r\nMSI_Version=200\r\nMSI_NT=setup\\instmsiw.exe\r\n"
         "MSI_9X=setup\\instmsia.exe\r\n",
         {"setup\\sys_en.msi", "setup\\sys_fr.msi", "Login.exe.zip", "LU\\ms.mdb.zsi=1234ABCD", "LU\\EN\\labels.mdb.zsi",
          "LU\\rates.mdb.zsi", "manuals\\handbook.pdf", "LU\\forms.dat.dat", "LU\\news.txt.zip", "LU\\FR\\labels.mdb.zsi",
          "LU\\FR\\guide.pdf", "I:setup\\instmsiw.exe", "I:setup\\instmsia.exe"}},
        // The .NET edition: its staging folder in source names, databases as
        // .zip, its prerequisites as offered (1.1 unless said otherwise); no
        // package and no engine where their steps are bypassed.
        {"MemberState=LU\r\nDotNet=yes\r\nInstallSysLN=$SKIP$\r\nMSI_Version=$SKIP$\r\nMSI_NT=setup\\instmsiw.exe\r\n"
         "V20InstallerAvailable=yes\r\nSPV11InstallerAvailable=no\r\n",
         {"Login.exe.zip", "LU_New\\ms.mdb.zip=5678ABCD", "LU_New\\EN\\labels.mdb.zip", "LU_New\\rates.mdb.zip",
          "manuals\\handbook.pdf", "LU_New\\forms.dat.dat", "LU_New\\news.txt.zip", "LU_New\\FR\\labels.mdb.zip",
          "LU_New\\FR\\guide.pdf", "I:setup\\dotnetfx.exe", "I:setup\\dotnetfx_20.exe", "I:setup\\mdac_typ.exe"}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.settings);
        AppStage stage("[Settings]\r\nBASE_URL=http://unused/\r\n" + std::string(row.settings) + lines, "");
        std::vector<std::string> files;
        for (const LayoutFile& file : PlanLayout(stage.resource))
            files.push_back((file.kind == LAYOUT_INSTALLER ? "I:" : "") + file.source +
                            (file.checkSum.empty() ? "" : "=" + file.checkSum));
        EXPECT_EQ(row.files, files);
        RunState.Reset();
    }
    // The languages of /s instead of every one with labels.
    AppStage stage("[Settings]\r\nBASE_URL=http://unused/\r\nMemberState=LU\r\nMSI_Version=$SKIP$\r\n" + lines, "");
    RunState.commandLanguages[LanguageIndex("FR")] = true;
    RunState.commandLanguageCount = 1;
    std::vector<std::string> sources;
    for (const LayoutFile& file : PlanLayout(stage.resource))
        sources.push_back(file.source);
    EXPECT_EQ(std::vector<std::string>({"sys_fr.msi", "Login.exe.zip", "LU\\ms.mdb.zsi", "LU\\FR\\labels.mdb.zsi",
                                        "LU\\FR\\guide.pdf", "LU\\rates.mdb.zsi", "manuals\\handbook.pdf",
                                        "LU\\forms.dat.dat", "LU\\news.txt.zip"}),
              sources);
    RunState.Reset();
}
