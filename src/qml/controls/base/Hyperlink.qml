import QtQuick 2.5

import "." as Base
import "../../common" as Common

Text {
    property string link
    property string caption: link

    text: "<a href=\"%1\">%2</a>".arg(link).arg(caption)
    textFormat: Text.StyledText
    font.pixelSize: Common.SizeManager.fontSizes.small
    font.family: Common.SizeManager.regularFont.name

    onLinkActivated: Qt.openUrlExternally(link)

    // Reached with Tab and opened with Return, as by a click.
    activeFocusOnTab: true
    Keys.onReturnPressed: Qt.openUrlExternally(link)
    Keys.onEnterPressed: Qt.openUrlExternally(link)
    Keys.onSpacePressed: Qt.openUrlExternally(link)

    Accessible.role: Accessible.Link
    Accessible.name: caption
    Accessible.description: link
    Accessible.focusable: true
    Accessible.onPressAction: Qt.openUrlExternally(link)

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        cursorShape: parent.hoveredLink ? Qt.PointingHandCursor : Qt.ArrowCursor
    }

    Base.FocusFrame {}
}
