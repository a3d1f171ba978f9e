import QtQuick 2.5
import QtTest 1.1

import "qrc:/src/qml/controls/base" as Base

Item {
    id: root

    width: 400
    height: 200

    Component {
        id: dateComponent

        Base.DateEdit {}
    }

    TextInput {
        id: focusSink

        y: 150
        width: 50
        height: 20
    }

    TestCase {
        name: "DateEdit"
        when: windowShown

        function createEdit(localeName, initDate) {
            var edit = createTemporaryObject(dateComponent, root,
                                             { locale: Qt.locale(localeName), initDate: initDate })
            verify(edit !== null)
            return edit
        }

        function field(edit, name) {
            var found = findChild(edit, name)
            verify(found !== null, name)
            return found
        }

        function typeText(text) {
            for (var i = 0; i < text.length; ++i)
                keyClick(text.charAt(i))
        }

        function shownText(edit) {
            var row = field(edit, "dayField").parent
            var text = ""
            for (var i = 0; i < row.children.length; ++i)
                text += row.children[i].text
            return text
        }

        function test_locale_order_data() {
            return [
                { tag: "day first", locale: "de_DE", shown: "05.03.2024", first: "dayField", last: "yearField" },
                { tag: "year first", locale: "sv_SE", shown: "2024-03-05", first: "yearField", last: "dayField" },
                { tag: "year first with slashes", locale: "zh_CN", shown: "2024/03/05", first: "yearField", last: "dayField" },
                { tag: "month first", locale: "en_US", shown: "03/05/2024", first: "monthField", last: "yearField" },
                // The C locale's short format separates with blanks only.
                { tag: "C locale", locale: "C", shown: "05.03.2024", first: "dayField", last: "yearField" },
            ]
        }

        function test_locale_order(data) {
            var edit = createEdit(data.locale, new Date(2024, 2, 5, 14, 30))
            compare(shownText(edit), data.shown)
            var first = field(edit, data.first)
            var last = field(edit, data.last)
            verify(first.x < last.x)

            // The cursor walks the fields in the order they are shown.
            first.forceActiveFocus()
            keyClick(Qt.Key_Right)
            keyClick(Qt.Key_Right)
            verify(last.activeFocus)
            keyClick(Qt.Key_Left)
            keyClick(Qt.Key_Left)
            verify(first.activeFocus)
            keyClick(Qt.Key_Tab)
            keyClick(Qt.Key_Tab)
            verify(last.activeFocus, "Tab follows the shown order too")
        }

        function test_typing_moves_to_next_field() {
            var edit = createEdit("de_DE", new Date(2024, 2, 5))
            var day = field(edit, "dayField")
            var month = field(edit, "monthField")
            var year = field(edit, "yearField")
            day.forceActiveFocus()
            keyClick("3")
            verify(day.activeFocus)
            keyClick("1")
            verify(month.activeFocus, "two digits fill the day")
            keyClick("1")
            keyClick(".")
            verify(year.activeFocus, "a separator moves on")
            compare(month.text, "01", "a field left is shown with two digits")
            typeText("2025")
            focusSink.forceActiveFocus()
            compare(shownText(edit), "31.01.2025")
            compare(edit.date.getTime(), new Date(2025, 0, 31).getTime())
            verify(edit.changed)
            verify(edit.acceptableInput)

            year.forceActiveFocus()
            keyClick(Qt.Key_Backspace)
            compare(year.text, "", "Backspace clears the selected year")
            keyClick(Qt.Key_Backspace)
            verify(month.activeFocus, "Backspace at the start goes back")
        }

        function test_up_and_down_stay_in_range() {
            var edit = createEdit("de_DE", new Date(2024, 11, 31))
            var day = field(edit, "dayField")
            var month = field(edit, "monthField")
            day.forceActiveFocus()
            keyClick(Qt.Key_Up)
            compare(day.text, "31")
            keyClick(Qt.Key_Down)
            compare(day.text, "30")
            month.forceActiveFocus()
            keyClick(Qt.Key_Up)
            compare(month.text, "12")
            month.text = "01"
            keyClick(Qt.Key_Down)
            compare(month.text, "01")
            keyClick(Qt.Key_Up)
            compare(month.text, "02")
        }

        function test_day_clamped_on_leaving_data() {
            return [
                { tag: "leap year", year: "2024", day: "29" },
                { tag: "common year", year: "2023", day: "28" },
            ]
        }

        function test_day_clamped_on_leaving(data) {
            var edit = createEdit("de_DE", new Date(2023, 0, 31))
            field(edit, "yearField").text = data.year
            var month = field(edit, "monthField")
            month.forceActiveFocus()
            typeText("02")
            verify(!edit.acceptableInput, "31 February is no date")
            compare(edit.date, undefined)
            focusSink.forceActiveFocus()
            compare(field(edit, "dayField").text, data.day)
            verify(edit.acceptableInput)
            compare(edit.date.getDate(), Number(data.day))
            compare(edit.date.getMonth(), 1)
        }

        function test_invalid_fields_data() {
            return [
                { tag: "zero day", field: "dayField", typed: "0", text: "0", left: "--" },
                { tag: "zero month", field: "monthField", typed: "00", text: "0", left: "--" },
                { tag: "day above 31", field: "dayField", typed: "32", text: "3", left: "03" },
                { tag: "year before 2000", field: "yearField", typed: "1999", text: "2024", left: "2024" },
                { tag: "year after 2100", field: "yearField", typed: "2101", text: "210", left: "----" },
            ]
        }

        function test_invalid_fields(data) {
            var edit = createEdit("de_DE", new Date(2024, 4, 10))
            var target = field(edit, data.field)
            target.forceActiveFocus()
            typeText(data.typed)
            compare(target.text, data.text)
            focusSink.forceActiveFocus()
            compare(target.text, data.left)
        }

        function test_unknown_date_shows_dashes() {
            var edit = createEdit("de_DE", undefined)
            compare(shownText(edit), "--.--.----")
            verify(!edit.acceptableInput)
            verify(!edit.changed, "no date and no initial date is no change")

            edit.initDate = new Date(NaN)
            compare(shownText(edit), "--.--.----")
        }

        function test_initial_date_drops_time_of_day() {
            var edit = createEdit("de_DE", new Date(2024, 6, 14, 23, 59, 58))
            compare(edit.initDate.getHours(), 0)
            compare(edit.initDate.getMinutes(), 0)
            compare(edit.date.getTime(), new Date(2024, 6, 14).getTime())
            verify(!edit.changed)
        }

        function test_now_returns_to_initial_date() {
            var edit = createEdit("de_DE", new Date(2024, 6, 14))
            var day = field(edit, "dayField")
            day.forceActiveFocus()
            typeText("20")
            verify(edit.changed)
            edit.showNow = true
            verify(!day.visible)
            verify(findChild(edit, "nowText").visible)
            compare(findChild(edit, "nowText").text, "<now>")
            verify(!edit.changed)
            compare(edit.date.getTime(), new Date(2024, 6, 14).getTime())
        }

        function test_set_date_is_an_edit() {
            var edit = createEdit("sv_SE", new Date(2024, 6, 14))
            edit.setDate(new Date(2025, 11, 24, 18, 0))
            compare(shownText(edit), "2025-12-24")
            verify(edit.changed)
            compare(edit.date.getTime(), new Date(2025, 11, 24).getTime())
            compare(edit.initDate.getTime(), new Date(2024, 6, 14).getTime())
        }

        function test_changed_compares_with_initial_date() {
            var edit = createEdit("de_DE", new Date(2024, 6, 14))
            var day = field(edit, "dayField")
            day.text = "15"
            verify(edit.changed)
            day.text = "14"
            verify(!edit.changed)
            edit.initDate = new Date(2024, 6, 15)
            compare(day.text, "15")
            verify(!edit.changed)
        }
    }
}
