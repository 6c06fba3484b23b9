import QtQuick

// Close, minimise and maximise for a window without a title bar of the
// platform's. Closing goes through the window's close, which the application
// turns into its quit.
Row {
    id: buttons

    required property Window window
    readonly property bool maximized: window.visibility === Window.Maximized
                                      || window.visibility === Window.FullScreen

    spacing: 8

    HoverHandler { id: hover }

    WindowButton {
        objectName: "closeButton"
        text: "Close"
        fill: "#ff5f57"
        mark: "close"
        showMark: hover.hovered
        onClicked: buttons.window.close()
    }
    WindowButton {
        objectName: "minimizeButton"
        text: "Minimise"
        fill: "#febc2e"
        mark: "minimize"
        showMark: hover.hovered
        onClicked: buttons.window.showMinimized()
    }
    WindowButton {
        objectName: "maximizeButton"
        text: "Maximise"
        fill: "#28c840"
        mark: "maximize"
        showMark: hover.hovered
        onClicked: buttons.toggleMaximized()
    }

    function toggleMaximized() {
        if (maximized)
            window.showNormal()
        else
            window.showMaximized()
    }
}
