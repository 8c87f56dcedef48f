// Obtaining source files: from a distribution folder, and over HTTP into the
// Internet cache through the real urlmon/wininet of Wine, from a loopback
// server that the tests start themselves. The progress window is real too, and
// a robot thread answers (and records) the message boxes and presses Cancel.
#include <gtest/gtest.h>

#include "AppStage.h" // winsock2.h before windows.h
#include <commctrl.h>
#include <wininet.h>

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CDownloadManager.h"
#include "CMainUI.h"
#include "CResource.h"
#include "DownloadCallback.h"
#include "Log.h"
#include "TestSupport.h"
#include "WideAPI.h"
#include "resource.h"

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

// Fakes of the Internet entry points: an offline machine, a dial-up line.
struct FakeNet
{
    static inline BOOL connectedResult, hangupResult;
    static inline DWORD connectedFlags, attemptResult;
    static inline int hangups;
    static BOOL WINAPI GetConnectedState(LPDWORD flags, DWORD)
    {
        *flags = connectedFlags;
        return connectedResult;
    }
    static DWORD WINAPI AttemptConnect(DWORD) { return attemptResult; }
    static BOOL WINAPI Hangup(DWORD)
    {
        ++hangups;
        if (!hangupResult)
            SetLastError(ERROR_ACCESS_DENIED);
        return hangupResult;
    }
    // A machine that is not connected, with the given flags and attempt result.
    static InternetFunctions NotConnected(DWORD flags, DWORD attempt)
    {
        connectedResult = FALSE;
        connectedFlags = flags;
        attemptResult = attempt;
        hangupResult = TRUE;
        hangups = 0;
        InternetFunctions fn = {};
        fn.getConnectedState = GetConnectedState;
        fn.attemptConnect = AttemptConnect;
        fn.autodialHangup = Hangup;
        return fn;
    }
};

bool Contains(const std::vector<std::string>& lines, const std::string& part)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(part) != std::string::npos)
            return true;
    return false;
}

// Every part must appear in some line of the log.
void ExpectLogged(const std::vector<std::string>& log, std::initializer_list<std::string> parts)
{
    for (const std::string& part : parts)
        EXPECT_TRUE(Contains(log, part)) << "not in the log: " << part;
}

std::string Lower(std::string text)
{
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = (char)tolower((unsigned char)text[i]);
    return text;
}

// The bar's own visibility, whether or not the window is shown yet.
bool Shown(HWND control)
{
    return (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0;
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
        for (size_t i = 0; i < 300000; ++i)
            payload += (char)(i * 7 + i / 251);
        CreateDirectoryA(dist.File("data").c_str(), NULL);
        CreateDirectoryA(dist.File("data\\de").c_str(), NULL);
        ASSERT_TRUE(fwtest::WriteBytes(dist.File("data\\de\\file.zip"), payload));
    }

    std::vector<std::string> Log() { return stage.log.Lines(); }
    int BarPos() { return (int)SendMessageA(GetDlgItem(ui.GetWindow(), IDC_BAR0), PBM_GETPOS, 0, 0); }

    fwtest::TempDir dist{"fwdist"};
    std::string payload;
    fwtest::AppStage stage{SETTINGS_TEXT, ""};
    CMainUI& ui = stage.ui;
    CDownloadManager* manager = &stage.manager;
    fwtest::BoxAnswerer robot;
};

// Downloads from the loopback server, with the worker thread or Threading Off.
class HttpDownloadTest : public DownloadTest
{
protected:
    void SetUp() override
    {
        DownloadTest::SetUp();
        ASSERT_TRUE(server.Start());
        manager->SetBaseUrl(server.BaseUrl().c_str());
        // Wine's library sometimes never ends a transfer whose connection was
        // reset: such a download must fail, within the test's time.
        manager->SetStallLimit(10000);
    }
    void TearDown() override { server.Stop(); }

    fwtest::HttpTestServer server{dist.Path()};
};
} // namespace

TEST(DownloadProgress, ScalesToTheBarRangeAndNeverDividesByZero)
{
    struct Row
    {
        ULONG progress, maximum;
        UINT position;
    } rows[] = {
        {0, 0, 0},         {0, 100, 0},        {1, 0, 0},         {50, 100, 5000},
        {100, 100, 10000}, {1, 3, 3333},       {2, 3, 6666},      {4000000000u, 4000000000u, 10000},
        {1, 4294967295u, 0}, {200, 100, 20000},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.position, ScaleDownloadProgress(row.progress, row.maximum))
            << row.progress << "/" << row.maximum;
}

TEST_F(DownloadTest, ProgressReportsMoveBarZeroAndTurnCancelIntoAbort)
{
    CDownloadBindStatusCallback callback(&ui);
    HWND bar = GetDlgItem(ui.GetWindow(), IDC_BAR0);
    ui.SetItemText(IDC_INFO_TEXT, L"Downloading");

    EXPECT_EQ(S_OK, callback.OnProgress(0, 1000, BINDSTATUS_BEGINDOWNLOADDATA, NULL));
    EXPECT_TRUE(Shown(bar));
    EXPECT_EQ(10000, (int)SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
    EXPECT_EQ(S_OK, callback.OnProgress(250, 1000, BINDSTATUS_DOWNLOADINGDATA, NULL));
    EXPECT_EQ(2500, BarPos());
    EXPECT_EQ(250u, ui.m_downloadProgress[0]);
    EXPECT_EQ(1000u, ui.m_downloadProgress[1]);

    // Other phases neither move the bar nor see the cancel.
    ui.m_cancelRequested = true;
    EXPECT_EQ(S_OK, callback.OnProgress(999, 1000, BINDSTATUS_CONNECTING, NULL));
    EXPECT_EQ(S_OK, callback.OnProgress(999, 1000, BINDSTATUS_CACHEFILENAMEAVAILABLE, NULL));
    EXPECT_EQ(2500, BarPos());
    EXPECT_EQ(250u, ui.m_downloadProgress[0]);
    EXPECT_EQ(E_ABORT, callback.OnProgress(500, 1000, BINDSTATUS_DOWNLOADINGDATA, NULL));
    EXPECT_EQ(E_ABORT, callback.OnProgress(0, 0, BINDSTATUS_BEGINDOWNLOADDATA, NULL));

    // The end hides the bar and clears the information text.
    EXPECT_EQ(E_ABORT, callback.OnProgress(1000, 1000, BINDSTATUS_ENDDOWNLOADDATA, NULL));
    ui.m_cancelRequested = false;
    EXPECT_EQ(S_OK, callback.OnProgress(1000, 1000, BINDSTATUS_ENDDOWNLOADDATA, NULL));
    EXPECT_EQ(10000, BarPos());
    EXPECT_FALSE(Shown(bar));
    char info[64] = "x";
    GetDlgItemTextA(ui.GetWindow(), IDC_INFO_TEXT, info, sizeof(info));
    EXPECT_STREQ("", info);
}

TEST_F(DownloadTest, BaseGetsItsOwnSeparatorAtTheEnd)
{
    const char* rows[][2] = {
        {"D:\\setup", "D:\\setup\\"},          {"D:\\setup\\", "D:\\setup\\"},
        {"http://host/dir", "http://host/dir/"}, {"http://host/dir/", "http://host/dir/"},
        {"setup", "setup\\"},
        {"", "setup\\"}, {NULL, "setup\\"}, // no base at all keeps the one before
    };
    for (const auto& row : rows)
    {
        manager->SetBaseUrl(row[0]);
        EXPECT_STREQ(row[1], manager->GetBaseUrl()) << (row[0] ? row[0] : "(null)");
    }
    EXPECT_TRUE(Contains(Log(), "BASE_URL = 'http://host/dir/'"));
}

// A folder base with mixed-case names is every LOCAL whole run's (the log
// names "<dist>\\lu\\en\\labels.mdb.zsi"); the file:// forms and an absolute
// name are not.
TEST_F(DownloadTest, LocalSourcesAreCheckedInPlaceWithLowerCasedNames)
{
    std::string expected = dist.File("data\\de\\file.zip");
    struct Row
    {
        std::string base;
        const char* name;
    } rows[] = {
        {"file://" + dist.Path(), "data/de/file.zip"},
        {"FILE://" + dist.Path(), "Data\\De\\File.zip"},
        {"Q:\\elsewhere", expected.c_str()}, // an absolute name ignores the base
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.base + " + " + row.name);
        manager->SetBaseUrl(row.base.c_str());
        char path[DOWNLOAD_PATH_SIZE] = "x";
        EXPECT_EQ(0u, ObtainSourceFile(row.name, path));
        EXPECT_EQ(Lower(expected), Lower(path));
    }
    EXPECT_TRUE(robot.Texts().empty());
    // A run from a folder never touches the Internet libraries.
    EXPECT_FALSE(Contains(Log(), "loaded OK"));
    EXPECT_FALSE(manager->IsConnected());
}

TEST_F(DownloadTest, MissingLocalFileIsReportedOnceWithTheFailFileLabel)
{
    manager->SetBaseUrl(dist.Path().c_str());
    char path[DOWNLOAD_PATH_SIZE] = "x";
    EXPECT_EQ(2u, ObtainSourceFile("Data/None.zip", path));
    EXPECT_STREQ("", path);
    EXPECT_TRUE(Contains(Log(), "Download:: 'data/none.zip' doesn't exist"));
    std::vector<std::string> boxes = robot.Texts();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Cannot obtain Data/None.zip from " + dist.Path() + "\\", boxes[0]);

    // No name at all: refused without a message.
    EXPECT_EQ(160u, ObtainSourceFile("", path));
    EXPECT_EQ(160u, ObtainSourceFile(NULL, path));
    // A name too long for a path is refused, not cut to another file's name.
    EXPECT_EQ(2u, ObtainSourceFile(std::string(300, 'a').c_str(), path));
    EXPECT_EQ(2u, robot.Texts().size());
}

TEST_F(DownloadTest, OfflineSystemRefusesEveryInternetSourceWithoutTrying)
{
    manager->UseInternetFunctions(FakeNet::NotConnected(
        NET_CONNECTION_MODEM | NET_CONNECTION_OFFLINE | NET_CONNECTION_CONFIGURED, ERROR_INTERNET_DISCONNECTED));
    manager->SetBaseUrl("http://127.0.0.1:9/dist");

    char path[DOWNLOAD_PATH_SIZE];
    EXPECT_EQ(2250u, ObtainSourceFile("a.zip", path));
    EXPECT_EQ(2250u, ObtainSourceFile("b.zip", path));
    std::vector<std::string> boxes = robot.Texts();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ("No Internet connection", boxes[0]);
    ExpectLogged(Log(), {"*NOT* Connected Configured MODEM *OFFLINE* ", "Need to hang up after connection = 'yes'.",
                         "Could not connect to the internet (" + std::to_string(ERROR_INTERNET_DISCONNECTED) + ")."});
    EXPECT_FALSE(Contains(Log(), "Download: '"));

    // The product package is refused the same way.
    DWORD code = 0;
    char resolved[DOWNLOAD_PATH_SIZE], copy[DOWNLOAD_PATH_SIZE];
    EXPECT_FALSE(ResolveSystemPackage(code, resolved, copy));
    EXPECT_EQ(2250u, code);
    EXPECT_STREQ("http://127.0.0.1:9/dist/sysln/sys_en.msi", resolved);
    EXPECT_STREQ(resolved, copy);
    EXPECT_EQ(3u, robot.Texts().size());
    EXPECT_TRUE(Contains(Log(), "'sysln\\sys_en.msi' for installation is "
                                "'http://127.0.0.1:9/dist/sysln/sys_en.msi' ( Obtain returned 2250 )."));
}

TEST_F(DownloadTest, DialledConnectionIsHungUpOnceAndOnlyOnce)
{
    // Not connected: attempting will dial.
    manager->UseInternetFunctions(FakeNet::NotConnected(NET_CONNECTION_MODEM | NET_RAS_INSTALLED, 0));
    FakeNet::hangupResult = FALSE;
    ASSERT_TRUE(manager->EnsureConnected());
    EXPECT_TRUE(manager->EnsureConnected()); // kept: asked once only
    EXPECT_FALSE(manager->HangUp());         // a failed hang-up leaves the line up
    EXPECT_TRUE(manager->IsConnected());
    FakeNet::hangupResult = TRUE;
    EXPECT_TRUE(manager->HangUp());
    EXPECT_EQ(2, FakeNet::hangups);
    std::vector<std::string> log = Log();
    ExpectLogged(log, {"*NOT* Connected MODEM RAS Installed ", "Connected to the internet all right.",
                       "Disconnection failed with 5", "Disconnection OK"});

    EXPECT_TRUE(manager->HangUp());
    EXPECT_EQ(log.size(), Log().size());
    EXPECT_EQ(2, FakeNet::hangups);
}

TEST_F(DownloadTest, LineDialledForAFailedDownloadIsStillHungUp)
{
    // No download function: both downloads fail after dialling.
    manager->UseInternetFunctions(FakeNet::NotConnected(NET_CONNECTION_MODEM, 0));
    manager->SetBaseUrl("http://127.0.0.1:9/");
    char path[DOWNLOAD_PATH_SIZE];
    EXPECT_NE(0u, ObtainSourceFile("a.zip", path));
    FakeNet::connectedResult = TRUE; // our own line is up now
    EXPECT_NE(0u, ObtainSourceFile("b.zip", path));
    EXPECT_TRUE(manager->HangUp());
    EXPECT_TRUE(manager->HangUp());
    EXPECT_EQ(1, FakeNet::hangups);
}

TEST_F(DownloadTest, MissingEntryPointsDegradeInsteadOfFailing)
{
    manager->UseInternetFunctions(InternetFunctions());
    EXPECT_TRUE(manager->EnsureConnected());
    ExpectLogged(Log(), {"Cannot determine Internet connection state (InternetGetConnectedState not available)",
                         "Cannot attempt Internet connection (InternetAttemptConnect not available)",
                         "Need to hang up after connection = 'no'."});

    // No download function: the download fails, and the failure is reported.
    manager->SetBaseUrl("http://127.0.0.1:9/");
    char path[DOWNLOAD_PATH_SIZE];
    EXPECT_NE(0u, ObtainSourceFile("x.zip", path));
    ExpectLogged(Log(), {"Download: 'http://127.0.0.1:9/x.zip'", // not canonicalised
                         "failed with HRESULT='0x8000FFFF'", "Code='65535', Facility='0', Severity='1'"});
    EXPECT_EQ(1u, robot.Texts().size());
    EXPECT_FALSE(manager->IsConnected()); // checked again next time
}

// What the server does, in either mode: a file delivered (its name in the
// buffer that the window's narrow texts reuse), one without a length, and the
// failures. A reset before the answer Wine reports as a failure; a reset
// part-way only by never returning; an orderly close part-way as a success:
// the size tells. A 404 page must not be taken for the file, nor may a server
// that went away between two files.
TEST_F(HttpDownloadTest, ServerBehaviours)
{
    struct Row
    {
        fwtest::HttpTestServer::Behaviour behaviour;
        bool worker;
        const char* name;
        const char* logged; // after "URLDownloadToCacheFile '<url>"; null: delivered
        int bar;
        bool serverGone;
    } rows[] = {
        {fwtest::HttpTestServer::SERVE_NORMAL, false, "Data\\De\\File.ZIP", NULL, 10000, false},
        {fwtest::HttpTestServer::SERVE_NO_LENGTH, true, PAYLOAD_NAME, NULL, 0, false},
        {fwtest::HttpTestServer::SERVE_DROP_AT_START, true, "Data/De/File.zip", "' failed with HRESULT='0x", 0, false},
        {fwtest::HttpTestServer::SERVE_SHORT, false, "Data/De/File.zip", "' incomplete: 150000 of 300000 bytes", 0,
         false},
        {fwtest::HttpTestServer::SERVE_NORMAL, true, "Data/De/Gone.zip", "' answered with HTTP status 404", 0, false},
        {fwtest::HttpTestServer::SERVE_NORMAL, false, "Data/De/File.zip", "' failed with HRESULT='0x", 0, true},
    };
    size_t boxes = 0;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(std::string(row.name) + " " + (row.logged ? row.logged : "delivered"));
        std::string lower = Lower(row.name);
        for (char& c : lower)
            c = c == '\\' ? '/' : c;
        std::string url = server.BaseUrl() + lower;
        DeleteUrlCacheEntryA(url.c_str());
        server.SetBehaviour(PAYLOAD_NAME, row.behaviour);
        if (row.serverGone)
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
            strcpy(path, "x");
            bool savedWide = useWideApi;
            useWideApi = false;
            code = ObtainSourceFile(W2A(std::wstring(row.name, row.name + strlen(row.name)).c_str()), path);
            useWideApi = savedWide;
            if (row.logged == NULL || code != 0 || !fwtest::ReadBytes(path, bytes) || !bytes.empty())
                break;
            DeleteUrlCacheEntryA(url.c_str());
        }
        if (row.logged == NULL)
        {
            EXPECT_EQ(row.bar, BarPos());
            ASSERT_EQ(0u, code);
            ASSERT_TRUE(fwtest::ReadBytes(path, bytes));
            EXPECT_TRUE(bytes == payload);
            EXPECT_NE(std::string::npos, Lower(path).find("inetcache")) << path;
            EXPECT_TRUE(InCache(url));
            EXPECT_FALSE(Shown(GetDlgItem(ui.GetWindow(), IDC_BAR0)));
            EXPECT_EQ(row.bar ? payload.size() : 0u, ui.m_downloadProgress[1]);
            EXPECT_TRUE(Contains(Log(), "\tCached '" + std::string(row.name) + "' as '" + path + "' *OK*"));
            continue;
        }
        EXPECT_NE(0u, code);
        EXPECT_NE(1223u, code);
        EXPECT_STREQ("", path);
        std::vector<std::string> texts = robot.Texts();
        ASSERT_EQ(++boxes, texts.size());
        EXPECT_EQ("Cannot obtain " + std::string(row.name) + " from " + server.BaseUrl(), texts.back());
        ExpectLogged(Log(), {"URLDownloadToCacheFile '" + url + row.logged});
        EXPECT_FALSE(InCache(url));
        EXPECT_FALSE(manager->IsConnected());
    }
    // Under Wine the machine is always online: nothing was dialled, so
    // hanging up has nothing to say.
    size_t lines = Log().size();
    EXPECT_TRUE(manager->HangUp());
    EXPECT_EQ(lines, Log().size());
}

// Cancel while the server stalls: 1223 without a box, later operations stop
// as well. With Threading Off the server goes on after the click and the
// download notices at its next report; the worker's wait must end on the
// flag alone while the server stays silent. (The worker with a server that
// goes on is the whole run "cancelled download, then a full run".)
TEST_F(DownloadTest, CancelReturns1223WithoutABox)
{
    for (bool worker : {false, true})
    {
        SCOPED_TRACE(worker ? "worker, silent server" : "Threading Off");
        fwtest::HttpTestServer server(dist.Path());
        ASSERT_TRUE(server.Start());
        server.SetBehaviour(PAYLOAD_NAME, fwtest::HttpTestServer::SERVE_STALL);
        manager->SetBaseUrl(server.BaseUrl().c_str());
        manager->SetUseWorkerThread(worker);
        ui.m_cancelRequested = false;
        fwtest::CancelOnStall user(server, ui, !worker);
        char path[DOWNLOAD_PATH_SIZE] = "x";
        DWORD code = ObtainSourceFile(PAYLOAD_NAME, path);
        EXPECT_TRUE(user.Join());
        EXPECT_EQ(1223u, code);
        EXPECT_STREQ("", path);
        EXPECT_TRUE(robot.Texts().empty());
        EXPECT_TRUE(ui.m_cancelRequested);
        std::string url = server.BaseUrl() + PAYLOAD_NAME;
        EXPECT_FALSE(InCache(url));
        EXPECT_TRUE(Contains(Log(), "URLDownloadToCacheFile '" + url + "' cancelled by user ["));
    }
}
