#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "AppObjects.h"
#include "CMainUI.h"
#include "RunState.h"
#include "resource.h"

namespace
{
std::wstring WindowTitle(HWND window)
{
    wchar_t text[1024] = { 0 };
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring ControlText(HWND window, int id)
{
    return WindowTitle(GetDlgItem(window, id));
}

// A progress window of the test program's own resources, made the run's
// window. One window serves the whole suite: under Xvfb without a window
// manager the first showing of every new window costs Wine seconds.
class WindowTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ui = new CMainUI(GetModuleHandleA(NULL));
        ui->Create(NULL);
    }
    static void TearDownTestSuite()
    {
        delete ui;
        ui = NULL;
    }
    void SetUp() override
    {
        ASSERT_NE((HWND)NULL, ui->GetWindow());
        RunState.Reset();
        ui->m_cancelRequested = false;
        ui->m_busy = false;
        g_mainUI = ui;
    }
    void TearDown() override
    {
        g_mainUI = NULL;
        RunState.Reset();
    }
    HWND Window() const { return ui->GetWindow(); }

    static CMainUI* ui;
};
CMainUI* WindowTest::ui = NULL;
} // namespace

// The layout, texts, fonts, logo and branding of the window are seen in the
// window scenarios (e2e_window); these are the limits and the waits.
TEST_F(WindowTest, CaptionTakesOnlyNonEmptyTextsBelow256Characters)
{
    std::wstring fits(255, L'x');
    ui->SetItemText(IDC_CAPTION, fits.c_str());
    EXPECT_EQ(fits, ui->GetCaption());
    EXPECT_EQ(fits, WindowTitle(Window()));

    const std::wstring tooLong(256, L'y');
    for (const wchar_t* rejected : { L"", (const wchar_t*)NULL, tooLong.c_str() })
    {
        ui->SetItemText(IDC_CAPTION, rejected);
        EXPECT_EQ(fits, ui->GetCaption()) << (rejected ? wcslen(rejected) : -1) << " characters";
        EXPECT_EQ(fits, WindowTitle(Window()));
    }
}

TEST_F(WindowTest, ProgressRangeAbove16BitsIsHeldAtTheTop)
{
    ui->SetProgressRange(0, 70000);
    EXPECT_EQ(70000u, ui->GetBarMaximum(0));
    EXPECT_EQ(65535, (int)SendDlgItemMessageA(Window(), IDC_BAR0, PBM_GETRANGE, FALSE, 0));
}

TEST_F(WindowTest, CopyProgressShowsRoundedPercentages)
{
    struct Row { DWORD total, done; const wchar_t* text; int pos; };
    const Row rows[] = {
        { 0, 0, L" 0%", 0 },
        { 200, 1, L" 1%", 1 },         // 0.5 rounds up
        { 3, 1, L"33%", 33 },
        { 3, 2, L"67%", 67 },
        { 1000, 999, L"100%", 100 },   // 99.9
        { 4000000000u, 2000000000u, L"50%", 50 }, // no overflow of 32 bits
    };
    for (const Row& row : rows)
    {
        char destination[] = "C:\\Somewhere\\file.dat";
        EXPECT_EQ(0u, CopyProgress(row.total, row.done, 1, destination));
        EXPECT_EQ(std::wstring(row.text), ControlText(Window(), IDC_PERCENT)) << row.total << "/" << row.done;
        EXPECT_EQ(row.pos, (int)SendDlgItemMessageA(Window(), IDC_BAR0, PBM_GETPOS, 0, 0));
    }
}

TEST_F(WindowTest, CopyProgressStartShowsDestinationBelowTarget)
{
    RunState.targetDir = "C:\\Program Files\\ZAPH";
    struct Row { const char* destination; const wchar_t* shown; };
    const Row rows[] = {
        { "c:\\program files\\zaph\\MS\\LU\\data.db", L"MS\\LU\\data.db" },
        { "D:\\Other\\data.db", L"D:\\Other\\data.db" },
        // The target itself, or a longer folder name, is not "below" it.
        { "C:\\Program Files\\ZAPH", L"C:\\Program Files\\ZAPH" },
        { "C:\\Program Files\\ZAPHOLD\\x.db", L"C:\\Program Files\\ZAPHOLD\\x.db" },
    };
    for (const Row& row : rows)
    {
        std::string destination = row.destination;
        EXPECT_EQ(0u, CopyProgress(100, 0, 1, &destination[0]));
        EXPECT_EQ(std::wstring(row.shown), ControlText(Window(), IDC_INFO_TEXT)) << row.destination;
        EXPECT_TRUE(ui->m_busy) << "wait cursor from the start of a copy";
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(Window(), IDC_PROCEED)));
    }
    // The last chunk clears the texts and the wait cursor.
    char destination[] = "C:\\x";
    EXPECT_EQ(0u, CopyProgress(100, 40, 0, destination));
    EXPECT_EQ(L"40%", ControlText(Window(), IDC_PERCENT));
    EXPECT_FALSE(ui->m_busy);
    EXPECT_EQ(0u, CopyProgress(100, 100, 0, destination));
    EXPECT_EQ(L"", ControlText(Window(), IDC_PERCENT));
    EXPECT_EQ(L"", ControlText(Window(), IDC_INFO_TEXT));
}

TEST_F(WindowTest, CancelOutsideAModalWaitStopsTheNextCopyChunkOnce)
{
    SendMessageA(Window(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(ui->m_cancelRequested) << "no question outside a modal wait";
    char destination[] = "C:\\x";
    EXPECT_EQ(1u, CopyProgress(100, 10, 0, destination));
    EXPECT_FALSE(ui->m_cancelRequested) << "a cancelled copy clears the request";
    EXPECT_EQ(0u, CopyProgress(100, 20, 0, destination));
}

TEST_F(WindowTest, WaitForDownloadEndsOnItsMessageOrOnCancel)
{
    PostMessageA(Window(), WM_DOWNLOAD_DONE, 0, 0);
    ui->WaitForDownload();
    EXPECT_TRUE(IsWindowVisible(Window()));
    EXPECT_FALSE(ui->m_cancelRequested);

    // Cancel is seen after the next message is taken; the request stays set.
    PostMessageA(Window(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    PostMessageA(Window(), WM_NULL, 0, 0);
    ui->WaitForDownload();
    EXPECT_TRUE(ui->m_cancelRequested);
}

namespace
{
HANDLE s_workerMayEnd;
void CALLBACK LetWorkerEnd(HWND, UINT, UINT_PTR, DWORD)
{
    SetEvent(s_workerMayEnd);
}
DWORD WINAPI Worker(void*)
{
    return WaitForSingleObject(s_workerMayEnd, 20000);
}
} // namespace

// Without a window the wait lasts as long as the worker (or its stall limit), and this thread's
// messages (here a timer that lets the worker end) are still dispatched.
TEST(MainUI, WaitForDownloadWithoutAWindowWaitsForTheWorker)
{
    CMainUI own(GetModuleHandleA(NULL));
    s_workerMayEnd = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE worker = CreateThread(NULL, 0, Worker, NULL, 0, NULL);
    UINT_PTR timer = SetTimer(NULL, 0, 10, LetWorkerEnd);
    EXPECT_TRUE(own.WaitForDownload(worker));
    DWORD exitCode = 1;
    EXPECT_TRUE(GetExitCodeThread(worker, &exitCode) && exitCode == WAIT_OBJECT_0) << "ended by the timer";
    KillTimer(NULL, timer);
    CloseHandle(worker);

    // A worker whose download never moves: the wait ends at the stall limit.
    ResetEvent(s_workerMayEnd);
    worker = CreateThread(NULL, 0, Worker, NULL, 0, NULL);
    EXPECT_FALSE(own.WaitForDownload(worker, 100));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(worker, 0));
    SetEvent(s_workerMayEnd);
    WaitForSingleObject(worker, 20000);
    CloseHandle(worker);
    CloseHandle(s_workerMayEnd);
}

// Proceed ends the wait at the language selection (whole runs); outside
// phase 2 it does nothing and the wait goes on to the quit message.
TEST_F(WindowTest, ProceedOutsidePhase2DoesNotEndTheWait)
{
    RunState.phase = 1;
    PostMessageA(Window(), WM_COMMAND, MAKEWPARAM(IDC_PROCEED, BN_CLICKED), 0);
    PostQuitMessage(1223);
    ui->WaitForChoice();
    EXPECT_EQ(1223u, ui->GetResult());
    EXPECT_FALSE(ui->InModalWait());
}

TEST_F(WindowTest, PumpMessagesLeavesTheQuitMessageForItsLoop)
{
    PostQuitMessage(77);
    ui->PumpMessages();
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(77u, (unsigned)msg.wParam);
}
