import QtQuick 2.5

import "../base" as Base
import "../../common" as Common

Item {
    id: thisComponent

    property bool loggedIn: false
    property string name
    property string macAddress
    property int selectedState: Qt.Unchecked
    property int rowIndex: -1
    // The full name while the pointer rests on a name cut short; null otherwise.
    readonly property alias nameTooltip: tooltipLoader.item

    signal singleClicked()
    signal doubleClicked()

    function handleClick() {
        if (!loggedIn)
            return;
        if (clickWindow.running) {
            clickWindow.stop();
            doubleClicked();
        } else {
            singleClicked();
            clickWindow.start();
        }
    }

    function handleDoubleClick() {
        if (!loggedIn)
            return;
        clickWindow.stop();
        doubleClicked();
    }

    height: content.height + 2 * Common.SizeManager.spacing.medium
    opacity: loggedIn ? 1 : 0.3

    Rectangle {
        anchors.fill: parent
        radius: 1
        color: thisComponent.loggedIn ? "lightblue" : "lightgrey"
        border.color: thisComponent.loggedIn ? "blue" : "lightgrey"
        border.width: 1
        opacity: thisComponent.loggedIn ? 0.2 : 1
        visible: !thisComponent.loggedIn || thisComponent.selectedState === Qt.Checked
    }

    Row {
        id: content

        x: Common.SizeManager.spacing.medium
        y: Common.SizeManager.spacing.medium
        width: parent.width - 2 * Common.SizeManager.spacing.medium
        spacing: Common.SizeManager.spacing.base

        Base.CheckBox {
            id: checkBox

            anchors.verticalCenter: parent.verticalCenter
            initialCheckedState: thisComponent.selectedState
        }

        Column {
            width: content.width - checkBox.width - content.spacing
            anchors.verticalCenter: parent.verticalCenter
            spacing: Common.SizeManager.spacing.small

            Base.Text {
                id: nameText

                width: parent.width
                elide: Text.ElideRight
                // Discovery fills the address in with a server's second answer.
                text: thisComponent.name.replace(/ \(\)$/, "")

                Loader {
                    id: tooltipLoader

                    y: parent.height
                    active: mouseArea.containsMouse && nameText.truncated

                    sourceComponent: Base.Tooltip {
                        text: nameText.text
                        Component.onCompleted: show()
                    }
                }
            }

            Base.Text {
                width: parent.width
                elide: Text.ElideRight
                visible: text.length !== 0
                font.pixelSize: Common.SizeManager.fontSizes.small
                text: thisComponent.macAddress
            }
        }
    }

    Base.LineDelimiter {
        anchors.bottom: parent.bottom
        color: "#e4e4e4"
    }

    // A second click within this window makes a double click.
    Timer {
        id: clickWindow

        interval: 150
    }

    MouseArea {
        id: mouseArea

        anchors.fill: parent
        hoverEnabled: true
        onClicked: thisComponent.handleClick()
        onDoubleClicked: thisComponent.handleDoubleClick()
    }
}
