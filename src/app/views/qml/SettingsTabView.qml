import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic as B
import PelkinDrop.Views

// The four user settings and the application's name and version.
Item {
    id: root
    objectName: "settingsTab"
    required property var model

    B.ScrollView {
        id: scroll
        anchors.fill: parent
        contentWidth: availableWidth
        B.ScrollBar.vertical.policy: B.ScrollBar.AsNeeded

        ColumnLayout {
            width: scroll.availableWidth
            spacing: 0

            PText {
                Layout.leftMargin: 24
                Layout.rightMargin: 24
                Layout.topMargin: 20
                Layout.bottomMargin: 16
                text: "設定"
                Accessible.role: Accessible.Heading
                Accessible.name: text
                font.pixelSize: 20
                font.weight: Font.Bold
            }

            SettingsSection {
                Layout.fillWidth: true
                title: "外観"
                icon: "paintbrush.fill"
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 12
                    PText { text: "テーマ"; font.pixelSize: 13; font.weight: Font.Medium }
                    PSegmented {
                        objectName: "themePicker"
                        accessibleName: "テーマ"
                        Layout.preferredWidth: 3 * 92 + 4
                        options: root.model.themes
                        currentValue: root.model.theme
                        onActivated: function (value) { root.model.theme = value }
                    }
                }
            }

            SettingsSection {
                Layout.fillWidth: true
                title: "アップロード"
                icon: "arrow.up.circle.fill"
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 16
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 6
                        PText { text: "デフォルトパスワード"; font.pixelSize: 13; font.weight: Font.Medium }
                        PasswordRow {
                            objectName: "defaultPasswordRow"
                            accessibleName: "デフォルトパスワード"
                            Layout.fillWidth: true
                            placeholder: "未設定"
                            value: root.model.defaultPassword
                            onEdited: function (text) { root.model.defaultPassword = text }
                        }
                        PText {
                            objectName: "settingsHint"
                            text: "新しいアップロードに自動適用されます（最大100文字）"
                            font.pixelSize: 11
                            color: Theme.tertiary
                        }
                    }
                    Divider { Layout.fillWidth: true }
                    ToggleRow {
                        objectName: "autoCopyRow"
                        Layout.fillWidth: true
                        title: "URLを自動コピー"
                        subtitle: "アップロード完了時に共有URLをクリップボードへコピー"
                        checked: root.model.autoCopyToClipboard
                        onToggled: function (on) { root.model.autoCopyToClipboard = on }
                    }
                    Divider { Layout.fillWidth: true }
                    ToggleRow {
                        objectName: "menuBarIconRow"
                        Layout.fillWidth: true
                        title: "メニューバーアイコンを表示"
                        subtitle: "OFFの場合はアプリケーションメニューから起動してください"
                        checked: root.model.showsMenuBarIcon
                        onToggled: function (on) { root.model.showsMenuBarIcon = on }
                    }
                }
            }

            SettingsSection {
                Layout.fillWidth: true
                title: "情報"
                icon: "info.circle.fill"
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 8
                    RowLayout {
                        Layout.fillWidth: true
                        PText { text: "Pelkin Drop"; font.pixelSize: 13; font.weight: Font.Medium }
                        Item { Layout.fillWidth: true }
                        PText {
                            objectName: "versionText"
                            visible: ViewSupport.version !== ""
                            text: "v" + ViewSupport.version
                            font.pixelSize: 12
                            color: Theme.secondary
                        }
                    }
                    PText {
                        objectName: "settingsHint"
                        text: "Linux向けファイル共有ユーティリティ"
                        font.pixelSize: 11
                        color: Theme.tertiary
                    }
                }
            }

            Item { Layout.preferredHeight: 20 }
        }
    }
}
