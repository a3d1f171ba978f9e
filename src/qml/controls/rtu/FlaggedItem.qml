import QtQuick 2.5

import "../base" as Base
import "../../common" as Common

// Shows its item, or a red notice where the selected servers do not allow
// the change.
Item {
    id: thisComponent

    property Component item
    property bool showItem: true
    property string message: qsTr("Can not change this parameter(s) for some selected servers")
    property alias currentItem: loader.item
    readonly property real minimumWidth: !currentItem ? 0
        : currentItem.minimumWidth !== undefined ? currentItem.minimumWidth : currentItem.width

    implicitWidth: loader.implicitWidth
    implicitHeight: loader.implicitHeight
    width: loader.width
    height: loader.height

    Loader {
        id: loader

        focus: true
        sourceComponent: thisComponent.showItem ? thisComponent.item : messageComponent
    }

    Component {
        id: messageComponent

        Item {
            width: Math.max(messageText.implicitWidth, Common.SizeManager.clickableSizes.large * 4)
            height: messageText.height * 2

            Base.Text {
                id: messageText

                anchors.centerIn: parent
                width: parent.width
                color: "#FF0000"
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                text: thisComponent.message
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }
    }
}
