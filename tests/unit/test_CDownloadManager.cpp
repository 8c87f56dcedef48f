// Obtaining source files where things go wrong: local names that do not
// resolve, an offline machine, old systems without some Internet
// functions, and a loopback server that resets, cuts short, answers 404, goes
// away or stalls while the user cancels. Downloads go through the real
// urlmon/wininet of Wine into the Internet cache; a robot thread answers (and
// records) the message boxes. Successful downloads are the whole runs' (WEB,
// proxy and https rows of e2e_install).
#include <gtest/gtest.h>

#include "AppStage.h" // winsock2.h before windows.h
#include <wininet.h>

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CDownloadManager.h"
#include "CMainUI.h"
#include "DownloadCallback.h"
#include "TestSupport.h"
#include "WideAPI.h"

#include <string>
#include <vector>

using fwtest::HttpTestServer;

namespace
{
const char* const SETTINGS_TEXT =
    "[Settings]\r\nBASE_URL=unused\r\nSYS_LN_DIR=SysLn\r\n"
    "[Components]\r\nx\r\n[CheckSums]\r\nx=00000000\r\n[Additional]\r\nx\r\n"
    "[Labels_EN]\r\n"
    "DownloadFile=Downloading %hs from %hs\r\n"
    "FailFile=Cannot obtain %hs from %hs\r\n"
    "WorkingOffLine=No Internet connection\r\n";
// The distribution's one file, as the server's behaviours and the cache name it.
const char* const PAYLOAD_NAME = "data/de/file.zip";

// The Internet entry points of an offline machine with a dial-up line.
BOOL WINAPI OfflineState(LPDWORD flags, DWORD)
{
    *flags = NET_CONNECTION_MODEM | NET_CONNECTION_OFFLINE | NET_CONNECTION_CONFIGURED;
    return FALSE;
}
DWORD WINAPI OfflineAttempt(DWORD)
{
    return ERROR_INTERNET_DISCONNECTED;
}

bool InCache(const std::string& url)
{
    char buffer[4096];
    DWORD size = sizeof(buffer);
    return GetUrlCacheEntryInfoA(url.c_str(), (INTERNET_CACHE_ENTRY_INFOA*)buffer, &size) != FALSE;
}

class DownloadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The distribution: a folder with a file in a subfolder.
        std::string payload;
        for (size_t i = 0; i < 300000; ++i)
            payload += (char)(i * 7 + i / 251);
        CreateDirectoryA(dist.File("data").c_str(), NULL);
        CreateDirectoryA(dist.File("data\\de").c_str(), NULL);
        ASSERT_TRUE(fwtest::WriteBytes(dist.File("data\\de\\file.zip"), payload));
    }

    fwtest::TempDir dist{"fwdist"};
    fwtest::AppStage stage{SETTINGS_TEXT, ""};
    CMainUI& ui = stage.ui;
    CDownloadManager* manager = &stage.manager;
    fwtest::BoxAnswerer robot;
};
} // namespace

TEST(DownloadProgress, ScalesToTheBarRangeAndNeverDividesByZero)
{
    struct Row
    {
        ULONG progress, maximum;
        UINT position;
    } rows[] = {
        {1, 0, 0}, {4000000000u, 4000000000u, 10000}, {1, 4294967295u, 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.position, ScaleDownloadProgress(row.progress, row.maximum))
            << row.progress << "/" << row.maximum;
}

// A folder base with mixed-case names is every LOCAL whole run's; the file://
// form and the refusals are not. A base gets its own separator at the end; no
// base at all (empty rows) keeps the one before.
TEST_F(DownloadTest, LocalSourcesAreCheckedInPlaceOrRefused)
{
    std::string file = dist.File("data\\de\\file.zip");
    struct Row
    {
        std::string base, name;
        DWORD code;
        std::string path, box; // box: the start of its text ("" for none)
    } rows[] = {
        {"file://" + dist.Path(), "data/de/file.zip", 0, file, ""},
        {dist.Path(), "Data/None.zip", 2, "", "Cannot obtain Data/None.zip from " + dist.Path() + "\\"},
        {"", "", 160, "x", ""},               // no name at all: refused without a message
        // A name too long for a path is refused, not cut to another file's name.
        {"", std::string(300, 'a'), 2, "", "Cannot obtain aaa"},
    };
    size_t boxes = 0;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.base + " + " + row.name);
        manager->SetBaseUrl(row.base.empty() ? NULL : row.base.c_str());
        char path[DOWNLOAD_PATH_SIZE] = "x";
        EXPECT_EQ(row.code, ObtainSourceFile(row.name.c_str(), path));
        EXPECT_EQ(0, _stricmp(row.path.c_str(), path)) << path;
        std::vector<std::string> texts = robot.Texts();
        ASSERT_EQ(boxes += !row.box.empty(), texts.size());
        if (!row.box.empty())
        {
            EXPECT_EQ(row.box, texts.back().substr(0, row.box.size()));
        }
    }
}

TEST_F(DownloadTest, OfflineSystemRefusesEveryInternetSourceWithoutTrying)
{
    InternetFunctions offline = {};
    offline.getConnectedState = OfflineState;
    offline.attemptConnect = OfflineAttempt;
    manager->UseInternetFunctions(offline);
    manager->SetBaseUrl("http://127.0.0.1:9/dist");

    char path[DOWNLOAD_PATH_SIZE];
    EXPECT_EQ(2250u, ObtainSourceFile("a.zip", path));
    EXPECT_EQ(2250u, ObtainSourceFile("b.zip", path));
    EXPECT_EQ(std::vector<std::string>(2, "No Internet connection"), robot.Texts());
    EXPECT_TRUE(stage.log.Contains("Could not connect to the internet (" +
                                   std::to_string(ERROR_INTERNET_DISCONNECTED) + ")."));
    EXPECT_TRUE(stage.log.View().Lacks("Download: '"));
}

TEST_F(DownloadTest, MissingEntryPointsDegradeInsteadOfFailing)
{
    manager->UseInternetFunctions(InternetFunctions());
    EXPECT_TRUE(manager->EnsureConnected());
    // No download function: the download fails, and the failure is reported.
    manager->SetBaseUrl("http://127.0.0.1:9/");
    char path[DOWNLOAD_PATH_SIZE];
    EXPECT_NE(0u, ObtainSourceFile("x.zip", path));
    EXPECT_TRUE(stage.log.Contains("failed with HRESULT='0x8000FFFF'"));
    EXPECT_EQ(1u, robot.Texts().size());
    EXPECT_FALSE(manager->IsConnected()); // checked again next time
}

// A reset before the answer Wine reports as a failure; an orderly close
// part-way as a success (the size tells); a 404 page as the file itself. None
// may be taken for the file, nor may a server that went away between two
// files, nor one that goes silent part-way, without the worker as with it:
// that download ends at the stall limit. The name lives in the buffer that
// the window's narrow texts reuse.
TEST_F(DownloadTest, BrokenTransfersFailWithABoxAndLeaveNothingCached)
{
    HttpTestServer server(dist.Path());
    ASSERT_TRUE(server.Start());
    manager->SetBaseUrl(server.BaseUrl().c_str());
    // Wine's library sometimes never ends a transfer whose connection was
    // reset: such a download must fail, within the test's time.
    manager->SetStallLimit(10000);
    struct Row
    {
        HttpTestServer::Behaviour behaviour;
        bool worker;
        const char* name;
        const char* logged; // after "URLDownloadToCacheFile '<url>"
    } rows[] = {
        {HttpTestServer::SERVE_DROP_AT_START, true, "Data/De/File.zip", "' failed with HRESULT='0x"},
        {HttpTestServer::SERVE_SHORT, false, "Data/De/File.zip", "' incomplete: 150000 of 300000 bytes"},
        {HttpTestServer::SERVE_NORMAL, true, "Data/De/Gone.zip", "' answered with HTTP status 404"},
        {HttpTestServer::SERVE_STALL, false, "Data/De/File.zip", "' failed with HRESULT='0x800705B4'"},
        {HttpTestServer::SERVE_NORMAL, false, "Data/De/File.zip", NULL}, // the server stopped
    };
    size_t boxes = 0;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(std::string(row.name) + " " + (row.logged ? row.logged : "server gone"));
        std::string url = server.BaseUrl() + CharLowerA(std::string(row.name).data());
        server.SetBehaviour(PAYLOAD_NAME, row.behaviour);
        if (row.logged == NULL)
            server.Stop();
        manager->SetUseWorkerThread(row.worker);
        char path[DOWNLOAD_PATH_SIZE] = "x";
        DWORD code = 0;
        std::string bytes;
        // Wine's sockets sometimes turn the abortive close into an orderly one, and
        // its wininet then takes the empty answer for an empty file. That is not
        // the program's doing: try again.
        for (int attempt = 0; attempt < 5; ++attempt)
        {
            DeleteUrlCacheEntryA(url.c_str());
            strcpy(path, "x");
            bool savedWide = useWideApi;
            useWideApi = false;
            code = ObtainSourceFile(W2A(std::wstring(row.name, row.name + strlen(row.name)).c_str()), path);
            useWideApi = savedWide;
            if (code != 0 || !fwtest::ReadBytes(path, bytes) || !bytes.empty())
                break;
        }
        EXPECT_NE(0u, code);
        EXPECT_NE(1223u, code);
        EXPECT_STREQ("", path);
        std::vector<std::string> texts = robot.Texts();
        ASSERT_EQ(++boxes, texts.size());
        EXPECT_EQ("Cannot obtain " + std::string(row.name) + " from " + server.BaseUrl(), texts.back());
        EXPECT_TRUE(stage.log.Contains("URLDownloadToCacheFile '" + url +
                                       (row.logged ? row.logged : "' failed with HRESULT='0x")));
        EXPECT_FALSE(InCache(url));
        EXPECT_FALSE(manager->IsConnected());
    }
}

// Cancel while the server stalls, with Threading Off: the server goes on
// after the click and the download notices at its next report; 1223 without
// a box and nothing cached. (The worker's wait while the server stays silent
// is the whole run 'cancelled download, then a full run'.)
TEST_F(DownloadTest, CancelReturns1223WithoutABox)
{
    HttpTestServer server(dist.Path());
    ASSERT_TRUE(server.Start());
    server.SetBehaviour(PAYLOAD_NAME, HttpTestServer::SERVE_STALL);
    manager->SetBaseUrl(server.BaseUrl().c_str());
    manager->SetUseWorkerThread(false);
    fwtest::CancelOnStall user(server, ui, true);
    char path[DOWNLOAD_PATH_SIZE] = "x";
    DWORD code = ObtainSourceFile(PAYLOAD_NAME, path);
    EXPECT_TRUE(user.Join());
    EXPECT_EQ(1223u, code);
    EXPECT_STREQ("", path);
    EXPECT_TRUE(robot.Texts().empty());
    std::string url = server.BaseUrl() + PAYLOAD_NAME;
    EXPECT_FALSE(InCache(url));
    EXPECT_TRUE(stage.log.Contains("URLDownloadToCacheFile '" + url + "' cancelled by user ["));
}
