import QtQuick 2.5

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

    function showError(field, adapterName, control) {
        errorDialog.message = qsTr("Invalid %1 for interface %2 specified. Can't apply changes.")
            .arg(field).arg(adapterName);
        errorDialog.show();
        control.forceActiveFocus();
        return false;
    }

    // An address field left blank clears the setting; anything else must be a valid address.
    function isAcceptableOrEmpty(control) {
        return control.isEmptyAddress || control.acceptableInput;
    }

    function tryApplyChanges() {
        if (!changed)
            return true;

        var manager = rtuContext.changesManager();
        for (var i = 0; i < repeater.count; ++i) {
            var line = repeater.itemAt(i);
            if (!line.changed)
                continue;

            var name = line.adapterName;
            var useDHCP = line.useDHCPControl.checkedState !== Qt.Unchecked;
            var somethingChanged = line.useDHCPControl.changed;

            // Without DHCP the server needs both address and mask, even unchanged ones.
            if (!useDHCP) {
                if (!line.ipAddressControl.acceptableInput)
                    return showError(qsTr("ip address"), name, line.ipAddressControl);
                manager.addAddressChange(name, line.ipAddressControl.text);

                if (!line.subnetMaskControl.acceptableInput)
                    return showError(qsTr("mask"), name, line.subnetMaskControl);
                manager.addMaskChange(name, line.subnetMaskControl.text);
                somethingChanged = true;
            }

            if (line.dnsControl.changed) {
                if (!isAcceptableOrEmpty(line.dnsControl))
                    return showError(qsTr("dns"), name, line.dnsControl);
                manager.addDNSChange(name, line.dnsControl.isEmptyAddress ? "" : line.dnsControl.text);
                somethingChanged = true;
            }

            if (line.gatewayControl.changed) {
                if (!isAcceptableOrEmpty(line.gatewayControl))
                    return showError(qsTr("gateway"), name, line.gatewayControl);
                manager.addGatewayChange(name,
                    line.gatewayControl.isEmptyAddress ? "" : line.gatewayControl.text);
                somethingChanged = true;
            }

            if (somethingChanged)
                manager.addDHCPChange(name, useDHCP);
        }
        return true;
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

    Dialogs.ErrorDialog {
        id: errorDialog

        objectName: "errorDialog"
    }
}
