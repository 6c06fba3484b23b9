import QtQuick
import QtQuick.Controls
import TovikNote.Views

// A text button of a dialog or sheet. Return and Enter press it, as Space
// does, once it has the keyboard focus, which its ring shows.
Button {
    id: button

    Keys.onReturnPressed: if (enabled) clicked()
    Keys.onEnterPressed: if (enabled) clicked()

    FocusRing { shown: button.visualFocus }
}
