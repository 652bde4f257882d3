import QtQuick
import QtQuick.Layouts
import Pelkin.Model

// The three destinations of the window; the highlight follows model.selectedTab.
Rectangle {
    id: root
    objectName: "sidebar"
    required property var model
    color: Theme.sidebarBackground

    ColumnLayout {
        anchors.fill: parent
        anchors.topMargin: 14
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        spacing: 2

        RowLayout {
            objectName: "sidebarHeader"
            Layout.leftMargin: 8
            Layout.bottomMargin: 6
            spacing: 8
            Image {
                objectName: "sidebarCharacter"
                visible: viewSupport.hasCharacter
                Layout.preferredWidth: 28
                Layout.preferredHeight: 28
                source: viewSupport.hasCharacter ? "image://pelkin/character" : ""
                sourceSize: Qt.size(56, 56)
                fillMode: Image.PreserveAspectFit
                smooth: true
                mipmap: true
            }
            PText {
                text: "Pelkin Drop"
                font.pixelSize: 11
                font.weight: Font.DemiBold
                color: Theme.secondary
            }
        }

        Repeater {
            model: root.model.tabs
            delegate: Rectangle {
                id: row
                required property var modelData
                objectName: "sidebarRow_" + modelData.rawValue
                readonly property bool selected: root.model.selectedTab === modelData.value
                Layout.fillWidth: true
                implicitHeight: 32
                radius: 7
                color: selected ? Theme.alpha(Theme.accent, Theme.dark ? 0.28 : 0.16) : rowHover.hovered ? Theme.secondaryAt(0.12) : "transparent"
                Behavior on color { ColorAnimation { duration: 120 } }
                HoverHandler { id: rowHover }
                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 10
                    anchors.rightMargin: 10
                    spacing: 9
                    Symbol {
                        name: row.modelData.icon
                        size: 15
                        color: row.selected ? Theme.accent : Theme.secondary
                        replaceEffect: false
                    }
                    PText {
                        Layout.fillWidth: true
                        text: row.modelData.label
                        font.pixelSize: 13
                        font.weight: row.selected ? Font.Medium : Font.Normal
                        elide: Text.ElideRight
                    }
                }
                TapHandler { onTapped: root.model.selectedTab = row.modelData.value }
            }
        }
        Item { Layout.fillHeight: true }
    }
}
