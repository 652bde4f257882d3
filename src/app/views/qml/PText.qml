import QtQuick

Text {
    font.family: Theme.fontFamily
    font.pixelSize: 13
    color: Theme.primary
    textFormat: Text.PlainText
    verticalAlignment: Text.AlignVCenter
}
