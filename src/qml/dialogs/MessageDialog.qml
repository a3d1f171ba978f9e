import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

import "." as Dialogs
import "../controls/base" as Base
import "../common" as Common

Dialogs.Dialog {
    id: dialog

    property string message
    property real maxMessageWidth: 400

    buttons: TessRtu.Buttons.Ok

    areaDelegate: Item {
        readonly property alias messageText: messageText

        width: messageText.width + 2 * Common.SizeManager.spacing.base
        height: messageText.height + 2 * Common.SizeManager.spacing.base

        Base.Text {
            id: messageText

            x: Common.SizeManager.spacing.base
            y: Common.SizeManager.spacing.base
            width: Math.min(implicitWidth, dialog.maxMessageWidth)
            text: dialog.message
            wrapMode: Text.Wrap
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }
}
