import QtQuick 2.5

import "../controls/base" as Base
import "../controls/expandable" as Expandable
import "../dialogs" as Dialogs
import "../common" as Common

Expandable.MaskedSettingsPanel {
    id: thisComponent

    readonly property var selection: rtuContext.selection
    readonly property int selectedCount: selection ? selection.count : 0
    readonly property string systemName: selection ? selection.systemName : ""
    readonly property string password: selection ? selection.password : ""

    function refuse(what, field) {
        errorDialog.message = qsTr("Invalid %1 specified. Can't apply changes").arg(what);
        errorDialog.show();
        field.forceActiveFocus();
        return false;
    }

    function tryApplyChanges() {
        if (!changed)
            return true;

        var manager = rtuContext.changesManager();
        var nameField = maskedArea.systemNameField;
        if (nameField.changed) {
            if (nameField.text.trim().length === 0)
                return refuse(qsTr("system name"), nameField);
            manager.addSystemChange(nameField.text);
        }

        var passwordField = maskedArea.passwordField;
        if (passwordField.changed) {
            if (passwordField.text.trim().length === 0)
                return refuse(qsTr("password"), passwordField);
            manager.addPasswordChange(passwordField.text);
        }
        return true;
    }

    propertiesGroupName: qsTr("Set System Name and Password")

    propertiesDelegate: Column {
        property alias systemNameField: systemNameField
        property alias passwordField: passwordField
        property bool changed: systemNameField.changed || passwordField.changed

        spacing: Common.SizeManager.spacing.small

        Base.Text {
            thin: false
            text: qsTr("System Name")
        }

        Base.TextField {
            id: systemNameField

            readonly property bool differs: thisComponent.systemName.length === 0 && thisComponent.selectedCount > 1

            width: height * 6
            clearOnInitValue: differs
            initialText: differs ? qsTr("<different systems>") : thisComponent.systemName
            Accessible.name: qsTr("System Name")
            Accessible.description: initialText
        }

        Item {
            width: 1
            height: Common.SizeManager.spacing.base
        }

        Base.Text {
            thin: false
            text: qsTr("System Password")
        }

        Base.TextField {
            id: passwordField

            readonly property bool differs: thisComponent.password.length === 0

            width: height * 6
            clearOnInitValue: differs
            initialText: differs ? qsTr("<different passwords>") : thisComponent.password
            Accessible.name: qsTr("System Password")
        }
    }

    Dialogs.ErrorDialog {
        id: errorDialog

        objectName: "errorDialog"
    }
}
