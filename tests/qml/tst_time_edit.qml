import QtQuick 2.5
import QtTest 1.1

import "qrc:/src/qml/controls/base" as Base

Item {
    id: root

    width: 400
    height: 200

    Component {
        id: timeComponent

        Base.TimeEdit {}
    }

    TextInput {
        id: focusSink

        y: 150
        width: 50
        height: 20
    }

    TestCase {
        name: "TimeEdit"
        when: windowShown

        function createEdit(localeName, initTime, properties) {
            var values = properties || {}
            values.locale = Qt.locale(localeName)
            values.initTime = initTime
            var edit = createTemporaryObject(timeComponent, root, values)
            verify(edit !== null)
            return edit
        }

        function field(edit, name) {
            var found = findChild(edit, name)
            verify(found !== null, name)
            return found
        }

        function shown(edit) {
            var text = field(edit, "hoursField").text + ":" + field(edit, "minutesField").text + ":"
                + field(edit, "secondsField").text
            var amPm = field(edit, "amPmField")
            return amPm.visible ? text + " " + amPm.text : text
        }

        function typeText(text) {
            for (var i = 0; i < text.length; ++i)
                keyClick(text.charAt(i))
        }

        function test_shown_time_data() {
            return [
                { tag: "midnight, 12-hour", locale: "en_US", hours: 0, shown: "12:05:07 AM" },
                { tag: "noon, 12-hour", locale: "en_US", hours: 12, shown: "12:05:07 PM" },
                { tag: "afternoon, 12-hour", locale: "en_US", hours: 13, shown: "01:05:07 PM" },
                { tag: "morning, 12-hour", locale: "en_US", hours: 9, shown: "09:05:07 AM" },
                { tag: "midnight, 24-hour", locale: "de_DE", hours: 0, shown: "00:05:07" },
                { tag: "afternoon, 24-hour", locale: "de_DE", hours: 13, shown: "13:05:07" },
                { tag: "marker first, 12-hour", locale: "zh_CN", hours: 23, shown: "11:05:07 PM" },
            ]
        }

        function test_shown_time(data) {
            var edit = createEdit(data.locale, new Date(2024, 0, 1, data.hours, 5, 7), { clockInterval: 3600000 })
            compare(shown(edit), data.shown)
            verify(edit.acceptableInput)
            verify(!edit.changed)
            compare(edit.time.getHours(), data.hours)
            compare(edit.time.getMinutes(), 5)
            compare(edit.time.getSeconds(), 7)
        }

        function test_am_pm_typed_in_either_case_data() {
            return [
                { tag: "pm", typed: "pm", shown: "PM", hours: 22 },
                { tag: "P", typed: "P", shown: "PM", hours: 22 },
                { tag: "am", typed: "am", shown: "AM", hours: 10 },
                { tag: "x is refused", typed: "x", shown: "AM", hours: 10 },
            ]
        }

        function test_am_pm_typed_in_either_case(data) {
            var edit = createEdit("en_US", new Date(2024, 0, 1, 10, 0, 0), { clockInterval: 3600000 })
            var amPm = field(edit, "amPmField")
            amPm.forceActiveFocus()
            typeText(data.typed)
            focusSink.forceActiveFocus()
            compare(amPm.text, data.shown)
            compare(edit.time.getHours(), data.hours)
            compare(edit.changed, data.hours !== 10)
        }

        function test_typing_walks_the_fields() {
            var edit = createEdit("en_US", new Date(2024, 0, 1, 10, 0, 0), { clockInterval: 3600000 })
            var hours = field(edit, "hoursField")
            var minutes = field(edit, "minutesField")
            var seconds = field(edit, "secondsField")
            hours.forceActiveFocus()
            keyClick("0")
            keyClick("0")
            compare(hours.text, "0", "no hour 00 on a 12-hour clock")
            keyClick("7")
            verify(minutes.activeFocus)
            keyClick("5")
            keyClick(":")
            verify(seconds.activeFocus)
            keyClick(Qt.Key_Backspace)
            keyClick(Qt.Key_Backspace)
            verify(minutes.activeFocus, "Backspace in an emptied field goes back")
            focusSink.forceActiveFocus()
            compare(shown(edit), "07:05:-- AM")
            verify(!edit.acceptableInput)
            compare(edit.time, undefined)
        }

        function test_hours_out_of_range_data() {
            return [
                { tag: "12-hour", locale: "en_US", typed: "13", text: "1" },
                { tag: "24-hour", locale: "de_DE", typed: "24", text: "2" },
            ]
        }

        function test_hours_out_of_range(data) {
            var edit = createEdit(data.locale, new Date(2024, 0, 1, 10, 0, 0), { clockInterval: 3600000 })
            var hours = field(edit, "hoursField")
            hours.forceActiveFocus()
            typeText(data.typed)
            compare(hours.text, data.text)
        }

        function test_unknown_time_shows_dashes() {
            var edit = createEdit("de_DE", undefined)
            compare(shown(edit), "--:--:--")
            verify(!edit.acceptableInput)
            verify(!edit.changed)
        }

        function test_clock_runs_until_edited() {
            var start = new Date(2024, 0, 1, 23, 59, 58)
            var edit = createEdit("de_DE", start, { clockInterval: 50 })
            tryCompare(field(edit, "secondsField"), "text", "59")
            tryCompare(field(edit, "hoursField"), "text", "00")
            verify(!edit.changed)
            verify(edit.initTime.getTime() >= start.getTime() + 2000)

            var minutes = field(edit, "minutesField")
            minutes.forceActiveFocus()
            typeText("30")
            verify(edit.changed)
            var frozen = edit.initTime.getTime()
            var shownBefore = shown(edit)
            wait(250)
            compare(edit.initTime.getTime(), frozen, "an edited clock stands still")
            compare(shown(edit), shownBefore)
        }

        function test_set_time_is_an_edit() {
            var edit = createEdit("en_US", new Date(2024, 0, 1, 8, 15, 0), { clockInterval: 3600000 })
            edit.setTime(new Date(2024, 0, 1, 20, 45, 30))
            compare(shown(edit), "08:45:30 PM")
            verify(edit.changed)
            compare(edit.time.getHours(), 20)
            compare(edit.initTime.getHours(), 8)
        }

        function test_now_returns_to_initial_time() {
            var edit = createEdit("de_DE", new Date(2024, 0, 1, 8, 15, 0), { clockInterval: 3600000 })
            field(edit, "hoursField").text = "09"
            verify(edit.changed)
            edit.showNow = true
            verify(findChild(edit, "nowText").visible)
            verify(!field(edit, "hoursField").visible)
            verify(!edit.changed)
            compare(edit.time.getHours(), 8)
        }
    }
}
