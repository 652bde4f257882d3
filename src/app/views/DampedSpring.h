#pragma once

#include <QVariantList>

// A critically- or under-damped spring described the way designers describe it:
// `response` is the period of the undamped oscillation in seconds, and
// `dampingFraction` is the damping ratio (1 = no overshoot). QML animations run
// it as a cubic Bezier spline easing over settlingTime() seconds, so every
// spring in the views is the same NumberAnimation with a different curve.
class DampedSpring
{
public:
    DampedSpring(double response, double dampingFraction);

    // Progress from 0 to 1 at time t (seconds), overshoot included.
    double value(double t) const;
    // d value / dt.
    double velocity(double t) const;
    // Time after which the motion stays within 0.1 % of the target.
    double settlingTime() const;
    // Points for QEasingCurve::BezierSpline: c1x, c1y, c2x, c2y, x, y per segment,
    // x in normalised time; the last point is (1, 1). At most 10 segments:
    // QEasingCurve in Qt 6.4 corrupts the heap when it copies a longer spline.
    static constexpr int maxSegments = 10;
    QVariantList bezierSpline(int segments = 8) const;

private:
    double omega0;
    double zeta;
};
