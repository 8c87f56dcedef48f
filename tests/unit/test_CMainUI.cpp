#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "AppObjects.h"
#include "CResource.h"
#include "FileUtil.h"
#include "Assert.h"
#include "CMainUI.h"
#include "RunState.h"
#include "TestSupport.h"
#include "WideAPI.h"
#include "resource.h"

namespace
{
std::vector<std::string> g_assertions;

void RecordAssertion(const char* condition, const char*, int)
{
    g_assertions.push_back(condition);
}

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

// Whether a control is shown (its parent may be hidden still).
bool Shown(HWND window, int id)
{
    return (GetWindowLongA(GetDlgItem(window, id), GWL_STYLE) & WS_VISIBLE) != 0;
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
        g_assertions.clear();
        previousHandler = SetAssertionHandler(RecordAssertion);
    }
    void TearDown() override
    {
        SetAssertionHandler(previousHandler);
        g_mainUI = NULL;
        RunState.Reset();
    }
    HWND Window() const { return ui->GetWindow(); }

    static CMainUI* ui;
    AssertionHandler previousHandler = NULL;
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

    ui->SetItemText(IDC_STATUS_LOWER, L"Status \u00e9\u00e8");
    EXPECT_EQ(L"Status \u00e9\u00e8", ControlText(Window(), IDC_STATUS_LOWER));
}

TEST_F(WindowTest, ProgressBarIndexIsAsserted)
{
    ui->SetProgressRange(2, 10);
    ui->StepProgress(7, 1);
    ui->SetProgressPos(MAX_PROGRESS_BARS, 1);
    ASSERT_EQ(3u, g_assertions.size());
    for (const std::string& condition : g_assertions)
        EXPECT_EQ("uiIdx < MAX_PROGRESS_BARS", condition);

    g_assertions.clear();
    ui->SetProgressRange(0, 40);
    ui->SetProgressPos(0, 10);
    ui->StepProgress(0, 5);
    EXPECT_TRUE(g_assertions.empty());
    EXPECT_TRUE(Shown(Window(), IDC_BAR0)) << "a range shows the bar";
    EXPECT_EQ(15, (int)SendDlgItemMessageA(Window(), IDC_BAR0, PBM_GETPOS, 0, 0));
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
} // namespace

// Without a window the wait lasts as long as the worker (or its stall limit), and this thread's
// messages (here a timer that lets the worker end) are still dispatched.
TEST(MainUI, WaitForDownloadWithoutAWindowWaitsForTheWorker)
{
    CMainUI own(GetModuleHandleA(NULL));
    s_workerMayEnd = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE worker = CreateThread(NULL, 0, [](void*) -> DWORD { return WaitForSingleObject(s_workerMayEnd, 20000); },
                                 NULL, 0, NULL);
    UINT_PTR timer = SetTimer(NULL, 0, 10, LetWorkerEnd);
    EXPECT_TRUE(own.WaitForDownload(worker));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, 0));
    DWORD exitCode = 1;
    EXPECT_TRUE(GetExitCodeThread(worker, &exitCode) && exitCode == WAIT_OBJECT_0) << "ended by the timer";
    KillTimer(NULL, timer);
    CloseHandle(worker);

    // A worker whose download never moves: the wait ends at the stall limit.
    ResetEvent(s_workerMayEnd);
    worker = CreateThread(NULL, 0, [](void*) -> DWORD { return WaitForSingleObject(s_workerMayEnd, 20000); }, NULL,
                          0, NULL);
    EXPECT_FALSE(own.WaitForDownload(worker, 100));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(worker, 0));
    SetEvent(s_workerMayEnd);
    WaitForSingleObject(worker, 20000);
    CloseHandle(worker);
    CloseHandle(s_workerMayEnd);
}

TEST_F(WindowTest, ProceedEndsAModalWaitOnlyWhileTheSequenceWaitsForIt)
{
    // Outside phase 2 Proceed does nothing: the wait goes on to the quit message.
    RunState.phase = 1;
    PostMessageA(Window(), WM_COMMAND, MAKEWPARAM(IDC_PROCEED, BN_CLICKED), 0);
    PostQuitMessage(1223);
    ui->WaitForChoice();
    EXPECT_EQ(1223u, ui->GetResult());
    EXPECT_FALSE(ui->InModalWait());

    RunState.phase = 2;
    PostMessageA(Window(), WM_COMMAND, MAKEWPARAM(IDC_PROCEED, BN_CLICKED), 0);
    ui->WaitForChoice();
    EXPECT_EQ(UI_RESULT_PROCEED, ui->GetResult());
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

namespace
{
// The window filled from a settings file of three languages.
class WindowTextsTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        std::wstring text =
            L"[Settings]\r\nIniVersion=7.1\r\n[Components]\r\nc=1\r\n[CheckSums]\r\nc=0\r\n"
            L"[Additional]\r\na=1\r\n"
            L"[Labels_EN]\r\nCaption=%s Setup [%hs]\r\nOrganisation=Org\r\nHeader=Welcome\r\n"
            L"CancelButton=Stop\r\nProceedButton=Go\r\nLanguageSelection=Pick\r\n"
            L"[Labels_DE]\r\nOrganisation=Org DE\r\nCancelButton=Abbrechen\r\n"
            L"LanguageSelection=W\u00e4hlen\r\nBranding=Marke\r\n"
            L"[Labels_EL]\r\nCaption=" + std::wstring(300, L'\u03a9') + L"\r\nHeader=\u039a\u03b1\u03bb\u03ce\u03c2\r\n";
        ASSERT_TRUE(fwtest::WriteBytes(dir.File("Zaph.ini"), fwtest::Utf16File(text)));
        ASSERT_TRUE(settings.Load(dir.File("Zaph.ini").c_str()));
        ASSERT_TRUE(settings.ChooseLanguage("EN"));
        g_resource = &settings;
        ui->SetInfoKey(NULL);
    }
    void TearDown() override
    {
        g_resource = NULL;
        WindowTest::TearDown();
    }

    fwtest::TempDir dir{ "fwtexts" };
    CResource settings;
};
} // namespace

TEST_F(WindowTextsTest, SelectLanguageReTextsTheWindowAndKeepsWhatTheLanguageLacks)
{
    FillWindowTexts();
    ui->SetInfoKey(L"LanguageSelection");
    SelectLanguage(1); // DE
    EXPECT_EQ(1, settings.GetLanguage());
    EXPECT_EQ(L"Abbrechen", ControlText(Window(), IDCANCEL));
    EXPECT_EQ(L"W\u00e4hlen", ControlText(Window(), IDC_INFO_TEXT));
    EXPECT_EQ(L"Go", ControlText(Window(), IDC_PROCEED)) << "a missing button label keeps the text";
    EXPECT_EQ(L"", ControlText(Window(), IDC_HEADING)) << "no heading of another language";
    EXPECT_EQ(L"Org Setup [EN] 7.1", WindowTitle(Window())) << "no Caption label: caption kept";
    EXPECT_TRUE(Shown(Window(), IDC_BRANDING));
    EXPECT_EQ(L"Marke", ControlText(Window(), IDC_BRANDING));

    // Out of range or the current language: nothing happens.
    for (int index : { 24, 99, -1, 1 })
    {
        ui->SetItemText(IDCANCEL, L"untouched");
        SelectLanguage(index);
        EXPECT_EQ(1, settings.GetLanguage()) << index;
        EXPECT_EQ(L"untouched", ControlText(Window(), IDCANCEL)) << index;
    }
    SelectLanguage(2); // EL: its Caption label of 300 characters leaves the caption
    EXPECT_EQ(L"Org Setup [EN] 7.1", WindowTitle(Window()));
    EXPECT_EQ(L"\u039a\u03b1\u03bb\u03ce\u03c2", ControlText(Window(), IDC_HEADING));
}
