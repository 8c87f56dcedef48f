// What the .NET edition runs besides its package: the repair of the security
// policy (/r) and installers fetched from the network, which run only when
// their publisher or the settings file vouches for them. The outside
// installers and tools are fw_standin.exe under their names.
#include <gtest/gtest.h>

#include "HttpTestServer.h" // winsock2.h before windows.h

#include <string>
#include <vector>

#include "Distribution.h"
#include "MachineStates.h"
#include "Scenario.h"
#include "Sha256.h"
#include "StandIns.h"
#include "TestSupport.h"

using namespace fwe2e;

namespace
{
// Repair mode through fernwick.exe: (earlier installation, command line,
// Framework) -> the policy tool's calls, the one box and the exit code: a
// repair that failed says so to its caller too.
struct RepairRow
{
    const char* name;
    const fwtest::StateRow* state;
    bool folderGiven; // /r names another folder holding Zaph.exe
    bool framework;
    const char* box;  // the one box, warning unless it is the failure
    int rc;
};

const RepairRow REPAIR_ROWS[] = {
    {"installed", &fwtest::STATE_DOTNET_SERVER, false, true, "Repair successfull.", 0},
    {"folder given overrides the registry", &fwtest::STATE_DOTNET_SERVER, true, true, "Repair successfull.", 0},
    {"no installation", &fwtest::STATE_NOTHING, false, true, "Did not find ZAPH installation path. Could not repair.",
     1605},
    {"no Framework", &fwtest::STATE_DOTNET_SERVER, false, false, "One or more repair attempts have failed.", 1603},
};

// Installers fetched from the network (WEB mode, a loopback server) run only
// when signed by their publisher through an authority the system trusts, or
// when they match the digest the settings file lists; a refused one is not
// run and ends the step with the refusal box. Either is judged and started as
// a copy in a protected folder of its own.
struct DownloadRow
{
    const char* name;
    const char* program;  // below bin\: the stand-in served as setup\mdac_typ.exe
    bool oneByteChanged;
    bool authorityTrusted;
    const char* digest;   // "" none listed, "right" or "wrong"
    bool runs;
};

const DownloadRow DOWNLOAD_ROWS[] = {
    {"signed", "signed\\fw_standin_ms.exe", false, true, "", true},
    {"signed, one byte changed", "signed\\fw_standin_ms.exe", true, true, "", false},
    {"unsigned", "fw_standin.exe", false, true, "", false},
    {"another publisher", "signed\\fw_standin_other.exe", false, true, "", false},
    {"authority not trusted", "signed\\fw_standin_ms.exe", false, false, "", false},
    {"unsigned, digest listed", "fw_standin.exe", false, false, "right", true},
    {"unsigned, wrong digest", "fw_standin.exe", false, false, "wrong", false},
    {"signed, wrong digest", "signed\\fw_standin_ms.exe", false, true, "wrong", false},
};

// Puts the test authority in or out of the user's root store (bin\fw_trust.exe).
bool Trust(const char* what)
{
    return fwtest::RunProgram("\"" + fwtest::BinDir() + "\\fw_trust.exe\" " + what + " \"" + fwtest::BinDir() +
                              "\\signed\\ca.der\"", 30000) == 0;
}
} // namespace

TEST(Prerequisites, RepairCallsTheToolAndShowsOneBox)
{
    for (const RepairRow& row : REPAIR_ROWS)
    {
        SCOPED_TRACE(row.name);
        Scenario s;
        fwtest::MachineState machine;
        fwtest::StandIns standIns(s.Folder("machine"));
        std::string folder = machine.Apply(*row.state);
        std::string args = "/r";
        if (row.folderGiven)
        {
            folder = s.Folder("given");
            ASSERT_TRUE(s.WriteFile(folder + "\\Zaph.exe", "MZ"));
            args += " \"" + folder + "\"";
        }
        if (row.framework)
            standIns.SetFramework("v1.1.4322", 1, true);
        bool failed = std::string(row.box).find("failed") != std::string::npos;
        s.ExpectBox().TitleEquals("MORV_TELA Setup and Upgrade Tool").TextEquals(row.box)
            .Icon(failed ? ICON_ERROR : ICON_WARNING);
        EXPECT_EQ(row.rc, s.Run(args));

        std::vector<std::string> calls;
        if (!failed && !folder.empty())
            calls = {"caspol.exe|-q -machine -remgroup ZAPH",
                     "caspol.exe|-q -machine -ag 1 -strong -file \"" + folder +
                         "\\Zaph.exe\" -noname -noversion FullTrust -description \"ZAPH.NET by Ombrant\" -name ZAPH"};
        EXPECT_EQ(calls, standIns.Calls());
        EXPECT_EQ(!row.framework, (bool)s.Log().HasLine("W\tCASPOL: command not found."));
    }
}

TEST(Prerequisites, DownloadedInstallerRunsOnlyWhenSignedOrListed)
{
    for (const DownloadRow& row : DOWNLOAD_ROWS)
    {
        SCOPED_TRACE(row.name);
        Scenario s;
        fwtest::StandIns standIns(s.Folder("machine"));
        std::string bytes;
        ASSERT_TRUE(fwtest::ReadBytes(fwtest::BinDir() + "\\" + row.program, bytes));
        if (row.oneByteChanged)
            bytes[0x400] ^= 1;
        const std::string served = s.Folder("web") + "\\setup\\mdac_typ.exe";
        ASSERT_TRUE(s.WriteFile(served, bytes));
        fwtest::HttpTestServer server(s.Folder("web"));
        ASSERT_TRUE(server.Start());

        Distribution dist;
        dist.Apply("web; DotNet=yes").Set("BASE_URL", server.BaseUrl());
        std::string digests;
        if (row.digest[0])
        {
            char digest[SHA256_TEXT_SIZE];
            ASSERT_NE(SHA256_FAILED, Sha256OfFile(served.c_str(), digest));
            digests = "[SHA256]\nsetup\\mdac_typ.exe=" +
                      (std::string(row.digest) == "right" ? digest : std::string(64, 'a')) + "\n";
        }
        ASSERT_TRUE(s.WriteUnicodeFile("Zaph.ini", dist.SettingsText() + digests));
        standIns.SetFramework("v2.0.50727", 0, false);
        standIns.SetMdac("2.50.4403.12");
        ASSERT_TRUE(Trust(row.authorityTrusted ? "add" : "remove"));

        s.ExpectBox().TitleEquals(dist.Title()).TextEquals("Install the missing system components?\n\n\n"
                                                           "   Microsoft Data Access Components V2.8 (MDAC)\n\n")
            .Press(IDYES);
        if (!row.runs)
            s.ExpectBox().TitleEquals(dist.Title()).TextContains("setup\\mdac_typ.exe").TextContains("It was not run.")
                .Icon(ICON_ERROR);
        // The rest of the run (the release is not on this server) is not the subject.
        for (int i = 0; i < 3; ++i)
            s.ExpectBox().Optional();
        int code = s.Run();
        Trust("remove");
        if (!row.runs)
        {
            EXPECT_EQ(577, code);
        }
        bool ran = false;
        for (const std::string& call : standIns.Calls())
            ran = ran || call.find("mdac_typ") != std::string::npos;
        EXPECT_EQ(row.runs, ran);
        // Judged and started as a copy of its own in a protected folder, gone now.
        char temp[MAX_PATH] = "";
        GetTempPathA(sizeof(temp), temp);
        std::string from = standIns.StartedFrom("mdac_typ.exe");
        if (row.runs)
        {
            EXPECT_EQ(0u, from.find(std::string(temp) + "Fernwick-")) << from;
            EXPECT_FALSE(DirExists(from.substr(0, from.rfind('\\')))) << from;
        }
        else
        {
            EXPECT_EQ("", from);
        }
        EXPECT_EQ(!row.runs, (bool)s.Log().Contains("refused: it is not run.")) << s.Log().Describe();
    }
}
