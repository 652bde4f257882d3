import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic as B

// The upload form, and the result card laid over it once an upload has ended.
Item {
    id: home
    objectName: "homeTab"
    required property var model

    readonly property bool isTargeted: dropArea.isTargeted
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
        // Once covered by the result card the form is gone for every reader.
        visible: opacity > 0
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
                        Accessible.role: Accessible.Heading
                        Accessible.name: text
                        text: "ファイルをアップロード"
                        font.pixelSize: 22
                        font.weight: Font.Bold
                    }
                    PText {
                        objectName: "homeSubtitle"
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
                HomeDropArea {
                    id: dropArea
                    objectName: "dropArea"
                    Layout.fillWidth: true
                    Layout.leftMargin: 32
                    Layout.rightMargin: 32
                    Layout.preferredHeight: home.uploading ? 120 : (home.count === 0 ? 180 : 130)
                    Behavior on Layout.preferredHeight { Spring { response: 0.35; dampingFraction: 0.8 } }
                    count: home.count
                    uploading: home.uploading
                    onFilesDropped: function (urls) { home.model.appendFiles(urls) }
                }

                SelectedFilesList {
                    objectName: "selectedFilesList"
                    Layout.fillWidth: true
                    Layout.leftMargin: 32
                    Layout.rightMargin: 32
                    model: home.model
                    uploading: home.uploading
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
                        // Return in the field uploads, as the button does.
                        onAccepted: if (home.count > 0) home.model.requestHomeUpload()
                    }
                    UploadProgressPanel {
                        Layout.fillWidth: true
                        model: home.model
                        shown: home.uploading
                    }
                    RowLayout {
                        objectName: "actionRow"
                        visible: !home.uploading
                        Layout.fillWidth: true
                        PText {
                            objectName: "homeStatus"
                            Layout.fillWidth: true
                            Accessible.role: Accessible.StatusBar
                            Accessible.name: text
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

    HomeResultCard {
        objectName: "resultLoader"
        anchors.fill: parent
        model: home.model
    }
}
