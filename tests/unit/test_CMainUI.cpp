#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "AppObjects.h"
#include "BoxAnswerer.h"
#include "CMainUI.h"
#include "CResource.h"
#include "DownloadCallback.h"
#include "LogWindow.h"
#include "RunState.h"
#include "TestSupport.h"
#include "Transfer.h"
#include "UserMessages.h"
#include "resource.h"

namespace
{
std::wstring WindowTitle(HWND window)
{
    wchar_t text[1024] = { 0 };
    GetWindowTextW(window, text, 1024);
    return text;
}

// A progress window of the test program's own resources, made the run's
// window, with a transfer record as the download manager gives it. One window serves the whole suite: under Xvfb without a window
// manager the first showing of every new window costs Wine seconds.
class WindowTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ui = new CMainUI(GetModuleHandleA(NULL));
        ui->Create(NULL);
        ui->AttachTransfer(&transfer);
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
        transfer.ClearCancel();
        ui->SetBusy(false);
        g_mainUI = ui;
    }
    void TearDown() override
    {
        g_mainUI = NULL;
        RunState.Reset();
    }
    HWND Window() const { return ui->GetWindow(); }

    static CMainUI* ui;
    static TransferState transfer;
};
CMainUI* WindowTest::ui = NULL;
TransferState WindowTest::transfer;
} // namespace

// The layout, texts, fonts, logo and branding of the window are seen in the
// window scenarios (e2e_mainsequence); these are the limits and the waits.
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

// A copy's progress: percentages without a division by zero or an overflow
// of 32 bits, the destination shown below the target folder, with the wait
// cursor; the last chunk fills the bar and clears the texts and the cursor.
TEST_F(WindowTest, CopyProgressShowsThePercentageAndTheDestination)
{
    RunState.targetDir = "C:\\Program Files\\ZAPH";
    struct Row { DWORD total, done, state; const char* destination; const wchar_t* percent; const wchar_t* shown; };
    const Row rows[] = {
        { 0, 0, 1, "c:\\program files\\zaph\\MS\\LU\\data.db", L" 0%", L"MS\\LU\\data.db" },
        { 4000000000u, 2000000000u, 1, "C:\\x", L"50%", L"C:\\x" },
        { 100, 100, 0, "C:\\x", L"", L"" },
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.destination);
        std::string destination = row.destination;
        EXPECT_EQ(0u, CopyProgress(row.total, row.done, row.state, &destination[0]));
        EXPECT_EQ(std::wstring(row.percent), WindowTitle(GetDlgItem(Window(), IDC_PERCENT))) << row.total << "/" << row.done;
        EXPECT_EQ(std::wstring(row.shown), WindowTitle(GetDlgItem(Window(), IDC_INFO_TEXT)));
        EXPECT_EQ(row.state == 1, ui->IsBusy()) << "wait cursor from the start of a copy";
    }
    EXPECT_EQ(100, (int)SendDlgItemMessageA(Window(), IDC_BAR0, PBM_GETPOS, 0, 0))
        << "the last chunk fills the bar, however soon after the last redraw";
}

// A download's bar is set by its first data and filled by its end, however
// soon after the last step.
TEST_F(WindowTest, DownloadProgressSetsTheBarAtTheStartAndFillsItAtTheEnd)
{
    CDownloadBindStatusCallback callback(ui, &transfer);
    HWND bar = GetDlgItem(Window(), IDC_BAR0);
    callback.OnProgress(100, 1000, BINDSTATUS_BEGINDOWNLOADDATA, NULL);
    EXPECT_EQ(1000, (int)SendMessageA(bar, PBM_GETPOS, 0, 0));
    callback.OnProgress(200, 1000, BINDSTATUS_DOWNLOADINGDATA, NULL);
    callback.OnProgress(1000, 1000, BINDSTATUS_ENDDOWNLOADDATA, NULL);
    EXPECT_EQ((int)DOWNLOAD_PROGRESS_RANGE, (int)SendMessageA(bar, PBM_GETPOS, 0, 0));
}

TEST_F(WindowTest, CancelOutsideAModalWaitStopsTheNextCopyChunkOnce)
{
    SendMessageA(Window(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(transfer.CancelRequested()) << "no question outside a modal wait";
    char destination[] = "C:\\x";
    EXPECT_EQ(1u, CopyProgress(100, 10, 0, destination));
    EXPECT_FALSE(transfer.CancelRequested()) << "a cancelled copy clears the request";
    EXPECT_EQ(0u, CopyProgress(100, 20, 0, destination));
}

// A box is asked for by its label: the label's text, formatted where asked;
// without the label the fallback, the box that says the text is missing, or
// no box at all where the label alone asks for one.
TEST_F(WindowTest, BoxesAskedForByLabelFallBackWhenItIsMissing)
{
    fwtest::TempDir dir{ "fwboxes" };
    ASSERT_TRUE(fwtest::WriteBytes(dir.File("Zaph.ini"),
                                   "[Settings]\r\nIniVersion=6.2\r\n[Components]\r\nx\r\n[CheckSums]\r\nx=0\r\n"
                                   "[Additional]\r\nx\r\n[Labels_EN]\r\nSuccess=Done\r\nErrorOccurred=Error: %s\r\n"));
    CResource settings;
    ASSERT_TRUE(settings.Load(dir.File("Zaph.ini").c_str()));
    ASSERT_TRUE(settings.ChooseLanguage("EN"));
    g_resource = &settings;
    fwtest::BoxAnswerer boxes;
    Tell(MESSAGE_INFORMATION, LABEL_SUCCESS);
    TellFormatted(MESSAGE_ERROR, LABEL_ERROR_OCCURRED, NULL, L"step");
    Tell(MESSAGE_WARNING, LABEL_REBOOT, L"fallback");
    Tell(MESSAGE_ERROR, LABEL_WORKING_OFFLINE, NOTHING_WITHOUT_LABEL);
    EXPECT_FALSE(Ask(LABEL_CONFIRM_CANCEL));
    g_mainUI = NULL;
    TellText(MESSAGE_ERROR, L"no window: no box");
    g_resource = NULL;

    const std::vector<std::string> texts = boxes.Texts();
    ASSERT_EQ(4u, texts.size());
    EXPECT_EQ("Done", texts[0]);
    EXPECT_EQ("Error: step", texts[1]);
    EXPECT_EQ("fallback", texts[2]);
    EXPECT_EQ(0u, texts[3].find("?!Missing Confirm message.")) << texts[3];
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

// Without a window the wait lasts as long as the worker,
// and this thread's messages (here a timer that lets the worker end) are still
// dispatched. The waits with a window are those of the whole runs.
TEST(MainUI, WaitForDownloadWithoutAWindowWaitsForTheWorker)
{
    CMainUI own(GetModuleHandleA(NULL));
    s_workerMayEnd = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE worker = CreateThread(NULL, 0, Worker, NULL, 0, NULL);
    UINT_PTR timer = SetTimer(NULL, 0, 10, LetWorkerEnd);
    own.WaitForDownload(worker);
    DWORD exitCode = 1;
    EXPECT_TRUE(GetExitCodeThread(worker, &exitCode) && exitCode == WAIT_OBJECT_0) << "ended by the timer";
    KillTimer(NULL, timer);
    CloseHandle(worker);

    CloseHandle(s_workerMayEnd);
}

// A quiet run has no window: its language choices are only what they were
// given (an empty caption is no choice), and the next run's window starts clean.
TEST(MainUI, ChoicesWithoutAWindowKeepTheirCheckedState)
{
    CMainUI own(GetModuleHandleA(NULL));
    own.AddLanguageChoice(L"English", 1, true, true);
    own.AddLanguageChoice(L"Fran\u00e7ais", 3, false, true);
    own.AddLanguageChoice(L"", 4, true, true);
    own.AddLanguageChoice(L"Deutsch", LANGUAGE_SLOTS, true, true);
    const bool expected[] = {false, true, false, false, false};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(expected[i], own.IsChoiceChecked(i)) << "language " << i;
    EXPECT_FALSE(own.IsChoiceChecked(-1));
    EXPECT_FALSE(own.IsChoiceChecked(LANGUAGE_SLOTS));
    own.Close(0);
    EXPECT_FALSE(own.IsChoiceChecked(1));
}

// Proceed ends the wait at the language selection (whole runs); outside
// phase 2 it does nothing and the wait goes on to the quit message. Pumping
// leaves the quit message for its loop.
TEST_F(WindowTest, TheQuitMessageEndsTheWaitsAndStaysForItsLoop)
{
    RunState.phase = 1;
    PostMessageA(Window(), WM_COMMAND, MAKEWPARAM(IDC_PROCEED, BN_CLICKED), 0);
    PostQuitMessage(1223);
    ui->WaitForChoice();
    EXPECT_EQ(1223u, ui->GetResult());
    EXPECT_FALSE(ui->InModalWait());

    PostQuitMessage(77);
    ui->PumpMessages();
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(77u, (unsigned)msg.wParam);
}

// The bars of the shown window: a move is the control's position at once
// (drawn later), and moving a hidden bar never shows it; a new range does.
TEST_F(WindowTest, BarMovesAreCurrentAtOnceAndLeaveHiddenBarsHidden)
{
    ui->ShowForWork(false);
    HWND files = GetDlgItem(Window(), IDC_BAR0), overall = GetDlgItem(Window(), IDC_BAR1);
    ShowWindow(files, SW_HIDE);
    ui->SetProgressRange(1, 100);
    for (UINT position : {40u, 40u, 0u, 100u})
    {
        ui->SetProgressPos(1, position);
        ui->SetProgressPos(0, position / 2);
        EXPECT_EQ(position, (UINT)SendMessageA(overall, PBM_GETPOS, 0, 0));
        EXPECT_EQ(position / 2, (UINT)SendMessageA(files, PBM_GETPOS, 0, 0));
    }
    ui->StepProgress(1, -10);
    EXPECT_EQ(90, (int)SendMessageA(overall, PBM_GETPOS, 0, 0));
    EXPECT_TRUE(IsWindowVisible(overall));
    EXPECT_FALSE(IsWindowVisible(files)) << "a move leaves a hidden bar hidden";
    ui->SetProgressRange(0, 100);
    EXPECT_TRUE(IsWindowVisible(files));
    EXPECT_EQ(0, (int)SendMessageA(files, PBM_GETPOS, 0, 0));
    ShowWindow(Window(), SW_HIDE);
}

// The log window is made when first shown, with the latest title, text and
// status it was given; a quiet run makes none.
TEST(LogWindow, IsMadeWhenFirstShownWithWhatItWasGiven)
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    ShowLogWindow(instance, NULL, L"First", L"first text");
    ShowLogWindow(instance, NULL, L"Log", L"Installing");
    SetLogWindowStatus("dotnetfx.exe");
    RunState.quiet = true;
    ShowLogWindow(NULL, NULL, NULL, NULL);
    EXPECT_EQ((HWND)NULL, GetLogWindow()) << "prepared only";
    RunState.quiet = false;
    ShowLogWindow(NULL, NULL, NULL, NULL);
    HWND window = GetLogWindow();
    ASSERT_NE((HWND)NULL, window);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(L"Log", WindowTitle(window));
    EXPECT_EQ(L"Installing", WindowTitle(GetDlgItem(window, IDC_LOG_TEXT)));
    EXPECT_EQ(L"dotnetfx.exe", WindowTitle(GetDlgItem(window, IDC_LOG_STATUS)));
    DestroyWindow(window);
    RunState.Reset();
}
