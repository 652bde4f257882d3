#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

// Where the drop zone goes relative to its anchor (the tray icon, or a small
// rectangle in the top-right corner of the screen when the tray reports no
// geometry). Qt's coordinates: y grows downwards, rectangles are in logical
// pixels and their right/bottom edges are exclusive (x + width).
namespace DropZonePlacement {

// Overlap of the zone's top edge with the anchor's bottom edge.
inline constexpr int anchorOverlap = 4;
inline constexpr int sideMargin = 12;
inline constexpr int bottomMargin = 6;
// The zone's bottom edge never rises above this far below the anchor's bottom.
inline constexpr int topLimitBelowAnchor = 2;
// Side of the fallback anchor square.
inline constexpr int fallbackAnchorSize = 24;

// Top-left corner of a zone of `size` centred under `anchor`, kept inside
// `available` (the available area of the anchor's screen) when there is one.
// Each axis applies its far bound first and then its near bound, so when both
// cannot hold (a zone wider than the screen) the left margin and the bottom
// margin win.
QPoint origin(const QRect &anchor, QSize size, const std::optional<QRect> &available);

// The anchor used when the tray icon's geometry is unknown: a small square in
// the top-right corner of `available`.
QRect fallbackAnchor(const QRect &available);

} // namespace DropZonePlacement
