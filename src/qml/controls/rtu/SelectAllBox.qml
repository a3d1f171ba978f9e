import QtQuick 2.5

import "../base" as Base
import "../../common" as Common

Item {
    id: thisComponent

    property int checkedState: Qt.Unchecked

    // true asks to select everything, false to deselect everything.
    signal selectAllRequested(bool select)

    height: row.height + 2 * Common.SizeManager.spacing.base

    Row {
        id: row

        x: Common.SizeManager.spacing.base
        anchors.verticalCenter: parent.verticalCenter
        spacing: Common.SizeManager.spacing.base

        Base.CheckBox {
            anchors.verticalCenter: parent.verticalCenter
            initialCheckedState: thisComponent.checkedState
        }

        Base.Text {
            anchors.verticalCenter: parent.verticalCenter
            color: "#666666"
            font.pixelSize: Common.SizeManager.fontSizes.medium
            text: qsTr("select / unselect all")
        }
    }

    MouseArea {
        anchors.fill: parent
        onClicked: thisComponent.selectAllRequested(thisComponent.checkedState === Qt.Unchecked)
    }
}
