import QtQuick 2.5

import "../base" as Base
import "../../common" as Common

Item {
    id: thisComponent

    property bool loggedIn: false
    // Why the server cannot be selected while two hosts answer as it; empty otherwise.
    property string conflict
    readonly property bool selectable: loggedIn && conflict.length === 0
    property string name
    property string macAddress
    property int selectedState: Qt.Unchecked
    property int rowIndex: -1
    // The full name while the pointer rests on a name cut short; null otherwise.
    readonly property alias nameTooltip: tooltipLoader.item
    // The conflict, while the pointer rests on the row; null otherwise.
    readonly property alias conflictTooltip: conflictTooltipLoader.item

    signal singleClicked()
    signal doubleClicked()

    // Space and Enter ask what a click and a double click ask.
    function toggleByKey() {
        if (selectable)
            singleClicked();
    }

    function selectOnlyByKey() {
        if (selectable)
            doubleClicked();
    }

    function handleClick() {
        if (!selectable)
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
        if (!selectable)
            return;
        clickWindow.stop();
        doubleClicked();
    }

    height: content.height + 2 * Common.SizeManager.spacing.medium
    opacity: selectable ? 1 : 0.3

    Keys.onSpacePressed: {
        if (!event.isAutoRepeat)
            toggleByKey();
    }
    // Screen readers say nothing of a list row's checked state as it
    // changes; the row under the keyboard says it.
    onSelectedStateChanged: {
        if (activeFocus)
            Common.Announcer.say(selectedState === Qt.Checked ? qsTr("selected") : qsTr("not selected"));
    }
    Keys.onReturnPressed: selectOnlyByKey()
    Keys.onEnterPressed: selectOnlyByKey()

    Accessible.role: Accessible.ListItem
    Accessible.name: nameText.text
    Accessible.description: [
        selectedState === Qt.Checked ? qsTr("selected") : qsTr("not selected"),
        loggedIn ? qsTr("logged in") : qsTr("not logged in"),
        conflict.length ? qsTr("in conflict: %1").arg(conflict) : qsTr("no conflict")
    ].join(", ")
    Accessible.focusable: true
    Accessible.checkable: selectable
    Accessible.checked: selectedState === Qt.Checked
    Accessible.selectable: selectable
    Accessible.selected: selectedState === Qt.Checked
    Accessible.onToggleAction: toggleByKey()
    Accessible.onPressAction: toggleByKey()

    Rectangle {
        anchors.fill: parent
        radius: 1
        color: thisComponent.selectable ? "lightblue" : "lightgrey"
        border.color: thisComponent.selectable ? "blue" : "lightgrey"
        border.width: 1
        opacity: thisComponent.selectable ? 0.2 : 1
        visible: !thisComponent.selectable || thisComponent.selectedState === Qt.Checked
    }

    Row {
        id: content

        x: Common.SizeManager.spacing.medium
        y: Common.SizeManager.spacing.medium
        width: parent.width - 2 * Common.SizeManager.spacing.medium
        spacing: Common.SizeManager.spacing.base

        Base.CheckMark {
            id: checkBox

            objectName: "checkBox"

            anchors.verticalCenter: parent.verticalCenter
            enabled: thisComponent.conflict.length === 0
            checkedState: thisComponent.selectedState
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
                    active: mouseArea.containsMouse && nameText.truncated && thisComponent.conflict.length === 0

                    sourceComponent: Base.Tooltip {
                        text: nameText.text
                        Component.onCompleted: show()
                    }
                }
            }

            // In conflict: which addresses answer (the tooltip says what to do).
            Base.Text {
                objectName: "detailText"
                width: parent.width
                elide: Text.ElideRight
                visible: text.length !== 0
                font.pixelSize: Common.SizeManager.fontSizes.small
                text: thisComponent.conflict.length ? thisComponent.conflict.split("\n")[0] : thisComponent.macAddress
            }
        }
    }

    Loader {
        id: conflictTooltipLoader

        x: content.x
        y: parent.height
        active: mouseArea.containsMouse && thisComponent.conflict.length !== 0

        sourceComponent: Base.Tooltip {
            text: thisComponent.conflict
            Component.onCompleted: show()
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

    Base.FocusFrame {
        inset: Common.SizeManager.lineSizes.thin
    }
}
