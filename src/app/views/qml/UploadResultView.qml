pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic as B
import PelkinDrop.Views

// The outcome of a Home-tab upload. Enters in two stages: the badge springs
// in, then texts and controls fade in while rising 8 points.
Item {
    id: root
    property var result
    signal dismiss()

    property bool showCheckmark: false
    property bool showContent: false
    property bool showCopiedFeedback: false
    property real contentProgress: 0

    readonly property bool success: result ? result.success : false
    readonly property var fileNames: result ? result.fileNames : []
    readonly property bool hasUrl: success && result && result.hasUrl && result.url !== ""

    // Announced as an alert when it appears; the first action takes the focus
    // so that the keyboard carries on from here.
    Accessible.role: Accessible.AlertMessage
    Accessible.name: (success ? "アップロード完了" : "アップロード失敗") + "。" + (result ? result.message : "") + (hasUrl ? " " + result.url : "")

    Component.onCompleted: {
        showCheckmark = true
        showContent = true
        contentEntrance.start()
        if (hasUrl)
            copyButton.forceActiveFocus()
        else if (!success)
            retryButton.forceActiveFocus()
        else
            newUploadButton.forceActiveFocus()
    }

    SequentialAnimation {
        id: contentEntrance
        PauseAnimation { duration: 200 }
        NumberAnimation { target: root; property: "contentProgress"; to: 1; duration: 400; easing.type: Easing.OutCubic }
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

    function copyUrl() {
        ViewSupport.copyText(result.url)
        showCopiedFeedback = true
        resetTimer.createObject(root)
    }

    Flickable {
        id: scroll
        anchors.fill: parent
        contentWidth: width
        contentHeight: Math.max(height, column.implicitHeight + 40)
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        B.ScrollBar.vertical: B.ScrollBar { policy: scroll.contentHeight > scroll.height ? B.ScrollBar.AsNeeded : B.ScrollBar.AlwaysOff }

        Item {
            width: scroll.width
            height: scroll.contentHeight

            ColumnLayout {
                id: column
                anchors.centerIn: parent
                width: Math.min(parent.width - 80, 520)
                spacing: 24

                // Badge
                Item {
                    Layout.alignment: Qt.AlignHCenter
                    implicitWidth: 88
                    implicitHeight: 88
                    Rectangle {
                        objectName: "resultBadge"
                        anchors.fill: parent
                        radius: 44
                        color: Theme.alpha(root.success ? Theme.green : Theme.red, 0.1)
                        scale: root.showCheckmark ? 1.0 : 0.5
                        opacity: root.showCheckmark ? 1 : 0
                        Behavior on scale { Spring { response: 0.5; dampingFraction: 0.7 } }
                        Behavior on opacity { Spring { response: 0.5; dampingFraction: 0.7 } }
                    }
                    Symbol {
                        objectName: "resultBadgeSymbol"
                        anchors.centerIn: parent
                        name: root.success ? "checkmark.circle.fill" : "xmark.circle.fill"
                        size: 48
                        color: root.success ? Theme.green : Theme.red
                        scale: root.showCheckmark ? 1.0 : 0.3
                        opacity: root.showCheckmark ? 1 : 0
                        Behavior on scale { Spring { response: 0.5; dampingFraction: 0.7 } }
                        Behavior on opacity { Spring { response: 0.5; dampingFraction: 0.7 } }
                    }
                }

                // Texts
                ColumnLayout {
                    Layout.alignment: Qt.AlignHCenter
                    Layout.fillWidth: true
                    spacing: 8
                    opacity: root.contentProgress
                    transform: Translate { y: 8 * (1 - root.contentProgress) }
                    PText {
                        objectName: "resultTitle"
                        Accessible.role: Accessible.Heading
                        Accessible.name: text
                        Layout.alignment: Qt.AlignHCenter
                        text: root.success ? "アップロード完了" : "アップロード失敗"
                        font.pixelSize: 22
                        font.weight: Font.Bold
                    }
                    PText {
                        objectName: "resultMessage"
                        Layout.alignment: Qt.AlignHCenter
                        Layout.fillWidth: true
                        text: root.result ? root.result.message : ""
                        font.pixelSize: 14
                        color: Theme.secondary
                        horizontalAlignment: Text.AlignHCenter
                        wrapMode: Text.Wrap
                        maximumLineCount: 3
                        elide: Text.ElideRight
                    }
                }

                // File names
                Rectangle {
                    id: filesBox
                    objectName: "resultFiles"
                    visible: root.fileNames.length > 0
                    Layout.alignment: Qt.AlignHCenter
                    readonly property real maxNameWidth: Math.max(40, column.width - 40 - 16)
                    implicitWidth: Math.min(column.width, filesColumn.implicitWidth + 40)
                    implicitHeight: filesColumn.implicitHeight + 20
                    radius: 10
                    color: Theme.alpha(Theme.controlBackground, 0.6)
                    opacity: root.contentProgress
                    transform: Translate { y: 8 * (1 - root.contentProgress) }
                    Column {
                        id: filesColumn
                        anchors.centerIn: parent
                        spacing: 4
                        Repeater {
                            model: root.fileNames.slice(0, 3)
                            delegate: Row {
                                id: fileRow
                                required property string modelData
                                objectName: "resultFileRow"
                                anchors.horizontalCenter: parent.horizontalCenter
                                spacing: 6
                                Symbol {
                                    anchors.verticalCenter: parent.verticalCenter
                                    name: "doc.fill"
                                    size: 10
                                    color: Theme.tertiary
                                    replaceEffect: false
                                }
                                PText {
                                    width: Math.min(implicitWidth, filesBox.maxNameWidth)
                                    text: fileRow.modelData
                                    font.pixelSize: 12
                                    color: Theme.secondary
                                    elide: Text.ElideMiddle
                                }
                            }
                        }
                        PText {
                            objectName: "resultMoreFiles"
                            visible: root.fileNames.length > 3
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: "他 " + (root.fileNames.length - 3) + "件"
                            font.pixelSize: 11
                            color: Theme.tertiary
                        }
                    }
                }

                // Share URL
                ColumnLayout {
                    objectName: "resultUrlSection"
                    visible: root.hasUrl
                    Layout.alignment: Qt.AlignHCenter
                    spacing: 10
                    opacity: root.contentProgress
                    transform: Translate { y: 8 * (1 - root.contentProgress) }
                    Rectangle {
                        Layout.alignment: Qt.AlignHCenter
                        implicitWidth: Math.min(380, urlRow.implicitWidth + 28, column.width)
                        implicitHeight: urlRow.implicitHeight + 20
                        radius: 8
                        color: Theme.controlBackground
                        border.width: 1
                        border.color: Theme.hairline(Theme.secondaryBase, 0.12 * 2)
                        RowLayout {
                            id: urlRow
                            anchors.fill: parent
                            anchors.leftMargin: 14
                            anchors.rightMargin: 14
                            spacing: 8
                            Symbol { name: "link"; size: 12; color: Theme.secondary; replaceEffect: false }
                            Item {
                                // Elided in the middle at rest; a click focuses the
                                // read-only field so the URL can be selected by hand.
                                Layout.fillWidth: true
                                implicitWidth: Math.min(urlText.implicitWidth, 320)
                                implicitHeight: urlText.implicitHeight
                                PText {
                                    id: urlText
                                    objectName: "resultUrl"
                                    anchors.fill: parent
                                    visible: !urlField.activeFocus
                                    text: root.hasUrl ? root.result.url : ""
                                    font.family: Theme.monoFamily
                                    font.pixelSize: 13
                                    color: Theme.link
                                    elide: Text.ElideMiddle
                                }
                                B.TextField {
                                    id: urlField
                                    Accessible.name: "共有URL"
                                    anchors.fill: parent
                                    opacity: activeFocus ? 1 : 0
                                    readOnly: true
                                    text: urlText.text
                                    font: urlText.font
                                    color: Theme.link
                                    selectionColor: Theme.alpha(Theme.accent, 0.3)
                                    selectedTextColor: Theme.link
                                    selectByMouse: true
                                    padding: 0
                                    background: null
                                }
                            }
                        }
                    }
                    PButton {
                        id: copyButton
                        objectName: "copyUrlButton"
                        Accessible.description: root.hasUrl ? root.result.url : ""
                        Layout.alignment: Qt.AlignHCenter
                        controlSize: "large"
                        symbol: root.showCopiedFeedback ? "checkmark" : "doc.on.doc"
                        symbolSize: 12
                        text: root.showCopiedFeedback ? "コピー済み" : "URLをコピー"
                        fontSize: 13
                        fontWeight: Font.Medium
                        labelMinWidth: 120
                        labelVerticalPadding: 2
                        tinted: root.showCopiedFeedback
                        tint: Theme.green
                        tintText: Theme.greenText
                        onClicked: root.copyUrl()
                    }
                }

                // Buttons
                RowLayout {
                    Layout.alignment: Qt.AlignHCenter
                    spacing: 12
                    opacity: root.contentProgress
                    transform: Translate { y: 8 * (1 - root.contentProgress) }
                    PButton {
                        id: retryButton
                        objectName: "retryButton"
                        visible: !root.success
                        kind: "prominent"
                        controlSize: "large"
                        text: "やり直す"
                        fontSize: 13
                        fontWeight: Font.DemiBold
                        labelMinWidth: 140
                        labelVerticalPadding: 2
                        onClicked: root.dismiss()
                    }
                    PButton {
                        id: newUploadButton
                        objectName: "newUploadButton"
                        kind: root.success ? "prominent" : "bordered"
                        controlSize: "large"
                        text: "新しいアップロード"
                        fontSize: 13
                        fontWeight: Font.Medium
                        labelMinWidth: 140
                        labelVerticalPadding: 2
                        onClicked: root.dismiss()
                    }
                }
            }
        }
    }
}
