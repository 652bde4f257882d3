import QtQuick
import QtQuick.Layouts
import PelkinDrop.Views

// One selected file: icon, name, size, and a remove button on hover.
Item {
    id: root
    property url url
    signal remove()
    property bool isHovered: hover.hovered

    implicitHeight: row.implicitHeight + 12
    opacity: enabled ? 1 : 0.55

    HoverHandler { id: hover }

    Rectangle {
        anchors.fill: parent
        radius: 6
        color: Theme.secondaryAt(root.isHovered ? 0.06 * 2 : 0)
        Behavior on color { ColorAnimation { duration: 150; easing.type: Easing.InOutQuad } }
    }

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        anchors.topMargin: 6
        anchors.bottomMargin: 6
        spacing: 10
        Item {
            Layout.preferredWidth: 20
            Layout.preferredHeight: 16
            Symbol {
                objectName: "fileIcon"
                anchors.centerIn: parent
                name: ViewSupport.iconName(root.url)
                size: 14
                color: Theme.secondary
                replaceEffect: false
            }
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 1
            PText {
                objectName: "fileName"
                Layout.fillWidth: true
                text: ViewSupport.fileName(root.url)
                font.pixelSize: 12
                font.weight: Font.Medium
                elide: Text.ElideMiddle
                maximumLineCount: 1
            }
            PText {
                objectName: "fileSize"
                readonly property string size: ViewSupport.fileSize(root.url)
                visible: size !== ""
                text: size
                font.pixelSize: 10
                color: Theme.tertiary
            }
        }
        PButton {
            objectName: "removeButton"
            kind: "plain"
            symbol: "xmark.circle.fill"
            symbolSize: 14
            plainColor: Theme.secondary
            // Shown on hover, and to the keyboard while it has focus.
            opacity: root.isHovered || activeFocus ? 1 : 0
            Accessible.name: "削除: " + ViewSupport.fileName(root.url)
            Behavior on opacity { NumberAnimation { duration: 150; easing.type: Easing.InOutQuad } }
            onClicked: root.remove()
        }
    }
}
