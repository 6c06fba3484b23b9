import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import TovikNote.Views

// The note grid: a header with the search field and the new-note button
// above the scrolling cards. Tab goes from the search field over the header's
// buttons to the grid, whose cards the arrow keys walk.
FocusScope {
    id: screen

    required property AppState appState
    required property SyncManager syncManager
    readonly property alias viewState: mainState

    // The menu commands this screen answers, by name.
    readonly property var availableCommands: grid.currentItem && grid.count > 0
        ? ["newNote", "find", "openNote", "turnCard", "deleteNote"] : ["newNote", "find"]
    function runCommand(name) {
        const card = grid.count > 0 ? grid.currentItem : null
        if (name === "newNote")
            mainState.addNewNote()
        else if (name === "find")
            searchBar.field.forceActiveFocus(Qt.ShortcutFocusReason)
        else if (card)
            card.runCommand(name)
    }
    Shortcut {
        sequence: "Ctrl+N"
        enabled: screen.enabled
        onActivated: screen.runCommand("newNote")
    }
    Shortcut {
        sequence: "Ctrl+F"
        enabled: screen.enabled
        onActivated: {
            screen.runCommand("find")
            searchBar.field.selectAll()
        }
    }

    MainViewState {
        id: mainState
        appState: screen.appState
        syncManager: screen.syncManager
        searchText: searchBar.text
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.bgColor
    }

    // A tap that no card or control takes ends the search field's editing.
    TapHandler {
        onTapped: mainState.isSearchBarFocused = false
    }

    Binding {
        target: mainState
        property: "isSearchBarFocused"
        value: searchBar.inputHasFocus
    }
    Connections {
        target: mainState
        function onIsSearchBarFocusedChanged() {
            if (!mainState.isSearchBarFocused && searchBar.inputHasFocus)
                searchBar.field.focus = false
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Item {
            id: header
            objectName: "header"
            Layout.fillWidth: true
            Layout.preferredHeight: headerRow.implicitHeight + 2 * 16

            // Without a title bar of its own, the window moves by its header,
            // and a double click maximises or restores it.
            DragHandler {
                target: null
                onActiveChanged: if (active) screen.Window.window.startSystemMove()
            }
            TapHandler {
                onDoubleTapped: {
                    const window = screen.Window.window
                    if (window.visibility === Window.Maximized)
                        window.showNormal()
                    else
                        window.showMaximized()
                }
            }

            RowLayout {
                id: headerRow
                anchors.fill: parent
                anchors.margins: 16
                spacing: 10

                Image {
                    objectName: "logo"
                    source: "logo.svg"
                    sourceSize: Qt.size(96, 96)
                    Layout.preferredWidth: 48
                    Layout.preferredHeight: 48
                    Layout.minimumWidth: 48
                    fillMode: Image.Stretch
                    smooth: true
                }

                SearchBar {
                    id: searchBar
                    objectName: "searchBar"
                    Layout.preferredWidth: 320
                    Layout.minimumWidth: 320
                    Layout.maximumWidth: 320
                    Layout.preferredHeight: 32
                }

                // The service's answer to the last sync, for half a second. It
                // takes the room between the search field and the buttons and
                // stands beside the sync button; a longer text is cut short.
                Item {
                    id: syncMessageSlot
                    objectName: "syncMessageSlot"
                    Layout.fillWidth: true
                    Layout.minimumWidth: 0
                    Layout.preferredHeight: 32

                    Text {
                        id: syncMessage
                        objectName: "syncMessage"
                        anchors.verticalCenter: parent.verticalCenter
                        width: parent.width
                        horizontalAlignment: Text.AlignRight
                        elide: Text.ElideRight
                        maximumLineCount: 1
                        text: mainState.syncMessageOnMac
                        textFormat: Text.PlainText
                        color: "green"
                        font.pixelSize: 14
                    }
                }

                Item {
                    id: syncButtonSlot
                    objectName: "syncButtonSlot"
                    Layout.preferredWidth: 32
                    Layout.minimumWidth: 32
                    Layout.preferredHeight: 32

                    IconButton {
                        id: syncButton
                        objectName: "syncButton"
                        text: "Sync"
                        anchors.fill: parent
                        padding: 0
                        enabled: !(screen.syncManager && screen.syncManager.isSyncing)
                        onClicked: mainState.sync()
                        background: Item {}
                        contentItem: Icon {
                            id: syncIcon
                            objectName: "syncIcon"
                            symbol: "arrow.triangle.2.circlepath"
                            size: 22
                            color: "black"
                            opacity: 0.6

                            // One clockwise turn a second while a sync runs;
                            // back to upright when it ends.
                            NumberAnimation {
                                id: spin
                                objectName: "syncSpin"
                                target: syncIcon
                                property: "rotation"
                                from: 0
                                to: 360
                                duration: 1000
                                loops: Animation.Infinite
                            }
                            NumberAnimation {
                                id: settle
                                target: syncIcon
                                property: "rotation"
                                to: 0
                                duration: 350
                                easing.type: Easing.InOutQuad
                            }
                            Connections {
                                target: mainState
                                function onIsRotatingChanged() {
                                    if (mainState.isRotating) {
                                        settle.stop()
                                        spin.start()
                                    } else {
                                        spin.stop()
                                        settle.start()
                                    }
                                }
                            }
                        }
                    }
                }

                HeaderButton {
                    objectName: "newNoteButton"
                    text: "New note"
                    Layout.minimumWidth: 32
                    symbol: "plus"
                    onClicked: mainState.addNewNote()
                }
            }
        }

        GridView {
            id: grid
            objectName: "noteGrid"
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.leftMargin: 16
            // Each cell carries the gap after its card, the last one too.
            Layout.rightMargin: 16 - columnSpacing
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            activeFocusOnTab: true
            keyNavigationEnabled: true
            // A card keeps its place on screen while the arrow keys walk.
            highlightFollowsCurrentItem: true
            highlightMoveDuration: 0
            Accessible.role: Accessible.List
            Accessible.name: "Notes"

            readonly property real columnSpacing: 8
            readonly property real rowSpacing: 20
            readonly property int columns: mainState.adaptiveColumnCount(width - columnSpacing, 150, columnSpacing)

            cellWidth: Math.floor(width / columns)
            cellHeight: 150 + rowSpacing
            topMargin: 4
            bottomMargin: 16
            model: mainState.filteredNotes

            onMovementStarted: mainState.isSearchBarFocused = false
            // The keyboard lands on a card: the first one until the arrows
            // move on.
            onActiveFocusChanged: if (activeFocus && count > 0 && currentIndex < 0) currentIndex = 0

            delegate: NoteCard {
                id: cell
                objectName: "noteCard"
                required property int index
                // Each cell carries the gap after its card.
                width: grid.cellWidth - grid.columnSpacing
                // Kept by the grid's state for the note, so a cell made again
                // after scrolling shows the card as it was left.
                cardState: mainState.cardStateForRow(cell.index)
                focus: GridView.isCurrentItem
            }

            // A drag of a few points in the grid also ends the search field's editing.
            DragHandler {
                target: null
                dragThreshold: 5
                grabPermissions: PointerHandler.CanTakeOverFromAnything | PointerHandler.ApprovesTakeOverByAnything
                onActiveChanged: if (active) mainState.isSearchBarFocused = false
            }
        }
    }
    // The e-mail sheet, shown while no address is configured. Its content is
    // built afresh each time it opens, so it starts from the prompt.
    Popup {
        id: emailSheet
        objectName: "emailSheet"
        parent: Overlay.overlay
        anchors.centerIn: parent
        modal: true
        // The address field takes the keyboard as soon as the sheet opens.
        focus: true
        padding: 0
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
        visible: mainState.noEmailConfiguration
        // A popup takes no name of its own; the item that screen readers
        // see as the sheet gets it.
        Component.onCompleted: contentItem.parent.Accessible.name = "E-mail address for sync"
        // Dismissed by Escape or a press outside: the flag follows.
        onClosed: mainState.noEmailConfiguration = false

        background: Rectangle {
            color: "white"
            radius: 10
            border.color: "#cfcac0"
        }

        contentItem: Loader {
            id: sheetLoader
            objectName: "emailSheetLoader"
            active: emailSheet.visible
            focus: true
            sourceComponent: EmailConfigView {
                id: sheetContent
                focus: true
                // The sheet's own rounded background shows through.
                background: null
                viewState: mainState.makeEmailConfigView(sheetContent)
            }
        }
    }
}
