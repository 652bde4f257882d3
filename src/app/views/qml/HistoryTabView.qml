pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic as B
import PelkinDrop.Views

// The upload history, newest first, with per-entry delete (swipe or context
// menu) and clear-all after a confirmation.
Item {
    id: root
    objectName: "historyTab"
    required property var model
    property bool showClearConfirmation: false
    readonly property var entries: model.history
    readonly property bool empty: entries.length === 0

    // The list's rows follow the entries by id, so a row keeps its state (a
    // copy confirmation) when others come and go, and removals animate.
    ListModel { id: rows }
    readonly property var entriesById: {
        var byId = {}
        for (var i = 0; i < entries.length; ++i)
            byId[entries[i].id] = entries[i]
        return byId
    }
    function syncRows() {
        var wanted = {}
        for (var i = 0; i < entries.length; ++i)
            wanted[entries[i].id] = true
        for (var r = rows.count - 1; r >= 0; --r) {
            if (!wanted[rows.get(r).entryId])
                rows.remove(r)
        }
        for (var k = 0; k < entries.length; ++k) {
            var id = entries[k].id
            var at = -1
            for (var j = k; j < rows.count; ++j) {
                if (rows.get(j).entryId === id) {
                    at = j
                    break
                }
            }
            if (at < 0)
                rows.insert(k, { entryId: id })
            else if (at !== k)
                rows.move(at, k, 1)
        }
    }
    onEntriesChanged: syncRows()
    Component.onCompleted: syncRows()

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 24
            Layout.topMargin: 20
            Layout.bottomMargin: 12
            ColumnLayout {
                spacing: 2
                PText {
                    objectName: "historyTitle"
                    Accessible.role: Accessible.Heading
                    Accessible.name: text
                    text: "アップロード履歴"
                    font.pixelSize: 20
                    font.weight: Font.Bold
                }
                PText {
                    objectName: "historyCount"
                    visible: !root.empty
                    text: root.entries.length + "件の記録"
                    font.pixelSize: 12
                    color: Theme.secondary
                }
            }
            Item { Layout.fillWidth: true }
            PButton {
                id: clearButton
                objectName: "clearHistoryButton"
                visible: !root.empty
                controlSize: "small"
                symbol: "trash"
                symbolSize: 12
                labelSpacing: 5
                text: "すべて削除"
                fontSize: 12
                fontWeight: Font.Medium
                tinted: true
                tint: Theme.red
                tintText: Theme.redText
                onClicked: root.showClearConfirmation = true
            }
        }
        Divider {
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 24
        }

        // Empty state
        Item {
            objectName: "historyEmptyState"
            visible: root.empty
            Layout.fillWidth: true
            Layout.fillHeight: true
            Column {
                anchors.centerIn: parent
                spacing: 16
                Symbol {
                    objectName: "historyEmptySymbol"
                    anchors.horizontalCenter: parent.horizontalCenter
                    name: "clock.badge.checkmark"
                    size: 44
                    color: Theme.quaternary
                    pulsing: true
                    pulseSpeed: 0.5
                }
                Column {
                    anchors.horizontalCenter: parent.horizontalCenter
                    spacing: 4
                    PText {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: "履歴はまだありません"
                        font.pixelSize: 15
                        font.weight: Font.DemiBold
                        color: Theme.secondary
                    }
                    PText {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: "アップロード完了後にここへ表示されます"
                        font.pixelSize: 13
                        color: Theme.tertiary
                    }
                }
            }
        }

        ListView {
            id: list
            objectName: "historyList"
            visible: !root.empty
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            topMargin: 8
            bottomMargin: 12
            model: rows
            boundsBehavior: Flickable.StopAtBounds
            B.ScrollBar.vertical: B.ScrollBar {}
            remove: Transition { NumberAnimation { property: "opacity"; to: 0; duration: 200 } }
            displaced: Transition { NumberAnimation { properties: "y"; duration: 250; easing.type: Easing.InOutQuad } }

            delegate: B.SwipeDelegate {
                id: swipe
                required property string entryId
                required property int index
                // The entry as it is now; a removed row keeps its last one while it fades.
                property var modelData: null
                Component.onCompleted: refresh()
                function refresh() {
                    var entry = root.entriesById[entryId]
                    if (entry !== undefined)
                        modelData = entry
                }
                Connections {
                    target: root
                    function onEntriesByIdChanged() { swipe.refresh() }
                }
                objectName: "historyRow"
                // Rows take Tab focus; Delete, the Menu key or Shift+F10 offer 削除.
                focusPolicy: Qt.TabFocus
                Accessible.role: Accessible.ListItem
                Accessible.name: modelData ? (modelData.success ? "成功" : "失敗") + " " + ViewSupport.historyDate(modelData.timestamp) + " " + modelData.fileNames.join(", ") : ""
                Accessible.description: modelData ? modelData.message : ""
                Keys.onDeletePressed: swipe.offerDelete()
                Keys.onMenuPressed: swipe.offerDelete()
                Keys.onPressed: function (event) {
                    if (event.key === Qt.Key_F10 && (event.modifiers & Qt.ShiftModifier)) {
                        swipe.offerDelete()
                        event.accepted = true
                    }
                }
                property bool menuFromKeyboard: false
                function offerDelete() {
                    menuFromKeyboard = true
                    rowMenu.popup(swipe, 40, swipe.height / 2)
                    rowMenu.currentIndex = 0
                    deleteItem.forceActiveFocus()
                }
                width: ListView.view.width
                padding: 0
                topPadding: 4
                bottomPadding: 4
                leftPadding: 20
                rightPadding: 20
                hoverEnabled: true
                background: null

                function removeEntry() {
                    root.model.removeHistoryItemById(entryId)
                }

                contentItem: HistoryRow {
                    item: swipe.modelData
                    focusShown: swipe.visualFocus
                }

                // Swiping the card to the left uncovers the delete action; letting go
                // past half the width deletes the entry.
                swipe.right: Rectangle {
                    objectName: "swipeDeleteAction"
                    width: swipe.width - 40
                    height: swipe.height - 8
                    x: 20
                    y: 4
                    radius: 10
                    color: Theme.red
                    // Tapping the uncovered action deletes, like the full swipe.
                    TapHandler { onTapped: swipe.removeEntry() }
                    Column {
                        anchors.right: parent.right
                        anchors.rightMargin: 24
                        anchors.verticalCenter: parent.verticalCenter
                        spacing: 2
                        Symbol { anchors.horizontalCenter: parent.horizontalCenter; name: "trash"; size: 14; color: "#ffffff"; replaceEffect: false }
                        PText { anchors.horizontalCenter: parent.horizontalCenter; text: "削除"; font.pixelSize: 11; font.weight: Font.Medium; color: "#ffffff" }
                    }
                }
                swipe.onCompleted: swipe.removeEntry()

                TapHandler {
                    acceptedButtons: Qt.RightButton
                    onTapped: function (eventPoint) {
                        rowMenu.popup()
                    }
                }
                B.Menu {
                    id: rowMenu
                    objectName: "historyRowMenu"
                    // Escape closes it; the focus goes back to its row.
                    onClosed: {
                        if (swipe.menuFromKeyboard && swipe.ListView.view)
                            swipe.forceActiveFocus(Qt.TabFocusReason)
                        swipe.menuFromKeyboard = false
                    }
                    topPadding: 5
                    bottomPadding: 5
                    background: Rectangle {
                        implicitWidth: 140
                        radius: 8
                        color: Theme.dark ? "#3a3a3e" : "#ffffff"
                        border.width: 1
                        border.color: Theme.dark ? Qt.rgba(1, 1, 1, 0.12) : Qt.rgba(0, 0, 0, 0.14)
                    }
                    B.MenuItem {
                        id: deleteItem
                        objectName: "historyDeleteMenuItem"
                        text: "削除"
                        leftPadding: 12
                        contentItem: Row {
                            spacing: 8
                            Symbol { anchors.verticalCenter: parent.verticalCenter; name: "trash"; size: 12; color: deleteItem.highlighted ? "#ffffff" : Theme.red; replaceEffect: false }
                            PText { text: deleteItem.text; font.pixelSize: 13; color: deleteItem.highlighted ? "#ffffff" : Theme.redText }
                        }
                        background: Rectangle {
                            implicitHeight: 26
                            x: 5
                            width: parent.width - 10
                            radius: 5
                            color: deleteItem.highlighted ? Theme.red : "transparent"
                        }
                        onTriggered: swipe.removeEntry()
                    }
                }
            }
        }
    }

    // Clear-all confirmation, under the button that asked for it.
    B.Popup {
        id: confirmation
        objectName: "clearConfirmation"
        visible: root.showClearConfirmation
        modal: true
        dim: false
        focus: true
        closePolicy: B.Popup.CloseOnEscape | B.Popup.CloseOnPressOutside
        // A destructive question starts on the safe answer; closing returns the
        // focus to the button that asked.
        onOpened: cancelButton.forceActiveFocus(Qt.TabFocusReason)
        onClosed: {
            root.showClearConfirmation = false
            if (clearButton.visible)
                clearButton.forceActiveFocus(Qt.TabFocusReason)
        }
        parent: clearButton
        x: clearButton.width - width
        y: clearButton.height + 6
        padding: 16
        enter: Transition { NumberAnimation { property: "opacity"; from: 0; to: 1; duration: 120 } }
        exit: Transition { NumberAnimation { property: "opacity"; from: 1; to: 0; duration: 100 } }
        background: Rectangle {
            radius: 12
            color: Theme.dark ? "#333337" : "#ffffff"
            border.width: 1
            border.color: Theme.dark ? Qt.rgba(1, 1, 1, 0.12) : Qt.rgba(0, 0, 0, 0.12)
            Image {
                z: -1
                x: -12
                y: -12 + 4
                width: parent.width + 24
                height: parent.height + 24
                source: confirmation.visible ? "image://pelkin/roundshadow/" + Math.round(parent.width) + "/" + Math.round(parent.height) + "/12/" + Qt.rgba(0, 0, 0, Theme.dark ? 0.5 : 0.18) + "/4" : ""
            }
        }
        // Built at once rather than deferred: onOpened focuses cancelButton in it.
        contentItem: ColumnLayout { // qmllint disable deferred-property-id
            spacing: 14
            PText {
                objectName: "clearConfirmationTitle"
                Layout.alignment: Qt.AlignHCenter
                text: "履歴をすべて削除しますか？"
                font.pixelSize: 13
                font.weight: Font.DemiBold
            }
            RowLayout {
                spacing: 8
                PButton {
                    objectName: "confirmClearButton"
                    Layout.fillWidth: true
                    kind: "prominent"
                    tint: Theme.red
                    text: "すべて削除"
                    fontWeight: Font.Medium
                    labelMinWidth: 96
                    onClicked: {
                        root.model.clearHistory()
                        confirmation.close()
                    }
                }
                PButton {
                    id: cancelButton
                    objectName: "cancelClearButton"
                    Layout.fillWidth: true
                    text: "キャンセル"
                    labelMinWidth: 96
                    onClicked: confirmation.close()
                }
            }
        }
    }
}
