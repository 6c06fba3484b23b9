import QtQuick

Rectangle {
    color: "#f6f4ef"
    Text {
        anchors.centerIn: parent
        text: "TovikNote"
        font.pixelSize: 14
    }
}
