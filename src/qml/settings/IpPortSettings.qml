import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

import "../controls/base" as Base
import "../controls/expandable" as Expandable
import "../controls/rtu" as Rtu
import "../dialogs" as Dialogs
import "../common" as Common

Expandable.MaskedSettingsPanel {
    id: thisComponent

    readonly property var selection: rtuContext.selection
    readonly property int selectedCount: selection ? selection.count : 0
    readonly property int flags: selection ? selection.flags : 0
    readonly property bool singleSelection: selectedCount === 1
    readonly property bool interfacesEditable: (flags & TessRtu.Constants.AllowIfConfigFlag) !== 0
    readonly property bool showInterfaces: interfacesEditable || singleSelection

    function tryApplyChanges() {
        if (!changed)
            return true;

        var properties = maskedArea;
        var manager = rtuContext.changesManager();
        draft.clear();
        if (properties.portControl.changed)
            draft.setPort(properties.portControl.text);

        var editor = properties.interfaceEditor;
        var dhcpOnAll = showInterfaces && editor && !singleSelection
            && editor.enableDhcpOnAll.checkedState === Qt.Checked;
        if (dhcpOnAll)
            draft.turnOnDhcp();
        var problem = draft.problem();
        if (problem.field !== TessRtu.ChangeDraft.NoField) {
            errorDialog.message = problem.message;
            errorDialog.show();
            properties.portControl.forceActiveFocus();
            return false;
        }
        draft.submit(manager);

        if (!showInterfaces || !editor || dhcpOnAll)
            return true;
        return editor.tryApplyChanges();
    }

    propertiesGroupName: qsTr("Configure Device Network Settings")

    // On a narrow page the port goes below the interfaces.
    propertiesDelegate: Flow {
        property alias portControl: portControl
        property Item interfaceEditor: thisComponent.showInterfaces ? interfacesItem.currentItem : null
        property bool changed: portControl.changed || (interfaceEditor !== null && interfaceEditor.changed)
        readonly property real minimumWidth: Math.max(interfacesItem.width, portColumn.width)

        width: thisComponent.width
        spacing: Common.SizeManager.spacing.large

        Rtu.FlaggedItem {
            id: interfacesItem

            showItem: thisComponent.showInterfaces
            message: qsTr("Can not change interfaces settings for some selected servers")
            item: thisComponent.singleSelection ? singleServerInterfaces : multipleServersInterfaces
        }

        Column {
            id: portColumn

            spacing: Common.SizeManager.spacing.base

            Base.Text {
                thin: false
                text: qsTr("Port")
            }

            Base.PortControl {
                id: portControl

                width: Common.SizeManager.clickableSizes.base * 3
                initialPort: thisComponent.selection ? thisComponent.selection.port : 0
                Accessible.name: qsTr("Port")
            }
        }
    }

    TessRtu.ChangeDraft {
        id: draft
    }

    Dialogs.ErrorDialog {
        id: errorDialog

        objectName: "portErrorDialog"
    }

    Component {
        id: singleServerInterfaces

        Rtu.InterfacesSettingsList {
            enabled: thisComponent.interfacesEditable
            disabledReason: qsTr("Interfaces settings cannot be changed on this server")
        }
    }

    Component {
        id: multipleServersInterfaces

        Rtu.MultipleInterfacesSettings {
            dhcpState: thisComponent.selection ? thisComponent.selection.dhcpState : Qt.Unchecked
        }
    }
}
