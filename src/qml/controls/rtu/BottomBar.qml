import QtQuick 2.5

import "../base" as Base
import "../../common" as Common

// The strip along the foot of a page that carries its buttons.
Item {
    default property alias content: holder.data

    height: Common.SizeManager.clickableSizes.medium * 2

    Base.ThickDelimiter {
        anchors.top: parent.top
        width: parent.width
    }

    Item {
        id: holder

        anchors.fill: parent
        anchors.leftMargin: Common.SizeManager.spacing.medium
        anchors.rightMargin: Common.SizeManager.spacing.medium
    }
}
