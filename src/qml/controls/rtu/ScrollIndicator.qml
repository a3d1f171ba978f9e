import QtQuick 2.5

import "../../common" as Common

// Shows where a flicked column stands, so that settings below the fold (or
// beside it, on a narrow page) are not missed.
Rectangle {
    property Flickable flickable
    property bool horizontal: false
    readonly property real thickness: Common.SizeManager.spacing.small * 2

    x: horizontal ? flickable.x + flickable.visibleArea.xPosition * flickable.width
                  : flickable.x + flickable.width - width - Common.SizeManager.spacing.small
    y: horizontal ? flickable.y + flickable.height - height - Common.SizeManager.spacing.small
                  : flickable.y + flickable.visibleArea.yPosition * flickable.height
    width: horizontal ? flickable.visibleArea.widthRatio * flickable.width : thickness
    height: horizontal ? thickness : flickable.visibleArea.heightRatio * flickable.height
    radius: thickness / 2
    color: "#999999"
    opacity: 0.6
    visible: horizontal ? flickable.contentWidth > flickable.width : flickable.contentHeight > flickable.height
}
