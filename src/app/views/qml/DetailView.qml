pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic as B
import PelkinDrop.Views

// Shows the selected tab, created anew on every change; the outgoing tab
// fades out while the incoming one fades in.
Rectangle {
    id: root
    objectName: "detail"
    required property var model
    color: Theme.windowBackground

    readonly property int tab: model.selectedTab

    Component { id: homeTab; HomeTabView { model: root.model } }
    Component { id: historyTab; HistoryTabView { model: root.model } }
    Component { id: settingsTab; SettingsTabView { model: root.model } }

    function componentFor(t) {
        // The Qt 6.4 linter does not see the enumerations of a foreign namespace; the engine does.
        return t === MainTab.History ? historyTab : t === MainTab.Settings ? settingsTab : homeTab // qmllint disable unqualified
    }

    B.StackView {
        id: stack
        objectName: "detailStack"
        anchors.fill: parent
        initialItem: root.componentFor(root.tab)
        replaceEnter: Transition { NumberAnimation { property: "opacity"; from: 0; to: 1; duration: 200; easing.type: Easing.InOutQuad } }
        replaceExit: Transition { NumberAnimation { property: "opacity"; from: 1; to: 0; duration: 200; easing.type: Easing.InOutQuad } }
    }

    onTabChanged: stack.replace(null, componentFor(tab))
}
