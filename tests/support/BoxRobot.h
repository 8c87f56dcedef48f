// The message-box robot: a thread that watches the top-level windows of a
// process (the program under test, or the test's own), records every message
// box (title, text, icon, buttons) and answers it by a script of expected
// boxes, or answers every box with one button.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fwe2e
{
enum BoxIcon
{
    ICON_NONE,        // no icon at all
    ICON_ERROR,       // MB_ICONSTOP / MB_ICONERROR / MB_ICONHAND
    ICON_WARNING,     // MB_ICONEXCLAMATION / MB_ICONWARNING
    ICON_INFORMATION, // MB_ICONINFORMATION / MB_ICONASTERISK
    ICON_QUESTION,    // MB_ICONQUESTION
    ICON_UNKNOWN      // an icon that could not be told apart (window hidden, ...)
};

// One message box as the robot saw it.
struct BoxSeen
{
    std::string title;
    std::string text;            // control 0xFFFF, UTF-8
    BoxIcon icon = ICON_UNKNOWN;
    bool owned = false;          // has an owner window
    std::string ownerTitle;      // the owner's title, when owned
    std::vector<int> buttons;    // ids of the buttons shown, in control order
    int pressed = 0;             // the button the robot pressed
    bool expected = false;       // matched an expectation of the script
    std::string Describe() const; // one readable block for failure messages
};

// One step of the box script: which box comes next and how to answer it.
// Conditions not set are not checked. Written as a chain:
//     s.ExpectBox().TitleEquals("Setup").TextContains("FORCED").Press(IDOK);
class BoxExpectation
{
public:
    BoxExpectation& TitleEquals(const std::string& title);
    BoxExpectation& TextEquals(const std::string& text);
    BoxExpectation& TextStartsWith(const std::string& start);
    BoxExpectation& TextContains(const std::string& part); // may be called repeatedly
    BoxExpectation& Icon(BoxIcon icon);
    BoxExpectation& Owned(bool owned);                     // has an owner window or not
    BoxExpectation& Buttons(std::vector<int> ids);         // exactly these, any order
    // The answer; by default IDOK, else the only button.
    BoxExpectation& Press(int id)
    {
        m_press = id;
        return *this;
    }
    // The box may not appear at all.
    BoxExpectation& Optional()
    {
        m_optional = true;
        return *this;
    }

private:
    friend class BoxRobot;
    struct Check
    {
        std::string what; // "title \"Setup\"", for messages
        std::function<bool(const BoxSeen&)> holds;
    };
    BoxExpectation& Require(std::string what, std::function<bool(const BoxSeen&)> holds);
    std::string Mismatch(const BoxSeen& box) const; // "" when the box matches
    std::string Describe() const;

    std::vector<Check> m_checks;
    int m_press = 0;
    bool m_optional = false;
    const char* m_file = "";
    int m_line = 0;
};

// Conversions for the Unicode texts of the program and its settings file.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// Reads windows of another process: every read has a timeout so that a hung
// program turns into a failed test, not a hung one.
std::string WindowText(HWND hwnd);
std::string WindowClass(HWND hwnd);
bool IsMessageBox(HWND hwnd);
// The visible ones in z-order; with hiddenDialogs also dialogs not (yet) shown.
std::vector<HWND> TopLevelWindowsOf(DWORD pid, bool hiddenDialogs = false);
// Every descendant of the window (NULL: every top-level window), in z-order.
std::vector<HWND> ChildWindows(HWND parent);
std::string DescribeBoxes(const std::vector<BoxSeen>& boxes); // "(none)" when empty

class BoxRobot
{
public:
    struct Problem
    {
        std::string message;
        const char* file; // null: report at the Run/Wait line
        int line;
    };

    ~BoxRobot() { Stop(); }
    void Attach(DWORD pid);
    void Stop();
    BoxExpectation& Add(const char* file, int line);
    std::vector<BoxSeen> Seen();
    // What went wrong so far, and every box still expected (the run is over).
    std::vector<Problem> TakeProblems();
    // No script: every box is expected and answered with this button where it
    // has it (otherwise as an expected box is); its icon is not told apart.
    void AnswerAll(int button) { m_answerAll = button; }
    // The windows the program may show (unattended runs): every visible
    // top-level window for which allowed is false is a problem, once, named
    // by rule. Before Attach.
    // hiddenToo: a dialog made and never shown breaks the rule as well.
    void AllowOnly(std::function<bool(HWND)> allowed, const std::string& rule, bool hiddenToo = false);

private:
    void Loop();
    void Handle(HWND box);
    BoxSeen Read(HWND box);

    std::mutex m_lock;
    std::deque<BoxExpectation> m_script; // deque: references stay valid as it grows
    size_t m_next = 0;
    std::vector<BoxSeen> m_seen;
    std::vector<Problem> m_problems;
    std::set<HWND> m_handled;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    DWORD m_pid = 0;
    std::atomic<int> m_answerAll{0};
    std::function<bool(HWND)> m_allowed;
    std::string m_rule;
    bool m_hiddenToo = false;
    std::set<HWND> m_refused;
};
} // namespace fwe2e
