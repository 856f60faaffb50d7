#include "window_placement.h"

#include <QtGlobal>

QMargins defaultFrameMargins()
{
    return QMargins(8, 36, 8, 8);
}

QRect windowPlacement(const QRect &available, const QMargins &margins, const QSize &wanted)
{
    const int across = margins.left() + margins.right();
    const int down = margins.top() + margins.bottom();
    const QSize size(qBound(0, available.width() - across, wanted.width()),
                     qBound(0, available.height() - down, wanted.height()));
    const int left = available.left() + qMax(0, (available.width() - size.width() - across) / 2);
    const int top = available.top() + qMax(0, (available.height() - size.height() - down) / 2);
    return QRect(QPoint(left + margins.left(), top + margins.top()), size);
}

QMargins frameMargins(const QRect &window, const QRect &framed)
{
    return QMargins(window.left() - framed.left(), window.top() - framed.top(),
                    framed.right() - window.right(), framed.bottom() - window.bottom());
}

bool frameInside(const QRect &available, const QMargins &margins, const QRect &window)
{
    return available.contains(window.marginsAdded(margins));
}
