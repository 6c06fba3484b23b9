import QtQuick
import TovikNote.Views

// The ring drawn round a control while it has the keyboard focus. It lies
// just outside its parent, so it shows on every fill the control may have.
Rectangle {
    property bool shown: false

    objectName: "focusRing"
    property real gap: 2

    anchors.fill: parent
    anchors.margins: -gap
    radius: 6
    color: "transparent"
    border.width: 2
    border.color: Theme.focusRingColor
    visible: shown
    z: 100
}
