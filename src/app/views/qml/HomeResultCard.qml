import QtQuick

// The result card laid over the form once an upload has ended; it springs
// in and fades out when the result is dismissed.
Loader {
    id: root
    required property var model
    readonly property bool hasResult: model.hasHomeUploadResult
    property var shownResult: null
    property bool leaving: false
    active: root.hasResult || leaving
    Connections {
        target: root
        function onHasResultChanged() {
            if (root.hasResult) {
                leaveAnimation.stop()
                root.leaving = false
                root.shownResult = root.model.homeUploadResult
            } else if (root.item) {
                root.leaving = true
                leaveAnimation.restart()
            }
        }
    }
    Component.onCompleted: if (root.hasResult) shownResult = root.model.homeUploadResult
    sourceComponent: UploadResultView {
        id: card
        objectName: "uploadResultView"
        // The Loader creates the card in this file's context, where root resolves; the
        // Qt 6.4 linter cannot follow that (and a bound component would not load here).
        result: root.shownResult !== null ? root.shownResult : root.model.homeUploadResult // qmllint disable unqualified
        onDismiss: root.model.dismissHomeUploadResult() // qmllint disable unqualified
        opacity: 0
        scale: 0.95
        transform: Translate { id: cardOffset; y: 10 }
        Component.onCompleted: enter.start()
        ParallelAnimation {
            id: enter
            Spring { target: card; property: "opacity"; to: 1; response: 0.45; dampingFraction: 0.85 }
            Spring { target: card; property: "scale"; to: 1; response: 0.45; dampingFraction: 0.85 }
            Spring { target: cardOffset; property: "y"; to: 0; response: 0.45; dampingFraction: 0.85 }
        }
    }
    ParallelAnimation {
        id: leaveAnimation
        Spring { target: root.item; property: "opacity"; to: 0; response: 0.4; dampingFraction: 0.85 }
        Spring { target: root.item; property: "scale"; to: 0.98; response: 0.4; dampingFraction: 0.85 }
        onFinished: root.leaving = false
    }
}
