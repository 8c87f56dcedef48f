#include "BoxAnswerer.h"

namespace fwtest
{
BoxAnswerer::BoxAnswerer() : m_stop(CreateEventA(NULL, TRUE, FALSE, NULL))
{
    InitializeCriticalSection(&m_lock);
    m_thread = CreateThread(NULL, 0, Run, this, 0, NULL);
}

BoxAnswerer::~BoxAnswerer()
{
    SetEvent(m_stop);
    WaitForSingleObject(m_thread, 5000);
    CloseHandle(m_thread);
    CloseHandle(m_stop);
    DeleteCriticalSection(&m_lock);
}

std::vector<AnsweredBox> BoxAnswerer::Boxes()
{
    EnterCriticalSection(&m_lock);
    std::vector<AnsweredBox> copy = m_boxes;
    LeaveCriticalSection(&m_lock);
    return copy;
}

std::vector<std::string> BoxAnswerer::Texts()
{
    std::vector<std::string> texts;
    for (const AnsweredBox& box : Boxes())
    {
        char text[4096] = "";
        WideCharToMultiByte(CP_ACP, 0, box.text.c_str(), -1, text, sizeof(text), NULL, NULL);
        texts.push_back(text);
    }
    return texts;
}

BOOL CALLBACK BoxAnswerer::Answer(HWND window, LPARAM self)
{
    BoxAnswerer* answerer = reinterpret_cast<BoxAnswerer*>(self);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[32];
    if (process != GetCurrentProcessId() || !IsWindowVisible(window) ||
        GetDlgItem(window, 0xFFFF) == NULL || !GetClassNameA(window, className, sizeof(className)) ||
        strcmp(className, "#32770") != 0)
        return TRUE;

    AnsweredBox seen;
    wchar_t caption[2048] = L"", text[4096] = L"";
    GetWindowTextW(window, caption, 2048);
    GetDlgItemTextW(window, 0xFFFF, text, 4096);
    seen.caption = caption;
    seen.text = text;
    EnterCriticalSection(&answerer->m_lock);
    answerer->m_boxes.push_back(seen);
    LeaveCriticalSection(&answerer->m_lock);

    HWND ok = GetDlgItem(window, answerer->m_button);
    if (ok == NULL)
        ok = GetDlgItem(window, IDOK);
    DWORD_PTR ignored;
    if (ok != NULL)
        SendMessageTimeoutA(ok, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &ignored);
    else
        PostMessageA(window, WM_CLOSE, 0, 0);
    // The box must be gone before the next look, or it would be counted twice.
    for (int wait = 0; wait < 500 && IsWindow(window) && IsWindowVisible(window); ++wait)
        Sleep(10);
    return TRUE;
}

DWORD WINAPI BoxAnswerer::Run(void* self)
{
    BoxAnswerer* answerer = static_cast<BoxAnswerer*>(self);
    while (WaitForSingleObject(answerer->m_stop, 10) == WAIT_TIMEOUT)
        EnumWindows(Answer, (LPARAM)answerer);
    return 0;
}
} // namespace fwtest
