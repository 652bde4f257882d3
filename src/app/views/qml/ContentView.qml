pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic as B
import PelkinDrop.Views

// The main window's content: the sidebar and the selected tab side by side.
Rectangle {
    id: root
    objectName: "contentView"
    required property var model

    readonly property bool dark: model.theme === AppTheme.Dark || (model.theme === AppTheme.System && ViewSupport.systemDark)
    Binding { target: Theme; property: "dark"; value: root.dark }

    implicitWidth: 900
    implicitHeight: 640
    color: Theme.windowBackground

    // Ctrl+1/2/3 switch tabs from anywhere in the window.
    Repeater {
        model: root.model.tabs
        delegate: Item {
            id: entry
            required property var modelData
            required property int index
            Shortcut {
                sequence: "Ctrl+" + (entry.index + 1)
                context: Qt.WindowShortcut
                onActivated: root.model.selectedTab = entry.modelData.value
            }
        }
    }

    B.SplitView {
        id: split
        objectName: "splitView"
        anchors.fill: parent
        orientation: Qt.Horizontal

        handle: Rectangle {
            implicitWidth: 1
            color: Theme.dark ? Qt.rgba(0, 0, 0, 0.5) : Qt.rgba(0, 0, 0, 0.11)
            containmentMask: Item {
                x: -3
                width: 7
                height: split.height
            }
        }

        SidebarView {
            objectName: "sidebarView"
            model: root.model
            B.SplitView.minimumWidth: 180
            B.SplitView.preferredWidth: 200
            B.SplitView.maximumWidth: 260
        }
        DetailView {
            objectName: "detailView"
            model: root.model
            B.SplitView.fillWidth: true
            B.SplitView.minimumWidth: 400
        }
    }
}
