import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic as B
import QtQuick.Shapes

// The upload form, and the result card laid over it once an upload has ended.
Item {
    id: home
    objectName: "homeTab"
    required property var model

    property bool isTargeted: false
    property bool dropAreaHovered: false
    readonly property bool uploading: model.isHomeUploading
    readonly property bool hasResult: model.hasHomeUploadResult
    readonly property var urls: model.selectedURLs
    readonly property int count: urls.length

    Item {
        id: form
        objectName: "uploadForm"
        anchors.fill: parent
        opacity: home.hasResult ? 0 : 1
        enabled: !home.hasResult
        Behavior on opacity { Spring { response: 0.45; dampingFraction: 0.85 } }

        B.ScrollView {
            id: scroll
            anchors.fill: parent
            contentWidth: availableWidth
            B.ScrollBar.vertical.policy: B.ScrollBar.AsNeeded

            ColumnLayout {
                width: scroll.availableWidth
                spacing: 0

                Item {
                    Layout.preferredHeight: home.uploading ? 20 : 28
                    Behavior on Layout.preferredHeight { Spring { response: 0.35; dampingFraction: 0.8 } }
                }
                // Header
                ColumnLayout {
                    Layout.alignment: Qt.AlignHCenter
                    spacing: 6
                    Symbol {
                        objectName: "homeHeaderSymbol"
                        Layout.alignment: Qt.AlignHCenter
                        name: "square.and.arrow.up.on.square"
                        size: 36
                        color: Theme.accent
                        pulsing: home.uploading
                    }
                    PText {
                        Layout.alignment: Qt.AlignHCenter
                        text: "ファイルをアップロード"
                        font.pixelSize: 22
                        font.weight: Font.Bold
                    }
                    PText {
                        Layout.alignment: Qt.AlignHCenter
                        text: "ファイルを選択するか、下のエリアへドラッグ&ドロップ"
                        font.pixelSize: 12
                        color: Theme.secondary
                    }
                }
                Item {
                    Layout.preferredHeight: home.uploading ? 16 : 24
                    Behavior on Layout.preferredHeight { Spring { response: 0.35; dampingFraction: 0.8 } }
                }

                // Drop area
                Item {
                    id: dropArea
                    objectName: "dropArea"
                    Layout.fillWidth: true
                    Layout.leftMargin: 32
                    Layout.rightMargin: 32
                    Layout.preferredHeight: home.uploading ? 120 : (home.count === 0 ? 180 : 130)
                    Behavior on Layout.preferredHeight { Spring { response: 0.35; dampingFraction: 0.8 } }

                    HoverHandler { onHoveredChanged: home.dropAreaHovered = hovered }

                    DropArea {
                        anchors.fill: parent
                        keys: ["text/uri-list"]
                        onEntered: function (drag) {
                            drag.accept(Qt.CopyAction)
                            home.isTargeted = true
                        }
                        onExited: home.isTargeted = false
                        onDropped: function (drop) {
                            home.isTargeted = false
                            home.model.appendFiles(viewSupport.fileUrls(drop.urls))
                            drop.accept(Qt.CopyAction)
                        }
                    }

                    // Accent glow while a drag is over the area.
                    Image {
                        x: -12
                        y: -12 + 4
                        width: parent.width + 24
                        height: parent.height + 24
                        opacity: home.isTargeted ? 1 : 0
                        visible: opacity > 0
                        source: visible ? "image://pelkin/roundshadow/" + Math.round(parent.width) + "/" + Math.round(parent.height) + "/16/" + Theme.alpha(Theme.accent, 0.18) + "/4" : ""
                        Behavior on opacity { NumberAnimation { duration: 200; easing.type: Easing.InOutQuad } }
                    }
                    Rectangle {
                        anchors.fill: parent
                        radius: 16
                        color: home.isTargeted ? Theme.alpha(Theme.accent, 0.08) : home.dropAreaHovered ? Theme.secondaryAt(0.04 * 2) : (Theme.dark ? Qt.rgba(1, 1, 1, 0.015) : Qt.rgba(1, 1, 1, 0.45))
                        Behavior on color { ColorAnimation { duration: 200 } }
                    }
                    Shape {
                        id: outline
                        objectName: "dropAreaOutline"
                        anchors.fill: parent
                        readonly property real lineWidth: home.isTargeted ? 2 : 1.5
                        readonly property real inset: lineWidth / 2
                        readonly property real r: 16 - inset
                        ShapePath {
                            strokeColor: home.isTargeted ? Theme.accent : Theme.secondaryAt(0.25 * 1.6)
                            strokeWidth: outline.lineWidth
                            strokeStyle: home.isTargeted ? ShapePath.SolidLine : ShapePath.DashLine
                            dashPattern: [8 / outline.lineWidth, 5 / outline.lineWidth]
                            fillColor: "transparent"
                            joinStyle: ShapePath.RoundJoin
                            startX: outline.inset + outline.r
                            startY: outline.inset
                            PathLine { x: outline.width - outline.inset - outline.r; y: outline.inset }
                            PathArc { x: outline.width - outline.inset; y: outline.inset + outline.r; radiusX: outline.r; radiusY: outline.r }
                            PathLine { x: outline.width - outline.inset; y: outline.height - outline.inset - outline.r }
                            PathArc { x: outline.width - outline.inset - outline.r; y: outline.height - outline.inset; radiusX: outline.r; radiusY: outline.r }
                            PathLine { x: outline.inset + outline.r; y: outline.height - outline.inset }
                            PathArc { x: outline.inset; y: outline.height - outline.inset - outline.r; radiusX: outline.r; radiusY: outline.r }
                            PathLine { x: outline.inset; y: outline.inset + outline.r }
                            PathArc { x: outline.inset + outline.r; y: outline.inset; radiusX: outline.r; radiusY: outline.r }
                        }
                    }
                    ColumnLayout {
                        anchors.centerIn: parent
                        spacing: 12
                        Rectangle {
                            objectName: "dropBadge"
                            Layout.alignment: Qt.AlignHCenter
                            implicitWidth: 56
                            implicitHeight: 56
                            radius: 28
                            color: Theme.alpha(Theme.accent, home.isTargeted ? 0.18 : 0.08)
                            scale: home.isTargeted ? 1.12 : 1.0
                            Behavior on scale { Spring { response: 0.3; dampingFraction: 0.7 } }
                            Behavior on color { ColorAnimation { duration: 200 } }
                            Symbol {
                                objectName: "dropBadgeSymbol"
                                anchors.centerIn: parent
                                name: home.isTargeted ? "arrow.down.doc.fill" : "tray.and.arrow.up.fill"
                                size: 22
                                color: Theme.accent
                            }
                        }
                        PText {
                            objectName: "dropAreaText"
                            Layout.alignment: Qt.AlignHCenter
                            text: home.count > 0 ? home.count + "件のファイルを選択中" : "ここにファイルをドロップ"
                            font.pixelSize: 14
                            font.weight: home.count > 0 ? Font.DemiBold : Font.Medium
                            color: home.count > 0 ? Theme.primary : Theme.secondary
                        }
                    }
                }

                // Selected files
                Item {
                    id: listHolder
                    objectName: "selectedFilesList"
                    Layout.fillWidth: true
                    Layout.leftMargin: 32
                    Layout.rightMargin: 32
                    readonly property bool shown: home.count > 0
                    readonly property real topSpace: home.uploading ? 10 : 16
                    Layout.preferredHeight: shown ? listColumn.implicitHeight + topSpace : 0
                    Behavior on Layout.preferredHeight { Spring { response: 0.35; dampingFraction: 0.8 } }
                    visible: Layout.preferredHeight > 0.5 || shown
                    opacity: shown ? 1 : 0
                    Behavior on opacity { NumberAnimation { duration: 200 } }
                    clip: true

                    ColumnLayout {
                        id: listColumn
                        width: parent.width
                        y: listHolder.topSpace - (listHolder.shown ? 0 : 12)
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
                                plainColor: Theme.alpha(Theme.red, 0.8)
                                enabled: !home.uploading
                                onClicked: home.model.clearSelectedFiles()
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
                                    model: home.urls.slice(0, 8)
                                    delegate: FileRowView {
                                        required property var modelData
                                        required property int index
                                        objectName: "fileRow"
                                        Layout.fillWidth: true
                                        url: modelData
                                        enabled: !home.uploading
                                        onRemove: home.model.removeSelectedFile(url)
                                    }
                                }
                                Item {
                                    objectName: "moreFilesRow"
                                    visible: home.count > 8
                                    Layout.fillWidth: true
                                    implicitHeight: moreText.implicitHeight + 12
                                    PText {
                                        id: moreText
                                        objectName: "moreFilesText"
                                        x: 12
                                        anchors.verticalCenter: parent.verticalCenter
                                        text: "他 " + (home.count - 8) + "件"
                                        font.pixelSize: 12
                                        color: Theme.secondary
                                    }
                                }
                            }
                        }
                    }
                }

                // Upload section
                ColumnLayout {
                    id: uploadSection
                    Layout.fillWidth: true
                    Layout.leftMargin: 32
                    Layout.rightMargin: 32
                    Layout.topMargin: home.uploading ? 12 : 20
                    Layout.bottomMargin: home.uploading ? 16 : 28
                    spacing: home.uploading ? 10 : 14

                    PButton {
                        objectName: "chooseButton"
                        Layout.fillWidth: true
                        controlSize: "large"
                        text: "ファイルを選択"
                        symbol: "plus.circle.fill"
                        symbolSize: 14
                        fontSize: 13
                        fontWeight: Font.Medium
                        labelVerticalPadding: 6
                        enabled: !home.uploading
                        onClicked: home.model.chooseFiles()
                    }
                    PasswordRow {
                        objectName: "homePasswordRow"
                        Layout.fillWidth: true
                        placeholder: "パスワード（任意）"
                        value: home.model.homePassword
                        enabled: !home.uploading
                        onEdited: function (text) { home.model.homePassword = text }
                    }
                    Item {
                        id: progressHolder
                        Layout.fillWidth: true
                        readonly property bool shown: home.uploading
                        Layout.preferredHeight: shown ? progressPanel.implicitHeight : 0
                        Behavior on Layout.preferredHeight { Spring { response: 0.35; dampingFraction: 0.8 } }
                        visible: shown || Layout.preferredHeight > 0.5
                        opacity: shown ? 1 : 0
                        Behavior on opacity { NumberAnimation { duration: 200 } }

                        Rectangle {
                            id: progressPanel
                            objectName: "progressPanel"
                            width: parent.width
                            y: progressHolder.shown ? 0 : 16
                            Behavior on y { Spring { response: 0.35; dampingFraction: 0.8 } }
                            implicitHeight: panelColumn.implicitHeight + 12
                            radius: 10
                            color: Theme.alpha(Theme.accent, 0.06)
                            border.width: 1
                            border.color: Theme.hairline(Theme.accent, 0.15)
                            ColumnLayout {
                                id: panelColumn
                                x: 6
                                y: 6
                                width: parent.width - 12
                                spacing: 4
                                CharacterProgressBar {
                                    objectName: "characterProgressBar"
                                    Layout.fillWidth: true
                                    Layout.preferredHeight: 56
                                    Layout.leftMargin: 8
                                    Layout.rightMargin: 8
                                    progress: home.model.homeUploadProgress
                                    characterSize: 48
                                    bounceAmplitude: 10
                                    barHeight: 5
                                }
                                RowLayout {
                                    Layout.fillWidth: true
                                    Layout.leftMargin: 8
                                    Layout.rightMargin: 8
                                    Layout.bottomMargin: 2
                                    PText {
                                        objectName: "progressStatus"
                                        Layout.fillWidth: true
                                        text: home.model.homeStatus
                                        font.pixelSize: 12
                                        color: Theme.secondary
                                        elide: Text.ElideRight
                                    }
                                    PText {
                                        objectName: "progressPercent"
                                        text: home.model.homeUploadPercent + "%"
                                        font.family: Theme.monoFamily
                                        font.pixelSize: 12
                                        font.weight: Font.Medium
                                        color: Theme.secondary
                                    }
                                }
                            }
                        }
                    }
                    RowLayout {
                        objectName: "actionRow"
                        visible: !home.uploading
                        Layout.fillWidth: true
                        PText {
                            objectName: "homeStatus"
                            Layout.fillWidth: true
                            text: home.model.homeStatus
                            font.pixelSize: 12
                            color: Theme.secondary
                            elide: Text.ElideRight
                        }
                        PButton {
                            objectName: "uploadButton"
                            kind: "prominent"
                            controlSize: "large"
                            text: "アップロード"
                            symbol: "paperplane.fill"
                            symbolSize: 12
                            fontSize: 13
                            fontWeight: Font.DemiBold
                            labelMinWidth: 140
                            labelVerticalPadding: 2
                            enabled: home.count > 0
                            onClicked: home.model.requestHomeUpload()
                        }
                    }
                }
            }
        }
    }

    // Result card
    Loader {
        id: resultLoader
        objectName: "resultLoader"
        anchors.fill: parent
        property var shownResult: null
        property bool leaving: false
        active: home.hasResult || leaving
        Connections {
            target: home
            function onHasResultChanged() {
                if (home.hasResult) {
                    leaveAnimation.stop()
                    resultLoader.leaving = false
                    resultLoader.shownResult = home.model.homeUploadResult
                } else if (resultLoader.item) {
                    resultLoader.leaving = true
                    leaveAnimation.restart()
                }
            }
        }
        Component.onCompleted: if (home.hasResult) shownResult = home.model.homeUploadResult
        sourceComponent: UploadResultView {
            id: card
            objectName: "uploadResultView"
            result: resultLoader.shownResult !== null ? resultLoader.shownResult : home.model.homeUploadResult
            onDismiss: home.model.dismissHomeUploadResult()
            opacity: 0
            scale: 0.95
            transform: Translate { id: cardOffset; y: 10 }
            Component.onCompleted: enter.start()
            ParallelAnimation {
                id: enter
                Spring { target: card; property: "opacity"; to: 1; response: 0.45; dampingFraction: 0.85 }
                Spring { target: card; property: "scale"; to: 1; response: 0.45; dampingFraction: 0.85 }
                Spring { target: cardOffset; property: "y"; to: 0; response: 0.45; dampingFraction: 0.85 }
            }
        }
        ParallelAnimation {
            id: leaveAnimation
            Spring { target: resultLoader.item; property: "opacity"; to: 0; response: 0.4; dampingFraction: 0.85 }
            Spring { target: resultLoader.item; property: "scale"; to: 0.98; response: 0.4; dampingFraction: 0.85 }
            onFinished: resultLoader.leaving = false
        }
    }
}
