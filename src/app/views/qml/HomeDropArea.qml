import QtQuick
import QtQuick.Layouts
import QtQuick.Shapes
import PelkinDrop.Views

// The Home tab's drop target: dashed outline, badge and the selection count.
Item {
    id: root
    required property int count
    required property bool uploading
    property bool isTargeted: false
    property bool hovered: false
    signal filesDropped(var urls)

    HoverHandler { id: hover; onHoveredChanged: root.hovered = hover.hovered }

    DropArea {
        anchors.fill: parent
        keys: ["text/uri-list"]
        onEntered: function (drag) {
            drag.accept(Qt.CopyAction)
            root.isTargeted = true
        }
        onExited: root.isTargeted = false
        onDropped: function (drop) {
            root.isTargeted = false
            root.filesDropped(ViewSupport.fileUrls(drop.urls))
            drop.accept(Qt.CopyAction)
        }
    }

    // Accent glow while a drag is over the area.
    Image {
        x: -12
        y: -12 + 4
        width: parent.width + 24
        height: parent.height + 24
        opacity: root.isTargeted ? 1 : 0
        visible: opacity > 0
        source: visible ? "image://pelkin/roundshadow/" + Math.round(parent.width) + "/" + Math.round(parent.height) + "/16/" + Theme.alpha(Theme.accent, 0.18) + "/4" : ""
        Behavior on opacity { NumberAnimation { duration: 200; easing.type: Easing.InOutQuad } }
    }
    Rectangle {
        anchors.fill: parent
        radius: 16
        color: root.isTargeted ? Theme.alpha(Theme.accent, 0.08) : root.hovered ? Theme.secondaryAt(0.04 * 2) : (Theme.dark ? Qt.rgba(1, 1, 1, 0.015) : Qt.rgba(1, 1, 1, 0.45))
        Behavior on color { ColorAnimation { duration: 200 } }
    }
    Shape {
        id: outline
        objectName: "dropAreaOutline"
        anchors.fill: parent
        readonly property real lineWidth: root.isTargeted ? 2 : 1.5
        readonly property real inset: lineWidth / 2
        readonly property real r: 16 - inset
        ShapePath {
            strokeColor: root.isTargeted ? Theme.accent : Theme.secondaryAt(0.25 * 1.6)
            strokeWidth: outline.lineWidth
            strokeStyle: root.isTargeted ? ShapePath.SolidLine : ShapePath.DashLine
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
            color: Theme.alpha(Theme.accent, root.isTargeted ? 0.18 : 0.08)
            scale: root.isTargeted ? 1.12 : 1.0
            Behavior on scale { Spring { response: 0.3; dampingFraction: 0.7 } }
            Behavior on color { ColorAnimation { duration: 200 } }
            Symbol {
                objectName: "dropBadgeSymbol"
                anchors.centerIn: parent
                name: root.isTargeted ? "arrow.down.doc.fill" : "tray.and.arrow.up.fill"
                size: 22
                color: Theme.accent
            }
        }
        PText {
            objectName: "dropAreaText"
            Layout.alignment: Qt.AlignHCenter
            text: root.count > 0 ? root.count + "件のファイルを選択中" : "ここにファイルをドロップ"
            font.pixelSize: 14
            font.weight: root.count > 0 ? Font.DemiBold : Font.Medium
            color: root.count > 0 ? Theme.primary : Theme.secondary
        }
    }
}
