import QtQuick 2.5

import "../../common" as Common

Text {
    property string link
    property string caption: link

    text: "<a href=\"%1\">%2</a>".arg(link).arg(caption)
    textFormat: Text.StyledText
    font.pixelSize: Common.SizeManager.fontSizes.small
    font.family: Common.SizeManager.regularFont.name

    onLinkActivated: Qt.openUrlExternally(link)

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        cursorShape: parent.hoveredLink ? Qt.PointingHandCursor : Qt.ArrowCursor
    }
}
