import QtQuick 2.5

import "../../common" as Common

// Shows where a flicked column stands, so that settings below the fold are not missed.
Rectangle {
    property Flickable flickable

    x: flickable.x + flickable.width - width - Common.SizeManager.spacing.small
    y: flickable.y + flickable.visibleArea.yPosition * flickable.height
    width: Common.SizeManager.spacing.small * 2
    height: flickable.visibleArea.heightRatio * flickable.height
    radius: width / 2
    color: "#999999"
    opacity: 0.6
    visible: flickable.contentHeight > flickable.height
}
