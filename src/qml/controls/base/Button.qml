import QtQuick 2.5
import QtQuick.Controls 1.4 as Controls
import QtQuick.Controls.Styles 1.4

import "." as Base
import "../../common" as Common

Controls.Button {
    id: button

    property int fontSize: Common.SizeManager.fontSizes.medium
    // Where the keyboard focus frame goes: around the button, or inside it
    // when the button fills a clipped area.
    property real focusInset: -Common.SizeManager.lineSizes.thick

    implicitHeight: Common.SizeManager.clickableSizes.base
    activeFocusOnPress: true
    opacity: enabled ? 1 : 0.5

    // Space presses a button already; Return and Enter do too.
    Keys.onReturnPressed: button.clicked()
    Keys.onEnterPressed: button.clicked()

    style: ButtonStyle {
        label: Base.ButtonLabel {
            text: control.text
            fontSize: button.fontSize
        }
    }

    Base.FocusFrame {
        inset: button.focusInset
    }
}
