import QtQuick 2.5

import "../base" as Base
import "../../common" as Common

// The IPv4 settings of one network interface.
Grid {
    id: thisComponent

    property string adapterName
    property string readableName
    property string address
    property string subnetMask
    property string gateway
    property string dns
    property int useDHCP: Qt.Unchecked

    property alias ipAddressControl: ipAddressControl
    property alias subnetMaskControl: subnetMaskControl
    property alias gatewayControl: gatewayControl
    property alias dnsControl: dnsControl
    property alias useDHCPControl: useDHCPControl

    property bool changed: ipAddressControl.changed || subnetMaskControl.changed || gatewayControl.changed
                           || dnsControl.changed || useDHCPControl.changed

    readonly property bool staticAddress: useDHCPControl.checkedState === Qt.Unchecked

    columns: 3
    rowSpacing: Common.SizeManager.spacing.small
    columnSpacing: Common.SizeManager.spacing.medium
    verticalItemAlignment: Grid.AlignVCenter

    Base.Text {
        thin: false
        text: thisComponent.readableName
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }
    Item { width: 1; height: 1 }
    Item { width: 1; height: 1 }

    Base.Text {
        text: qsTr("IP")
    }
    Base.IpAddressControl {
        id: ipAddressControl

        label: qsTr("%1, %2").arg(thisComponent.readableName).arg(qsTr("IP"))
        enabled: thisComponent.staticAddress
        initialText: thisComponent.address
    }
    Base.CheckBox {
        id: useDHCPControl

        text: qsTr("Use DHCP")
        Accessible.description: thisComponent.readableName
        initialCheckedState: thisComponent.useDHCP
    }

    Base.Text {
        text: qsTr("Subnet mask")
    }
    Base.IpAddressControl {
        id: subnetMaskControl

        label: qsTr("%1, %2").arg(thisComponent.readableName).arg(qsTr("Subnet mask"))
        enabled: thisComponent.staticAddress
        initialText: thisComponent.subnetMask
    }
    Item { width: 1; height: 1 }

    Base.Text {
        text: qsTr("Default Gateway")
    }
    Base.IpAddressControl {
        id: gatewayControl

        label: qsTr("%1, %2").arg(thisComponent.readableName).arg(qsTr("Default Gateway"))
        enabled: thisComponent.staticAddress
        initialText: thisComponent.gateway
    }
    Item { width: 1; height: 1 }

    Base.Text {
        text: qsTr("DNS server")
    }
    Base.IpAddressControl {
        id: dnsControl

        label: qsTr("%1, %2").arg(thisComponent.readableName).arg(qsTr("DNS server"))
        initialText: thisComponent.dns
    }
    Item { width: 1; height: 1 }
}
