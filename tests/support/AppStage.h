// The program's objects as a phase sees them during a run: settings read from
// a file written here, the real progress window, the download manager (over
// base), the globals pointing at them and the log in a file of its own. And
// a user who presses the window's Cancel once a download from the test
// server has stalled.
#pragma once

#include "HttpTestServer.h" // winsock2.h before windows.h

#include <string>
#include <thread>

#include "CDownloadManager.h"
#include "CMainUI.h"
#include "CResource.h"
#include "LogCapture.h"

namespace fwtest
{
class AppStage
{
public:
    AppStage(const std::string& settings, const std::string& base);
    ~AppStage();

    TempDir dir{"fwstage"};
    LogCapture log;
    CResource resource;
    CMainUI ui{GetModuleHandleA(NULL)};
    CDownloadManager manager{&ui, &resource};
};

class CancelOnStall
{
public:
    // releaseAfterClick: the server goes on after the click, so that the
    // download reaches its next progress report; otherwise it stays silent.
    CancelOnStall(HttpTestServer& server, CMainUI& ui, bool releaseAfterClick);
    ~CancelOnStall() { Join(); }
    // Waits for the click; whether it was made.
    bool Join();

private:
    bool m_clicked = false;
    std::thread m_thread;
};
} // namespace fwtest
