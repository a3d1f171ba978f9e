import QtQuick 2.5

import "../../common" as Common

// The dot after an octet; clicking it edits that octet.
Text {
    property Item octet: null

    text: "."
    font.pixelSize: Common.SizeManager.fontSizes.base
    font.family: Common.SizeManager.regularFont.name
    renderType: Text.NativeRendering
    anchors.verticalCenter: parent ? parent.verticalCenter : undefined

    MouseArea {
        anchors.fill: parent
        onClicked: octet.forceActiveFocus()
    }
}
