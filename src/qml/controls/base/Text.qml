import QtQuick 2.5

import "../../common" as Common

Text {
    property bool thin: true

    font.pixelSize: Common.SizeManager.fontSizes.base
    font.family: thin ? Common.SizeManager.regularFont.name : Common.SizeManager.mediumFont.name
    font.weight: thin ? Font.Normal : Font.Medium
}
