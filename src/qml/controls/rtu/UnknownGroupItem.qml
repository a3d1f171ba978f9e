import QtQuick 2.5

import "../base" as Base
import "../../common" as Common

Item {
    id: thisComponent

    property string caption

    height: column.height

    Accessible.role: Accessible.ListItem
    Accessible.name: caption
    Accessible.description: notice.text
    Accessible.focusable: true

    Column {
        id: column

        width: parent.width
        spacing: Common.SizeManager.spacing.base

        Item { width: 1; height: Common.SizeManager.spacing.base }

        Base.Text {
            x: Common.SizeManager.spacing.base
            width: parent.width - 2 * x
            thin: false
            wrapMode: Text.Wrap
            font.pixelSize: Common.SizeManager.fontSizes.medium
            text: thisComponent.caption
        }

        Base.LineDelimiter {
            objectName: "captionDelimiter"
        }

        Base.Text {
            id: notice

            objectName: "notice"
            x: Common.SizeManager.spacing.base
            width: parent.width - 2 * x
            color: "red"
            wrapMode: Text.Wrap
            text: qsTr("We can't connect to these servers or find any information about them")
        }

        Item { width: 1; height: 1 }
    }

    Base.FocusFrame {
        inset: Common.SizeManager.lineSizes.thin
    }
}
