// The example run's robot (a Windows console program, run under wine by
// scripts/run-example-inner.sh): starts fernwick.exe with the given arguments,
// and answers every message box the way an administrator installing the
// sample would (OK, Yes), after the shell has had the chance to take a
// screenshot of it. Ends when fernwick.exe ends, or kills it after the time
// limit, and exits with fernwick.exe's exit code.
//
//   example-robot.exe <seconds> <program> [arguments...]
//
// For every box it writes box_<n>.txt (title, text, buttons) into the current
// folder and waits up to 5 s for box_<n>.png to appear before answering.
// The program runs in its own folder (where its settings file lies). When the
// progress window offers the language selection, the robot checks the
// languages of FERNWICK_EXAMPLE_LANGS (for example "FR EN"; all offered ones
// when unset), clears the others and presses Proceed.
//
// For the benchmarks it reports, on its last line, the milliseconds from the
// start to the program's first visible window, the whole run's milliseconds
// and the program's peak working set. FERNWICK_EXAMPLE_NOSHOTS set: no wait
// for screenshots; FERNWICK_EXAMPLE_ANSWER_DELAY_MS: how long a box stays.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

static std::string Utf8(const wchar_t* text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, NULL, NULL);
    return out;
}

static std::string Text(HWND hwnd)
{
    wchar_t buffer[4096] = L"";
    DWORD_PTR got = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, (LPARAM)buffer, SMTO_ABORTIFHUNG, 3000, &got);
    return Utf8(buffer);
}

static std::string ClassOf(HWND hwnd)
{
    char name[64] = "";
    GetClassNameA(hwnd, name, sizeof(name));
    return name;
}

// A message box: a dialog whose only controls are statics (the text has the
// id 0xFFFF) and buttons with the standard ids.
static bool IsMessageBox(HWND hwnd)
{
    if (ClassOf(hwnd) != "#32770")
        return false;
    bool hasText = false;
    for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    {
        std::string cls = ClassOf(child);
        int id = GetDlgCtrlID(child) & 0xFFFF;
        if (cls == "Static")
            hasText = hasText || id == 0xFFFF;
        else if (cls != "Button" || (IsWindowVisible(child) && (id < IDOK || id > IDCONTINUE)))
            return false;
    }
    return hasText;
}

// The progress window's language choices and Proceed button.
static const int LANGUAGE_CHOICE_FIRST = 6000;
static const int PROCEED_BUTTON = 1106;
static const char* const LANGUAGE_CODES[] = {"DA", "DE", "EL", "EN", "ES", "FI", "FR", "IT",
                                             "NL", "PT", "SV", "LU", "EU", "CY", "CZ", "EE",
                                             "HU", "LV", "LT", "MT", "PL", "SI", "SK"};

// Answers the language selection once: true when Proceed was pressed.
static bool ChooseLanguages(HWND window)
{
    HWND proceed = GetDlgItem(window, PROCEED_BUTTON);
    if (proceed == NULL || !IsWindowVisible(proceed))
        return false;
    const char* wanted = getenv("FERNWICK_EXAMPLE_LANGS");
    bool offered = false;
    for (int i = 0; i < (int)(sizeof(LANGUAGE_CODES) / sizeof(LANGUAGE_CODES[0])); ++i)
    {
        HWND choice = GetDlgItem(window, LANGUAGE_CHOICE_FIRST + i);
        if (choice == NULL || !IsWindowVisible(choice) || !IsWindowEnabled(choice))
            continue;
        offered = true;
        bool want = wanted == NULL || wanted[0] == 0 || strstr(wanted, LANGUAGE_CODES[i]) != NULL;
        bool checked = SendMessageA(choice, BM_GETCHECK, 0, 0) == BST_CHECKED;
        if (want != checked)
            SendMessageA(choice, BM_CLICK, 0, 0);
    }
    if (!offered || !IsWindowEnabled(proceed))
        return false;
    printf("Language selection: %s, then Proceed\n", wanted && wanted[0] ? wanted : "every language offered");
    fflush(stdout);
    if (!getenv("FERNWICK_EXAMPLE_NOSHOTS"))
        Sleep(1000);   // time for a screenshot of the choice
    SendMessageA(proceed, BM_CLICK, 0, 0);
    return true;
}

struct Search
{
    DWORD pid;
    std::vector<HWND> boxes;
    std::vector<HWND> windows;
};

// What each visible window of the program was found to be: a box's controls
// are made before it shows, so a window is looked into once, not at every
// poll (each look asks the window system about every control, which slowed
// the program it watches). Windows gone from the desktop are forgotten.
static std::vector<std::pair<HWND, bool>> s_kinds;

static bool IsMessageBoxOnce(HWND hwnd)
{
    for (const auto& kind : s_kinds)
        if (kind.first == hwnd)
            return kind.second;
    bool box = IsMessageBox(hwnd);
    s_kinds.push_back({hwnd, box});
    return box;
}

static BOOL CALLBACK Collect(HWND hwnd, LPARAM param)
{
    Search* search = (Search*)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == search->pid && IsWindowVisible(hwnd))
        (IsMessageBoxOnce(hwnd) ? search->boxes : search->windows).push_back(hwnd);
    return TRUE;
}

static void ForgetGoneWindows(const Search& search)
{
    for (size_t i = s_kinds.size(); i-- > 0;)
    {
        bool seen = false;
        for (HWND hwnd : search.boxes)
            seen = seen || hwnd == s_kinds[i].first;
        for (HWND hwnd : search.windows)
            seen = seen || hwnd == s_kinds[i].first;
        if (!seen)
            s_kinds.erase(s_kinds.begin() + i);
    }
}

static void Answer(HWND box, int number)
{
    std::vector<int> buttons;
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    {
        int id = GetDlgCtrlID(child) & 0xFFFF;
        if (ClassOf(child) == "Static" && id == 0xFFFF)
            text = Text(child);
        else if (ClassOf(child) == "Button" && IsWindowVisible(child))
            buttons.push_back(id);
    }
    int press = buttons.empty() ? IDOK : buttons[0];
    for (int id : buttons)
        if (id == IDOK || id == IDYES)
            press = id;

    char name[32];
    sprintf(name, "box_%d.txt", number);
    if (FILE* file = fopen(name, "wb"))
    {
        fprintf(file, "Title: %s\r\nButtons:", Text(box).c_str());
        for (int id : buttons)
            fprintf(file, " %d", id);
        fprintf(file, "\r\nAnswered: %d\r\n\r\n%s\r\n", press, text.c_str());
        fclose(file);
    }
    printf("Message box %d \"%s\": %s\n", number, Text(box).c_str(), text.c_str());
    fflush(stdout);

    SetForegroundWindow(box);
    if (const char* delay = getenv("FERNWICK_EXAMPLE_ANSWER_DELAY_MS"))
        Sleep((DWORD)atoi(delay));
    sprintf(name, "box_%d.png", number);
    for (int wait = 0; wait < 100 && !getenv("FERNWICK_EXAMPLE_NOSHOTS") &&
                       GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES; ++wait)
        Sleep(50);

    HWND button = GetDlgItem(box, press);
    DWORD_PTR result = 0;
    if (button)
        SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 3000, &result);
    if (IsWindow(box))
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED), (LPARAM)button);
    for (int wait = 0; wait < 500 && IsWindow(box); ++wait)
        Sleep(10);
}

int main(int argc, char** argv)
{
    if (argc < 3)
    {
        fprintf(stderr, "usage: example-robot <seconds> <program> [arguments...]\n");
        return 2;
    }
    DWORD limitMs = (DWORD)atoi(argv[1]) * 1000;
    std::string commandLine = std::string("\"") + argv[2] + "\"";
    // A quiet run shows no window: nothing to time closely.
    bool quiet = false;
    for (int i = 3; i < argc; ++i)
    {
        std::string arg = argv[i];
        quiet = quiet || _stricmp(argv[i], "/q") == 0;
        bool quote = arg.empty() || arg.find_first_of(" \t") != std::string::npos;
        commandLine += quote ? " \"" + arg + "\"" : " " + arg;
    }

    // Under Wine the desktop is a process of its own, started when a program
    // first asks for it; on Windows it is there before any installer runs.
    // Started (and waited for) before the program, so that its start is not
    // timed into the program's first window.
    GetDesktopWindow();
    Search warm = {0, {}};
    EnumWindows(Collect, (LPARAM)&warm);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    std::string folder = argv[2];
    size_t slash = folder.find_last_of("\\/");
    folder = slash == std::string::npos ? "." : folder.substr(0, slash);
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, folder.c_str(), &startup, &process))
    {
        fprintf(stderr, "cannot start %s (%lu)\n", commandLine.c_str(), GetLastError());
        return 2;
    }
    CloseHandle(process.hThread);

    DWORD start = GetTickCount();
    LARGE_INTEGER frequency, started, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    double firstWindowMs = -1;
    SIZE_T peak = 0;
    int number = 0;
    std::vector<HWND> answered;
    bool languagesChosen = false;
    // Polled closely until the first window shows, for its time; then often
    // enough that the run's time is the program's and not the robot's wait.
    while (WaitForSingleObject(process.hProcess, firstWindowMs < 0 && !quiet ? 2 : 10) == WAIT_TIMEOUT)
    {
        PROCESS_MEMORY_COUNTERS memory = {sizeof(memory)};
        if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof(memory)) && memory.PeakWorkingSetSize > peak)
            peak = memory.PeakWorkingSetSize;
        if (GetTickCount() - start > limitMs)
        {
            printf("fernwick.exe did not end within %lu s: stopped.\n", limitMs / 1000);
            TerminateProcess(process.hProcess, 1460); // ERROR_TIMEOUT
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
        // A closed box's handle may come back for a new one.
        for (size_t i = answered.size(); i-- > 0;)
            if (!IsWindow(answered[i]))
                answered.erase(answered.begin() + i);
        Search search = {process.dwProcessId, {}};
        EnumWindows(Collect, (LPARAM)&search);
        ForgetGoneWindows(search);
        if (firstWindowMs < 0 && (!search.boxes.empty() || !search.windows.empty()))
        {
            QueryPerformanceCounter(&now);
            firstWindowMs = (now.QuadPart - started.QuadPart) * 1000.0 / frequency.QuadPart;
        }
        for (HWND window : search.windows)
            if (!languagesChosen && search.boxes.empty())
                languagesChosen = ChooseLanguages(window);
        for (HWND box : search.boxes)
        {
            bool seen = false;
            for (HWND old : answered)
                seen = seen || old == box;
            if (!seen)
            {
                answered.push_back(box);
                Answer(box, ++number);
            }
        }
    }
    QueryPerformanceCounter(&now);
    double totalMs = (now.QuadPart - started.QuadPart) * 1000.0 / frequency.QuadPart;
    PROCESS_MEMORY_COUNTERS memory = {sizeof(memory)};
    if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof(memory)) && memory.PeakWorkingSetSize > peak)
        peak = memory.PeakWorkingSetSize;
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    printf("%s ended with exit code %ld\n", argv[2], (long)code);
    printf("figures: first-window-ms=%.0f total-ms=%.0f peak-working-set-kb=%lu\n", firstWindowMs, totalMs,
           (unsigned long)(peak / 1024));
    return (int)code;
}
