import QtQuick
import QtQuick.Layouts

// The character progress bar with the status line and the percentage,
// sliding in while an upload runs.
Item {
    id: root
    required property var model
    required property bool shown
    Layout.preferredHeight: shown ? progressPanel.implicitHeight : 0
    Behavior on Layout.preferredHeight { Spring { response: 0.35; dampingFraction: 0.8 } }
    visible: shown || Layout.preferredHeight > 0.5
    opacity: shown ? 1 : 0
    Behavior on opacity { NumberAnimation { duration: 200 } }

    Rectangle {
        id: progressPanel
        objectName: "progressPanel"
        width: parent.width
        y: root.shown ? 0 : 16
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
                progress: root.model.homeUploadProgress
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
                Accessible.role: Accessible.StatusBar
                Accessible.name: text + " " + root.model.homeUploadPercent + "%"
                    Layout.fillWidth: true
                    text: root.model.homeStatus
                    font.pixelSize: 12
                    color: Theme.secondary
                    elide: Text.ElideRight
                }
                PText {
                    objectName: "progressPercent"
                    text: root.model.homeUploadPercent + "%"
                    font.family: Theme.monoFamily
                    font.pixelSize: 12
                    font.weight: Font.Medium
                    color: Theme.secondary
                }
            }
        }
    }
}
