import QtQuick 2.5

import "../base" as Base
import "../../common" as Common

Item {
    property string address

    height: addressText.height + 2 * Common.SizeManager.spacing.small

    Accessible.role: Accessible.ListItem
    Accessible.name: address
    Accessible.description: qsTr("a host that is not identified as a server")
    Accessible.focusable: true

    Image {
        id: mark

        x: Common.SizeManager.spacing.medium
        anchors.verticalCenter: parent.verticalCenter
        height: addressText.height
        width: height
        fillMode: Image.PreserveAspectFit
        source: "qrc:/resources/unknown.png"
    }

    Base.Text {
        id: addressText

        anchors.left: mark.right
        anchors.leftMargin: Common.SizeManager.spacing.base
        anchors.verticalCenter: parent.verticalCenter
        text: parent.address
    }

    Base.FocusFrame {
        inset: Common.SizeManager.lineSizes.thin
    }
}
