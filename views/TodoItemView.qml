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
    Accessible.name: row?.itemText ?? ""

    background: Rectangle {
        color: rowView.isCompleted ? Theme.color("CardBGColor") : "white"
        radius: 8
        border.color: Theme.color("CardBGColor")
        border.width: 1
    }

    contentItem: RowLayout {
        spacing: 8

        // A check box to screen readers too, named by its item's text.
        CheckBox {
            id: checkBox
            objectName: "checkBox"
            Layout.alignment: Qt.AlignTop
            Layout.topMargin: 2
            implicitWidth: 24
            implicitHeight: 24
            padding: 0
            spacing: 0
            focusPolicy: Qt.TabFocus
            text: rowView.row?.itemText ?? ""
            checked: rowView.isCompleted
            background: null
            contentItem: Item {}
            indicator: Icon {
                x: 0
                y: 0
                width: 24
                height: 24
                symbol: rowView.isCompleted ? "checkmark.square" : "square"
                size: 20
            }
            onToggled: rowView.row?.toggleCompleted()
            Keys.onReturnPressed: rowView.row?.toggleCompleted()
            Keys.onEnterPressed: rowView.row?.toggleCompleted()
            FocusRing { shown: checkBox.visualFocus; radius: 4 }
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
    FocusRing { shown: rowView.visualFocus; radius: 10 }

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
            Accessible.name: "To-do item"
            onActiveFocusChanged: if (rowView.row) rowView.row.isFocused = activeFocus
            // The row says when its editor is to take the keyboard (a new
            // item, the next one after Return) and when the editing ends.
            function followRowFocus() {
                if (!rowView.row)
                    return
                if (rowView.row.isFocused && !activeFocus)
                    takeFocus()
                else if (!rowView.row.isFocused && activeFocus)
                    focus = false
            }
            function takeFocus() {
                // The list gives its current row the focus whenever that
                // changes; made current first, the row cannot take the
                // keyboard back from its own editor.
                if (rowView.ListView.view)
                    rowView.ListView.view.currentIndex = rowView.index
                forceActiveFocus(Qt.OtherFocusReason)
            }
            // Once more when the list has settled: a list that has just made
            // its rows gives its current one the focus afterwards.
            function takeRowFocus() {
                const wanted = rowView.row?.isFocused ?? false
                followRowFocus()
                if (wanted)
                    Qt.callLater(() => { if (!edit.activeFocus) edit.takeFocus() })
            }
            Connections {
                target: rowView.row
                function onIsFocusedChanged() { edit.takeRowFocus() }
            }
            // The row hands the stored text over, which the area then shows.
            Component.onCompleted: {
                rowView.row?.editorAppeared()
                takeRowFocus()
            }
        }
    }
}
