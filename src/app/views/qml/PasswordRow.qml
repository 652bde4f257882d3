import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic as B
import PelkinDrop.Views

// Masked field on a rounded card with a lock symbol. Every edit keeps only
// the first `limit` characters and reports them through edited().
Rectangle {
    id: root
    property string value
    property string placeholder
    property int limit: 100
    property alias field: input
    // Name for assistive technology; the placeholder when empty.
    property string accessibleName: placeholder
    signal edited(string text)
    signal accepted()

    // Qt 6.4 hands a TextField's clear text to accessibility clients, so the row
    // stands in for it with bullets. Qt Quick 6.4 also loses a password item's
    // name on its way to AT-SPI; the description carries it there.
    readonly property string text: "\u25CF".repeat(input.length)
    Accessible.role: Accessible.EditableText
    Accessible.passwordEdit: true
    Accessible.description: accessibleName
    Accessible.name: accessibleName
    Accessible.focusable: true
    Accessible.focused: input.activeFocus

    implicitHeight: row.implicitHeight + 16
    radius: 8
    color: Theme.controlBackground
    border.width: 1
    border.color: input.activeFocus ? Theme.alpha(Theme.accent, 0.6) : Theme.hairline(Theme.secondaryBase, 0.15 * 2)

    FocusRing {
        objectName: "focusRing"
        cornerRadius: 8
        shown: input.activeFocus
    }
    opacity: enabled ? 1 : 0.5

    onValueChanged: if (input.text !== value) input.text = value
    Component.onCompleted: input.text = value

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        anchors.topMargin: 8
        anchors.bottomMargin: 8
        spacing: 8
        Item {
            Layout.preferredWidth: 16
            Layout.preferredHeight: 16
            Symbol { anchors.centerIn: parent; name: "lock.fill"; size: 12; color: Theme.secondary }
        }
        B.TextField {
            id: input
            objectName: "passwordInput"
            Layout.fillWidth: true
            echoMode: TextInput.Password
            Accessible.ignored: true
            onAccepted: root.accepted()
            placeholderText: root.placeholder
            placeholderTextColor: Theme.tertiary
            color: Theme.primary
            selectionColor: Theme.alpha(Theme.accent, 0.35)
            selectedTextColor: Theme.primary
            font.family: Theme.fontFamily
            font.pixelSize: 13
            padding: 0
            leftPadding: 0
            rightPadding: 0
            background: null
            selectByMouse: true
            onTextEdited: {
                var limited = ViewSupport.firstCharacters(text, root.limit)
                if (limited !== text) {
                    var pos = Math.min(cursorPosition, limited.length)
                    text = limited
                    cursorPosition = pos
                }
                root.edited(limited)
            }
        }
    }
}
