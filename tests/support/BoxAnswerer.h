// Answers the message boxes of the test's own process with OK (or closes a box
// without OK) and records them, so that code under test that shows a box
// neither blocks the test nor goes unchecked. A message box is a #32770 window
// with the static text 0xFFFF; the program's own dialogs have none.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace fwtest
{
struct AnsweredBox
{
    std::wstring caption;
    std::wstring text;
};

class BoxAnswerer
{
public:
    BoxAnswerer();
    ~BoxAnswerer();
    std::vector<AnsweredBox> Boxes();
    std::vector<std::string> Texts(); // the texts, in the ANSI code page
    // The button to press where a box has it (IDYES, IDNO, ...); IDOK otherwise.
    void SetButton(int id) { m_button = id; }

private:
    static DWORD WINAPI Run(void* self);
    static BOOL CALLBACK Answer(HWND window, LPARAM self);

    HANDLE m_stop;
    HANDLE m_thread;
    CRITICAL_SECTION m_lock;
    std::vector<AnsweredBox> m_boxes;
    volatile int m_button = IDOK;
};
} // namespace fwtest
