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
    property int serversCount: 0
    property int selectedServersCount: 0
    readonly property string caption: systemName.length ? systemName : qsTr("Unassigned system")
    // Where the keyboard can stop in this row: the row itself, and the
    // password entry while it is shown.
    readonly property alias rowArea: rowArea
    readonly property alias loginButton: loginButton
    readonly property bool needsPassword: loggedState !== TessRtu.Constants.LoggedToAllServers

    signal clicked()
    // The list asks for the system's password in its one dialog.
    signal loginRequested()

    Item {
        width: 1
        height: Common.SizeManager.spacing.base
    }

    Item {
        id: rowArea

        width: parent.width
        height: Math.max(content.height, Common.SizeManager.clickableSizes.base)

        Keys.onSpacePressed: {
            if (!event.isAutoRepeat)
                thisComponent.clicked();
        }

        // Screen readers say nothing of a list row's checked state as it
        // changes; the row under the keyboard says how much is selected.
        Connections {
            target: thisComponent
            function onSelectedServersCountChanged() {
                if (rowArea.activeFocus)
                    Common.Announcer.say(qsTr("%1 of %2 servers selected").arg(thisComponent.selectedServersCount)
                                         .arg(thisComponent.serversCount));
            }
        }
        Keys.onReturnPressed: thisComponent.clicked()
        Keys.onEnterPressed: thisComponent.clicked()

        Accessible.role: Accessible.ListItem
        Accessible.name: thisComponent.caption
        Accessible.description: {
            var login = thisComponent.loggedState === TessRtu.Constants.NotLogged ? qsTr("not logged in")
                : thisComponent.loggedState === TessRtu.Constants.PartiallyLogged ? qsTr("logged in to some servers")
                : qsTr("logged in");
            return qsTr("system, %1, %2 of %3 servers selected").arg(login)
                .arg(thisComponent.selectedServersCount).arg(thisComponent.serversCount);
        }
        Accessible.focusable: true
        Accessible.checkable: true
        Accessible.checked: thisComponent.selectedState === Qt.Checked
        Accessible.checkStateMixed: thisComponent.selectedState === Qt.PartiallyChecked
        Accessible.onToggleAction: thisComponent.clicked()
        Accessible.onPressAction: thisComponent.clicked()

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

        Base.FocusFrame {
            inset: Common.SizeManager.lineSizes.thin
        }
    }

    Base.StyledButton {
        id: loginButton

        objectName: "loginButton"
        // The list leads the keyboard here with the arrow keys.
        activeFocusOnTab: false
        focusInset: Common.SizeManager.lineSizes.thin
        Accessible.description: qsTr("log in to system %1").arg(thisComponent.caption)
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
