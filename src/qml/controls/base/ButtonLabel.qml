import QtQuick 2.5

import "../../common" as Common

// The caption of the buttons: wrapped and centred in the area the style gives it.
Text {
    property int fontSize: Common.SizeManager.fontSizes.medium

    font.pixelSize: fontSize
    font.family: Common.SizeManager.regularFont.name
    wrapMode: Text.WordWrap
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
    renderType: Text.NativeRendering
}
