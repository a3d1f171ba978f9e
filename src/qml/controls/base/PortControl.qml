import QtQuick 2.5

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
    validator: RegExpValidator {
        regExp: /^([1-9][0-9]{0,3}|[1-5][0-9]{4}|6[0-4][0-9]{3}|65[0-4][0-9]{2}|655[0-2][0-9]|6553[0-5])$/
    }

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
