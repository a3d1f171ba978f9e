import QtQuick 2.9

import "../../common" as Common

// One number (or marker) field of the date and time edits: selects all on
// focus and hands the cursor on to its neighbours while typing.
TextInput {
    id: field

    property int minimum: 0
    property int maximum: 99
    property int digits: 2
    property string unknownText: "--"
    property string separators: ""
    property bool stepping: false
    property Item nextField: null
    property Item previousField: null
    property string textBeforeKey
    // What a screen reader calls the field ("Date, day").
    property string label
    property string sampleText: "0000".slice(0, digits)
    readonly property bool isNumber: /^[0-9]+$/.test(text)
    readonly property int value: isNumber ? parseInt(text, 10) : -1
    readonly property bool inRange: isNumber && value >= minimum && value <= maximum

    function format(number) {
        if (number === undefined || number === null || isNaN(number) || number < 0)
            return unknownText
        var result = String(number)
        while (result.length < digits)
            result = "0" + result
        return result
    }

    function moveTo(target) {
        if (!target)
            return false
        target.forceActiveFocus()
        return true
    }

    onActiveFocusChanged: {
        if (activeFocus)
            selectAll()
    }

    Keys.onPressed: {
        textBeforeKey = text
        if (separators.length > 0 && event.text.length === 1 && separators.indexOf(event.text) >= 0
                && cursorPosition === text.length) {
            moveTo(nextField)
            event.accepted = true
            return
        }
        if (!stepping)
            return
        switch (event.key) {
        case Qt.Key_Right:
            event.accepted = moveTo(nextField)
            break
        case Qt.Key_Left:
            event.accepted = moveTo(previousField)
            break
        case Qt.Key_Up:
            text = format(isNumber ? Math.min(value + 1, maximum) : minimum)
            event.accepted = true
            break
        case Qt.Key_Down:
            text = format(isNumber ? Math.max(value - 1, minimum) : minimum)
            event.accepted = true
            break
        }
    }

    Keys.onReleased: {
        if (event.key === Qt.Key_Backspace) {
            if (textBeforeKey.length === 0 || (cursorPosition === 0 && text.length > 0))
                moveTo(previousField)
        } else if (/^[0-9]$/.test(event.text) && cursorPosition === digits && selectedText.length === 0) {
            moveTo(nextField)
        }
    }

    width: Math.max(metrics.advanceWidth(sampleText), metrics.advanceWidth(unknownText)) + 2
    horizontalAlignment: TextInput.AlignHCenter
    maximumLength: digits
    renderType: TextInput.NativeRendering
    font.pixelSize: Common.SizeManager.fontSizes.base
    font.family: Common.SizeManager.regularFont.name
    selectByMouse: true

    Accessible.role: Accessible.EditableText
    Accessible.name: label
    Accessible.focusable: true
    activeFocusOnTab: true

    FontMetrics {
        id: metrics

        font: field.font
    }
}
