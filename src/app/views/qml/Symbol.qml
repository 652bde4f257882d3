import QtQuick
import QtQuick.Window

// A named symbol drawn in one colour. Changing `name` cross-fades the old and
// the new glyph with a small scale (the replace effect); `pulsing` fades the
// glyph in and out repeatedly (the pulse effect).
Item {
    id: root
    property string name
    property color color: Theme.secondary
    property real size: 14
    property bool replaceEffect: true
    property bool pulsing: false
    property real pulseSpeed: 1

    implicitWidth: size
    implicitHeight: size

    property string _shown: name
    property string _previous: ""

    function source(n, c) {
        return n === "" ? "" : "image://pelkin/symbol/" + encodeURIComponent(n) + "?" + c
    }

    onNameChanged: {
        if (!replaceEffect || _shown === "" || _shown === name) {
            _shown = name
            return
        }
        _previous = _shown
        _shown = name
        swap.restart()
    }

    readonly property int _px: Math.ceil(size * Screen.devicePixelRatio)

    Image {
        id: previousImage
        anchors.centerIn: parent
        width: root.size
        height: root.size
        sourceSize.width: root._px
        sourceSize.height: root._px
        source: root._previous === "" ? "" : root.source(root._previous, root.color)
        opacity: 0
        smooth: true
    }
    Image {
        id: currentImage
        objectName: "symbolImage"
        anchors.centerIn: parent
        width: root.size
        height: root.size
        sourceSize.width: root._px
        sourceSize.height: root._px
        source: root.source(root._shown, root.color)
        smooth: true
    }

    ParallelAnimation {
        id: swap
        NumberAnimation { target: previousImage; property: "opacity"; from: 1; to: 0; duration: 150; easing.type: Easing.InQuad }
        NumberAnimation { target: previousImage; property: "scale"; from: 1; to: 0.5; duration: 150; easing.type: Easing.InQuad }
        NumberAnimation { target: currentImage; property: "opacity"; from: 0; to: 1; duration: 220; easing.type: Easing.OutQuad }
        NumberAnimation { target: currentImage; property: "scale"; from: 0.5; to: 1; duration: 260; easing.type: Easing.OutBack }
    }

    SequentialAnimation on opacity {
        running: root.pulsing
        loops: Animation.Infinite
        alwaysRunToEnd: true
        NumberAnimation { from: 1; to: 0.35; duration: 500 / root.pulseSpeed; easing.type: Easing.InOutSine }
        NumberAnimation { from: 0.35; to: 1; duration: 500 / root.pulseSpeed; easing.type: Easing.InOutSine }
    }
}
