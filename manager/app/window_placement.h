// Where the card manager's window goes on the screen.
//
// A window manager draws its frame (the title bar above, borders around) outside the
// geometry a program gives its window. The placement keeps the whole frame inside the
// screen's free area, so that the title bar can always be reached: the window gets the
// size it wants, cut to what fits together with the frame, and the frame is centred in
// the free area (its top-left corner never leaves it, even when the frame alone is
// larger than the area).
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

// The frame assumed for a window that is not shown yet, whose real frame is unknown:
// a title bar and borders as most window managers draw them.
QMargins defaultFrameMargins();

// The window's own geometry (without its frame) for the free area `available`, the
// frame `margins` and the size the window wants.
QRect windowPlacement(const QRect &available, const QMargins &margins, const QSize &wanted);

// The frame of a shown window: its geometry `window` inside the frame's `framed`.
QMargins frameMargins(const QRect &window, const QRect &framed);

// Whether the frame of a window with geometry `window` and frame `margins` lies
// inside the free area.
bool frameInside(const QRect &available, const QMargins &margins, const QRect &window);
