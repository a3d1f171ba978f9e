import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

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

    // The name and password as typed; the draft refuses blank ones and what
    // no server could be sent.
    function tryApplyChanges() {
        if (!changed)
            return true;

        var nameField = maskedArea.systemNameField;
        var passwordField = maskedArea.passwordField;
        draft.clear();
        if (nameField.changed)
            draft.setSystemName(nameField.text);
        if (passwordField.changed)
            draft.setPassword(passwordField.text);

        var problem = draft.problem();
        if (problem.field !== TessRtu.ChangeDraft.NoField) {
            errorDialog.message = problem.message;
            errorDialog.show();
            (problem.field === TessRtu.ChangeDraft.SystemNameField ? nameField : passwordField).forceActiveFocus();
            return false;
        }
        return draft.submit(rtuContext.changesManager());
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

    TessRtu.ChangeDraft {
        id: draft
    }

    Dialogs.ErrorDialog {
        id: errorDialog

        objectName: "errorDialog"
    }
}
