import QtQuick
import QtQuick.Layouts

RowLayout {
    id: root
    property string title
    property string subtitle
    property alias checked: toggle.checked
    property alias toggle: toggle
    signal toggled(bool on)

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 2
        PText { text: root.title; font.pixelSize: 13; font.weight: Font.Medium }
        PText {
            objectName: "toggleSubtitle"
            Layout.fillWidth: true
            text: root.subtitle
            font.pixelSize: 11
            color: Theme.tertiary
            elide: Text.ElideRight
        }
    }
    PSwitch {
        id: toggle
        Accessible.name: root.title
        Accessible.description: root.subtitle
        onToggled: root.toggled(checked)
    }
}
