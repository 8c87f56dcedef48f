// Obtaining source files: from a distribution folder, and over HTTP into the
// Internet cache through the real urlmon/wininet of Wine, from a loopback
// server that the tests start themselves. The progress window is real too, and
// a robot thread answers (and records) the message boxes and presses Cancel.
#include <gtest/gtest.h>

#include "HttpTestServer.h" // winsock2.h before windows.h
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

// Presses the progress window's Cancel once the server has stalled, as a user
// would; then lets the server go on so that the download reaches its next
// progress report (where the cancel is noticed) unless told to keep stalling.
struct CancelPresser
{
    HttpTestServer* server;
    CMainUI* ui;
    bool releaseAfterClick;
    bool clicked = false;
    HANDLE thread = CreateThread(NULL, 0, Run, this, 0, NULL);

    static DWORD WINAPI Run(void* param)
    {
        CancelPresser* self = static_cast<CancelPresser*>(param);
        if (!self->server->WaitForStall(20000))
            return 1;
        DWORD_PTR ignored;
        // A click arrives as posted mouse input, which also wakes a waiting
        // message loop; BM_CLICK is sent, so a null message follows it.
        self->clicked = SendMessageTimeoutA(GetDlgItem(self->ui->GetWindow(), IDCANCEL), BM_CLICK, 0, 0,
                                            SMTO_NORMAL, 10000, &ignored) != 0;
        PostMessageA(self->ui->GetWindow(), WM_NULL, 0, 0);
        if (self->releaseAfterClick)
            self->server->ReleaseStalls();
        return 0;
    }
    void Join()
    {
        WaitForSingleObject(thread, 30000);
        CloseHandle(thread);
    }
};

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
        ASSERT_TRUE(fwtest::WriteBytes(dir.File("Zaph.ini"), SETTINGS_TEXT));
        SetLogFile(logPath.c_str());
        ASSERT_TRUE(resource.Load(dir.File("Zaph.ini").c_str()));
        ASSERT_TRUE(resource.ChooseLanguage("EN"));
        ASSERT_TRUE(ui.Create(NULL));
        manager = new CDownloadManager(&ui, &resource);
        g_mainUI = &ui;
        g_resource = &resource;
        g_downloadManager = manager;

        // The distribution: a folder with a file in a subfolder.
        for (size_t i = 0; i < 300000; ++i)
            payload += (char)(i * 7 + i / 251);
        CreateDirectoryA(dist.File("data").c_str(), NULL);
        CreateDirectoryA(dist.File("data\\de").c_str(), NULL);
        ASSERT_TRUE(fwtest::WriteBytes(dist.File("data\\de\\file.zip"), payload));
    }

    void TearDown() override
    {
        delete manager;
        g_downloadManager = NULL;
        g_resource = NULL;
        g_mainUI = NULL;
        ui.Close(0);
        SetLogFile("");
    }

    std::vector<std::string> Log() { return fwtest::ReadLines(logPath); }
    int BarPos() { return (int)SendMessageA(GetDlgItem(ui.GetWindow(), IDC_BAR0), PBM_GETPOS, 0, 0); }

    fwtest::TempDir dir{"fwdl"};
    fwtest::TempDir dist{"fwdist"};
    std::string logPath = dir.File("download.log");
    std::string payload;
    CResource resource;
    CMainUI ui{GetModuleHandleA(NULL)};
    CDownloadManager* manager = NULL;
    fwtest::BoxAnswerer robot;
};

// Downloads from the loopback server; the parameter chooses the worker thread
// (true) or Threading Off.
class HttpDownloadTest : public DownloadTest, public ::testing::WithParamInterface<bool>
{
protected:
    void SetUp() override
    {
        DownloadTest::SetUp();
        ASSERT_TRUE(server.Start());
        manager->SetBaseUrl(server.BaseUrl().c_str());
        manager->SetUseWorkerThread(Worker());
    }
    void TearDown() override
    {
        server.Stop();
        DownloadTest::TearDown();
    }
    virtual bool Worker() { return GetParam(); }

    std::string Url() { return server.BaseUrl() + PAYLOAD_NAME; }

    HttpTestServer server{dist.Path()};
};

// The worker thread alone, for what Threading Off cannot do.
class WorkerDownloadTest : public HttpDownloadTest
{
    bool Worker() override { return true; }
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

TEST_F(DownloadTest, CallbackAnswersOnlyItsOwnInterfacesAndKeepsItsCount)
{
    CDownloadBindStatusCallback callback(&ui);
    IBindStatusCallback* bsc = &callback;
    void* out = (void*)1;
    EXPECT_EQ(S_OK, bsc->QueryInterface(IID_IUnknown, &out));
    EXPECT_EQ((void*)bsc, out);
    EXPECT_EQ(S_OK, bsc->QueryInterface(IID_FernwickDownloadCallback, &out));
    out = (void*)1;
    EXPECT_EQ(E_NOINTERFACE, bsc->QueryInterface(IID_IBindStatusCallback, &out));
    EXPECT_EQ(NULL, out);
    EXPECT_EQ(E_NOINTERFACE, bsc->QueryInterface(IID_IServiceProvider, &out));
    // Started at 1, two successful queries: 3; back down without reaching 0.
    EXPECT_EQ(4u, bsc->AddRef());
    EXPECT_EQ(3u, bsc->Release());
    EXPECT_EQ(2u, bsc->Release());
    EXPECT_EQ(1u, bsc->Release());


    IBindStatusCallback* heap = new CDownloadBindStatusCallback(&ui);
    EXPECT_EQ(0u, heap->Release()); // frees itself at zero
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

TEST_F(DownloadTest, LocalSourcesAreCheckedInPlaceWithLowerCasedNames)
{
    std::string expected = dist.File("data\\de\\file.zip");
    struct Row
    {
        std::string base;
        const char* name;
    } rows[] = {
        {dist.Path(), "Data/De/File.ZIP"},
        {dist.Path() + "\\", "DATA\\de\\file.zip"},
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
        EXPECT_FALSE(ui.m_busy);
    }

    // The product package from a folder is resolved without connecting.
    manager->SetBaseUrl(dist.Path().c_str());
    DWORD code = 99;
    char resolved[DOWNLOAD_PATH_SIZE];
    EXPECT_TRUE(ResolveSystemPackage(code, resolved, NULL));
    EXPECT_EQ(0u, code);
    EXPECT_EQ(dist.Path() + "\\sysln\\sys_en.msi", std::string(resolved));

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

INSTANTIATE_TEST_SUITE_P(WorkerAndThreadingOff, HttpDownloadTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Worker" : "ThreadingOff");
                         });

TEST_P(HttpDownloadTest, DownloadsIntoTheCacheWithProgress)
{
    server.SetChunkSize(16384);
    char path[DOWNLOAD_PATH_SIZE] = "";
    // The name as a settings look-up gives it: in the buffer that the window's
    // narrow texts reuse.
    bool savedWide = useWideApi;
    useWideApi = false;
    DWORD code = ObtainSourceFile(W2A(L"Data\\De\\File.ZIP"), path);
    useWideApi = savedWide;
    ASSERT_EQ(0u, code);
    std::string bytes;
    ASSERT_TRUE(fwtest::ReadBytes(path, bytes));
    EXPECT_TRUE(bytes == payload);
    EXPECT_NE(std::string::npos, Lower(path).find("inetcache")) << path;
    EXPECT_TRUE(InCache(Url()));
    EXPECT_EQ(1, server.RequestCount(PAYLOAD_NAME));

    EXPECT_EQ(10000, BarPos());
    EXPECT_FALSE(Shown(GetDlgItem(ui.GetWindow(), IDC_BAR0)));
    EXPECT_EQ(payload.size(), ui.m_downloadProgress[0]);
    EXPECT_EQ(payload.size(), ui.m_downloadProgress[1]);
    EXPECT_TRUE(robot.Texts().empty());

    std::vector<std::string> log = Log();
    std::string size = std::to_string(payload.size());
    ExpectLogged(log, {"Download: '" + Url() + "'", "wininet loaded OK", "urlmon loaded OK",
                       "\tCached 'Data\\De\\File.ZIP' as '" + std::string(path) + "' *OK* [" + size + "/" + size + "]."});

    // Under Wine the machine is always online: nothing was dialled, so
    // hanging up has nothing to say.
    EXPECT_TRUE(manager->HangUp());
    EXPECT_TRUE(manager->HangUp());
    EXPECT_EQ(log.size(), Log().size());
}

TEST_P(HttpDownloadTest, UnknownLengthLeavesTheBarAtZeroAndStillSucceeds)
{
    server.SetBehaviour(PAYLOAD_NAME, HttpTestServer::SERVE_NO_LENGTH);
    char path[DOWNLOAD_PATH_SIZE] = "";
    ASSERT_EQ(0u, ObtainSourceFile(PAYLOAD_NAME, path));
    std::string bytes;
    ASSERT_TRUE(fwtest::ReadBytes(path, bytes));
    EXPECT_TRUE(bytes == payload);
    EXPECT_EQ(0u, ui.m_downloadProgress[1]);
    EXPECT_EQ(0, BarPos());
}

TEST_P(HttpDownloadTest, CancelDuringADownloadReturns1223WithoutABox)
{
    server.SetBehaviour(PAYLOAD_NAME, HttpTestServer::SERVE_STALL);
    CancelPresser presser = {&server, &ui, true};
    char path[DOWNLOAD_PATH_SIZE] = "x";
    DWORD code = ObtainSourceFile(PAYLOAD_NAME, path);
    presser.Join();
    EXPECT_TRUE(presser.clicked);
    EXPECT_EQ(1223u, code);
    EXPECT_STREQ("", path);
    EXPECT_TRUE(robot.Texts().empty());
    EXPECT_TRUE(ui.m_cancelRequested); // later operations stop as well
    EXPECT_FALSE(InCache(Url()));
    EXPECT_TRUE(Contains(Log(), "URLDownloadToCacheFile '" + Url() + "' cancelled by user ["));
}

TEST_P(HttpDownloadTest, DroppedConnectionFailsTheDownloadWithTheFailFileBox)
{
    // Reset before the answer: Wine reports a reset part-way only by never
    // returning. An orderly close part-way it reports as success: the size tells.
    // A 404 answered with a page must not be taken for the file either, nor
    // may a server that went away between two files.
    struct Row
    {
        HttpTestServer::Behaviour behaviour;
        const char* logged;
        const char* name;
        bool serverGone;
    } rows[] = {{HttpTestServer::SERVE_DROP_AT_START, "' failed with HRESULT='0x", "Data/De/File.zip", false},
                {HttpTestServer::SERVE_SHORT, "' incomplete: 150000 of 300000 bytes", "Data/De/File.zip", false},
                {HttpTestServer::SERVE_NORMAL, "' answered with HTTP status 404", "Data/De/Gone.zip", false},
                {HttpTestServer::SERVE_NORMAL, "' failed with HRESULT='0x", "Data/De/File.zip", true}};
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.logged);
        std::string url = server.BaseUrl() + Lower(row.name);
        server.SetBehaviour(PAYLOAD_NAME, row.behaviour);
        if (row.serverGone)
            server.Stop();
        char path[DOWNLOAD_PATH_SIZE] = "x";
        DWORD code = 0;
        // Wine's sockets sometimes turn the abortive close into an orderly one, and
        // its wininet then takes the empty answer for an empty file (read_line sees
        // end of data, not a reset). That is not the program's doing: try again.
        for (int attempt = 0; attempt < 5; ++attempt)
        {
            strcpy(path, "x");
            code = ObtainSourceFile(row.name, path);
            std::string bytes;
            if (code != 0 || !fwtest::ReadBytes(path, bytes) || !bytes.empty())
                break;
            DeleteUrlCacheEntryA(url.c_str());
        }
        EXPECT_NE(0u, code);
        EXPECT_NE(1223u, code);
        EXPECT_STREQ("", path);
        std::vector<std::string> boxes = robot.Texts();
        ASSERT_EQ(size_t(&row - rows + 1), boxes.size());
        EXPECT_EQ("Cannot obtain " + std::string(row.name) + " from " + server.BaseUrl(), boxes.back());
        ExpectLogged(Log(), {"URLDownloadToCacheFile '" + url + row.logged});
        EXPECT_FALSE(InCache(url));
        EXPECT_FALSE(manager->IsConnected());
    }
}

// The server stays silent after Cancel: the wait must end on the flag alone,
// not on a progress report that never comes.
TEST_F(WorkerDownloadTest, WaitEndsOnCancelEvenWhenTheDownloadStopsReporting)
{
    server.SetBehaviour(PAYLOAD_NAME, HttpTestServer::SERVE_STALL);
    CancelPresser presser = {&server, &ui, false};
    char path[DOWNLOAD_PATH_SIZE] = "x";
    DWORD started = GetTickCount();
    DWORD code = ObtainSourceFile(PAYLOAD_NAME, path);
    DWORD took = GetTickCount() - started;
    presser.Join();
    EXPECT_EQ(1223u, code);
    EXPECT_LT(took, 15000u); // long before the server would give up (30 s)
    EXPECT_TRUE(robot.Texts().empty());
    EXPECT_TRUE(Contains(Log(), "cancelled by user"));
}
