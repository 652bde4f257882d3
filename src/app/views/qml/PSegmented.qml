import QtQuick

// Segmented picker: `options` is a list of { value, label }.
Rectangle {
    id: root
    property var options: []
    property var currentValue
    signal activated(var value)

    implicitHeight: 28
    implicitWidth: segments.implicitWidth + 4
    radius: 7
    color: Theme.dark ? Qt.rgba(1, 1, 1, 0.08) : Qt.rgba(0, 0, 0, 0.06)

    readonly property real _segmentWidth: Math.max(84, (width - 4) / Math.max(1, options.length))

    Rectangle {
        // Moving selection pill.
        readonly property int index: {
            for (var i = 0; i < root.options.length; ++i)
                if (root.options[i].value === root.currentValue)
                    return i
            return -1
        }
        visible: index >= 0
        x: 2 + index * root._segmentWidth
        y: 2
        width: root._segmentWidth
        height: root.height - 4
        radius: 5
        color: Theme.dark ? "#5b5b60" : "#ffffff"
        border.width: Theme.dark ? 0 : 1
        border.color: Qt.rgba(0, 0, 0, 0.08)
        Behavior on x { Spring { response: 0.3; dampingFraction: 0.8 } }
    }

    Row {
        id: segments
        x: 2
        anchors.verticalCenter: parent.verticalCenter
        Repeater {
            model: root.options
            delegate: Item {
                id: segment
                required property var modelData
                required property int index
                objectName: "segment_" + modelData.rawValue
                width: root._segmentWidth
                height: root.height - 4
                PText {
                    anchors.centerIn: parent
                    text: segment.modelData.label
                    font.pixelSize: 12
                    font.weight: segment.modelData.value === root.currentValue ? Font.Medium : Font.Normal
                }
                Rectangle {
                    visible: segment.index > 0 && root.currentValue !== segment.modelData.value && root.currentValue !== root.options[segment.index - 1].value
                    width: 1
                    height: parent.height - 10
                    anchors.verticalCenter: parent.verticalCenter
                    color: Theme.separator
                }
                MouseArea {
                    anchors.fill: parent
                    onClicked: root.activated(segment.modelData.value)
                }
            }
        }
    }
}
