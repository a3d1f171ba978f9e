import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

import "../base" as Base
import "../../common" as Common

Rectangle {
    id: thisComponent

    property bool show: false

    signal updateClicked()

    width: parent ? parent.width : 0
    height: buttonsPanel.height
    y: show ? 0 : -height
    // Out of sight above the page once it has slid away: neither a stop of
    // the Tab order nor shown to screen readers.
    visible: show || y > -height
    color: "#35A0DA"

    Behavior on y {
        NumberAnimation {
            duration: 300
            easing.type: Easing.InOutQuad
        }
    }

    Base.Text {
        anchors.left: parent.left
        anchors.leftMargin: Common.SizeManager.spacing.large
        anchors.verticalCenter: parent.verticalCenter
        thin: false
        color: "white"
        font.pixelSize: Common.SizeManager.fontSizes.medium
        text: qsTr("Information outdated")
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    Base.ButtonsPanel {
        id: buttonsPanel

        objectName: "updateButtons"
        anchors.right: parent.right
        buttons: TessRtu.Buttons.Update
        spacing: Common.SizeManager.spacing.medium
        onButtonClicked: thisComponent.updateClicked()
    }
}
