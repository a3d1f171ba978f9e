import QtQuick 2.9

import orvane.rtu 1.0 as TessRtu

import "../../common" as Common

TextInput {
    id: octet

    property string initialText
    readonly property bool changed: text !== initialText
    property Item nextOctet: null
    property Item previousOctet: null
    // What a screen reader calls the field ("Date, day").
    property string label
    // True from gaining the focus until something is typed here.
    property bool untouchedSinceFocus: false

    function moveTo(target) {
        if (!target)
            return false
        target.forceActiveFocus()
        return true
    }

    onInitialTextChanged: text = initialText
    onActiveFocusChanged: {
        if (activeFocus) {
            untouchedSinceFocus = true
            selectAll()
        }
    }
    onTextEdited: {
        untouchedSinceFocus = false
        if (activeFocus && text.length >= 3)
            moveTo(nextOctet)
    }

    Keys.onPressed: {
        switch (event.key) {
        case Qt.Key_Backspace:
            if (text.length === 0)
                event.accepted = moveTo(previousOctet)
            break
        case Qt.Key_Tab:
        case Qt.Key_Right:
            event.accepted = moveTo(nextOctet)
            break
        case Qt.Key_Backtab:
        case Qt.Key_Left:
            event.accepted = moveTo(previousOctet)
            break
        case Qt.Key_Period:
            // An address typed with its dots: the dot ends this octet. A dot
            // right after a third digit moved the focus here is the same dot.
            event.accepted = true
            if (!untouchedSinceFocus && text.length > 0)
                moveTo(nextOctet)
            break
        }
    }

    // "255" with room on both sides, so that it never touches the dots.
    width: Math.max(1.3 * implicitHeight, widest.advanceWidth("255") + 2 * widest.averageCharacterWidth)
    horizontalAlignment: TextInput.AlignHCenter
    renderType: TextInput.NativeRendering
    font.pixelSize: Common.SizeManager.fontSizes.base
    font.family: Common.SizeManager.regularFont.name
    selectByMouse: true

    Accessible.role: Accessible.EditableText
    Accessible.name: label
    Accessible.focusable: true
    // Only 0..255 without leading zeros can be typed, so a complete octet
    // is never read as octal or with group separators by a server.
    validator: TessRtu.InputValidator { rule: TessRtu.InputValidator.Octet }

    FontMetrics {
        id: widest

        font: octet.font
    }
}
