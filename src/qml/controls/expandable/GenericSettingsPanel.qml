import QtQuick 2.5

import "../base" as Base
import "../rtu" as Rtu
import "../../common" as Common

ExpandableItem {
    id: thisComponent

    property string propertiesGroupName
    property bool changed: false

    width: parent ? parent.width : 0

    headerDelegate: Column {
        spacing: Common.SizeManager.spacing.small

        Item {
            width: parent.width
            height: Math.max(caption.height, marker.height) + 2 * Common.SizeManager.spacing.base

            Base.Text {
                id: caption

                anchors.left: parent.left
                anchors.right: marker.left
                anchors.leftMargin: Common.SizeManager.spacing.base
                anchors.rightMargin: Common.SizeManager.spacing.base
                anchors.verticalCenter: parent.verticalCenter
                thin: false
                wrapMode: Text.Wrap
                font.pixelSize: Common.SizeManager.fontSizes.medium
                text: thisComponent.propertiesGroupName
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                Accessible.description: thisComponent.changed ? qsTr("unsaved changes") : ""
            }

            Rtu.UnsavedChangesMarker {
                id: marker

                anchors.right: parent.right
                anchors.rightMargin: Common.SizeManager.spacing.base
                anchors.verticalCenter: parent.verticalCenter
                visible: thisComponent.changed
            }
        }

        Base.LineDelimiter {
            color: "#e4e4e4"
        }

        Item {
            width: 1
            height: Common.SizeManager.spacing.base
        }
    }
}
