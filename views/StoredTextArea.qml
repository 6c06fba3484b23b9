import QtQuick
import QtQuick.Controls

// A text area on a text that someone else keeps (a note editor or a to-do
// row). It is given `source.shownText`, reports how it reads it and every
// change the user makes, and never writes the kept text itself: what a text
// area cannot hold (CR LF line ends, no-break spaces, line separators) is not
// lost by showing it.
TextArea {
    id: area

    // Offers shownText and shownTextReplaced(); takes textShown() and textEdited().
    required property QtObject source

    property bool showing: false

    function showStored() {
        if (!source)
            return
        showing = true
        text = source.shownText
        showing = false
        // Typing goes on at the end of what is there.
        cursorPosition = length
        source.textShown(text)
    }

    onTextChanged: if (!showing && source) source.textEdited(text)

    // Tab types a tab here; Ctrl+Tab and Shift+Tab take the keyboard on, so
    // the text never holds it.
    function passFocus(forward) {
        const next = nextItemInFocusChain(forward)
        if (next && next !== area)
            next.forceActiveFocus(forward ? Qt.TabFocusReason : Qt.BacktabFocusReason)
    }
    Keys.onPressed: (event) => {
        // Shift+Tab and Ctrl+Shift+Tab both come as a back tab.
        if (event.key === Qt.Key_Backtab) {
            passFocus(false)
            event.accepted = true
        } else if (event.key === Qt.Key_Tab && (event.modifiers & Qt.ControlModifier)) {
            passFocus(true)
            event.accepted = true
        }
    }
    Component.onCompleted: showStored()

    Connections {
        target: area.source
        function onShownTextReplaced() { area.showStored() }
    }
}
