import QtQuick
import QtQuick.Layouts

// A titled settings card.
ColumnLayout {
    id: root
    property string title
    property string icon
    default property alias content: card.data
    spacing: 0

    RowLayout {
        Layout.leftMargin: 24
        Layout.rightMargin: 24
        Layout.bottomMargin: 8
        spacing: 6
        Symbol { name: root.icon; size: 12; color: Theme.secondary; replaceEffect: false }
        PText { text: root.title; font.pixelSize: 12; font.weight: Font.DemiBold; color: Theme.secondary }
    }
    Rectangle {
        Layout.fillWidth: true
        Layout.leftMargin: 24
        Layout.rightMargin: 24
        Layout.bottomMargin: 20
        implicitHeight: card.implicitHeight + 32
        radius: 10
        color: Theme.alpha(Theme.controlBackground, 0.6)
        border.width: 1
        border.color: Theme.hairline(Theme.secondaryBase, 0.08 * 2)
        ColumnLayout {
            id: card
            x: 16
            y: 16
            width: parent.width - 32
        }
    }
}
