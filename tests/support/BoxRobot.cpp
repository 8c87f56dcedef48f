#include "BoxRobot.h"

#include "TestSupport.h"

#include <algorithm>

namespace fwe2e
{
static const DWORD POLL_MS = 25;
// Reads of another process's windows time out, so that a hung program turns
// into a failed test, not a hung one.
static const UINT READ_TIMEOUT_MS = 3000;

std::string ToUtf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), NULL, 0, NULL, NULL);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], size, NULL, NULL);
    return out;
}

std::wstring FromUtf8(const std::string& text)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), NULL, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], size);
    return out;
}

std::string WindowText(HWND hwnd)
{
    if (!IsWindow(hwnd))
        return std::string();
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, READ_TIMEOUT_MS,
                             &length))
        return std::string();
    std::wstring buffer(length + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, buffer.size(), (LPARAM)&buffer[0],
                             SMTO_ABORTIFHUNG, READ_TIMEOUT_MS, &got))
        return std::string();
    buffer.resize(got);
    return ToUtf8(buffer);
}

std::string WindowClass(HWND hwnd)
{
    char name[256] = "";
    GetClassNameA(hwnd, name, sizeof(name));
    return name;
}

static bool IsIconStatic(HWND child)
{
    return WindowClass(child) == "Static" &&
           (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

// A message box is a dialog made only of statics (its text has the id 0xFFFF,
// its icon is an SS_ICON static) and push buttons with the standard ids. The
// program's own dialogs carry controls with ids of their own.
bool IsMessageBox(HWND hwnd)
{
    if (WindowClass(hwnd) != "#32770")
        return false;
    bool hasText = false;
    for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    {
        std::string cls = WindowClass(child);
        int id = GetDlgCtrlID(child) & 0xFFFF;
        bool text = cls == "Static" && id == 0xFFFF;
        bool standardButton = cls == "Button" && (!IsWindowVisible(child) || (id >= IDOK && id <= IDCONTINUE));
        if (!text && !standardButton && !IsIconStatic(child))
            return false;
        hasText = hasText || text;
    }
    return hasText;
}

static BOOL CALLBACK Collect(HWND hwnd, LPARAM list)
{
    ((std::vector<HWND>*)list)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> ChildWindows(HWND parent)
{
    std::vector<HWND> windows;
    if (parent)
        EnumChildWindows(parent, Collect, (LPARAM)&windows);
    else
        EnumWindows(Collect, (LPARAM)&windows);
    return windows;
}

std::vector<HWND> TopLevelWindowsOf(DWORD pid, bool hiddenDialogs)
{
    std::vector<HWND> windows;
    for (HWND hwnd : ChildWindows(NULL))
    {
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (pid != 0 && owner == pid && (IsWindowVisible(hwnd) || (hiddenDialogs && WindowClass(hwnd) == "#32770")))
            windows.push_back(hwnd);
    }
    return windows;
}

// --- message boxes ----------------------------------------------------------

static const char* IconName(BoxIcon icon)
{
    static const char* const names[] = {"none", "error (stop)", "warning (exclamation)", "information",
                                        "question", "unknown"};
    return names[icon];
}

static std::string ButtonName(int id)
{
    static const char* const names[] = {"IDOK", "IDCANCEL", "IDABORT", "IDRETRY", "IDIGNORE", "IDYES", "IDNO"};
    return id >= IDOK && id <= IDNO ? names[id - IDOK] : "button " + std::to_string(id);
}

std::string BoxSeen::Describe() const
{
    std::string out = "    title \"" + title + "\", icon " + IconName(icon) + ", " +
                      (owned ? "owned by \"" + ownerTitle + "\"" : std::string("no owner")) +
                      ", buttons";
    for (int id : buttons)
        out += " " + ButtonName(id);
    if (pressed)
        out += ", answered " + ButtonName(pressed);
    return out + "\n    text:\n      | " + fwtest::Expand(text, "\n", "\n      | ") + "\n";
}

std::string DescribeBoxes(const std::vector<BoxSeen>& boxes)
{
    std::string out;
    for (const BoxSeen& box : boxes)
        out += box.Describe();
    return out.empty() ? "    (none)\n" : out;
}

// --- the script -------------------------------------------------------------

BoxExpectation& BoxExpectation::Require(std::string what, std::function<bool(const BoxSeen&)> holds)
{
    m_checks.push_back({std::move(what), std::move(holds)});
    return *this;
}

BoxExpectation& BoxExpectation::TitleEquals(const std::string& title)
{
    return Require("title \"" + title + "\"", [=](const BoxSeen& box) { return box.title == title; });
}

BoxExpectation& BoxExpectation::TextEquals(const std::string& text)
{
    return Require("text \"" + text + "\"", [=](const BoxSeen& box) { return box.text == text; });
}

BoxExpectation& BoxExpectation::TextStartsWith(const std::string& start)
{
    return Require("text starting \"" + start + "\"",
                   [=](const BoxSeen& box) { return box.text.compare(0, start.size(), start) == 0; });
}

BoxExpectation& BoxExpectation::TextContains(const std::string& part)
{
    return Require("text containing \"" + part + "\"",
                   [=](const BoxSeen& box) { return box.text.find(part) != std::string::npos; });
}

BoxExpectation& BoxExpectation::Icon(BoxIcon icon)
{
    return Require(std::string("icon ") + IconName(icon), [=](const BoxSeen& box) { return box.icon == icon; });
}

BoxExpectation& BoxExpectation::Owned(bool owned)
{
    return Require(owned ? "owned" : "without owner", [=](const BoxSeen& box) { return box.owned == owned; });
}

BoxExpectation& BoxExpectation::Buttons(std::vector<int> ids)
{
    std::string what = "buttons";
    for (int id : ids)
        what += " " + ButtonName(id);
    std::sort(ids.begin(), ids.end());
    return Require(what, [=](const BoxSeen& box) {
        std::vector<int> have = box.buttons;
        std::sort(have.begin(), have.end());
        return have == ids;
    });
}

std::string BoxExpectation::Mismatch(const BoxSeen& box) const
{
    std::string reason;
    for (const Check& check : m_checks)
        if (!check.holds(box))
            reason += "not " + check.what + "; ";
    return reason;
}

std::string BoxExpectation::Describe() const
{
    std::string out = "box expected at " + std::string(m_file) + ":" + std::to_string(m_line) + ":";
    for (const Check& check : m_checks)
        out += " " + check.what;
    return out + (m_optional ? " (optional)" : "");
}

// --- telling the icons apart ---------------------------------------------------
// Under Wine an icon handle of another process cannot be read here, so the
// robot compares what the box shows on screen with the system's stock icons
// drawn by this process at the same size on the same background.

// What draw(memory, screen) paints into a bitmap of the screen's kind, top row
// first, each pixel 0x00RRGGBB; empty when it fails.
template <class Draw> static std::vector<DWORD> Pixels(int width, int height, Draw draw)
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
    BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB}};
    pixels.resize((size_t)width * height);
    if (!drawn || GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS) != height)
        pixels.clear();
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return pixels;
}

static std::vector<DWORD> ScreenPixels(const RECT& r)
{
    return Pixels(r.right - r.left, r.bottom - r.top, [&](HDC memory, HDC screen) {
        return BitBlt(memory, 0, 0, r.right - r.left, r.bottom - r.top, screen, r.left, r.top, SRCCOPY) != FALSE;
    });
}

// A stock icon as a static of style SS_ICON draws it: at the top left, at its own size.
static std::vector<DWORD> IconPixels(LPCSTR which, int width, int height, DWORD background)
{
    return Pixels(width, height, [&](HDC memory, HDC) {
        // The pixel is 0x00RRGGBB, a brush's colour 0x00BBGGRR.
        HBRUSH brush = CreateSolidBrush(RGB(GetBValue(background), GetGValue(background), GetRValue(background)));
        RECT all = {0, 0, width, height};
        FillRect(memory, &all, brush);
        DeleteObject(brush);
        return DrawIconEx(memory, 0, 0, LoadIconA(NULL, which), GetSystemMetrics(SM_CXICON),
                          GetSystemMetrics(SM_CYICON), 0, NULL, DI_NORMAL) != FALSE;
    });
}

static long Difference(const std::vector<DWORD>& a, const std::vector<DWORD>& b)
{
    long sum = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        sum += labs((long)GetRValue(a[i]) - GetRValue(b[i])) +
               labs((long)GetGValue(a[i]) - GetGValue(b[i])) +
               labs((long)GetBValue(a[i]) - GetBValue(b[i]));
    return sum;
}

static BoxIcon ClassifyIcon(HWND box)
{
    HWND iconStatic = NULL;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (IsIconStatic(child))
            iconStatic = child;
    if (iconStatic == NULL || !IsWindowVisible(iconStatic))
        return ICON_NONE;

    // In the order of BoxIcon, from ICON_ERROR on.
    static const LPCSTR stock[] = {IDI_HAND, IDI_EXCLAMATION, IDI_ASTERISK, IDI_QUESTION};

    SetForegroundWindow(box);
    BringWindowToTop(box);
    // The box may not have reached the screen yet, or a window of a test
    // running beside this one may cover it for a moment: try for up to three
    // seconds (a second was too short on a loaded machine).
    for (int attempt = 0; attempt < 60 && IsWindow(box); ++attempt)
    {
        RedrawWindow(iconStatic, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
        Sleep(50);
        RECT r;
        GetWindowRect(iconStatic, &r);
        std::vector<DWORD> shown = ScreenPixels(r);
        if (shown.empty())
            continue;
        // The corner of every stock icon is transparent: it shows the background.
        DWORD background = shown[0];
        if (std::all_of(shown.begin(), shown.end(), [&](DWORD c) { return c == background; }))
            continue;
        long best = -1;
        BoxIcon bestIcon = ICON_UNKNOWN;
        for (int i = 0; i < 4; ++i)
        {
            long difference = Difference(shown, IconPixels(stock[i], r.right - r.left, r.bottom - r.top, background));
            if (best < 0 || difference < best)
            {
                best = difference;
                bestIcon = BoxIcon(ICON_ERROR + i);
            }
        }
        // A close match only: on average less than 8 levels per colour channel.
        if (best >= 0 && best < (long)shown.size() * 3 * 8)
            return bestIcon;
    }
    return ICON_UNKNOWN;
}

// --- the robot ----------------------------------------------------------------

void BoxRobot::Attach(DWORD pid)
{
    Stop();
    m_pid = pid;
    m_handled.clear();
    m_stop = false;
    m_thread = std::thread([this] { Loop(); });
}

void BoxRobot::Stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

BoxExpectation& BoxRobot::Add(const char* file, int line)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_script.emplace_back();
    BoxExpectation& expectation = m_script.back();
    expectation.m_file = file;
    expectation.m_line = line;
    return expectation;
}

std::vector<BoxSeen> BoxRobot::Seen()
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_seen;
}

std::vector<BoxRobot::Problem> BoxRobot::TakeProblems()
{
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<Problem> problems;
    problems.swap(m_problems);
    for (size_t i = m_next; i < m_script.size(); ++i)
    {
        BoxExpectation& expectation = m_script[i];
        if (!expectation.m_optional)
            problems.push_back({"This message box never appeared: " + expectation.Describe() +
                                    "\n  boxes seen in this run:\n" + DescribeBoxes(m_seen),
                                expectation.m_file, expectation.m_line});
    }
    m_next = m_script.size();
    return problems;
}

// Only this thread touches m_handled; m_pid is set before it starts.
void BoxRobot::Loop()
{
    while (!m_stop)
    {
        // Forget boxes that are gone: a handle may come back for a new box.
        for (auto it = m_handled.begin(); it != m_handled.end();)
            it = IsWindow(*it) ? std::next(it) : m_handled.erase(it);
        for (HWND hwnd : TopLevelWindowsOf(m_pid, m_hiddenToo))
        {
            if (m_allowed && m_refused.count(hwnd) == 0 && !m_allowed(hwnd))
            {
                m_refused.insert(hwnd);
                std::lock_guard<std::mutex> hold(m_lock);
                m_problems.push_back({m_rule + ", but the program " + (IsWindowVisible(hwnd) ? "showed" : "made") +
                                          " the window \"" + WindowText(hwnd) +
                                          "\" (" + WindowClass(hwnd) + (IsMessageBox(hwnd) ? ", a message box" : "") +
                                          ")",
                                      NULL, 0});
            }
            if (!m_stop && m_handled.count(hwnd) == 0 && IsWindowVisible(hwnd) && IsMessageBox(hwnd))
                Handle(hwnd);
        }
        Sleep(POLL_MS);
    }
}

void BoxRobot::AllowOnly(std::function<bool(HWND)> allowed, const std::string& rule, bool hiddenToo)
{
    m_allowed = allowed;
    m_rule = rule;
    m_hiddenToo = hiddenToo;
}

BoxSeen BoxRobot::Read(HWND box)
{
    BoxSeen seen;
    seen.title = WindowText(box);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    {
        int id = GetDlgCtrlID(child) & 0xFFFF;
        std::string cls = WindowClass(child);
        if (cls == "Static" && id == 0xFFFF)
            seen.text = WindowText(child);
        else if (cls == "Button" && IsWindowVisible(child))
            seen.buttons.push_back(id);
    }
    HWND owner = GetWindow(box, GW_OWNER);
    seen.owned = owner != NULL;
    if (owner)
        seen.ownerTitle = WindowText(owner);
    seen.icon = m_answerAll ? ICON_UNKNOWN : ClassifyIcon(box);
    return seen;
}

static bool Has(const std::vector<int>& buttons, int id)
{
    return std::find(buttons.begin(), buttons.end(), id) != buttons.end();
}

static int DefaultAnswer(const std::vector<int>& buttons, bool expected)
{
    if (expected && Has(buttons, IDOK))
        return IDOK;
    if (expected && buttons.size() == 1)
        return buttons[0];
    // An unexpected question gets the careful answer.
    for (int careful : {IDCANCEL, IDNO, IDOK})
        if (Has(buttons, careful))
            return careful;
    return buttons.empty() ? IDCANCEL : buttons[0];
}

static bool Press(HWND box, int id)
{
    // A click on the button needs the input focus, which a bare X server does
    // not give for sure: tell the dialog directly, as the button would.
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, id));
    for (int wait = 0; wait < 200 && IsWindow(box); ++wait)
        Sleep(POLL_MS);
    return !IsWindow(box);
}

void BoxRobot::Handle(HWND box)
{
    BoxSeen seen = Read(box);
    if (!IsWindow(box))
        return; // closed while being read (the program's own timeout)
    m_handled.insert(box);

    std::string mismatch;
    int press = 0;
    std::unique_lock<std::mutex> hold(m_lock);
    // The next required expectation, or an optional one before it.
    for (size_t i = m_next; i < m_script.size() && !seen.expected; ++i)
    {
        std::string why = m_script[i].Mismatch(seen);
        if (why.empty())
        {
            m_next = i + 1;
            seen.expected = true;
            press = m_script[i].m_press;
            continue;
        }
        if (mismatch.empty())
            mismatch = "  it differs from the next " + m_script[i].Describe() + "\n    (" + why + ")\n";
        if (!m_script[i].m_optional)
            break;
    }
    if (m_answerAll && !seen.expected)
    {
        seen.expected = true;
        press = Has(seen.buttons, m_answerAll) ? m_answerAll.load() : 0;
    }
    if (press == 0)
        press = DefaultAnswer(seen.buttons, seen.expected);
    if (seen.expected && !Has(seen.buttons, press))
    {
        m_problems.push_back({"The script presses " + ButtonName(press) +
                                  ", which this box does not have:\n" + seen.Describe(),
                              NULL, 0});
        press = DefaultAnswer(seen.buttons, false);
    }
    seen.pressed = press;
    // Before the press: whoever waits for the box to end then finds it.
    m_seen.push_back(seen);
    hold.unlock();
    bool closed = Press(box, press);
    hold.lock();
    if (!seen.expected)
        m_problems.push_back({"Unexpected message box (answered " + ButtonName(press) +
                                  "):\n" + seen.Describe() +
                                  (mismatch.empty() ? "  no box was expected any more\n" : mismatch),
                              NULL, 0});
    if (!closed)
        m_problems.push_back({"A message box did not close when " + ButtonName(press) +
                                  " was pressed:\n" + seen.Describe(),
                              NULL, 0});
}
} // namespace fwe2e
