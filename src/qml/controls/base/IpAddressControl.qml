import QtQuick 2.5

import "." as Base
import "../../common" as Common

FocusScope {
    id: control

    property string initialText
    // The field's caption, for screen readers ("IP", "Subnet mask"...).
    property string label
    readonly property var octets: [first, second, third, fourth]
    readonly property string text: "%1.%2.%3.%4".arg(first.text).arg(second.text).arg(third.text).arg(fourth.text)
    readonly property bool isEmptyAddress: first.text.trim().length === 0 && second.text.trim().length === 0
        && third.text.trim().length === 0 && fourth.text.trim().length === 0
    readonly property bool acceptableInput: first.acceptableInput && second.acceptableInput
        && third.acceptableInput && fourth.acceptableInput
    readonly property bool changed: first.changed || second.changed || third.changed || fourth.changed

    // Anything but four parts leaves the octets as they are.
    onInitialTextChanged: {
        var parts = initialText.split(".")
        if (parts.length !== 4)
            return
        // Re-applied even when an octet's initial text stays the same.
        for (var i = 0; i < 4; ++i) {
            octets[i].initialText = parts[i]
            octets[i].text = parts[i]
        }
    }
    Component.onCompleted: initialTextChanged()

    implicitHeight: Common.SizeManager.clickableSizes.medium
    implicitWidth: 1.1 * row.width
    opacity: enabled ? 1 : 0.5
    activeFocusOnTab: true

    Base.InputFrame {
        anchors.fill: parent
        focused: control.activeFocus
        textHeight: first.contentHeight
    }

    Base.FocusFrame {}

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        cursorShape: Qt.IBeamCursor
    }

    Row {
        id: row

        anchors.centerIn: parent
        spacing: 3

        Base.IpOctet {
            id: first

            label: qsTr("%1, part %2 of 4").arg(control.label).arg(1)
            focus: true
            nextOctet: second
        }

        Base.IpDot { octet: first }

        Base.IpOctet {
            id: second

            label: qsTr("%1, part %2 of 4").arg(control.label).arg(2)
            previousOctet: first
            nextOctet: third
        }

        Base.IpDot { octet: second }

        Base.IpOctet {
            id: third

            label: qsTr("%1, part %2 of 4").arg(control.label).arg(3)
            previousOctet: second
            nextOctet: fourth
        }

        Base.IpDot { octet: third }

        Base.IpOctet {
            id: fourth

            label: qsTr("%1, part %2 of 4").arg(control.label).arg(4)
            previousOctet: third
        }
    }
}
