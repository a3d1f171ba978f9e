import QtQuick 2.5
import QtQuick.Window 2.2

import "../controls/base" as Base
import "../common" as Common

Window {
    id: dialog

    // The system the password is for; the empty name is that of factory servers.
    property string systemName
    readonly property alias passwordField: passwordField
    readonly property alias showPasswordCheckBox: showPassword

    signal loginClicked(string password)
    signal cancelClicked()

    function login() {
        var password = passwordField.text
        dialog.loginClicked(password)
        dialog.close()
    }

    function cancel() {
        dialog.cancelClicked()
        dialog.close()
    }

    // Every showing starts afresh: nothing typed before stays visible.
    onVisibleChanged: {
        if (!visible)
            return
        passwordField.text = ""
        showPassword.checked = false
        passwordField.forceActiveFocus()
    }

    flags: Qt.Dialog | Qt.WindowTitleHint | Qt.MSWindowsFixedSizeDialogHint
    title: qsTr("Login to server")

    width: Math.ceil(content.width + 2 * Common.SizeManager.spacing.medium)
    height: Math.ceil(content.height + 2 * Common.SizeManager.spacing.medium)
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height

    Base.Column {
        id: content

        x: Common.SizeManager.spacing.medium
        y: Common.SizeManager.spacing.medium

        Base.Text {
            objectName: "systemCaption"
            width: passwordRow.width
            wrapMode: Text.Wrap
            thin: false
            text: qsTr("System: %1").arg(dialog.systemName.length ? dialog.systemName : qsTr("Unassigned system"))
        }

        Row {
            id: passwordRow

            spacing: Common.SizeManager.spacing.base

            Base.Text {
                width: 4 * height
                height: passwordField.height
                verticalAlignment: Text.AlignVCenter
                horizontalAlignment: Text.AlignRight
                text: qsTr("Password:")
            }

            Base.TextField {
                id: passwordField

                width: 4 * height
                echoMode: showPassword.checked ? TextInput.Normal : TextInput.Password
                onAccepted: dialog.login()
            }
        }

        Base.CheckBox {
            id: showPassword

            anchors.right: parent.right
            initialCheckedState: Qt.Unchecked
            text: qsTr("Show password")
        }

        Row {
            anchors.right: parent.right
            layoutDirection: Qt.RightToLeft
            spacing: Common.SizeManager.spacing.base

            Base.StyledButton {
                width: 3 * height
                text: qsTr("Ok")
                onClicked: dialog.login()
            }

            Base.Button {
                width: 3 * height
                text: qsTr("Cancel")
                onClicked: dialog.cancel()
            }
        }
    }
}
