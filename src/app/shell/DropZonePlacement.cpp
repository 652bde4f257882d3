#include "DropZonePlacement.h"

#include <algorithm>
#include <cmath>

namespace DropZonePlacement {

QPoint origin(const QRect &anchor, QSize size, const std::optional<QRect> &available)
{
    const int width = size.width();
    const int height = size.height();
    const int anchorBottom = anchor.y() + anchor.height();
    // Centred on the anchor's middle; half pixels round towards the left.
    int x = static_cast<int>(std::floor(anchor.x() + anchor.width() / 2.0 - width / 2.0));
    int y = anchorBottom - anchorOverlap;
    if (available) {
        const QRect &area = *available;
        const int areaRight = area.x() + area.width();
        const int areaBottom = area.y() + area.height();
        x = std::min(x, areaRight - width - sideMargin);
        x = std::max(x, area.x() + sideMargin);
        y = std::max(y, anchorBottom + topLimitBelowAnchor - height);
        y = std::min(y, areaBottom - bottomMargin - height);
    }
    return {x, y};
}

QRect fallbackAnchor(const QRect &available)
{
    return {available.x() + available.width() - fallbackAnchorSize, available.y(),
            fallbackAnchorSize, fallbackAnchorSize};
}

} // namespace DropZonePlacement
