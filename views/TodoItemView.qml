import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import TovikNote.Views

// One to-do row: the check box and the text, editable while the item is open.
// Swiping the row aside, or Delete while the row itself has the focus,
// removes it.
SwipeDelegate {
    id: rowView

    required property TodoItemViewState row
    required property int index

    signal deleteRequested()

    // A removed item's row state can go a moment before this delegate does.
    readonly property bool isCompleted: row?.isCompleted ?? false

    topPadding: 12
    bottomPadding: 12
    leftPadding: 8
    rightPadding: 8
    hoverEnabled: false
    focusPolicy: Qt.StrongFocus

    background: Rectangle {
        color: rowView.isCompleted ? Theme.color("CardBGColor") : "white"
        radius: 8
        border.color: Theme.color("CardBGColor")
        border.width: 1
    }

    contentItem: RowLayout {
        spacing: 8

        ToolButton {
            objectName: "checkBox"
            Layout.alignment: Qt.AlignTop
            Layout.topMargin: 2
            implicitWidth: 24
            implicitHeight: 24
            padding: 0
            focusPolicy: Qt.NoFocus
            background: null
            contentItem: Icon {
                symbol: rowView.isCompleted ? "checkmark.square" : "square"
                size: 20
            }
            onClicked: rowView.row?.toggleCompleted()
        }

        Loader {
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignTop
            sourceComponent: rowView.isCompleted ? doneText : openText
        }
    }

    swipe.right: Rectangle {
        height: rowView.height
        width: 80
        anchors.right: parent.right
        radius: 8
        color: "#e5484d"
        Label {
            anchors.centerIn: parent
            text: qsTr("Delete")
            color: "white"
        }
    }
    swipe.onCompleted: deleteRequested()
    Keys.onDeletePressed: deleteRequested()

    Component {
        id: doneText
        Label {
            objectName: "doneText"
            text: rowView.row?.itemText ?? ""
            textFormat: Text.PlainText
            font.pixelSize: 16
            font.strikeout: true
            // Lines up with the text of the open item's editor.
            leftPadding: 4
            rightPadding: 4
            color: "grey"
            wrapMode: Text.Wrap
        }
    }

    Component {
        id: openText
        StoredTextArea {
            id: edit
            objectName: "itemEditor"
            source: rowView.row
            font.pixelSize: 16
            wrapMode: TextArea.Wrap
            padding: 0
            implicitHeight: Math.max(20, contentHeight)
            background: null
            onActiveFocusChanged: if (rowView.row) rowView.row.isFocused = activeFocus
            // The row ends the editing after a line break at the end.
            Binding on focus { value: rowView.row?.isFocused ?? false }
            // The row hands the stored text over, which the area then shows.
            Component.onCompleted: rowView.row?.editorAppeared()
        }
    }
}
