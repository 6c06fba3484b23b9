import QtQuick
import QtQuick.Controls
import TovikNote.Views

// One of the three small round buttons at the window's top-left corner. Its
// mark shows while the pointer is over the group, as in a hidden title bar,
// and while it has the keyboard focus. Its text names it for screen readers
// and is its tooltip.
AbstractButton {
    id: button

    required property color fill
    // "close", "minimize" or "maximize"
    required property string mark
    property bool showMark: hovered

    implicitWidth: 12
    implicitHeight: 12
    // Reached by Tab, never taken by a click, which would pull the focus
    // away from the text being typed.
    focusPolicy: Qt.TabFocus
    hoverEnabled: true
    ToolTip.text: text
    ToolTip.visible: hovered || visualFocus
    ToolTip.delay: visualFocus ? 0 : 600
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    FocusRing { shown: button.visualFocus; gap: 3; radius: width }

    background: Rectangle {
        radius: width / 2
        color: button.pressed ? Qt.darker(button.fill, 1.25) : button.fill
        border.width: 1
        border.color: Qt.darker(button.fill, 1.3)
    }

    contentItem: Item {
        visible: button.showMark || button.visualFocus
        readonly property color ink: Qt.darker(button.fill, 2.6)

        // A cross for close, a bar for minimise, a plus for maximise.
        Rectangle {
            anchors.centerIn: parent
            width: 7; height: 1.5; radius: 0.75
            color: parent.ink
            rotation: button.mark === "close" ? 45 : 0
        }
        Rectangle {
            anchors.centerIn: parent
            visible: button.mark !== "minimize"
            width: 7; height: 1.5; radius: 0.75
            color: parent.ink
            rotation: button.mark === "close" ? -45 : 90
        }
    }
}
