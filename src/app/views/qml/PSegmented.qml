pragma ComponentBehavior: Bound
import QtQuick

// Segmented picker: `options` is a list of { value, label }. To the keyboard
// and to assistive technology it is a radio group: Tab enters at the chosen
// segment, the arrow keys choose the neighbour.
Rectangle {
    id: root
    property var options: []
    property var currentValue
    property string accessibleName
    signal activated(var value)

    function step(delta) {
        for (var i = 0; i < options.length; ++i) {
            if (options[i].value === currentValue) {
                var next = i + delta
                if (next >= 0 && next < options.length)
                    activated(options[next].value)
                return
            }
        }
    }

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

    FocusScope {
        id: group
        anchors.fill: parent
        activeFocusOnTab: true
        Accessible.role: Accessible.Grouping
        Accessible.name: root.accessibleName
        // The radios take the focus, not the group.
        Accessible.focusable: false
        Keys.onLeftPressed: root.step(-1)
        Keys.onUpPressed: root.step(-1)
        Keys.onRightPressed: root.step(1)
        Keys.onDownPressed: root.step(1)
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
                    readonly property bool checked: modelData.value === root.currentValue
                    width: root._segmentWidth
                    height: root.height - 4
                    focus: checked
                    Accessible.role: Accessible.RadioButton
                    Accessible.name: modelData.label
                    Accessible.checkable: true
                    Accessible.checked: checked
                    Accessible.focusable: true
                    Accessible.focused: activeFocus
                    Accessible.onPressAction: root.activated(segment.modelData.value)
                    FocusRing {
                        objectName: "focusRing"
                        cornerRadius: 5
                        shown: segment.activeFocus
                    }
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
}
