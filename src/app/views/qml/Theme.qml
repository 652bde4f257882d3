pragma Singleton
import QtQuick

// Colours, fonts and measures shared by every view. `dark` is bound by
// ContentView from the model's theme and the desktop's preference.
QtObject {
    property bool dark: false

    readonly property string fontFamily: "Noto Sans CJK JP"
    readonly property string monoFamily: "DejaVu Sans Mono"

    readonly property color accent: dark ? "#0a84ff" : "#007aff"
    readonly property color green: dark ? "#32d74b" : "#1fa647"
    readonly property color red: dark ? "#ff453a" : "#e5352b"
    // The same hues for text, dark or light enough to read at 4.5:1.
    readonly property color greenText: dark ? "#32d74b" : "#137333"
    readonly property color redText: dark ? "#ff7b73" : "#b52219"
    readonly property color link: dark ? "#409cff" : "#0064d2"
    readonly property color focusRing: accent

    readonly property color windowBackground: dark ? "#1e1e20" : "#f6f6f8"
    readonly property color sidebarBackground: dark ? "#28282b" : "#ebebee"
    readonly property color controlBackground: dark ? "#2e2e32" : "#ffffff"

    readonly property color primary: dark ? Qt.rgba(1, 1, 1, 0.92) : Qt.rgba(0, 0, 0, 0.87)
    readonly property color secondary: dark ? Qt.rgba(1, 1, 1, 0.64) : Qt.rgba(0, 0, 0, 0.62)
    // Captions: the lightest grey that still reads at 4.5:1 on every surface.
    readonly property color tertiary: dark ? Qt.rgba(1, 1, 1, 0.52) : Qt.rgba(0, 0, 0, 0.56)
    readonly property color quaternary: dark ? Qt.rgba(1, 1, 1, 0.26) : Qt.rgba(0, 0, 0, 0.22)
    // Solid grey that "secondary at N %" fills and outlines are mixed from.
    readonly property color secondaryBase: dark ? "#a0a0a8" : "#7c7c84"
    readonly property color separator: dark ? Qt.rgba(1, 1, 1, 0.10) : Qt.rgba(0, 0, 0, 0.09)

    function alpha(c, a) {
        return Qt.rgba(c.r, c.g, c.b, c.a * a)
    }
    function secondaryAt(a) {
        return alpha(secondaryBase, a)
    }
    // Half-point outlines become one device pixel at a matching weaker alpha.
    function hairline(c, a) {
        return alpha(c, Math.min(1, a * 0.8))
    }
}
