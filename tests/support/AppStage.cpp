#include "AppStage.h"

#include "AppObjects.h"
#include "Log.h"

namespace fwtest
{
AppStage::AppStage(const std::string& settings, const std::string& base)
{
    WriteBytes(dir.File("Zaph.ini"), settings);
    EXPECT_TRUE(resource.Load(dir.File("Zaph.ini").c_str())) << log.Text();
    EXPECT_TRUE(resource.ChooseLanguage("EN"));
    EXPECT_TRUE(ui.Create(NULL));
    if (!base.empty())
        manager.SetBaseUrl(base.c_str());
    g_mainUI = &ui;
    g_resource = &resource;
    g_downloadManager = &manager;
}

AppStage::~AppStage()
{
    g_downloadManager = NULL;
    g_resource = NULL;
    g_mainUI = NULL;
    ui.Close(0);
}

CancelOnStall::CancelOnStall(HttpTestServer& server, CMainUI& ui, bool releaseAfterClick)
    : m_thread([this, &server, &ui, releaseAfterClick] {
          if (!server.WaitForStall(20000))
              return;
          DWORD_PTR ignored;
          // A real click arrives as posted input, which also wakes a waiting message
          // loop; BM_CLICK is sent, so a null message follows it.
          m_clicked = SendMessageTimeoutA(GetDlgItem(ui.GetWindow(), IDCANCEL), BM_CLICK, 0, 0, SMTO_NORMAL,
                                          10000, &ignored) != 0;
          PostMessageA(ui.GetWindow(), WM_NULL, 0, 0);
          if (releaseAfterClick)
              server.ReleaseStalls();
      })
{
}

bool CancelOnStall::Join()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_clicked;
}
} // namespace fwtest
