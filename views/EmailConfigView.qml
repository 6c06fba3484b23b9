import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import TovikNote.Views

// The e-mail configuration sheet's content: status line, address field, Cancel and Save.
Pane {
    id: root

    required property EmailConfigViewState viewState

    padding: 20
    implicitWidth: 380

    ColumnLayout {
        anchors.fill: parent
        spacing: 20

        Label {
            objectName: "emailStatus"
            Layout.alignment: Qt.AlignHCenter
            Layout.maximumWidth: parent.width
            text: root.viewState.errorMessage
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            color: root.viewState.isSaving ? "blue" : "red"
        }

        TextField {
            objectName: "emailField"
            Layout.fillWidth: true
            placeholderText: "Email"
            focus: true
            text: root.viewState.email
            enabled: !root.viewState.isSaving
            inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase
            onTextEdited: root.viewState.email = text
            Accessible.name: "Email"
            // Return sends the address, as the Save button does.
            Keys.onReturnPressed: if (!root.viewState.isSaving) root.viewState.save()
            Keys.onEnterPressed: if (!root.viewState.isSaving) root.viewState.save()
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 20

            DialogButton {
                objectName: "emailCancel"
                text: "Cancel"
                onClicked: root.viewState.close()
            }
            Item { Layout.fillWidth: true }
            DialogButton {
                objectName: "emailSave"
                text: "Save"
                highlighted: true
                enabled: !root.viewState.isSaving
                onClicked: root.viewState.save()
            }
        }
    }
}
