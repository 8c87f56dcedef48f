// The last two phases and the completion records, called directly with the
// real progress window, files, unzip library and registry: what the whole-run
// scenarios cannot reach cheaply (a failure in the middle of the languages, a
// damaged archive over a working program, every edition of the records).
#include <gtest/gtest.h>

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CDownloadManager.h"
#include "CMSI.h"
#include "CMainUI.h"
#include "CResource.h"
#include "CheckSum.h"
#include "CodeTables.h"
#include "FileUtil.h"
#include "Log.h"
#include "Phases.h"
#include "PreviousInstallation.h"
#include "Registry.h"
#include "RunState.h"
#include "TestSupport.h"
#include "resource.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace
{
const char LOGIN_KEY[] = "Software\\Ombrant\\ZAPH.NET\\Login";
const std::string ARCHIVED = "Read me first.\r\n"; // the member of componentzips\readme.txt.zip

std::string Read(const std::string& path)
{
    std::string bytes;
    return fwtest::ReadBytes(path, bytes) ? bytes : "<missing>";
}

std::string Reg(HKEY root, const char* key, const char* value)
{
    C_String text;
    return ReadRegistryString(root, key, value, text) ? text.GetNarrow() : "<absent>";
}

std::string CheckSumOf(const std::string& bytes)
{
    char text[16];
    sprintf(text, "%08lX", (unsigned long)CheckSum::Update(0, bytes.data(), bytes.size()));
    return text;
}

// The positions of the log's section lines, joined: "DE1 DE3 FR1".
std::string Sections(const std::vector<std::string>& lines)
{
    std::string order;
    for (const std::string& line : lines)
    {
        size_t at = line.find("LANG='");
        if (line.find("--- Install components") != std::string::npos && at != std::string::npos)
            order += (order.empty() ? "" : " ") + line.substr(at + 6, 2) + line.substr(line.find("SECTION='") + 9, 1);
    }
    return order;
}

class PhasesDataTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // One file per language in each section; FR's main file is damaged
        // in the distribution when a row asks for it.
        std::string ini = "[Settings]\r\nBASE_URL=unused\r\nNumComponents=3\r\n"
                          "[Components]\r\n<MS>\\<Lang>\\notes.pdf\r\n"
                          "[Additional]\r\n<MS>\\<Lang>\\extra.pdf\r\n"
                          "[Labels_EN]\r\nPleaseWait=%s...\r\nInstallComponents=Data\r\n"
                          "FailFile=Cannot obtain %hs from %hs\r\nDownloadFile=Downloading %hs from %hs\r\n"
                          "[CheckSums]\r\n";
        for (const char* lang : {"DE", "FR", "NL"})
        {
            std::string notes = std::string("notes ") + lang;
            ASSERT_TRUE(CreateFolderTree(dist.File(std::string("LU\\") + lang).c_str()));
            ASSERT_TRUE(fwtest::WriteBytes(dist.File(std::string("LU\\") + lang + "\\notes.pdf"), notes));
            ASSERT_TRUE(fwtest::WriteBytes(dist.File(std::string("LU\\") + lang + "\\extra.pdf"), "extra"));
            ini += std::string("LU\\") + lang + "\\notes.pdf=" + CheckSumOf(notes) + "\r\n";
        }
        ASSERT_TRUE(fwtest::WriteBytes(dist.File("Zaph.ini"), ini));

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
        RunState.memberState = "LU";
        RunState.mainExeName = "readme.txt";
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

    void Select(const std::vector<const char*>& codes)
    {
        for (const char* code : codes)
            RunState.languageSelected[LanguageIndex(code)] = true;
        RunState.languageCount = (int)codes.size();
    }

    std::vector<std::string> NewLogLines(size_t before)
    {
        std::vector<std::string> lines = fwtest::ReadLines(logPath);
        return std::vector<std::string>(lines.begin() + std::min(before, lines.size()), lines.end());
    }

    fwtest::TempDir dist{"fwpddist"};
    fwtest::TempDir target{"fwpdtarget"};
    fwtest::TempDir logDir{"fwpdlog"};
    std::string logPath = logDir.File("phases.log");
    CResource resource;
    CMainUI ui{GetModuleHandleA(NULL)};
    CDownloadManager* manager = NULL;
    fwtest::BoxAnswerer robot;
};
} // namespace

TEST_F(PhasesDataTest, DataComponentsLanguageByLanguageUntilOneFails)
{
    struct Row
    {
        const char* name;
        bool damageFrench;
        long rc;
        const char* sections;
    } rows[] = {
        {"all good", false, 0, "DE1 DE3 FR1 FR3 NL1 NL3"},
        {"French file damaged", true, 23, "DE1 DE3 FR1"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        fwtest::DeleteTree(target.File("LU_New"));
        ASSERT_TRUE(CreateFolderTree(target.File("LU_New\\setup").c_str()));
        ASSERT_TRUE(fwtest::WriteBytes(target.File("LU_New\\setup\\Zaph.ini"), "left by an earlier run"));
        ASSERT_TRUE(fwtest::WriteBytes(dist.File("LU\\FR\\notes.pdf"), row.damageFrench ? "damaged" : "notes FR"));
        RunState.Reset();
        RunState.targetDir = target.Path().c_str();
        RunState.memberState = "LU";
        Select({"NL", "DE", "FR"});
        SequenceLocals locals;
        size_t before = fwtest::ReadLines(logPath).size();

        PhaseDataComponents(locals);

        EXPECT_EQ(row.rc, locals.rc);
        EXPECT_STREQ(LABEL_INSTALL_COMPONENTS, locals.stepKey);
        EXPECT_EQ(row.sections, Sections(NewLogLines(before)));
        EXPECT_EQ(9, (int)SendDlgItemMessageA(ui.GetWindow(), IDC_BAR1, PBM_GETRANGE, FALSE, 0));
        EXPECT_EQ("<missing>", Read(target.File("LU_New\\setup\\Zaph.ini")));
        EXPECT_EQ("notes DE", Read(target.File("LU_New\\DE\\notes.pdf")));
        EXPECT_EQ(row.rc == 0 ? "notes NL" : "<missing>", Read(target.File("LU_New\\NL\\notes.pdf")));
        EXPECT_EQ((int)COPY_MODE_CHUNKED, (int)copyMode);
        EXPECT_FALSE(ui.m_busy);
    }
}

TEST_F(PhasesDataTest, MainProgramReplacedOnlyByAGoodArchive)
{
    const std::string zip = fwtest::BinaryDir() + "\\componentzips\\readme.txt.zip";
    struct Row
    {
        const char* name;
        const char* archive; // "good", "damaged" or "" (none)
        bool library;
        long rc;             // -1: the library's own failure code
        std::string program; // afterwards
        bool archiveLeft;
    } rows[] = {
        {"good archive", "good", true, 0, ARCHIVED, false},
        {"damaged archive keeps the program", "damaged", true, -1, "earlier", true},
        {"no archive", "", true, 0, "earlier", false},
        {"no unzip library", "good", false, 5023, "earlier", true},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        fwtest::DeleteTree(target.File("bin"));
        DeleteFileA(target.File("readme.txt.zip").c_str());
        ASSERT_TRUE(fwtest::WriteBytes(target.File("readme.txt"), "earlier"));
        if (row.library)
        {
            ASSERT_TRUE(CreateFolderTree(target.File("bin").c_str()));
            ASSERT_TRUE(CopyFileA((fwtest::BinDir() + "\\dunzip32.dll").c_str(),
                                  target.File("bin\\dunzip32.dll").c_str(), FALSE));
        }
        if (std::string(row.archive) == "good")
        {
            ASSERT_TRUE(CopyFileA(zip.c_str(), target.File("readme.txt.zip").c_str(), FALSE));
        }
        else if (row.archive[0] != 0)
        {
            ASSERT_TRUE(fwtest::WriteBytes(target.File("readme.txt.zip"), "PK\x03\x04 not an archive"));
        }
        SequenceLocals locals;

        PhaseProgramsAndShortcuts(locals);

        EXPECT_TRUE(row.rc == -1 ? locals.rc != 0 && locals.rc != 5023 : locals.rc == row.rc) << locals.rc;
        EXPECT_EQ(row.program, Read(target.File("readme.txt")));
        EXPECT_EQ(row.archiveLeft, FileExists(target.File("readme.txt.zip").c_str()));
        EXPECT_FALSE(FileExists(target.File("readme.txt.fwkeep").c_str()));
    }
}

TEST_F(PhasesDataTest, CompletionRecordsByEdition)
{
    struct Row
    {
        const char* name;
        bool dotNet, skipMsi, client, multi;
        const char* dotNetValue; // afterwards, from "before"
        bool settingsCopy, marker;
    } rows[] = {
        {"QRT", false, false, false, false, "No", true, true},
        {"QRT without the package step keeps DotNet", false, true, false, true, "before", true, true},
        {".NET", true, false, false, false, "Yes", true, false},
        {"QRT client", false, false, true, false, "No", false, false},
    };
    HKEY product;
    bool hadKey = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ProductRegistryKey, 0, KEY_READ, &product) == ERROR_SUCCESS;
    if (hadKey)
        RegCloseKey(product);
    ASSERT_TRUE(EnsureRegistryKey(HKEY_LOCAL_MACHINE, ProductRegistryKey));
    C_String savedDotNet, savedMulti;
    bool hadDotNet = ReadRegistryString(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_DOTNET, savedDotNet);
    bool hadMulti = ReadRegistryString(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_MULTI_MS_VERSION,
                                       savedMulti);
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        fwtest::DeleteTree(target.File("LU_New"));
        ASSERT_TRUE(WriteRegistryString(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_DOTNET, "before"));
        DeleteRegistryValue(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_MULTI_MS_VERSION);
        DeleteRegistryKey(HKEY_CURRENT_USER, LOGIN_KEY);
        ASSERT_TRUE(EnsureRegistryKey(HKEY_LOCAL_MACHINE, OLDER_LINE_UNINSTALL_KEY));
        RunState.targetDir = target.Path().c_str();
        RunState.dotNetEdition = row.dotNet;
        RunState.multiMode = row.multi;
        SequenceLocals locals;
        locals.skipMsi = row.skipMsi;
        locals.isClient = row.client;
        strcpy(locals.ownVersion, "V1.2.3.4");

        WriteCompletionRecords(locals);

        EXPECT_EQ(target.File("LU_New"), RunState.targetDir.GetNarrow());
        EXPECT_EQ(row.dotNetValue, Reg(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_DOTNET));
        std::string settings = Read(dist.File("Zaph.ini"));
        EXPECT_EQ(row.settingsCopy ? settings : "<missing>", Read(target.File("LU_New\\setup\\Zaph.ini")));
        EXPECT_EQ(row.marker ? settings : "<missing>", Read(target.File("LU_New\\FW_Complete.lol")));
        EXPECT_EQ(row.dotNet ? "EN" : "<absent>", Reg(HKEY_CURRENT_USER, LOGIN_KEY, "DefaultLanguage"));
        EXPECT_EQ(row.dotNet ? "LU" : "<absent>", Reg(HKEY_CURRENT_USER, LOGIN_KEY, "DefaultMemberState"));
        EXPECT_EQ(row.multi ? "V1.2.3.4" : "<absent>",
                  Reg(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_MULTI_MS_VERSION));
        HKEY key;
        EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, OLDER_LINE_UNINSTALL_KEY, 0, KEY_READ, &key));
    }
    DeleteRegistryKey(HKEY_CURRENT_USER, LOGIN_KEY);
    if (hadDotNet)
        WriteRegistryString(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_DOTNET, savedDotNet.GetNarrow());
    else
        DeleteRegistryValue(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_DOTNET);
    if (hadMulti)
        WriteRegistryString(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_MULTI_MS_VERSION,
                            savedMulti.GetNarrow());
    else
        DeleteRegistryValue(HKEY_LOCAL_MACHINE, ProductRegistryKey, PRODUCT_VALUE_MULTI_MS_VERSION);
    if (!hadKey)
        DeleteRegistryKey(HKEY_LOCAL_MACHINE, ProductRegistryKey);
}
