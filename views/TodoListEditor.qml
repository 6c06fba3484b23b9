import QtQuick
import QtQuick.Controls
import TovikNote.Views

// The rows of a to-do note, open items above completed ones.
ListView {
    id: list

    required property NoteEditorState editor

    objectName: "todoList"
    clip: true
    spacing: 6
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

    model: TodoListEditorState {
        id: rows
        editor: list.editor
        Component.onCompleted: loadTodoItems()
    }

    // A row added to type into is brought into view and takes the keyboard.
    Connections {
        target: rows
        function onRowOffered(position) {
            // The row is made now rather than with the next frame, so that
            // it takes the keyboard before another key comes.
            list.forceLayout()
            list.positionViewAtIndex(position, ListView.Contain)
        }
    }

    delegate: TodoItemView {
        width: ListView.view.width
        onDeleteRequested: rows.deleteItems([index])
    }
}
