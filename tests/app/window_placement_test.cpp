// The window's place on screens of several sizes and offsets: its frame, title bar
// included, stays inside the free area.
#include <gtest/gtest.h>

#include "qt_print.h"
#include "window_placement.h"

namespace
{

TEST(WindowPlacement, FrameAndTitleBarStayInsideTheFreeArea)
{
    const QSize wanted(900, 1200);
    const QMargins openbox(1, 20, 1, 5), thick(10, 40, 10, 10), none;
    struct Row {
        const char *what;
        QRect available;
        QMargins margins;
        QRect expected;
    };
    const Row rows[] = {
        {"a tall screen: the full size, centred with the frame",
         {0, 0, 1920, 1400},
         openbox,
         {510, 107, 900, 1200}},
        {"1280x800: cut to the height left by the frame",
         {0, 0, 1280, 800},
         openbox,
         {190, 20, 900, 775}},
        {"1920x1080 with a panel above", {0, 28, 1920, 1052}, openbox, {510, 48, 900, 1027}},
        {"a second screen to the right and lower",
         {1920, 200, 1366, 768},
         thick,
         {2153, 240, 900, 718}},
        {"a screen left of the primary one",
         {-1280, 0, 1280, 1024},
         openbox,
         {-1090, 20, 900, 999}},
        {"a narrow screen: the width cut too", {0, 0, 800, 600}, openbox, {1, 20, 798, 575}},
        {"an odd remainder rounds towards the top left",
         {0, 0, 905, 1230},
         openbox,
         {2, 22, 900, 1200}},
        {"no frame (no window manager)", {0, 0, 1280, 800}, none, {190, 0, 900, 800}},
        {"a frame larger than the area: the title bar still starts inside",
         {100, 100, 30, 30},
         thick,
         {110, 140, 10, 0}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const QRect placed = windowPlacement(row.available, row.margins, wanted);
        EXPECT_EQ(placed, row.expected);
        if (row.available.width() >= row.margins.left() + row.margins.right() &&
            row.available.height() >= row.margins.top() + row.margins.bottom()) {
            EXPECT_TRUE(frameInside(row.available, row.margins, placed));
        }
        // the title bar's top-left corner is on the screen
        EXPECT_TRUE(row.available.contains(placed.topLeft() -
                                           QPoint(row.margins.left(), row.margins.top())));
    }
}

TEST(WindowPlacement, FrameOfAShownWindowIsMeasuredOnEachSide)
{
    // as a window manager reports them: the window at 190,0 in a frame from 189,-20
    EXPECT_EQ(frameMargins({190, 0, 900, 800}, {189, -20, 902, 825}), QMargins(1, 20, 1, 5));
    EXPECT_EQ(frameMargins({190, 0, 900, 800}, {190, 0, 900, 800}), QMargins());
}

TEST(WindowPlacement, FrameInsideTellsAFrameThatSticksOut)
{
    const QRect screen(0, 0, 1280, 800);
    const QMargins frame(1, 20, 1, 5);
    EXPECT_TRUE(frameInside(screen, frame, {190, 20, 900, 775}));
    EXPECT_FALSE(frameInside(screen, frame, {190, 0, 900, 800})) << "title bar above the screen";
    EXPECT_FALSE(frameInside(screen, frame, {190, 20, 900, 776})) << "bottom border below it";
    EXPECT_FALSE(frameInside(screen, frame, {0, 20, 900, 775})) << "left border beside it";
}

TEST(WindowPlacement, DefaultFrameHasATitleBar)
{
    const QMargins frame = defaultFrameMargins();
    EXPECT_GE(frame.top(), 20);
    EXPECT_GE(frame.left(), 0);
    EXPECT_GE(frame.bottom(), 0);
}

} // namespace
