// Obtaining source files where things go wrong: local names that do not
// resolve, an offline machine, old systems without some Internet
// functions, and a loopback server that resets, cuts short, answers 404, goes
// away, stalls while the user cancels, drops a connection once or is busy.
// Downloads go through the real wininet of Wine into the Internet cache; a
// robot thread answers (and records) the message boxes. The rules of retry
// and resume are tables of their own. Whole downloads are the whole runs'
// (WEB, proxy, https, drop and busy rows of e2e_install).
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

TEST(DownloadRetry, TransientFailuresAreTriedAgainPermanentOnesNot)
{
    struct Row
    {
        DWORD status, error;
        DownloadFailure failure;
        const char* reason;
    } rows[] = {
        {200, 0, FAILURE_NONE, "error 0"},
        {503, 0, FAILURE_TRANSIENT, "HTTP 503"}, {408, 0, FAILURE_TRANSIENT, "HTTP 408"},
        {429, 0, FAILURE_TRANSIENT, "HTTP 429"}, {500, 0, FAILURE_TRANSIENT, "HTTP 500"},
        {502, 0, FAILURE_TRANSIENT, "HTTP 502"}, {504, 0, FAILURE_TRANSIENT, "HTTP 504"},
        {404, 0, FAILURE_PERMANENT, "HTTP 404"}, {403, 0, FAILURE_PERMANENT, "HTTP 403"},
        {410, 0, FAILURE_PERMANENT, "HTTP 410"}, {501, 0, FAILURE_PERMANENT, "HTTP 501"},
        // The status decides over the error that came with it.
        {404, ERROR_INTERNET_CONNECTION_RESET, FAILURE_PERMANENT, "HTTP 404"},
        {0, ERROR_INTERNET_CONNECTION_RESET, FAILURE_TRANSIENT, "connection reset"},
        {0, ERROR_INTERNET_CANNOT_CONNECT, FAILURE_TRANSIENT, "connection refused"},
        {0, ERROR_HANDLE_EOF, FAILURE_TRANSIENT, "connection dropped"},
        {0, ERROR_TIMEOUT, FAILURE_TRANSIENT, "stalled"},
        {0, ERROR_INTERNET_TIMEOUT, FAILURE_TRANSIENT, "stalled"},
        {200, ERROR_INTERNET_CONNECTION_ABORTED, FAILURE_TRANSIENT, "connection dropped"},
        {0, ERROR_INTERNET_INVALID_CA, FAILURE_PERMANENT, "error 12045"},
        {0, ERROR_INTERNET_DISCONNECTED, FAILURE_PERMANENT, "error 12163"},
        {0, ERROR_INTERNET_NAME_NOT_RESOLVED, FAILURE_PERMANENT, "error 12007"},
        {0, ERROR_DISK_FULL, FAILURE_PERMANENT, "error 112"},
        {0, ERROR_CANCELLED, FAILURE_PERMANENT, "error 1223"},
    };
    for (const Row& row : rows)
    {
        char reason[64];
        EXPECT_EQ(row.failure, ClassifyDownloadFailure(row.status, row.error)) << row.status << " " << row.error;
        EXPECT_STREQ(row.reason, DescribeDownloadFailure(row.status, row.error, reason, sizeof(reason)));
    }
    // The pauses grow: 1 s, 2 s, 4 s, 7 s in all for three repeats.
    EXPECT_EQ(0u, RetryPauseMs(0, 1000));
    EXPECT_EQ(1000u + 2000u + 4000u, RetryPauseMs(1, 1000) + RetryPauseMs(2, 1000) + RetryPauseMs(3, 1000));
}

TEST(DownloadResume, OnlyTheRestOfTheSameFileIsAppended)
{
    // A partial resumes from its end only when the server gave a validator
    // for it and did not refuse ranges, and it is shorter than announced.
    struct Partial
    {
        bool recorded;
        DWORD size, length;
        bool refused;
        const char* validator;
        DWORD from;
    } partials[] = {
        {true, 1000, 4000, false, "\"4000-1\"", 1000},
        {true, 1000, 0, false, "Tue, 08 Dec 2026 01:00:00 GMT", 1000}, // no length announced
        {true, 1000, 4000, false, "", 0},                                // no validator
        {true, 1000, 4000, true, "\"4000-1\"", 0},                       // Accept-Ranges: none
        {true, 4000, 4000, false, "\"4000-1\"", 0},                      // whole, yet not placed
        {false, 1000, 4000, false, "\"4000-1\"", 0},                     // no record (another URL's)
        {true, 0, 4000, false, "\"4000-1\"", 0},
    };
    for (const Partial& row : partials)
    {
        PartialDownload partial = {row.recorded, row.size, row.length, row.refused, ""};
        strcpy(partial.validator, row.validator);
        EXPECT_EQ(row.from, ResumeOffset(partial)) << row.size << "/" << row.length << " " << row.validator;
    }
    // What the answer's bytes are: 206 only for the range asked of the
    // length begun; 200 is the whole file again; 416 to a range drops it.
    struct Answer
    {
        DWORD status, askedFrom, rangeFrom, rangeTotal, recorded;
        ResponseUse use;
    } answers[] = {
        {206, 1000, 1000, 4000, 4000, RESPONSE_APPEND}, {206, 1000, 1000, 4000, 0, RESPONSE_APPEND},
        {200, 1000, 0, 0, 4000, RESPONSE_WHOLE},        {200, 0, 0, 0, 0, RESPONSE_WHOLE},
        {206, 1000, 0, 4000, 4000, RESPONSE_DISCARD},   // another range than asked
        {206, 1000, 1000, 5000, 4000, RESPONSE_DISCARD}, // the file has another length now
        {206, 0, 0, 4000, 0, RESPONSE_DISCARD},          // a range nobody asked for
        {416, 1000, 0, 0, 4000, RESPONSE_DISCARD},      {416, 0, 0, 0, 0, RESPONSE_ERROR},
        {404, 1000, 0, 0, 4000, RESPONSE_ERROR},        {503, 0, 0, 0, 0, RESPONSE_ERROR},
    };
    for (const Answer& row : answers)
        EXPECT_EQ(row.use, DecideResponse(row.status, row.askedFrom, row.rangeFrom, row.rangeTotal, row.recorded))
            << row.status << " asked " << row.askedFrom;
}

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
    // reset: such a download must fail, within the test's time. Each row's
    // last try is the one reported: no repeats here.
    manager->SetStallLimit(10000);
    manager->SetRetries(0, 0);
    struct Row
    {
        HttpTestServer::Behaviour behaviour;
        bool worker;
        const char* name;
        const char* logged; // after "URLDownloadToCacheFile '<url>"
    } rows[] = {
        {HttpTestServer::SERVE_DROP_AT_START, true, "Data/De/File.zip", "' failed with HRESULT='0x"},
        {HttpTestServer::SERVE_SHORT, false, "Data/De/File.zip", "' incomplete: 150000 of 300000 bytes"},
        {HttpTestServer::SERVE_MISSING, false, "Data/De/File.zip", "' answered with HTTP status 404"},
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

// A connection cut once mid-file, with and without ranges, a busy server and
// a missing file, with the worker and without: the file comes whole where it
// can, each repeat is logged with its reason, and a resumed download asks for
// the rest only (never the bytes it has).
TEST_F(DownloadTest, BrokenOffDownloadsResumeOrAreTriedAgain)
{
    HttpTestServer server(dist.Path());
    ASSERT_TRUE(server.Start());
    manager->SetBaseUrl(server.BaseUrl().c_str());
    manager->SetRetries(3, 50);
    std::string payload;
    ASSERT_TRUE(fwtest::ReadBytes(dist.File("data\\de\\file.zip"), payload));
    struct Row
    {
        HttpTestServer::Behaviour behaviour;
        bool worker;
        DWORD code;
        int requests;
        size_t served;            // body bytes the server sent in all
        std::vector<std::string> log;
    } rows[] = {
        {HttpTestServer::SERVE_DROP_ONCE, true, 0, 2, 300000,
         {"failed (connection dropped)", "resuming at byte 150000 of 300000", "2 tries, 50 ms spent waiting"}},
        {HttpTestServer::SERVE_DROP_ONCE_NO_RANGES, false, 0, 2, 450000,
         {"failed (connection dropped)", "the server sent the whole file (HTTP 200): starting over."}},
        {HttpTestServer::SERVE_BUSY, false, 0, 3, 300000,
         {"try 1 of 4 failed (HTTP 503)", "try 2 of 4 failed (HTTP 503)", "3 tries, 150 ms spent waiting"}},
        {HttpTestServer::SERVE_MISSING, true, 2, 1, 0, {"' answered with HTTP status 404"}},
    };
    size_t boxes = 0, answers = 0;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.log[0]);
        server.SetBehaviour(PAYLOAD_NAME, row.behaviour);
        manager->SetUseWorkerThread(row.worker);
        char path[DOWNLOAD_PATH_SIZE] = "x";
        size_t logged = stage.log.Text().size();
        EXPECT_EQ(row.code, ObtainSourceFile(PAYLOAD_NAME, path));
        std::string bytes;
        if (row.code == 0)
        {
            EXPECT_TRUE(fwtest::ReadBytes(path, bytes) && bytes == payload) << path;
            DeleteUrlCacheEntryA((server.BaseUrl() + PAYLOAD_NAME).c_str());
        }
        std::vector<HttpTestServer::Served> log = server.Log();
        ASSERT_EQ(answers + row.requests, log.size());
        size_t served = 0;
        for (size_t i = answers; i < log.size(); ++i)
            served += log[i].bytes;
        answers = log.size();
        // The bytes kept are never asked for again.
        EXPECT_EQ(row.served, served);
        std::string text = stage.log.Text().substr(logged);
        size_t at = 0;
        for (const std::string& part : row.log)
        {
            at = text.find(part, at);
            EXPECT_NE(std::string::npos, at) << part << " in\n" << text;
        }
        if (row.code == 2)
        {
            EXPECT_EQ(std::string::npos, text.find("failed (")) << text;
        }
        EXPECT_EQ(boxes += row.code != 0, robot.Texts().size());
    }
}
