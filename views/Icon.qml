import QtQuick
import TovikNote.Views

// A symbol by name, drawn with the icon font and centred in its own box.
Text {
    id: icon
    property string symbol
    property real size: 20

    text: Theme.glyph(symbol)
    font.family: Theme.iconFontFamily
    font.pixelSize: size
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
    renderType: Text.QtRendering
}
