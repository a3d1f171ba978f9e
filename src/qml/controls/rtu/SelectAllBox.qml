import QtQuick 2.5

import "../base" as Base
import "../../common"

Item {
    id: thisComponent

    property int checkedState: Qt.Unchecked

    // true asks to select everything, false to deselect everything.
    signal selectAllRequested(bool select)

    height: row.height + 2 * SizeManager.spacing.base

    Row {
        id: row

        x: SizeManager.spacing.base
        anchors.verticalCenter: parent.verticalCenter
        spacing: SizeManager.spacing.base

        Base.CheckBox {
            anchors.verticalCenter: parent.verticalCenter
            initialCheckedState: thisComponent.checkedState
        }

        Base.Text {
            anchors.verticalCenter: parent.verticalCenter
            color: "#666666"
            font.pixelSize: SizeManager.fontSizes.medium
            text: qsTr("select / unselect all")
        }
    }

    MouseArea {
        anchors.fill: parent
        onClicked: thisComponent.selectAllRequested(thisComponent.checkedState === Qt.Unchecked)
    }
}
