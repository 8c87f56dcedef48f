// Reading and operating the program's windows from the test process: under
// Wine a window of another process can be read with messages (the server
// marshals WM_GETTEXT and friends).
#include "Scenario.h"

#include <stdio.h>

#include "resource.h"

namespace fwe2e
{
static const UINT READ_TIMEOUT_MS = 3000; // as the robot's reads

// --- unattended runs --------------------------------------------------------

void Scenario::ExpectNoWindow()
{
    m_robot->AllowOnly([](HWND) { return false; }, "A quiet run makes no window", true);
}

void Scenario::ExpectOnlyProgress()
{
    m_robot->AllowOnly(
        [](HWND hwnd) {
            return !IsMessageBox(hwnd) && (GetDlgItem(hwnd, IDC_PROCEED) != NULL || GetDlgItem(hwnd, IDC_LOG_LOGO) != NULL);
        },
        "A passive run shows its progress window only, no box or dialog");
}

// --- ProgramWindow ----------------------------------------------------------

HWND ProgramWindow::Control(int id) const
{
    // Controls may sit inside child dialogs (property pages, panels): search
    // the whole tree, not only direct children.
    for (HWND control : Exists() ? ChildWindows(m_hwnd) : std::vector<HWND>())
        if ((GetDlgCtrlID(control) & 0xFFFF) == (id & 0xFFFF))
            return control;
    return NULL;
}

bool ProgramWindow::IsEnabled(int id) const
{
    HWND control = Control(id);
    return control != NULL && IsWindowEnabled(control);
}

bool ProgramWindow::IsChecked(int id) const
{
    HWND control = Control(id);
    DWORD_PTR state = 0;
    return control != NULL &&
           SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, READ_TIMEOUT_MS,
                               &state) &&
           state == BST_CHECKED;
}

::testing::AssertionResult ProgramWindow::Click(int id) const
{
    // A user could not click a missing, hidden or disabled control either.
    HWND button = Control(id);
    const char* unusable = button == NULL               ? "missing"
                           : !IsWindowVisible(button) ? "hidden"
                           : !IsWindowEnabled(button) ? "disabled"
                                                      : NULL;
    if (unusable)
        return ::testing::AssertionFailure() << "control " << id << " is " << unusable << "\n" << Describe();
    // A click may open a modal loop in the program (a confirmation box): the
    // send then outlasts the timeout, which is no failure; the click happened.
    DWORD_PTR result = 0;
    SetLastError(0);
    if (!SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 1000, &result) &&
        GetLastError() != ERROR_TIMEOUT && GetLastError() != 0)
        return ::testing::AssertionFailure() << "BM_CLICK on control " << id << " failed ("
                                             << GetLastError() << ")";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult ProgramWindow::WaitForText(int id, const std::string& part,
                                                      DWORD timeoutMs) const
{
    DWORD start = GetTickCount();
    std::string text;
    for (;;)
    {
        text = ControlText(id);
        if (text.find(part) != std::string::npos)
            return ::testing::AssertionSuccess();
        if (GetTickCount() - start >= timeoutMs || !Exists())
            break;
        Sleep(30);
    }
    return ::testing::AssertionFailure() << "control " << id << " never showed \"" << part
                                         << "\" within " << timeoutMs << " ms; last text \""
                                         << text << "\"\n" << Describe();
}

std::string ProgramWindow::Describe() const
{
    if (!Exists())
        return "  (window gone)\n";
    std::string out = "  window \"" + Title() + "\" (" + WindowClass(m_hwnd) + ")" +
                      (IsMessageBox(m_hwnd) ? " message box" : "") + "\n";
    for (HWND control : ChildWindows(m_hwnd))
    {
        char line[128];
        _snprintf(line, sizeof(line), "    control %d (%s)%s%s: \"", GetDlgCtrlID(control) & 0xFFFF,
                  WindowClass(control).c_str(), IsWindowVisible(control) ? "" : " hidden",
                  IsWindowEnabled(control) ? "" : " disabled");
        std::string text = WindowText(control);
        out += line + (text.size() > 200 ? text.substr(0, 200) + "..." : text) + "\"\n";
    }
    return out;
}

std::string DescribeWindows(DWORD pid)
{
    std::string out;
    for (HWND hwnd : TopLevelWindowsOf(pid))
        out += ProgramWindow(hwnd).Describe();
    return out.empty() ? "  (no visible window)\n" : out;
}
} // namespace fwe2e
