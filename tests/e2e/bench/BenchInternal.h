// Pieces of the bench shared between its source files; scenarios use Scenario.h.
#pragma once

#include "Scenario.h"
#include "TestSupport.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

namespace fwe2e
{
// Reads windows of another process: every read has a timeout so that a hung
// program turns into a failed test, not a hung one.
std::string WindowText(HWND hwnd);
std::string WindowClass(HWND hwnd);
bool IsMessageBox(HWND hwnd);
bool IsIconStatic(HWND control);
std::vector<HWND> TopLevelWindowsOf(DWORD pid); // visible ones, in z-order
std::string DescribeWindows(DWORD pid);
std::string DescribeBoxes(const std::vector<BoxSeen>& boxes); // "(none)" when empty

// What draw(memory, screen) paints into a bitmap of the screen's kind, top row
// first, each pixel 0x00RRGGBB; empty when it fails.
template <class Draw> std::vector<DWORD> Pixels(int width, int height, Draw draw)
{
    std::vector<DWORD> pixels;
    if (width <= 0 || height <= 0)
        return pixels;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    bool drawn = draw(memory, screen);
    SelectObject(memory, old);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    pixels.resize((size_t)width * height);
    if (!drawn || GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS) != height)
        pixels.clear();
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return pixels;
}

// The message-box robot: a thread that watches the program's top-level
// windows, records every message box and answers it by the script.
class BoxRobot
{
public:
    struct Problem
    {
        std::string message;
        const char* file; // null: report at the Run/Wait line
        int line;
    };

    BoxRobot() = default;
    ~BoxRobot() { Stop(); }
    void Attach(DWORD pid);
    void Stop();
    BoxExpectation& Add(const char* file, int line);
    std::vector<BoxSeen> Seen();
    bool AllAnswered();
    std::vector<Problem> TakeProblems(bool runEnded);
    std::string DescribeScript();

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
};

// Registry paths "HKLM\\Software\\..." with an optional "32:" view prefix.
struct RegPath
{
    HKEY root = NULL;
    std::string subkey;
    REGSAM view = KEY_WOW64_64KEY;
    bool Parse(const std::string& path);
};

// A whole key tree held in memory, to put it back later.
struct RegTree
{
    struct Value
    {
        std::string name;
        DWORD type;
        std::string data;
    };
    bool exists = false;
    std::vector<Value> values;
    std::vector<std::pair<std::string, RegTree>> keys;
};
bool SnapshotTree(const RegPath& path, RegTree& tree);
bool RestoreTree(const RegPath& path, const RegTree& tree);
bool KeyExists(const RegPath& path);

// A key of the machine that a scenario puts back at its end.
struct GuardedKey
{
    std::string name; // the path in lower case, to tell the keys inside it
    RegPath path;
    RegTree tree;
};
} // namespace fwe2e
