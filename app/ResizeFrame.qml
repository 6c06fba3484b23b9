import QtQuick

// The edges and corners by which the window manager resizes a window that has
// no frame of its own. Each band shows the matching cursor and hands the drag
// to the window manager as soon as it is pressed.
Item {
    id: frame

    required property Window window
    // The band along each edge, and the square at each corner.
    property int grip: 6
    property int corner: 14

    visible: window.visibility === Window.Windowed

    Repeater {
        model: [
            Qt.LeftEdge, Qt.RightEdge, Qt.TopEdge, Qt.BottomEdge,
            Qt.TopEdge | Qt.LeftEdge, Qt.TopEdge | Qt.RightEdge,
            Qt.BottomEdge | Qt.LeftEdge, Qt.BottomEdge | Qt.RightEdge
        ]
        delegate: MouseArea {
            required property int modelData
            readonly property bool atLeft: modelData & Qt.LeftEdge
            readonly property bool atRight: modelData & Qt.RightEdge
            readonly property bool atTop: modelData & Qt.TopEdge
            readonly property bool atBottom: modelData & Qt.BottomEdge
            readonly property bool isCorner: (atLeft || atRight) && (atTop || atBottom)

            objectName: "resize" + (atTop ? "Top" : atBottom ? "Bottom" : "") + (atLeft ? "Left" : atRight ? "Right" : "")
            width: isCorner ? frame.corner : (atLeft || atRight) ? frame.grip : frame.width - 2 * frame.corner
            height: isCorner ? frame.corner : (atTop || atBottom) ? frame.grip : frame.height - 2 * frame.corner
            x: atLeft ? 0 : atRight ? frame.width - width : frame.corner
            y: atTop ? 0 : atBottom ? frame.height - height : frame.corner
            cursorShape: !isCorner ? ((atLeft || atRight) ? Qt.SizeHorCursor : Qt.SizeVerCursor)
                       : (atTop === atLeft) ? Qt.SizeFDiagCursor : Qt.SizeBDiagCursor
            acceptedButtons: Qt.LeftButton
            onPressed: frame.window.startSystemResize(modelData)
        }
    }
}
