#include <gtest/gtest.h>

#include "CFontManager.h"
#include "WideAPI.h"

namespace
{
HFONT FontOf(HWND window)
{
    return (HFONT)SendMessageA(window, WM_GETFONT, 0, 0);
}

// A top-level window with a font of the given character set, standing in for
// a dialog whose template font is of that set.
struct FontWindow
{
    explicit FontWindow(BYTE charSet)
    {
        window = CreateWindowExA(0, "Static", "model", WS_POPUP, 0, 0, 100, 100, NULL, NULL, NULL, NULL);
        LOGFONTA log = {};
        log.lfHeight = -11;
        log.lfWeight = FW_NORMAL;
        log.lfCharSet = charSet;
        lstrcpynA(log.lfFaceName, "Tahoma", LF_FACESIZE);
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
// ones is seen in the window scenarios). The faces the manager looks for are
// not installed in a fresh Wine prefix; Wine's own Tahoma (with East European
// and Turkish letters) is added for this process, as a Windows system would
// have it.
class FontManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        saved = useWideApi;
        useWideApi = false;
        static int added = AddFontResourceExA("Z:\\usr\\share\\wine\\fonts\\tahoma.ttf", FR_PRIVATE, 0);
        ASSERT_GT(added, 0);
    }
    void TearDown() override { useWideApi = saved; }
    bool saved = true;
};
} // namespace

// Each set gets a candidate face or the window's font; each control the font
// of the current set or of its own mark, and nothing else for a mark out of
// the table.
TEST_F(FontManagerTest, SlotFontsAndTheirControls)
{
    FontWindow model(ANSI_CHARSET);
    CFontManager manager;
    manager.Attach(model.window);
    ASSERT_TRUE(manager.IsEnabled());
    // Slot 0 keeps the window's own font. Wine's Tahoma has East European
    // letters but no Greek ones, and no other candidate face is installed:
    // Greek falls back to the window's font too.
    EXPECT_EQ(model.font, manager.GetSlotFont(0));
    EXPECT_EQ(model.font, manager.GetSlotFont(1));
    EXPECT_FALSE(manager.OwnsSlotFont(1));
    ASSERT_TRUE(manager.OwnsSlotFont(2));
    EXPECT_STRCASEEQ("Tahoma", manager.GetChosenFace(238));

    HWND control = CreateWindowExA(0, "Button", "x", WS_CHILD, 0, 0, 10, 10, model.window, NULL, NULL, NULL);
    struct ControlRow { BYTE managerSet; LONG_PTR mark; int slot; };
    const ControlRow controls[] = {
        { 238, 0, 2 },
        { 238, CONTROL_CHARSET_WESTERN, 0 },  // a Western choice in an East European window
        { 0, 161, 1 },                        // a Greek choice in a Western window
        { 162, (LONG_PTR)&manager, 3 },       // a pointer is no mark
        { 161, 204, 1 },                      // nor a set the manager does not know
    };
    for (const ControlRow& row : controls)
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

TEST_F(FontManagerTest, WindowWithoutAFontLeavesHandlingAsItWas)
{
    HWND bare = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    SendMessageA(bare, WM_SETFONT, 0, FALSE);
    CFontManager manager;
    manager.Attach(bare);
    EXPECT_EQ(NULL, manager.GetSlotFont(0));
    EXPECT_FALSE(manager.ApplyFont(bare)) << "no font to set, quietly";
    DestroyWindow(bare);
}
