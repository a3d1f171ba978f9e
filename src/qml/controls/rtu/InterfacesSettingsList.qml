import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

import "../base" as Base
import "../../dialogs" as Dialogs
import "../../common" as Common

// The interfaces of the one selected server, each editable on its own.
Column {
    id: thisComponent

    property var interfacesModel: rtuContext.ipSettingsModel()
    property bool changed: {
        for (var i = 0; i < repeater.count; ++i) {
            var line = repeater.itemAt(i);
            if (line && line.changed)
                return true;
        }
        return false;
    }
    property alias lines: repeater
    // Said above the greyed fields when the list is disabled.
    property string disabledReason

    // The field of a line that a refusal is about.
    function fieldOf(line, field) {
        switch (field) {
        case TessRtu.ChangeDraft.AddressField:
            return line.ipAddressControl;
        case TessRtu.ChangeDraft.MaskField:
            return line.subnetMaskControl;
        case TessRtu.ChangeDraft.DnsField:
            return line.dnsControl;
        default:
            return line.gatewayControl;
        }
    }

    // The changed lines go through a draft, which applies the tool's rules
    // (an emptied DNS or gateway field clears the setting).
    function tryApplyChanges() {
        if (!changed)
            return true;

        draft.clear();
        var changedLines = {};
        for (var i = 0; i < repeater.count; ++i) {
            var line = repeater.itemAt(i);
            if (!line.changed)
                continue;
            changedLines[line.adapterName] = line;
            var edit = {
                "name": line.adapterName,
                "useDhcp": line.useDHCPControl.checkedState !== Qt.Unchecked,
                "dhcpChanged": line.useDHCPControl.changed,
                "address": line.ipAddressControl.text,
                "mask": line.subnetMaskControl.text
            };
            if (line.dnsControl.changed)
                edit.dns = line.dnsControl.text;
            if (line.gatewayControl.changed)
                edit.gateway = line.gatewayControl.text;
            draft.addInterface(edit);
        }

        var problem = draft.problem();
        if (problem.field !== TessRtu.ChangeDraft.NoField) {
            errorDialog.message = problem.message;
            errorDialog.show();
            fieldOf(changedLines[problem.interfaceName], problem.field).forceActiveFocus();
            return false;
        }
        return draft.submit(rtuContext.changesManager());
    }

    spacing: Common.SizeManager.spacing.large

    Base.Text {
        objectName: "disabledReason"
        width: Math.min(implicitWidth, Common.SizeManager.clickableSizes.large * 6)
        visible: !thisComponent.enabled && text.length > 0
        color: "#FF0000"
        wrapMode: Text.Wrap
        text: thisComponent.disabledReason
    }

    Base.Text {
        objectName: "interfacesLimitNotice"
        width: Math.min(implicitWidth, Common.SizeManager.clickableSizes.large * 6)
        // The tool keeps no more of a server's interfaces than this.
        visible: repeater.count >= 64
        color: "#FF0000"
        wrapMode: Text.Wrap
        text: qsTr("Only the first %1 interfaces are shown").arg(64)
    }

    Repeater {
        id: repeater

        model: thisComponent.interfacesModel

        delegate: InterfaceSettingsItem {
            adapterName: model.adapterName
            readableName: model.readableName
            address: model.address
            subnetMask: model.subnetMask
            gateway: model.gateway
            dns: model.dns
            useDHCP: model.useDHCP
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
