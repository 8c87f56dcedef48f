// Shortcuts made through the shell's link object and read back through it,
// and the check of an installation about to be upgraded, over the shared
// machine states (a real installed package among them).
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CMSI.h"
#include "CMainUI.h"
#include "CResource.h"
#include "LogCapture.h"
#include "MachineStates.h"
#include "RunState.h"
#include "Shortcuts.h"
#include "TestSupport.h"
#include "WideAPI.h"

using namespace fwtest;

namespace
{
const char SETTINGS[] = "[Settings]\r\nIniVersion=6.2\r\n[Components]\r\nx\r\n[CheckSums]\r\nx=0\r\n"
                        "[Additional]\r\nx\r\n[Labels_EN]\r\nNoInstallation=No installation in %hs\r\n"
                        "UninstallFail=Removal failed\r\nErrorOccurred=Error: %s\r\n";

struct Link
{
    bool loaded = false;
    std::string target, workingFolder, description;
};

// A shortcut as the shell reads it.
Link ReadLink(const std::string& path)
{
    Link link;
    IShellLinkA* shell = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void**)&shell)))
        return link;
    IPersistFile* file = NULL;
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, (void**)&file)) && SUCCEEDED(file->Load(wide, STGM_READ)))
    {
        char text[MAX_PATH] = "";
        link.loaded = true;
        shell->GetPath(text, MAX_PATH, NULL, SLGP_RAWPATH);
        link.target = text;
        shell->GetWorkingDirectory(text, MAX_PATH);
        link.workingFolder = text;
        shell->GetDescription(text, MAX_PATH);
        link.description = text;
    }
    if (file)
        file->Release();
    shell->Release();
    return link;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class Shortcuts : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CoInitialize(NULL);
        ASSERT_TRUE(WriteBytes(dir.File("Zaph.ini"), SETTINGS));
        ASSERT_TRUE(settings.Load(dir.File("Zaph.ini").c_str()));
        ASSERT_TRUE(settings.ChooseLanguage("EN"));
        g_resource = &settings;
        g_mainUI = &ui;
        g_msi = &msi;
        RunState.Reset();
        shell = machine.RedirectShellFolders();
    }
    void TearDown() override
    {
        g_resource = NULL;
        g_mainUI = NULL;
        g_msi = NULL;
        RunState.Reset();
        CoUninitialize();
    }

    TempDir dir{ "fwsetup" };
    CResource settings;
    CMainUI ui{ GetModuleHandleA(NULL) };
    CMSI msi;
    MachineState machine;
    std::string shell;
    LogCapture log;
};
} // namespace

TEST_F(Shortcuts, OneShortcutReadBackThroughTheShell)
{
    const std::string target = machine.Apply(STATE_QRT_OLDER) + "\\Login.exe";
    const std::string missing = machine.Root() + "\\gone\\Login.exe";
    const std::string link = shell + "\\Desktop\\sub\\x.lnk";
    struct Row
    {
        std::string target;
        bool linkBefore, evenWithout, made, linkAfter;
        const char* line;
    };
    const Row rows[] = {
        { target, false, false, true, true, "\tCreating shortcut <l> for <t>." },
        { missing, false, false, false, false, "\tCannot make shortcut <l> for non-existing <t>." },
        { missing, true, false, false, false, "\tCleaning up shortcut <l> for non-existing <t>." },
        { missing, true, true, true, true, "\t\t -> HRESULT='0x0000'." },
        { "", true, true, false, true, NULL },
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.target + (row.linkBefore ? " over a link" : "") + (row.evenWithout ? " even" : ""));
        DeleteFileA(link.c_str());
        if (row.linkBefore)
        {
            CreateDirectoryA((shell + "\\Desktop\\sub").c_str(), NULL);
            ASSERT_TRUE(WriteBytes(link, "old link"));
        }
        EXPECT_EQ(row.made, CreateShortcut(row.target.c_str(), link.c_str(), "Described", row.evenWithout));
        EXPECT_EQ(row.linkAfter, Exists(link));
        if (row.line != NULL)
        {
            EXPECT_TRUE(log.Has({ Expand(Expand(row.line, "<l>", link), "<t>", row.target) }));
        }
        if (row.made)
        {
            Link read = ReadLink(link);
            EXPECT_TRUE(read.loaded);
            EXPECT_EQ(row.target, read.target);
            EXPECT_EQ(row.target.substr(0, row.target.rfind('\\') + 1), read.workingFolder);
            EXPECT_EQ("Described", read.description);
        }
    }
}

TEST_F(Shortcuts, ProductShortcutsReplaceTheOldOnes)
{
    struct Row
    {
        const StateRow* state;
        bool client, nt;
        bool made;
        const char* desktop; // the shell folders the row uses
        const char* programs;
    };
    const Row rows[] = {
        { &STATE_QRT_OLDER, false, true, true, "CommonDesktop", "CommonPrograms" },
        { &STATE_DOTNET_CLIENT, true, true, true, "CommonDesktop", "CommonPrograms" }, // no Login.exe
        { &STATE_DOTNET_CLIENT, false, true, false, "CommonDesktop", "CommonPrograms" },
        { &STATE_QRT_OLDER, false, false, true, "Desktop", "Programs" },               // Windows 9x
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(std::string(row.state->name) + (row.client ? " client" : "") + (row.nt ? "" : " 9x"));
        const std::string folder = machine.Apply(*row.state);
        const std::string desktop = shell + "\\" + row.desktop, programs = shell + "\\" + row.programs;
        CreateDirectoryA((programs + "\\ZAPH QVL").c_str(), NULL);
        for (const std::string& old :
             { desktop + "\\Zaph.lnk", desktop + "\\Login.lnk", programs + "\\ZAPH QVL\\ZAPH QVL.lnk" })
            ASSERT_TRUE(WriteBytes(old, "old"));
        DeleteFileA((desktop + "\\GESTION BALVORA.lnk").c_str());
        DeleteFileA((programs + "\\MORV OSKE\\GESTION BALVORA.lnk").c_str());

        isWinNT = row.nt;
        CreateProductShortcuts(folder.c_str(), row.client);
        isWinNT = true;

        for (const std::string& made :
             { desktop + "\\GESTION BALVORA.lnk", programs + "\\MORV OSKE\\GESTION BALVORA.lnk" })
        {
            SCOPED_TRACE(made);
            Link read = ReadLink(made);
            EXPECT_EQ(row.made, read.loaded);
            if (row.made)
            {
                EXPECT_EQ(folder + "\\Login.exe", read.target);
                EXPECT_EQ(folder + "\\", read.workingFolder);
                EXPECT_EQ("Login MORV/TELA por Windows", read.description);
            }
        }
        for (const std::string& old :
             { desktop + "\\Zaph.lnk", desktop + "\\Login.lnk", programs + "\\ZAPH QVL\\ZAPH QVL.lnk" })
            EXPECT_FALSE(Exists(old)) << old;
    }
}

// A new installation and a sound QRT one are the whole runs' (".NET upgrade
// keeps its languages" logs "VerifyInstallation deemed OK."); these are the
// other main program and the broken ones.
TEST_F(Shortcuts, VerifyInstallationKeepsOrForgets)
{
    BoxAnswerer boxes;
    struct Row
    {
        const StateRow* state;
        const char* removeFile; // made missing before the check; "*" removes the folder
        bool broken, packageRemoved;
        std::vector<std::string> lines; // <f>: the folder
    };
    const Row rows[] = {
        // One of the two main programs is enough.
        { &STATE_DOTNET_SERVER, NULL, false, false,
          { "W\tVerifyInstallation may fail because '<f>\\Login.exe' has gone missing.",
            "\tVerifyInstallation deemed OK." } },
        { &STATE_QRT_OLDER, "*", true, false,
          { "W\tVerifyInstallation Failed because '<f>' has gone missing.", "\tRegistry entry 'InstallPath' deleted.",
            "\tRegistry entry 'SetupType' deleted.", "\t=== Verify Installation: No matching product code found" } },
        { &STATE_QRT_PACKAGE, "bin\\dunzip32.dll", true, true,
          { "W\tVerifyInstallation Failed because '<f>\\bin\\dunzip32.dll' has gone missing.",
            "\t**> Uninstallation returned '0' '<>'." } },
    };
    const char* const PRODUCT_KEY = "SOFTWARE\\Ombrant\\ZAPH QRT";
    const char* const VALUES[3] = { "InstallPath", "SetupType", "MultiMSVersion" };
    const std::string RELEASE1_ENTRY =
        std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + PACKAGE_RELEASE1_CODE;
    size_t boxesBefore = 0;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(std::string(row.state->name) + " " + (row.removeFile ? row.removeFile : ""));
        MachineState state;
        const std::string folder = state.Apply(*row.state);
        state.SetValue(HKEY_LOCAL_MACHINE, PRODUCT_KEY, "MultiMSVersion", "V6.1");
        if (row.removeFile != NULL && std::string(row.removeFile) == "*")
            DeleteTree(folder);
        else if (row.removeFile != NULL)
            DeleteFileA((folder + "\\" + row.removeFile).c_str());
        log.Clear();
        RunState.Reset();
        RunState.targetDir = folder.c_str();

        std::string before[3];
        for (size_t i = 0; i < 3; ++i)
            before[i] = RegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, VALUES[i]);

        DWORD result = 1;
        EXPECT_TRUE(VerifyInstallation(result));
        EXPECT_EQ(0u, result);
        EXPECT_EQ(row.broken ? "" : folder, RunState.targetDir.GetNarrow());
        EXPECT_EQ(row.packageRemoved, RunState.oldPackageRemoved);
        for (size_t i = 0; i < 3; ++i)
            EXPECT_EQ(row.broken ? REG_ABSENT : before[i], RegString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, VALUES[i]))
                << VALUES[i];
        EXPECT_EQ(row.packageRemoved, row.state->packageRelease != 0 &&
                                          RegString(HKEY_LOCAL_MACHINE, RELEASE1_ENTRY, "DisplayVersion") == REG_ABSENT);
        std::vector<std::string> lines;
        for (const std::string& line : row.lines)
            lines.push_back(Expand(line, "<f>", folder));
        EXPECT_TRUE(log.Has(lines));
        std::vector<std::string> texts = boxes.Texts();
        EXPECT_EQ(boxesBefore + (row.broken ? 1 : 0), texts.size());
        if (row.broken && !texts.empty())
            EXPECT_EQ("No installation in " + folder, texts.back());
        boxesBefore = texts.size();
    }
}
