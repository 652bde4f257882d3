#include "DampedSpring.h"

#include <algorithm>
#include <cmath>
#include <numbers>

DampedSpring::DampedSpring(double response, double dampingFraction)
    : omega0(2.0 * std::numbers::pi / std::max(response, 0.01))
    , zeta(std::clamp(dampingFraction, 0.05, 1.0))
{}

double DampedSpring::value(double t) const
{
    const double decay = std::exp(-zeta * omega0 * t);
    if (zeta >= 1.0)
        return 1.0 - decay * (1.0 + omega0 * t);
    const double wd = omega0 * std::sqrt(1.0 - zeta * zeta);
    return 1.0 - decay * (std::cos(wd * t) + zeta * omega0 / wd * std::sin(wd * t));
}

double DampedSpring::velocity(double t) const
{
    const double decay = std::exp(-zeta * omega0 * t);
    if (zeta >= 1.0)
        return decay * omega0 * omega0 * t;
    const double wd = omega0 * std::sqrt(1.0 - zeta * zeta);
    return decay * (omega0 * omega0 / wd) * std::sin(wd * t);
}

double DampedSpring::settlingTime() const
{
    // The envelope e^(-zeta w0 t) bounds the error; critically damped needs a bit longer.
    const double t = std::log(1000.0) / (zeta * omega0);
    return zeta >= 1.0 ? t * 1.4 : t;
}

QVariantList DampedSpring::bezierSpline(int segments) const
{
    segments = std::clamp(segments, 2, maxSegments);
    const double total = settlingTime();
    QVariantList points;
    points.reserve(segments * 6);
    for (int i = 0; i < segments; ++i) {
        const double t0 = total * i / segments;
        const double t1 = total * (i + 1) / segments;
        const double h = t1 - t0;
        const double y0 = value(t0);
        const bool last = i == segments - 1;
        const double y1 = last ? 1.0 : value(t1);
        // Hermite segment written as a Bezier; slopes in normalised units.
        const double d0 = velocity(t0) * h / 3.0;
        const double d1 = last ? 0.0 : velocity(t1) * h / 3.0;
        const double x0 = t0 / total;
        const double x1 = t1 / total;
        const double third = (x1 - x0) / 3.0;
        points << x0 + third << y0 + d0 << x1 - third << y1 - d1 << (last ? 1.0 : x1) << y1;
    }
    return points;
}
