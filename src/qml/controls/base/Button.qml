import QtQuick 2.5
import QtQuick.Controls 1.4 as Controls
import QtQuick.Controls.Styles 1.4

import "." as Base
import "../../common" as Common

Controls.Button {
    id: button

    property int fontSize: Common.SizeManager.fontSizes.medium

    implicitHeight: Common.SizeManager.clickableSizes.base
    activeFocusOnPress: true
    opacity: enabled ? 1 : 0.5

    style: ButtonStyle {
        label: Base.ButtonLabel {
            text: control.text
            fontSize: button.fontSize
        }
    }
}
