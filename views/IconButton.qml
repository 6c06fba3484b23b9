import QtQuick
import QtQuick.Controls
import TovikNote.Views

// A button that shows only a symbol. Its text says what it does: a screen
// reader reads it as the button's name and the button shows it as its
// tooltip. Space, Return and Enter press it once it has the keyboard focus.
AbstractButton {
    id: button

    property string symbol

    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    display: AbstractButton.IconOnly

    ToolTip.text: text
    ToolTip.visible: text.length > 0 && (hovered || visualFocus)
    ToolTip.delay: visualFocus ? 0 : 600

    // Runs what a click runs: the action when there is one.
    function activate() {
        if (!enabled)
            return
        if (action)
            action.trigger(button)
        else
            clicked()
    }
    Keys.onReturnPressed: activate()
    Keys.onEnterPressed: activate()

    FocusRing { shown: button.visualFocus }
}
