import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

import "." as Base

Base.TextField {
    id: control

    // 0 stands for servers that disagree on their port.
    property int initialPort: 0
    property string lastValidValue: initialText

    initialText: initialPort === 0 ? qsTr("<different>") : String(initialPort)
    clearOnInitValue: initialPort === 0
    horizontalAlignment: TextInput.AlignRight
    // 1..65535 only; anything else cannot be typed.
    validator: TessRtu.InputValidator { rule: TessRtu.InputValidator.Port }

    onInitialTextChanged: lastValidValue = initialText
    onTextChanged: {
        if (text.length > 0 && text !== qsTr("<different>"))
            lastValidValue = text
    }
    onActiveFocusChanged: {
        if (!activeFocus && text.length === 0)
            text = lastValidValue
    }
}
