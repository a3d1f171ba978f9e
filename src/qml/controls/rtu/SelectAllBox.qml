import QtQuick 2.5

import "../base" as Base
import "../../common" as Common

Item {
    id: thisComponent

    property int checkedState: Qt.Unchecked
    readonly property alias caption: captionText.text

    // true asks to select everything, false to deselect everything.
    signal selectAllRequested(bool select)

    property int lastCheckedState: Qt.Unchecked

    function request() {
        selectAllRequested(checkedState === Qt.Unchecked);
    }

    function stateText(state) {
        return state === Qt.Checked ? qsTr("checked")
             : state === Qt.PartiallyChecked ? qsTr("partially checked") : qsTr("not checked");
    }

    // Screen readers hear a change of "checked" from Qt; one in or out of
    // "partially checked" they do not, so the focused box says it.
    onCheckedStateChanged: {
        if (activeFocus && (checkedState === Qt.PartiallyChecked || lastCheckedState === Qt.PartiallyChecked))
            Common.Announcer.say(qsTr("%1: %2").arg(captionText.text).arg(stateText(checkedState)));
        lastCheckedState = checkedState;
    }
    Component.onCompleted: lastCheckedState = checkedState

    height: row.height + 2 * Common.SizeManager.spacing.base

    // The box only shows the selection: keys and clicks ask the list, and
    // the list's answer is what the box then shows.
    Keys.onSpacePressed: {
        if (!event.isAutoRepeat)
            request();
    }
    Keys.onReturnPressed: request()
    Keys.onEnterPressed: request()

    Accessible.role: Accessible.CheckBox
    Accessible.name: captionText.text
    Accessible.focusable: true
    Accessible.checkable: true
    Accessible.checked: checkedState === Qt.Checked
    Accessible.checkStateMixed: checkedState === Qt.PartiallyChecked
    Accessible.onToggleAction: request()
    Accessible.onPressAction: request()

    Row {
        id: row

        x: Common.SizeManager.spacing.base
        anchors.verticalCenter: parent.verticalCenter
        spacing: Common.SizeManager.spacing.base

        Base.CheckBox {
            objectName: "checkBox"
            anchors.verticalCenter: parent.verticalCenter
            activeFocusOnTab: false
            initialCheckedState: thisComponent.checkedState
            Accessible.ignored: true
        }

        Base.Text {
            id: captionText

            anchors.verticalCenter: parent.verticalCenter
            color: "#666666"
            font.pixelSize: Common.SizeManager.fontSizes.medium
            text: qsTr("select / unselect all")
        }
    }

    MouseArea {
        anchors.fill: parent
        onClicked: thisComponent.request()
    }

    Base.FocusFrame {
        inset: Common.SizeManager.lineSizes.thin
    }
}
