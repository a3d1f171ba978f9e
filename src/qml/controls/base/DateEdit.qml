import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

import "." as Base
import "../../common" as Common

FocusScope {
    id: edit

    property var locale: Qt.locale()
    property var initDate
    property bool showNow: false
    readonly property var date: dateOf(dayField.text, monthField.text, yearField.text)
    readonly property bool acceptableInput: date !== undefined
    readonly property bool changed: millisecondsOf(date) !== millisecondsOf(initDate)
    property string firstSeparator: ""
    property string secondSeparator: ""
    property string label: qsTr("Date")

    function isValidDate(value) {
        return value instanceof Date && !isNaN(value.getTime())
    }

    function millisecondsOf(value) {
        return isValidDate(value) ? value.getTime() : -1
    }

    function dateOf(dayText, monthText, yearText) {
        if (!dayField.inRange || !monthField.inRange || !yearField.inRange)
            return undefined
        var day = parseInt(dayText, 10)
        var month = parseInt(monthText, 10) - 1
        var year = parseInt(yearText, 10)
        var result = new Date(year, month, day)
        // 31 February rolls over into March; such a date is not valid.
        if (result.getFullYear() !== year || result.getMonth() !== month || result.getDate() !== day)
            return undefined
        return result
    }

    function showDate(value) {
        var valid = isValidDate(value)
        dayField.text = dayField.format(valid ? value.getDate() : NaN)
        monthField.text = monthField.format(valid ? value.getMonth() + 1 : NaN)
        yearField.text = yearField.format(valid ? value.getFullYear() : NaN)
    }

    // Shows a date chosen elsewhere (the calendar) as an edit of the field.
    function setDate(value) {
        showDate(value)
    }

    function clampDay() {
        if (!yearField.inRange || !monthField.inRange || !dayField.isNumber)
            return
        var lastDay = new Date(yearField.value, monthField.value, 0).getDate()
        if (dayField.value > lastDay)
            dayField.text = dayField.format(lastDay)
    }

    // A separator that shows nothing (the C locale writes "7 Dec 2026",
    // whose numbers alone read "07 12 2026") becomes a dot.
    function visibleSeparator(separator) {
        return /\S/.test(separator) ? separator : "."
    }

    // Field order and separators come from the locale's short date format.
    function applyLocale() {
        var fields = { "D": dayField, "M": monthField, "Y": yearField }
        var order = ["D", "M", "Y"]
        var separators = ["", ""]
        var format = locale.dateFormat(Locale.ShortFormat).toUpperCase()
        var match = /^(\w)\w*([^\w]+)(\w)\w*([^\w]+)(\w)/.exec(format)
        if (match && [match[1], match[3], match[5]].sort().join("") === "DMY") {
            order = [match[1], match[3], match[5]]
            separators = [match[2], match[4]]
        }
        firstSeparator = visibleSeparator(separators[0])
        secondSeparator = visibleSeparator(separators[1])
        var ordered = [fields[order[0]], fields[order[1]], fields[order[2]]]
        for (var i = 0; i < 3; ++i) {
            ordered[i].previousField = i > 0 ? ordered[i - 1] : null
            ordered[i].nextField = i < 2 ? ordered[i + 1] : null
        }
        // The tab chain follows the children's order, so it matches what is seen.
        fieldsRow.children = [ordered[0], firstSeparatorText, ordered[1], secondSeparatorText, ordered[2]]
        ordered[0].focus = true
    }

    function leaveField(field) {
        if (!field.inRange) {
            var current = date
            if (field === dayField)
                field.text = field.format(current ? current.getDate() : NaN)
            else if (field === monthField)
                field.text = field.format(current ? current.getMonth() + 1 : NaN)
            else
                field.text = field.format(current ? current.getFullYear() : NaN)
        } else {
            field.text = field.format(field.value)
        }
    }

    onInitDateChanged: {
        // Only the calendar day counts.
        if (isValidDate(initDate) && (initDate.getHours() || initDate.getMinutes() || initDate.getSeconds()
                || initDate.getMilliseconds())) {
            initDate = new Date(initDate.getFullYear(), initDate.getMonth(), initDate.getDate())
            return
        }
        showDate(initDate)
    }
    onShowNowChanged: {
        if (showNow)
            showDate(initDate)
    }
    onLocaleChanged: applyLocale()
    onActiveFocusChanged: {
        if (!activeFocus)
            clampDay()
    }
    Component.onCompleted: {
        applyLocale()
        showDate(initDate)
    }

    implicitHeight: Common.SizeManager.clickableSizes.medium
    implicitWidth: 3 * implicitHeight
    opacity: enabled ? 1 : 0.5

    Base.InputFrame {
        anchors.fill: parent
        focused: edit.activeFocus
        textHeight: dayField.contentHeight
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
            id: dayField

            objectName: "dayField"
            label: qsTr("%1, %2").arg(edit.label).arg(qsTr("day"))
            minimum: 1
            maximum: 31
            separators: "./- "
            stepping: true
            validator: RegExpValidator { regExp: /^(0?[1-9]|[12][0-9]|3[01])$/ }
            onActiveFocusChanged: {
                if (!activeFocus)
                    edit.leaveField(dayField)
            }
        }

        Base.SegmentField {
            id: monthField

            objectName: "monthField"
            label: qsTr("%1, %2").arg(edit.label).arg(qsTr("month"))
            minimum: 1
            maximum: 12
            separators: "./- "
            stepping: true
            validator: RegExpValidator { regExp: /^(0?[1-9]|1[0-2])$/ }
            onActiveFocusChanged: {
                if (!activeFocus)
                    edit.leaveField(monthField)
            }
        }

        Base.SegmentField {
            id: yearField

            objectName: "yearField"
            label: qsTr("%1, %2").arg(edit.label).arg(qsTr("year"))
            minimum: yearRule.bottom
            maximum: yearRule.top
            digits: 4
            unknownText: "----"
            separators: "./- "
            stepping: true
            validator: TessRtu.InputValidator {
                id: yearRule

                rule: TessRtu.InputValidator.Year
            }
            onActiveFocusChanged: {
                if (!activeFocus)
                    edit.leaveField(yearField)
            }
        }

        Base.Text {
            id: firstSeparatorText

            text: edit.firstSeparator
            renderType: Text.NativeRendering
        }

        Base.Text {
            id: secondSeparatorText

            text: edit.secondSeparator
            renderType: Text.NativeRendering
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
