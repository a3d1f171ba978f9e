import QtQuick 2.5
import QtQuick.Window 2.2

import orvane.rtu 1.0 as TessRtu

import "../controls/base" as Base
import "../common" as Common

Window {
    id: dialog

    // The system the password is for; the empty name is that of factory servers.
    property string systemName
    // Which of its servers the password will not reach, and what to do; empty when none.
    property string conflict
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

    // Every showing starts afresh, and a closed dialog keeps no password
    // that another program could read through the accessibility bus.
    onVisibleChanged: {
        if (!visible) {
            passwordField.text = ""
            return
        }
        passwordField.text = ""
        showPassword.checked = false
        requestActivate()
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

    // Enter anywhere but on "Cancel" logs in (the field does so itself);
    // Escape cancels.
    Item {
        anchors.fill: parent
        focus: true

        Keys.onReturnPressed: {
            if (!passwordField.activeFocus)
                dialog.login()
        }
        Keys.onEnterPressed: {
            if (!passwordField.activeFocus)
                dialog.login()
        }
        Keys.onEscapePressed: dialog.cancel()

        Accessible.role: Accessible.Dialog
        Accessible.name: dialog.title

        Base.Column {
            id: content

            x: Common.SizeManager.spacing.medium
            y: Common.SizeManager.spacing.medium

            Base.Text {
                id: systemCaption

                objectName: "systemCaption"
                width: passwordRow.width
                wrapMode: Text.Wrap
                thin: false
                text: qsTr("System: %1").arg(dialog.systemName.length ? dialog.systemName : qsTr("Unassigned system"))
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }

            Base.Text {
                id: conflictText

                objectName: "conflictText"
                width: passwordRow.width
                visible: dialog.conflict.length !== 0
                wrapMode: Text.Wrap
                font.pixelSize: Common.SizeManager.fontSizes.small
                text: dialog.conflict
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }

            Row {
                id: passwordRow

                spacing: Common.SizeManager.spacing.base

                Base.Text {
                    id: passwordLabel

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
                    // Qt withholds a password field's own name.
                    TessRtu.AccessibleExtras.name: qsTr("Password")
                    Accessible.description: systemCaption.text
                    onAccepted: dialog.login()
                }
            }

            Base.CheckBox {
                id: showPassword

                anchors.right: parent.right
                initialCheckedState: Qt.Unchecked
                text: qsTr("Show password")
            }

            // Left to right, so that Tab goes from "Cancel" to "Ok" as they are seen.
            Row {
                anchors.right: parent.right
                spacing: Common.SizeManager.spacing.base

                Base.Button {
                    width: 3 * height
                    text: qsTr("Cancel")
                    onClicked: dialog.cancel()
                }

                Base.StyledButton {
                    width: 3 * height
                    text: qsTr("Ok")
                    onClicked: dialog.login()
                }
            }
        }
    }
}
