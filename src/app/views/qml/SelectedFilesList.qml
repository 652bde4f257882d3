pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts

// The selected files under the drop area: at most eight rows and a line
// counting the rest, with a clear-all button.
Item {
    id: root
    required property var model
    required property bool uploading
    readonly property var urls: model.selectedURLs
    readonly property int count: urls.length
    readonly property bool shown: root.count > 0
    readonly property real topSpace: root.uploading ? 10 : 16
    Layout.preferredHeight: shown ? listColumn.implicitHeight + topSpace : 0
    Behavior on Layout.preferredHeight { Spring { response: 0.35; dampingFraction: 0.8 } }
    visible: Layout.preferredHeight > 0.5 || shown
    opacity: shown ? 1 : 0
    Behavior on opacity { NumberAnimation { duration: 200 } }
    clip: true

    ColumnLayout {
        id: listColumn
        width: parent.width
        y: root.topSpace - (root.shown ? 0 : 12)
        Behavior on y { Spring { response: 0.35; dampingFraction: 0.8 } }
        spacing: 0
        RowLayout {
            Layout.fillWidth: true
            Layout.bottomMargin: 8
            PText {
                text: "選択中のファイル"
                font.pixelSize: 12
                font.weight: Font.DemiBold
                color: Theme.secondary
            }
            Item { Layout.fillWidth: true }
            PButton {
                objectName: "clearAllFilesButton"
                kind: "plain"
                text: "すべて削除"
                fontSize: 11
                fontWeight: Font.Medium
                plainColor: Theme.redText
                enabled: !root.uploading
                onClicked: root.model.clearSelectedFiles()
            }
        }
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: rows.implicitHeight
            radius: 10
            color: Theme.controlBackground
            border.width: 1
            border.color: Theme.hairline(Theme.secondaryBase, 0.1)
            clip: true
            ColumnLayout {
                id: rows
                width: parent.width
                spacing: 2
                Repeater {
                    model: root.urls.slice(0, 8)
                    delegate: FileRowView {
                        required property var modelData
                        required property int index
                        objectName: "fileRow"
                        Layout.fillWidth: true
                        url: modelData
                        enabled: !root.uploading
                        onRemove: root.model.removeSelectedFile(url)
                    }
                }
                Item {
                    objectName: "moreFilesRow"
                    visible: root.count > 8
                    Layout.fillWidth: true
                    implicitHeight: moreText.implicitHeight + 12
                    PText {
                        id: moreText
                        objectName: "moreFilesText"
                        x: 12
                        anchors.verticalCenter: parent.verticalCenter
                        text: "他 " + (root.count - 8) + "件"
                        font.pixelSize: 12
                        color: Theme.secondary
                    }
                }
            }
        }
    }
}
