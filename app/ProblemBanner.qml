import QtQuick
import TovikNote.App

// What went wrong with the notes file, in plain words, across the foot of the
// window until the user closes it. Built from plain Qt Quick items, like the
// window around it, so that a problem found at start shows with the first
// frames.
Rectangle {
    id: banner

    required property ProblemNotice notice

    objectName: "problemBanner"
    visible: notice.shown
    implicitHeight: row.implicitHeight + 24
    radius: 8
    color: "#fdecea"
    border.color: "#c5221f"
    border.width: activeFocus ? 3 : 1

    // Read out as an alert; Escape closes it wherever the focus is inside it.
    activeFocusOnTab: true
    Accessible.role: Accessible.AlertMessage
    Accessible.name: notice.text
    Keys.onEscapePressed: notice.dismiss()

    Row {
        id: row
        x: 16
        y: 12
        width: parent.width - 32
        spacing: 12

        Text {
            id: message
            objectName: "problemText"
            width: row.width - close.width - row.spacing
            anchors.verticalCenter: parent.verticalCenter
            text: banner.notice.text
            wrapMode: Text.Wrap
            color: "#3c1414"
            font.pixelSize: 14
            Accessible.ignored: true
        }

        Rectangle {
            id: close
            objectName: "problemClose"
            width: 72
            height: 30
            radius: 6
            anchors.verticalCenter: parent.verticalCenter
            color: hover.hovered ? "#f6c8c4" : "#fbdcd9"
            border.color: "#c5221f"
            border.width: activeFocus ? 3 : 1

            activeFocusOnTab: true
            Accessible.role: Accessible.Button
            Accessible.name: "Dismiss"
            Accessible.onPressAction: banner.notice.dismiss()
            Keys.onReturnPressed: banner.notice.dismiss()
            Keys.onEnterPressed: banner.notice.dismiss()
            Keys.onSpacePressed: banner.notice.dismiss()
            Keys.onEscapePressed: banner.notice.dismiss()

            Text {
                anchors.centerIn: parent
                text: "Dismiss"
                color: "#3c1414"
                font.pixelSize: 13
            }
            HoverHandler { id: hover }
            TapHandler { onTapped: banner.notice.dismiss() }
        }
    }
}
