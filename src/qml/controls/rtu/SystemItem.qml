import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

import "../base" as Base
import "../../common" as Common

Column {
    id: thisComponent

    property string systemName
    property int loggedState: TessRtu.Constants.LoggedToAllServers
    property int selectedState: Qt.Unchecked
    property int rowIndex: -1
    readonly property string caption: systemName.length ? systemName : qsTr("Unassigned system")

    signal clicked()
    // The list asks for the system's password in its one dialog.
    signal loginRequested()

    Item {
        width: 1
        height: Common.SizeManager.spacing.base
    }

    Item {
        width: parent.width
        height: Math.max(content.height, Common.SizeManager.clickableSizes.base)

        Item {
            id: content

            anchors.verticalCenter: parent.verticalCenter
            width: parent.width
            height: Math.max(captionText.height, checkBox.height, icon.height)
            enabled: thisComponent.loggedState !== TessRtu.Constants.NotLogged
            opacity: enabled ? 1 : 0.6

            Base.CheckMark {
                id: checkBox

                objectName: "checkBox"

                anchors.left: parent.left
                anchors.leftMargin: Common.SizeManager.spacing.base
                anchors.verticalCenter: parent.verticalCenter
                checkedState: thisComponent.selectedState
            }

            Base.Text {
                id: captionText

                anchors.left: checkBox.right
                anchors.right: icon.left
                anchors.leftMargin: Common.SizeManager.spacing.base
                anchors.rightMargin: Common.SizeManager.spacing.base
                anchors.verticalCenter: parent.verticalCenter
                thin: false
                wrapMode: Text.Wrap
                font.pixelSize: Common.SizeManager.fontSizes.medium
                text: thisComponent.caption
            }

            LoginStateIcon {
                id: icon

                anchors.right: parent.right
                anchors.rightMargin: Common.SizeManager.spacing.base
                anchors.verticalCenter: parent.verticalCenter
                loggedState: thisComponent.loggedState
            }
        }

        // Outside the content, so that a system nobody is logged in to still takes the click.
        MouseArea {
            anchors.fill: parent
            onClicked: thisComponent.clicked()
        }
    }

    Base.StyledButton {
        objectName: "loginButton"
        width: parent.width
        height: Common.SizeManager.clickableSizes.base
        visible: thisComponent.loggedState !== TessRtu.Constants.LoggedToAllServers
        text: qsTr("enter the password")
        onClicked: thisComponent.loginRequested()
    }

    Base.LineDelimiter {
        color: "#666666"
    }
}
