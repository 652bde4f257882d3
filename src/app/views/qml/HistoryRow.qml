pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import PelkinDrop.Views

// One history entry as a card.
Rectangle {
    id: root
    property var item
    property bool isHovered: hover.hovered
    // Drawn by the list while the row has keyboard focus.
    property bool focusShown: false
    property bool showCopiedFeedback: false

    readonly property bool success: item ? item.success : false
    readonly property bool hasUrl: item ? (item.hasUrl && item.url !== "") : false

    implicitHeight: column.implicitHeight + 24
    radius: 10
    color: Theme.alpha(Theme.controlBackground, isHovered ? 1.0 : 0.6)
    border.width: 1
    border.color: Theme.hairline(Theme.secondaryBase, isHovered ? 0.12 * 2 : 0.06 * 2)
    Behavior on color { ColorAnimation { duration: 150; easing.type: Easing.InOutQuad } }
    Behavior on border.color { ColorAnimation { duration: 150; easing.type: Easing.InOutQuad } }

    HoverHandler { id: hover }

    FocusRing {
        objectName: "focusRing"
        cornerRadius: 10
        shown: root.focusShown
    }

    Component {
        id: resetTimer
        Timer {
            interval: 1500
            running: true
            onTriggered: {
                root.showCopiedFeedback = false
                destroy()
            }
        }
    }

    ColumnLayout {
        id: column
        x: 12
        y: 12
        width: parent.width - 24
        spacing: 8

        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            Rectangle {
                objectName: "historyStatusBadge"
                implicitWidth: badgeRow.implicitWidth + 16
                implicitHeight: badgeRow.implicitHeight + 6
                radius: height / 2
                color: Theme.alpha(root.success ? Theme.green : Theme.red, 0.1)
                Row {
                    id: badgeRow
                    anchors.centerIn: parent
                    spacing: 4
                    Symbol {
                        anchors.verticalCenter: parent.verticalCenter
                        name: root.success ? "checkmark.circle.fill" : "xmark.circle.fill"
                        size: 11
                        color: root.success ? Theme.green : Theme.red
                        replaceEffect: false
                    }
                    PText {
                        objectName: "historyStatusText"
                        anchors.verticalCenter: parent.verticalCenter
                        text: root.success ? "成功" : "失敗"
                        font.pixelSize: 11
                        font.weight: Font.DemiBold
                        color: root.success ? Theme.greenText : Theme.redText
                    }
                }
            }
            PText {
                objectName: "historyTimestamp"
                text: root.item ? ViewSupport.historyDate(root.item.timestamp) : ""
                font.pixelSize: 11
                color: Theme.tertiary
            }
            Item { Layout.fillWidth: true }
            PText {
                objectName: "historyFileCount"
                text: (root.item ? root.item.fileNames.length : 0) + "件"
                font.pixelSize: 11
                font.weight: Font.Medium
                color: Theme.secondary
            }
        }
        PText {
            objectName: "historyFileNames"
            Layout.fillWidth: true
            text: root.item ? root.item.fileNames.join(", ") : ""
            font.pixelSize: 12
            wrapMode: Text.Wrap
            maximumLineCount: 2
            elide: Text.ElideRight
        }
        PText {
            objectName: "historyMessage"
            visible: root.item ? root.item.message !== "" : false
            Layout.fillWidth: true
            text: root.item ? root.item.message : ""
            font.pixelSize: 11
            color: Theme.secondary
            elide: Text.ElideRight
        }
        RowLayout {
            objectName: "historyUrlRow"
            visible: root.hasUrl
            Layout.fillWidth: true
            spacing: 8
            Symbol { name: "link"; size: 10; color: Theme.secondary; replaceEffect: false }
            PText {
                objectName: "historyUrl"
                Layout.fillWidth: true
                text: root.hasUrl ? root.item.url : ""
                font.pixelSize: 11
                color: Theme.link
                elide: Text.ElideMiddle
            }
            PButton {
                objectName: "historyCopyButton"
                Accessible.name: (root.showCopiedFeedback ? "コピー済み" : "URLをコピー")
                Accessible.description: root.hasUrl ? root.item.url : ""
                controlSize: "mini"
                symbol: root.showCopiedFeedback ? "checkmark" : "doc.on.doc"
                symbolSize: 10
                labelSpacing: 4
                text: root.showCopiedFeedback ? "コピー済み" : "コピー"
                fontSize: 11
                fontWeight: Font.Medium
                tinted: root.showCopiedFeedback
                tint: Theme.green
                tintText: Theme.greenText
                onClicked: {
                    ViewSupport.copyText(root.item.url)
                    root.showCopiedFeedback = true
                    resetTimer.createObject(root)
                }
            }
        }
    }
}
