import QtQuick 2.5

import "." as Base
import "../../common" as Common

Rectangle {
    id: tooltip

    property alias text: label.text
    property bool shown: false
    property Item owner: null
    property real ownerX: 0
    property real ownerY: 0

    // Lifted to the window's top-level item while shown, so that no
    // clipping ancestor hides it.
    function show() {
        if (shown || !parent)
            return
        var top = parent
        while (top.parent)
            top = top.parent
        owner = parent
        ownerX = x
        ownerY = y
        var scenePos = owner.mapToItem(top, x, y)
        parent = top
        x = scenePos.x
        y = scenePos.y
        shown = true
        opacity = 1
    }

    function hide() {
        if (!shown)
            return
        opacity = 0
        parent = owner
        x = ownerX
        y = ownerY
        shown = false
    }

    width: label.width + 2 * Common.SizeManager.spacing.base
    height: label.height + 2 * Common.SizeManager.spacing.base
    opacity: 0
    z: 1000
    color: "ivory"
    border.width: 1
    radius: 4

    Behavior on opacity {
        NumberAnimation { duration: 50 }
    }

    Base.Text {
        id: label

        x: Common.SizeManager.spacing.base
        y: Common.SizeManager.spacing.base
        font.pixelSize: Common.SizeManager.fontSizes.medium
    }
}
