#include "CharacterTrack.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace PelkinCharacter {

namespace {

// Progress arrives from the network layer; keep NaN from travelling into the
// geometry.
double clampedProgress(double progress)
{
    if (std::isnan(progress))
        return 0.0;
    return std::clamp(progress, 0.0, 1.0);
}

// sin(pi) is about 1.2e-16, not 0: snap the ends so the rest position is exact.
double arc(double progress)
{
    if (progress <= 0.0 || progress >= 1.0)
        return 0.0;
    return std::sin(std::numbers::pi * progress);
}

} // namespace

TrackOffsets dropZoneOffsets(double trackWidth, double progress, double characterSize,
                             double amplitude)
{
    const double p = clampedProgress(progress);
    double available = trackWidth - characterSize;
    if (!(available > 0))
        available = 0;
    return {available * p, dropZoneRestOffset + arc(p) * amplitude};
}

std::optional<QPointF> sharePanelTopLeft(const QRectF &bar, const QSizeF &character,
                                         double restBottomY, double progress, double amplitude)
{
    if (!(bar.width() > 0))
        return std::nullopt;
    const double p = clampedProgress(progress);
    double available = bar.width() - character.width();
    if (!(available > 0))
        available = 0;
    const double bottom = restBottomY - arc(p) * amplitude;
    return QPointF(bar.left() + available * p, bottom - character.height());
}

} // namespace PelkinCharacter
