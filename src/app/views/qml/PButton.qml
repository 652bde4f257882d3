import QtQuick
import QtQuick.Controls.Basic as B

// Push button drawn to our measures: "bordered", "prominent" (filled) or
// "plain"; control sizes "large", "regular", "small", "mini"; optional tint.
B.AbstractButton {
    id: control
    property string kind: "bordered"
    property string controlSize: "regular"
    property color tint: Theme.accent
    // Label colour of a tinted button; a darker shade of the tint reads better.
    property color tintText: tint
    property bool tinted: false
    property color plainColor: Theme.primary
    property string symbol: ""
    property real symbolSize: 12
    property real fontSize: 13
    property int fontWeight: Font.Normal
    property real labelMinWidth: 0
    property real labelVerticalPadding: 0
    property real labelSpacing: 6

    hoverEnabled: true
    focusPolicy: Qt.TabFocus
    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.onPressAction: if (enabled) control.clicked()
    // Return and Enter press the focused button, as Space does.
    Keys.onReturnPressed: if (enabled) control.clicked()
    Keys.onEnterPressed: if (enabled) control.clicked()

    // A confirmation tint (コピー済み) comes in over 0.2 s and leaves over 0.3 s.
    // Called with the Behavior's new target so that the duration is worked out
    // when the change starts, once `tinted` is current.
    function _tintMs(target: color): int { return tinted ? 200 : 300 }
    readonly property color _fill: kind === "prominent" ? tint : tinted ? Theme.alpha(tint, Theme.dark ? 0.24 : 0.14) : Theme.dark ? Qt.rgba(1, 1, 1, 0.11) : "#ffffff"
    readonly property color _foreground: kind === "prominent" ? "#ffffff" : kind === "plain" ? plainColor : tinted ? tintText : Theme.primary
    // What is drawn: the colours above, changing smoothly (ids here, outside
    // the deferred contentItem and background).
    property color _shownFill: _fill
    property color _shownForeground: _foreground
    Behavior on _shownFill {
        id: fillTint
        ColorAnimation { duration: control._tintMs(fillTint.targetValue); easing.type: Easing.InOutQuad }
    }
    Behavior on _shownForeground {
        id: textTint
        ColorAnimation { duration: control._tintMs(textTint.targetValue); easing.type: Easing.InOutQuad }
    }

    horizontalPadding: kind === "plain" ? 0 : controlSize === "large" ? 14 : controlSize === "regular" ? 11 : controlSize === "small" ? 8 : 6
    verticalPadding: kind === "plain" ? 0 : controlSize === "large" ? 6 : controlSize === "regular" ? 4 : controlSize === "small" ? 3 : 2
    opacity: enabled ? 1 : 0.42

    contentItem: Item {
        // Sized by its label row, children[0] (an id here would stop the deferral).
        implicitWidth: Math.max(control.labelMinWidth, children[0].implicitWidth)
        implicitHeight: children[0].implicitHeight + 2 * control.labelVerticalPadding
        Row {
            anchors.centerIn: parent
            spacing: control.labelSpacing
            Symbol {
                objectName: "buttonSymbol"
                visible: control.symbol !== ""
                name: control.symbol
                size: control.symbolSize
                color: control._shownForeground
                anchors.verticalCenter: parent.verticalCenter
            }
            PText {
                visible: control.text !== ""
                text: control.text
                color: control._shownForeground
                font.pixelSize: control.fontSize
                font.weight: control.fontWeight
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }

    background: Rectangle {
        visible: control.kind !== "plain"
        implicitHeight: control.controlSize === "large" ? 30 : control.controlSize === "regular" ? 24 : control.controlSize === "small" ? 22 : 18
        radius: control.controlSize === "large" ? 8 : control.controlSize === "mini" ? 5 : 6
        color: control._shownFill
        border.width: control.kind === "bordered" && !control.tinted ? 1 : 0
        border.color: Theme.dark ? Qt.rgba(1, 1, 1, 0.08) : Qt.rgba(0, 0, 0, 0.13)
        Rectangle {
            // Press and hover feedback over any fill.
            anchors.fill: parent
            radius: parent.radius
            color: control.pressed ? Qt.rgba(0, 0, 0, 0.14) : control.hovered ? (Theme.dark ? Qt.rgba(1, 1, 1, 0.06) : Qt.rgba(0, 0, 0, 0.04)) : "transparent"
        }
    }

    FocusRing {
        objectName: "focusRing"
        cornerRadius: control.kind === "plain" ? 4 : control.controlSize === "large" ? 8 : control.controlSize === "mini" ? 5 : 6
        shown: control.visualFocus
    }
}
