#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>

// Where the character stands on its progress bar. All results are in Qt's
// coordinates: x grows to the right, y grows downwards.
namespace PelkinCharacter {

inline constexpr double dropZoneCharacterSize = 42.0;
inline constexpr double sharePanelCharacterSize = 48.0;
inline constexpr double bounceAmplitude = 6.0;
// Drop zone: the character's centre sits this far from the track's top edge
// (negative = above it) at the start and at the end of the run.
inline constexpr double dropZoneRestOffset = -10.0;
// Both views move the character over this time on each progress report.
inline constexpr int moveDurationMs = 180;

// Drop zone placement relative to the track (the values its layout uses).
struct TrackOffsets
{
    double leading = 0;       // character's left edge = track's left edge + leading
    double centerFromTop = 0; // character's centre y = track's top edge + centerFromTop
};

// leading = max(trackWidth - characterSize, 0) * progress;
// centerFromTop = -10 + 6 * sin(pi * progress): 10 above the track at both
// ends, 4 above it half-way (the arc dips toward the bar).
// A track narrower than the character keeps it at the start.
TrackOffsets dropZoneOffsets(double trackWidth, double progress,
                             double characterSize = dropZoneCharacterSize,
                             double amplitude = bounceAmplitude);

// Share panel placement by frame, in the progress container's coordinates.
// `bar` is the progress bar's frame; `restBottomY` is where the character's
// bottom edge rests (the bar's top edge minus 8 in y-down terms). Returns the
// character's top-left corner: x = bar.left + max(bar.width - character.width, 0)
// * progress; the character rises by up to 6 at mid-course (its top moves up).
// Returns nothing while the bar has no width (leave the character where it is).
std::optional<QPointF> sharePanelTopLeft(const QRectF &bar, const QSizeF &character,
                                         double restBottomY, double progress,
                                         double amplitude = bounceAmplitude);

// The share panel animates a move only when asked to and while its progress
// container can be seen.
inline bool sharePanelShouldAnimate(bool animated, double containerOpacity)
{
    return animated && containerOpacity > 0.0;
}

} // namespace PelkinCharacter
