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

    TextField {
        id: field
        objectName: "searchField"
        anchors.verticalCenter: parent.verticalCenter
        width: 320
        // The bar's own height, so nothing of the field spills over it.
        height: bar.height
        topPadding: 0
        bottomPadding: 0
        verticalAlignment: TextInput.AlignVCenter
        leftPadding: 10
        rightPadding: 6
        background: null
        color: "black"
        placeholderText: "Search..."
        placeholderTextColor: "#8a8680"
        selectByMouse: true
        font.pixelSize: 14
        EnterKey.type: Qt.EnterKeyDone
        Accessible.name: "Search"
        // Escape empties the field; on an empty field it hands the keyboard
        // on, so the field never holds it.
        Keys.onEscapePressed: (event) => {
            if (text.length > 0)
                clear()
            else
                nextItemInFocusChain(true).forceActiveFocus(Qt.TabFocusReason)
        }
    }

    FocusRing { shown: field.activeFocus }
}
