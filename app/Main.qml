import QtQuick
import QtQuick.Controls
import TovikNote.Views
import TovikNote.App

// The one window: no title bar of the platform's, moved by dragging the menu
// bar or a screen's header, always in light colours.
ApplicationWindow {
    id: window

    required property AppState appState
    required property SyncManager syncManager
    required property MainMenuModel mainMenu

    flags: Qt.Window | Qt.FramelessWindowHint
    minimumWidth: 900
    minimumHeight: 720
    width: 1100
    height: 800
    visible: true
    color: Theme.bgColor

    menuBar: MenuBar {
        id: menuBar
        objectName: "mainMenuBar"

        DragHandler {
            target: null
            onActiveChanged: if (active) window.startSystemMove()
        }

        Instantiator {
            model: window.mainMenu
            delegate: Menu {
                id: menu
                required property int index
                required property string menuTitle
                required property bool isMenuItem
                required property var commandTitles

                title: menu.menuTitle
                Instantiator {
                    model: menu.commandTitles
                    delegate: MenuItem {
                        required property int index
                        required property string modelData
                        text: modelData
                        onTriggered: window.mainMenu.trigger(menu.index, index)
                    }
                    onObjectAdded: (position, item) => menu.insertItem(position, item)
                    onObjectRemoved: (position, item) => menu.removeItem(item)
                }
            }
            // Separators have no place in a menu bar: only menus are shown.
            onObjectAdded: (position, menu) => { if (menu.isMenuItem) menuBar.addMenu(menu) }
            onObjectRemoved: (position, menu) => menuBar.removeMenu(menu)
        }
    }

    ScreenSwitcher {
        id: switcher
        appState: window.appState
    }

    Item {
        id: screens
        objectName: "screens"
        anchors.fill: parent

        Repeater {
            model: 2
            delegate: ScreenSlot {
                required property int index
                objectName: "screenSlot" + index
                anchors.fill: parent
                appState: window.appState
                syncManager: window.syncManager
                kind: switcher.slotKinds[index]
                noteId: switcher.slotNoteIds[index]
                front: switcher.frontSlot === index
            }
        }
    }
}
