import QtQuick
import QtQuick.Controls.Basic as B

B.Switch {
    id: control
    padding: 0
    spacing: 0
    text: ""
    contentItem: null
    implicitWidth: 38
    implicitHeight: 22
    focusPolicy: Qt.TabFocus
    // A toggle button to assistive technology: the nearest thing to a switch.
    Accessible.role: Accessible.Button
    Accessible.checkable: true
    Accessible.checked: checked
    Accessible.onPressAction: control.toggleByUser()
    Accessible.onToggleAction: control.toggleByUser()
    Keys.onReturnPressed: control.toggleByUser()
    Keys.onEnterPressed: control.toggleByUser()
    function toggleByUser() {
        if (!enabled)
            return
        toggle()
        toggled()
    }
    indicator: Rectangle {
        x: 0
        y: (control.height - height) / 2
        implicitWidth: 38
        implicitHeight: 22
        radius: 11
        color: control.checked ? Theme.accent : (Theme.dark ? Qt.rgba(1, 1, 1, 0.18) : Qt.rgba(0, 0, 0, 0.14))
        Behavior on color { ColorAnimation { duration: 150 } }
        Rectangle {
            width: 18
            height: 18
            radius: 9
            y: 2
            x: control.checked ? parent.width - width - 2 : 2
            color: "#ffffff"
            border.width: 1
            border.color: Qt.rgba(0, 0, 0, 0.08)
            Behavior on x { Spring { response: 0.3; dampingFraction: 0.8 } }
        }
        FocusRing {
            objectName: "focusRing"
            cornerRadius: 11
            shown: control.visualFocus
        }
    }
    opacity: enabled ? 1 : 0.45
}
