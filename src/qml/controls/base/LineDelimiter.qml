import QtQuick 2.5

import "../../common" as Common

Rectangle {
    width: parent ? parent.width : 0
    height: Common.SizeManager.lineSizes.thin

    color: "black"
}
