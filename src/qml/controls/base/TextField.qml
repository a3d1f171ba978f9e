import QtQuick 2.9
import QtQuick.Controls 1.4 as Controls
import QtQuick.Controls.Styles 1.4

import "." as Base
import "../../common" as Common

Controls.TextField {
    id: field

    property string initialText
    property bool clearOnInitValue: false
    property bool revertOnEmpty: false
    property bool onceChanged: false
    readonly property bool changed: text !== initialText
        && (!clearOnInitValue || text.length > 0 || onceChanged)

    // The owner may reset the initial value at any time, even after edits.
    onInitialTextChanged: text = initialText
    Component.onCompleted: text = initialText

    onTextChanged: {
        if (clearOnInitValue && text.length > 0 && text !== initialText)
            onceChanged = true
    }

    onActiveFocusChanged: {
        if (activeFocus) {
            if (clearOnInitValue) {
                if (!changed)
                    text = ""
            } else {
                selectAll()
            }
            return
        }
        if (text.length > 0)
            return
        if ((clearOnInitValue && !onceChanged) || revertOnEmpty)
            text = initialText
    }

    implicitHeight: Common.SizeManager.clickableSizes.medium
    implicitWidth: 4 * implicitHeight
    opacity: enabled ? 1 : 0.5
    font.pixelSize: Common.SizeManager.fontSizes.base
    font.family: Common.SizeManager.regularFont.name

    style: TextFieldStyle {
        renderType: Text.NativeRendering
    }

    Base.FocusFrame {}
}
