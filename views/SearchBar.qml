import QtQuick
import QtQuick.Controls
import TovikNote.Views

// The single-line search field of the grid's header. It keeps no state: the
// text is read by whoever shows it.
Rectangle {
    id: bar

    property alias text: field.text
    readonly property alias inputHasFocus: field.activeFocus
    property alias field: field

    implicitWidth: 320
    implicitHeight: 32
    width: 320
    height: 32
    radius: 4
    color: Theme.cardBGColor
    clip: true

    TextField {
        id: field
        objectName: "searchField"
        anchors.verticalCenter: parent.verticalCenter
        width: 320
        leftPadding: 10
        rightPadding: 6
        background: null
        color: "black"
        placeholderText: "Search..."
        placeholderTextColor: "#8a8680"
        selectByMouse: true
        font.pixelSize: 14
        EnterKey.type: Qt.EnterKeyDone
    }
}
