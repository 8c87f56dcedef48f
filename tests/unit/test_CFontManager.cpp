#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Assert.h"
#include "CFontManager.h"
#include "WideAPI.h"

namespace
{
std::vector<std::string> g_assertions;

void RecordAssertion(const char* condition, const char*, int)
{
    g_assertions.push_back(condition);
}

// The faces the manager looks for are not installed in a fresh Wine prefix;
// Wine's own Tahoma (with Greek, East European, Baltic and Turkish letters)
// is added for this process, as a Windows system would have it.
bool AddTahoma()
{
    static int added = AddFontResourceExA("Z:\\usr\\share\\wine\\fonts\\tahoma.ttf",
                                          FR_PRIVATE, 0);
    return added > 0;
}

HFONT FontOf(HWND window)
{
    return (HFONT)SendMessageA(window, WM_GETFONT, 0, 0);
}

// A top-level window with a font of the given character set, standing in for
// a dialog whose template font is of that set.
struct FontWindow
{
    explicit FontWindow(BYTE charSet, const char* face = "Tahoma")
    {
        window = CreateWindowExA(0, "Static", "model", WS_POPUP, 0, 0, 100, 100, NULL, NULL,
                                 NULL, NULL);
        LOGFONTA log = {};
        log.lfHeight = -11;
        log.lfWeight = FW_NORMAL;
        log.lfCharSet = charSet;
        lstrcpynA(log.lfFaceName, face, LF_FACESIZE);
        font = CreateFontIndirectA(&log);
        SendMessageA(window, WM_SETFONT, (WPARAM)font, FALSE);
    }
    ~FontWindow()
    {
        DestroyWindow(window);
        DeleteObject(font);
    }
    HWND window;
    HFONT font;
};

// Font handling is for the narrow interfaces (the switch-off under the wide
// ones is seen in the window scenarios): chooses them for a test.
class ApiMode
{
public:
    ApiMode() : m_saved(useWideApi)
    {
        useWideApi = false;
        AddTahoma();
    }
    ~ApiMode() { useWideApi = m_saved; }

private:
    bool m_saved;
};
} // namespace

TEST(FontManager, SlotsOfTheFiveCharacterSets)
{
    struct Row { BYTE charSet; int slot; };
    const Row rows[] = { { 0, 0 }, { 161, 1 }, { 238, 2 }, { 162, 3 }, { 186, 4 },
                         { 1, -1 }, { 204, -1 }, { 255, -1 } };
    for (const Row& row : rows)
        EXPECT_EQ(row.slot, CFontManager::SlotOfCharSet(row.charSet)) << (int)row.charSet;
}

TEST(FontManager, EachSetGetsACandidateFaceOrTheWindowFont)
{
    ApiMode narrow;
    ASSERT_TRUE(AddTahoma());
    FontWindow model(ANSI_CHARSET);
    CFontManager manager;
    manager.Attach(model.window);
    ASSERT_TRUE(manager.IsEnabled());
    EXPECT_EQ(model.font, manager.GetSlotFont(0)) << "slot 0 keeps the window's own font";
    EXPECT_FALSE(manager.OwnsSlotFont(0));

    // Wine's Tahoma has East European and Turkish letters but no Greek or
    // Baltic ones, and no other candidate face is installed: those two sets
    // fall back to the window's font.
    struct Row { int slot; BYTE charSet; bool own; };
    const Row rows[] = { { 1, 161, false }, { 2, 238, true }, { 3, 162, true }, { 4, 186, false } };
    for (const Row& row : rows)
    {
        ASSERT_NE((HFONT)NULL, manager.GetSlotFont(row.slot));
        EXPECT_EQ(row.own, manager.OwnsSlotFont(row.slot)) << "slot " << row.slot;
        if (!row.own)
        {
            EXPECT_EQ(model.font, manager.GetSlotFont(row.slot));
            EXPECT_EQ(NULL, manager.GetChosenFace(row.charSet));
            continue;
        }
        LOGFONTA log;
        ASSERT_NE(0, GetObjectA(manager.GetSlotFont(row.slot), sizeof(log), &log));
        EXPECT_EQ(row.charSet, log.lfCharSet);
        EXPECT_EQ(-11, log.lfHeight) << "the model's size";
        EXPECT_STRCASEEQ("Tahoma", log.lfFaceName);
        EXPECT_STRCASEEQ("Tahoma", manager.GetChosenFace(row.charSet));
    }
}

TEST(FontManager, GreekModelKeepsItsFontAndSearchesTheWesternSlot)
{
    ApiMode narrow;
    FontWindow model(GREEK_CHARSET);
    CFontManager manager;
    manager.Attach(model.window);
    ASSERT_TRUE(manager.IsEnabled());
    EXPECT_EQ(model.font, manager.GetSlotFont(1));
    EXPECT_FALSE(manager.OwnsSlotFont(1));
    EXPECT_TRUE(manager.OwnsSlotFont(0)) << "the Western slot is searched like the others";
    LOGFONTA western;
    ASSERT_NE(0, GetObjectA(manager.GetSlotFont(0), sizeof(western), &western));
    EXPECT_EQ(ANSI_CHARSET, western.lfCharSet);
}

TEST(FontManager, ApplyFontFollowsTheCurrentSetOrTheControlsOwnMark)
{
    ApiMode narrow;
    FontWindow model(ANSI_CHARSET);
    CFontManager manager;
    manager.Attach(model.window);
    ASSERT_TRUE(manager.IsEnabled());
    HWND control = CreateWindowExA(0, "Button", "x", WS_CHILD, 0, 0, 10, 10, model.window, NULL,
                                   NULL, NULL);

    struct Row { BYTE managerSet; LONG_PTR mark; int slot; };
    const Row rows[] = {
        { 0, 0, 0 },
        { 238, 0, 2 },
        { 238, CONTROL_CHARSET_WESTERN, 0 },  // a Western choice in an East European window
        { 0, 161, 1 },                        // a Greek choice in a Western window
        { 186, 162, 3 },
        { 162, (LONG_PTR)&manager, 3 },       // a pointer is no mark
        { 161, 204, 1 },                      // nor a set the manager does not know
    };
    for (const Row& row : rows)
    {
        manager.SetCharSet(row.managerSet);
        SetWindowLongPtrA(control, GWLP_USERDATA, row.mark);
        EXPECT_TRUE(manager.ApplyFont(control));
        EXPECT_EQ(manager.GetSlotFont(row.slot), FontOf(control))
            << "set " << (int)row.managerSet << " mark " << (long long)row.mark;
    }
    manager.SetCharSet(204);
    SetWindowLongPtrA(control, GWLP_USERDATA, 0);
    EXPECT_FALSE(manager.ApplyFont(control)) << "a set outside the five";
    DestroyWindow(control);
}

TEST(FontManager, AttachingTwiceIsAProgrammingError)
{
    ApiMode narrow;
    FontWindow model(ANSI_CHARSET);
    FontWindow other(ANSI_CHARSET);
    CFontManager manager;
    manager.Attach(model.window);
    g_assertions.clear();
    AssertionHandler previous = SetAssertionHandler(RecordAssertion);
    manager.Attach(other.window);
    SetAssertionHandler(previous);
    ASSERT_EQ(1u, g_assertions.size());
    EXPECT_EQ("m_hWnd == 0", g_assertions[0]);
    EXPECT_EQ(model.window, manager.GetWindow());
}

TEST(FontManager, WindowWithoutAFontLeavesHandlingAsItWas)
{
    ApiMode narrow;
    HWND bare = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    SendMessageA(bare, WM_SETFONT, 0, FALSE);
    CFontManager manager;
    manager.Attach(bare);
    EXPECT_EQ(NULL, manager.GetSlotFont(0));
    EXPECT_FALSE(manager.ApplyFont(bare)) << "no font to set, quietly";
    DestroyWindow(bare);
}
