import QtQuick
import PelkinDrop.Views

// Progress track and fill with the character riding along: its centre
// follows the progress, kept half its size from either end, and rises by up
// to `bounceAmplitude` at mid-course.
Item {
    id: root
    property real progress: 0
    property real characterSize: 48
    property real bounceAmplitude: 10
    property real barHeight: 5
    readonly property bool hasCharacter: ViewSupport.hasCharacter

    readonly property real _w: width
    readonly property real _p: Math.max(0, Math.min(1, progress))
    readonly property real characterX: Math.min(_w - characterSize / 2, Math.max(_w * _p, characterSize / 2))
    readonly property real characterY: characterSize / 2 + bounceAmplitude * Math.sin(-Math.PI * _p) - 12

    Item {
        id: content
        y: 24
        width: parent.width
        height: root.hasCharacter ? Math.max(0, parent.height - 24) : root.barHeight

        Rectangle {
            id: track
            objectName: "progressTrack"
            width: parent.width
            height: root.barHeight
            anchors.verticalCenter: parent.verticalCenter
            radius: Math.min(6, height / 2)
            color: Theme.alpha(Theme.accent, 0.18)
        }
        Rectangle {
            id: fill
            objectName: "progressFill"
            width: Math.max(0, root._w * root._p)
            height: root.barHeight
            anchors.verticalCenter: parent.verticalCenter
            radius: Math.min(6, height / 2)
            color: Theme.accent
        }

        Item {
            id: rider
            objectName: "progressCharacter"
            visible: root.hasCharacter
            width: root.characterSize
            height: root.characterSize
            // Centre at (characterX, characterY) in the content area.
            x: root.characterX - width / 2
            y: root.characterY - height / 2
            Behavior on x { Spring { response: 0.18; dampingFraction: 0.7 } }
            Behavior on y { Spring { response: 0.18; dampingFraction: 0.7 } }

            Image {
                x: -12
                y: -12 + 4
                width: parent.width + 24
                height: parent.height + 24
                sourceSize.width: width
                sourceSize.height: height
                source: root.hasCharacter ? "image://pelkin/charactershadow" : ""
                mirror: true
            }
            Image {
                anchors.centerIn: parent
                width: parent.width
                height: parent.height
                fillMode: Image.PreserveAspectCrop
                clip: false
                sourceSize.width: width * 2
                sourceSize.height: height * 2
                source: root.hasCharacter ? "image://pelkin/character" : ""
                mirror: true
                smooth: true
                mipmap: true
            }
        }
    }
}
