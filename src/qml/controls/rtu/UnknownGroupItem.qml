import QtQuick 2.5

import "../base" as Base
import "../../common" as Common

Column {
    property string caption

    spacing: Common.SizeManager.spacing.base

    Item { width: 1; height: Common.SizeManager.spacing.base }

    Base.Text {
        x: Common.SizeManager.spacing.base
        width: parent.width - 2 * x
        thin: false
        wrapMode: Text.Wrap
        font.pixelSize: Common.SizeManager.fontSizes.medium
        text: parent.caption
    }

    Base.LineDelimiter {
        objectName: "captionDelimiter"
    }

    Base.Text {
        objectName: "notice"
        x: Common.SizeManager.spacing.base
        width: parent.width - 2 * x
        color: "red"
        wrapMode: Text.Wrap
        text: qsTr("We can't connect to these servers or find any information about them")
    }

    Item { width: 1; height: 1 }
}
