import QtQuick 2.5
import QtQuick.Window 2.2

import orvane.rtu 1.0 as TessRtu

import "../../common" as Common

// Scrolls a flicked page so that the control the keyboard moves to is seen
// whole (with a spacing around it), at once and without animation. A click
// scrolls nothing, as before.
Item {
    id: thisComponent

    property Flickable flickable

    function inside(item) {
        for (var node = item; node; node = node.parent) {
            if (node === flickable.contentItem)
                return true;
        }
        return false;
    }

    function reveal(item) {
        if (!item || !inside(item))
            return;
        var margin = Common.SizeManager.spacing.base;
        var box = item.mapToItem(flickable.contentItem, 0, 0, item.width, item.height);
        var top = flickable.originY;
        var bottom = Math.max(top, flickable.originY + flickable.contentHeight - flickable.height);
        var y = flickable.contentY;
        if (box.y + box.height + margin > y + flickable.height)
            y = box.y + box.height + margin - flickable.height;
        if (box.y - margin < y)
            y = box.y - margin;
        flickable.contentY = Math.max(top, Math.min(bottom, y));
        var left = flickable.originX;
        var right = Math.max(left, flickable.originX + flickable.contentWidth - flickable.width);
        var x = flickable.contentX;
        if (box.x + box.width + margin > x + flickable.width)
            x = box.x + box.width + margin - flickable.width;
        if (box.x - margin < x)
            x = box.x - margin;
        flickable.contentX = Math.max(left, Math.min(right, x));
    }

    Connections {
        target: thisComponent.Window.window
        function onActiveFocusItemChanged() {
            if (TessRtu.KeyboardMode.active)
                thisComponent.reveal(thisComponent.Window.activeFocusItem);
        }
    }
}
