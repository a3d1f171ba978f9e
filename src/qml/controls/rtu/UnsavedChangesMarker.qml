import QtQuick 2.5

import "../base" as Base
import "../../common" as Common

Rectangle {
    width: label.width + 2 * Common.SizeManager.spacing.base
    height: label.height + 2 * Common.SizeManager.spacing.base
    radius: height / 4
    color: "antiquewhite"

    Base.Text {
        id: label

        anchors.centerIn: parent
        text: qsTr("unsaved changes")
    }
}
