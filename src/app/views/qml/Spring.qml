import QtQuick
import PelkinDrop.Views

// A damped spring (response in seconds, damping fraction) run as an easing
// curve; use it wherever a NumberAnimation goes.
NumberAnimation {
    property real response: 0.3
    property real dampingFraction: 0.8
    duration: ViewSupport.springDuration(response, dampingFraction)
    easing.type: Easing.BezierSpline
    easing.bezierCurve: ViewSupport.springCurve(response, dampingFraction)
}
