import QtQuick

// The keyboard focus indicator: an accent outline 3 px outside the control,
// so it contrasts with the surface around the control in both themes.
Rectangle {
    property real cornerRadius: 6
    property bool shown: false
    anchors.fill: parent
    anchors.margins: -3
    radius: cornerRadius + 3
    color: "transparent"
    border.width: 2
    border.color: Theme.focusRing
    visible: shown
}
