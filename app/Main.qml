import QtQuick
import TovikNote.Views
import TovikNote.App

// The one window: no title bar of the platform's, always in light colours.
// The window manager resizes it by its edges and corners.
//
// Only plain Qt Quick items are built with it, so that it is on screen as
// soon as a bare window would be. Its content, which needs the controls,
// is loaded by showContent() once the first frame has been shown.
Window {
    id: window

    required property AppState appState
    required property SyncManager syncManager
    required property MainMenuModel mainMenu
    required property ProblemNotice problemNotice

    flags: Qt.Window | Qt.FramelessWindowHint
    title: "TovikNote"
    minimumWidth: 900
    minimumHeight: 720
    width: 1100
    height: 800
    visible: true
    color: Theme.bgColor

    // Loads the content once; later calls do nothing.
    function showContent() {
        if (content.source.toString() === "")
            content.setSource("AppContent.qml", {
                window: window,
                appState: window.appState,
                syncManager: window.syncManager,
                mainMenu: window.mainMenu
            })
    }

    Loader {
        id: content
        objectName: "windowContent"
        anchors.fill: parent
        focus: true
    }

    ProblemBanner {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 16
        z: 2
        notice: window.problemNotice
    }

    ResizeFrame {
        objectName: "resizeFrame"
        anchors.fill: parent
        z: 1
        window: window
    }
}
