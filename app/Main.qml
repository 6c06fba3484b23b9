import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import TovikNote.Views
import TovikNote.App

// The one window: no title bar of the platform's. Its top strip holds the
// close, minimise and maximise buttons and the menu bar; it moves the window
// when dragged and maximises or restores it on a double click. The window
// manager resizes it by its edges and corners. Always in light colours.
ApplicationWindow {
    id: window

    required property AppState appState
    required property SyncManager syncManager
    required property MainMenuModel mainMenu

    flags: Qt.Window | Qt.FramelessWindowHint
    title: "TovikNote"
    minimumWidth: 900
    minimumHeight: 720
    width: 1100
    height: 800
    visible: true
    color: Theme.bgColor

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Item {
            id: titleStrip
            objectName: "titleStrip"
            Layout.fillWidth: true
            Layout.preferredHeight: menuBar.implicitHeight

            DragHandler {
                target: null
                onActiveChanged: if (active) window.startSystemMove()
            }
            TapHandler {
                onDoubleTapped: windowButtons.toggleMaximized()
            }

            WindowButtons {
                id: windowButtons
                objectName: "windowButtons"
                window: window
                x: 14
                anchors.verticalCenter: parent.verticalCenter
            }

            MenuBar {
                id: menuBar
                objectName: "mainMenuBar"
                anchors.left: windowButtons.right
                anchors.leftMargin: 14
                anchors.right: parent.right
                background: Item {}

                Instantiator {
                    model: window.mainMenu
                    delegate: Menu {
                        id: menu
                        required property int index
                        required property string menuTitle
                        required property bool isMenuItem
                        required property var commandTitles
                        required property var commandShortcuts

                        title: menu.menuTitle
                        Instantiator {
                            model: menu.commandTitles
                            delegate: MenuItem {
                                id: menuItem
                                required property int index
                                required property string modelData
                                readonly property alias shortcutText: shortcut.nativeText

                                text: modelData
                                onTriggered: window.mainMenu.trigger(menu.index, index)
                                contentItem: RowLayout {
                                    spacing: 24
                                    Label {
                                        Layout.fillWidth: true
                                        text: menuItem.text
                                        font: menuItem.font
                                        color: menuItem.palette.windowText
                                    }
                                    Label {
                                        text: menuItem.shortcutText
                                        font: menuItem.font
                                        color: menuItem.palette.placeholderText
                                    }
                                }

                                // Answers its keys while the menu is closed too.
                                Shortcut {
                                    id: shortcut
                                    sequence: menu.commandShortcuts[menuItem.index] || ""
                                    enabled: sequence !== ""
                                    context: Qt.ApplicationShortcut
                                    onActivated: window.mainMenu.trigger(menu.index, menuItem.index)
                                }
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
        }

        Item {
            id: screens
            objectName: "screens"
            Layout.fillWidth: true
            Layout.fillHeight: true

            ScreenSwitcher {
                id: switcher
                appState: window.appState
            }

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

    ResizeFrame {
        objectName: "resizeFrame"
        anchors.fill: parent
        z: 1
        window: window
    }
}
