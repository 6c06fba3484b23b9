import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import TovikNote.Views
import TovikNote.App

// Everything the window shows: the top strip with the window buttons and the
// menu bar, above the screens. Its top strip moves the window when dragged
// and maximises or restores it on a double click.
Item {
    id: content

    required property Window window
    required property AppState appState
    required property SyncManager syncManager
    required property MainMenuModel mainMenu

    // The screen in front, which runs the menu's named commands.
    readonly property Item frontScreen: screenSlots.count > 0
        ? (screenSlots.itemAt(switcher.frontSlot)?.item ?? null) : null
    function offers(name) {
        return name === "" || (frontScreen?.availableCommands ?? []).indexOf(name) >= 0
    }
    Connections {
        target: content.mainMenu
        function onCommandRequested(name) {
            if (content.offers(name))
                content.frontScreen.runCommand(name)
        }
    }

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
                onActiveChanged: if (active) content.window.startSystemMove()
            }
            TapHandler {
                onDoubleTapped: windowButtons.toggleMaximized()
            }

            WindowButtons {
                id: windowButtons
                objectName: "windowButtons"
                window: content.window
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
                    model: content.mainMenu
                    delegate: Menu {
                        id: menu
                        required property int index
                        required property string menuTitle
                        required property bool isMenuItem
                        required property var commandTitles
                        required property var commandShortcuts
                        required property var commandNames

                        title: menu.menuTitle
                        Instantiator {
                            model: menu.commandTitles
                            delegate: MenuItem {
                                id: menuItem
                                required property int index
                                required property string modelData
                                readonly property alias shortcutText: shortcut.nativeText
                                readonly property string commandName: menu.commandNames[index] || ""

                                text: modelData
                                enabled: content.offers(commandName)
                                onTriggered: content.mainMenu.trigger(menu.index, index)
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

                                // Answers its keys while the menu is closed too;
                                // a screen answers the keys of its own commands.
                                Shortcut {
                                    id: shortcut
                                    sequence: menu.commandShortcuts[menuItem.index] || ""
                                    enabled: sequence !== "" && menuItem.commandName === ""
                                    context: Qt.ApplicationShortcut
                                    onActivated: content.mainMenu.trigger(menu.index, menuItem.index)
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
                appState: content.appState
            }

            Repeater {
                id: screenSlots
                model: 2
                delegate: ScreenSlot {
                    required property int index
                    objectName: "screenSlot" + index
                    anchors.fill: parent
                    appState: content.appState
                    syncManager: content.syncManager
                    kind: switcher.slotKinds[index]
                    noteId: switcher.slotNoteIds[index]
                    front: switcher.frontSlot === index
                }
            }
        }
    }
}
