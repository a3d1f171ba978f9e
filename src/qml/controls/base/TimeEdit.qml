import QtQuick 2.5

import "." as Base
import "../../common" as Common

FocusScope {
    id: edit

    property var locale: Qt.locale()
    property var initTime
    property bool showNow: false
    property int clockInterval: 1000
    // Whether the edit runs its clock itself while unchanged; an owner with
    // a better clock sets initTime instead.
    property bool runsClock: true
    property string label: qsTr("Time")
    readonly property bool showAmPm: locale.timeFormat(Locale.ShortFormat).toUpperCase().indexOf("AP") >= 0
    readonly property var time: timeOf(hoursField.text, minutesField.text, secondsField.text, amPmField.text)
    readonly property bool acceptableInput: time !== undefined
    readonly property bool changed: hoursField.initialText !== hoursField.text
        || minutesField.initialText !== minutesField.text
        || secondsField.initialText !== secondsField.text
        || (showAmPm && amPmField.initialText !== amPmField.text)

    function isValidTime(value) {
        return value instanceof Date && !isNaN(value.getTime())
    }

    function timeOf(hours, minutes, seconds, amPm) {
        var parts = [hours, minutes, seconds]
        for (var i = 0; i < 3; ++i) {
            if (!/^[0-9]{1,2}$/.test(parts[i]))
                return undefined
            if (parts[i].length < 2)
                parts[i] = "0" + parts[i]
        }
        var text = parts.join(":")
        var format = "hh:mm:ss"
        if (showAmPm) {
            text += " " + amPm.toUpperCase()
            format += " AP"
        }
        // The markers are always typed as AM and PM, whatever the locale
        // calls them, so they are read with the C locale's names.
        var result = Date.fromLocaleTimeString(Qt.locale("C"), text, format)
        return isValidTime(result) ? result : undefined
    }

    // Splits a time into the shown texts; the hour follows the 12-hour
    // convention when the locale shows AM/PM.
    function textsOf(value) {
        if (!isValidTime(value))
            return ["--", "--", "--", "--"]
        var hours = value.getHours()
        var marker = hours < 12 ? "AM" : "PM"
        if (showAmPm) {
            hours = hours % 12
            if (hours === 0)
                hours = 12
        }
        return [hoursField.format(hours), minutesField.format(value.getMinutes()),
                secondsField.format(value.getSeconds()), marker]
    }

    function showTime(value) {
        var texts = textsOf(value)
        var fields = [hoursField, minutesField, secondsField, amPmField]
        for (var i = 0; i < 4; ++i) {
            fields[i].initialText = texts[i]
            fields[i].text = texts[i]
        }
    }

    // Shows a time as an edit, leaving the initial texts alone.
    function setTime(value) {
        var texts = textsOf(value)
        var fields = [hoursField, minutesField, secondsField, amPmField]
        for (var i = 0; i < 4; ++i)
            fields[i].text = texts[i]
    }

    function leaveNumberField(field) {
        field.text = field.isNumber ? field.format(field.value) : field.unknownText
        var initial = /^[0-9]+$/.test(field.initialText) ? parseInt(field.initialText, 10) : NaN
        field.initialText = field.format(initial)
    }

    onInitTimeChanged: showTime(initTime)
    onShowAmPmChanged: showTime(initTime)
    onShowNowChanged: {
        if (showNow)
            showTime(initTime)
    }
    Component.onCompleted: showTime(initTime)

    implicitHeight: Common.SizeManager.clickableSizes.medium
    implicitWidth: fieldsRow.width + Common.SizeManager.spacing.base
    opacity: enabled ? 1 : 0.5

    // The clock runs until the operator edits it.
    Timer {
        interval: edit.clockInterval
        repeat: true
        running: edit.runsClock && !edit.changed && edit.isValidTime(edit.initTime)
        onTriggered: edit.initTime = new Date(edit.initTime.getTime() + 1000)
    }

    Base.InputFrame {
        anchors.fill: parent
        focused: edit.activeFocus
        textHeight: hoursField.contentHeight
    }

    Base.FocusFrame {}

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        cursorShape: Qt.IBeamCursor
    }

    Row {
        id: fieldsRow

        anchors.centerIn: parent
        visible: !edit.showNow

        Base.SegmentField {
            id: hoursField

            objectName: "hoursField"
            property string initialText

            label: qsTr("%1, %2").arg(edit.label).arg(qsTr("hours"))
            focus: true
            minimum: edit.showAmPm ? 1 : 0
            maximum: edit.showAmPm ? 12 : 23
            separators: ": "
            nextField: minutesField
            validator: RegExpValidator {
                regExp: edit.showAmPm ? /^(0?[1-9]|1[0-2])$/ : /^([01]?[0-9]|2[0-3])$/
            }
            onActiveFocusChanged: {
                if (!activeFocus)
                    edit.leaveNumberField(hoursField)
            }
        }

        Base.Text {
            text: ":"
            renderType: Text.NativeRendering
        }

        Base.SegmentField {
            id: minutesField

            objectName: "minutesField"
            property string initialText

            label: qsTr("%1, %2").arg(edit.label).arg(qsTr("minutes"))
            maximum: 59
            separators: ": "
            previousField: hoursField
            nextField: secondsField
            validator: RegExpValidator { regExp: /^[0-5]?[0-9]$/ }
            onActiveFocusChanged: {
                if (!activeFocus)
                    edit.leaveNumberField(minutesField)
            }
        }

        Base.Text {
            text: ":"
            renderType: Text.NativeRendering
        }

        Base.SegmentField {
            id: secondsField

            objectName: "secondsField"
            property string initialText

            label: qsTr("%1, %2").arg(edit.label).arg(qsTr("seconds"))
            maximum: 59
            separators: ": "
            previousField: minutesField
            nextField: edit.showAmPm ? amPmField : null
            validator: RegExpValidator { regExp: /^[0-5]?[0-9]$/ }
            onActiveFocusChanged: {
                if (!activeFocus)
                    edit.leaveNumberField(secondsField)
            }
        }

        Item {
            visible: edit.showAmPm
            width: Common.SizeManager.spacing.small
            height: 1
        }

        Base.SegmentField {
            id: amPmField

            objectName: "amPmField"
            property string initialText

            label: qsTr("%1, %2").arg(edit.label).arg(qsTr("AM or PM"))
            visible: edit.showAmPm
            sampleText: "PM"
            previousField: secondsField
            validator: RegExpValidator { regExp: /^[AaPp][Mm]?$/ }
            onActiveFocusChanged: {
                if (!activeFocus)
                    text = /p/i.test(text) ? "PM" : "AM"
            }
        }
    }

    Base.Text {
        objectName: "nowText"
        anchors.centerIn: parent
        visible: edit.showNow
        text: qsTr("<now>")
        textFormat: Text.PlainText
        renderType: Text.NativeRendering
    }
}
