pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import PelkinDrop.Views

// The three destinations of the window; the highlight follows model.selectedTab.
// To the keyboard it is a tab list: Tab enters at the selected row, the arrow
// keys move the selection.
Rectangle {
    id: root
    objectName: "sidebar"
    required property var model
    color: Theme.sidebarBackground

    function step(delta) {
        var tabs = model.tabs
        for (var i = 0; i < tabs.length; ++i) {
            if (tabs[i].value === model.selectedTab) {
                var next = i + delta
                if (next >= 0 && next < tabs.length)
                    model.selectedTab = tabs[next].value
                return
            }
        }
    }

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
                visible: ViewSupport.hasCharacter
                Layout.preferredWidth: 28
                Layout.preferredHeight: 28
                source: ViewSupport.hasCharacter ? "image://pelkin/character" : ""
                sourceSize.width: 56
                sourceSize.height: 56
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

        FocusScope {
            objectName: "sidebarTabList"
            Layout.fillWidth: true
            implicitHeight: tabColumn.implicitHeight
            activeFocusOnTab: true
            Accessible.role: Accessible.PageTabList
            Accessible.name: "表示の切り替え"
            Keys.onUpPressed: root.step(-1)
            Keys.onDownPressed: root.step(1)
            ColumnLayout {
                id: tabColumn
                width: parent.width
                spacing: 2
                Repeater {
                    model: root.model.tabs
                    delegate: Rectangle {
                        id: row
                        required property var modelData
                        objectName: "sidebarRow_" + modelData.rawValue
                        readonly property bool selected: root.model.selectedTab === modelData.value
                        focus: selected
                        Accessible.role: Accessible.PageTab
                        Accessible.name: modelData.label
                        Accessible.selectable: true
                        Accessible.selected: selected
                        Accessible.focusable: true
                        Accessible.focused: activeFocus
                        Accessible.onPressAction: root.model.selectedTab = row.modelData.value
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
                        FocusRing {
                            objectName: "focusRing"
                            anchors.margins: -2
                            cornerRadius: 7
                            shown: row.activeFocus
                        }
                    }
                }
            }
        }
        Item { Layout.fillHeight: true }
    }
}
