import QtQuick 2.5

import "../base" as Base
import "../../common" as Common

// Network settings of several servers at once: only DHCP can be turned on.
Column {
    id: thisComponent

    property int dhcpState: Qt.Unchecked
    property bool changed: enableDhcpCheckBox.changed
    property alias enableDhcpOnAll: enableDhcpCheckBox

    // The DHCP request itself is made by the network panel.
    function tryApplyChanges() {
        return true;
    }

    spacing: Common.SizeManager.spacing.base

    Base.Text {
        width: Common.SizeManager.clickableSizes.large * 6
        color: "red"
        wrapMode: Text.Wrap
        text: qsTr("Ip address and subnet mask cannot be changed for multiple servers")
    }

    Base.CheckBox {
        id: dhcpCheckBox

        enabled: false
        text: qsTr("DHCP")
        initialCheckedState: thisComponent.dhcpState
    }

    Base.CheckBox {
        id: enableDhcpCheckBox

        enabled: thisComponent.dhcpState !== Qt.Checked
        text: qsTr("Enable DHCP on all servers")
        initialCheckedState: Qt.Unchecked
    }
}
