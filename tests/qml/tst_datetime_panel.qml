import QtQuick 2.5
import QtTest 1.2

import orvane.rtu 1.0 as TessRtu

import "Fleet.js" as Fleet

Item {
    id: root

    width: 1000
    height: 700

    Component {
        id: panelComponent

        Loader {
            width: root.width
            source: "qrc:/src/qml/settings/DateTimeSettings.qml"
        }
    }

    TestCase {
        id: testCase

        name: "DateTimePanel"
        when: windowShown

        function initTestCase() {
            Fleet.start(testCase, testFixture, rtuContext, "refusing_fleet.json", 6);
        }

        function cleanup() {
            Fleet.backToSettings(rtuContext);
        }

        function createPanel(names) {
            Fleet.select(testCase, testFixture, rtuContext, names);
            var loader = createTemporaryObject(panelComponent, root);
            tryCompare(loader, "status", Loader.Ready);
            // Rows and grids place their children before the next frame; click after it.
            waitForRendering(loader.item);
            return loader.item;
        }

        // Zone identifiers arrive as byte arrays, whose text form is the identifier.
        function zoneText(id) {
            return String(id);
        }

        // The row that stands for the zone: its first identifier or its shown text names it.
        function indexOfZone(zones, id, place) {
            var rows = testFixture.modelRows(zones);
            for (var i = 0; i < rows.length; ++i) {
                if (zones.isValidValue(i) && (zoneText(zones.timeZoneIdByIndex(i)) === id
                                              || rows[i].display.indexOf(place) >= 0))
                    return i;
            }
            return -1;
        }

        function test_servers_without_time_control_show_the_notice_at_once() {
            var panel = createPanel(["beta-one", "beta-two"]);
            verify(panel.warned, "no \"Edit all\" step for a selection that may not change time");
            verify(panel.maskedArea !== null);
            verify(!panel.maskedArea.showItem);
            compare(panel.maskedArea.message, "Can not change date and time for some selected servers");
            verify(!panel.changed);
            verify(panel.tryApplyChanges());
        }

        function test_single_server_shows_its_zone_and_clock() {
            var panel = createPanel(["alpha-one"]);
            var editor = panel.dateTimeEditor;
            verify(editor !== null);
            var zones = editor.timeZonePicker.model;
            compare(editor.timeZonePicker.currentIndex, zones.initIndex);
            verify(zones.isValidValue(zones.initIndex), "the server's zone is listed");
            verify(editor.timeZonePicker.currentText.indexOf("Berlin") >= 0 || editor.timeZonePicker.currentText.indexOf("Germany") >= 0,
                   editor.timeZonePicker.currentText);
            verify(editor.dateControl.acceptableInput);
            verify(editor.timeControl.acceptableInput);
            verify(!panel.changed);
        }

        function test_zone_change_converts_the_shown_time() {
            var panel = createPanel(["alpha-one"]);
            var editor = panel.dateTimeEditor;
            var zones = editor.timeZonePicker.model;
            var before = editor.timeControl.time;
            var target = indexOfZone(zones, "Asia/Tokyo", "Japan");
            verify(target >= 0);

            editor.timeZonePicker.currentIndex = target;
            // Berlin and Tokyo are 7 or 8 hours apart depending on the season.
            var shift = (editor.timeControl.time.getHours() - before.getHours() + 24) % 24;
            verify(shift === 7 || shift === 8, "shift " + shift);
            verify(panel.changed);
        }

        function test_calendar_choice_lands_in_the_date_field() {
            var panel = createPanel(["alpha-one"]);
            var editor = panel.dateTimeEditor;
            mouseClick(findChild(editor, "calendarButton"));
            var dialog = findChild(editor, "calendarDialog");
            tryVerify(function() { return dialog.visible; });
            compare(dialog.area.calendar.selectedDate.getDate(), editor.dateControl.date.getDate(),
                    "the calendar opens at the field's date");

            dialog.area.calendar.selectedDate = new Date(2030, 0, 15);
            var buttons = dialog.buttonsPanel.children[0].children;
            for (var i = 0; i < buttons.length; ++i) {
                if (buttons[i].buttonId === TessRtu.Buttons.Ok)
                    mouseClick(buttons[i].item);
            }
            verify(!dialog.visible);
            compare(editor.dateControl.date.getTime(), new Date(2030, 0, 15).getTime());
            verify(panel.changed);
        }

        function test_apply_hands_date_time_and_zone() {
            var panel = createPanel(["alpha-one"]);
            var editor = panel.dateTimeEditor;
            mouseClick(editor.useCurrentTimeControl);
            compare(editor.useCurrentTimeControl.checkedState, Qt.Checked);
            verify(!editor.dateControl.enabled, "the date follows the clock while checked");
            verify(panel.changed);

            verify(panel.tryApplyChanges());
            Fleet.applyAndWait(testCase, rtuContext);
            var rows = Fleet.resultRows(testFixture, rtuContext);
            compare(rows.length, 2);
            verify(rows[0].indexOf("date / time=") === 0, rows[0]);
            verify(rows[1].indexOf("time zone=") === 0, rows[1]);
        }

        // A typed time stops the clock and goes out as typed, however long the page stays.
        function test_typed_time_goes_as_typed() {
            var panel = createPanel(["alpha-one"]);
            var editor = panel.dateTimeEditor;
            findChild(editor.timeControl, "hoursField").forceActiveFocus();
            var typed = "102030";
            for (var i = 0; i < typed.length; ++i)
                keyClick(typed.charAt(i));
            wait(1500);
            var time = editor.timeControl.time;
            compare([time.getHours(), time.getMinutes(), time.getSeconds()], [10, 20, 30]);

            verify(panel.tryApplyChanges());
            Fleet.applyAndWait(testCase, rtuContext);
            var rows = Fleet.resultRows(testFixture, rtuContext);
            verify(rows[0].indexOf("date / time=") === 0 && rows[0].indexOf("10:20:30") > 0, rows[0]);
        }

        // Left alone, the fields show the server's clock as it runs.
        function test_untouched_fields_follow_the_server_clock() {
            var panel = createPanel(["alpha-one"]);
            var editor = panel.dateTimeEditor;
            wait(1500);
            var shown = editor.timeControl.time;
            var clock = rtuContext.selection.dateTime;
            var apart = Math.abs((shown.getHours() * 3600 + shown.getMinutes() * 60 + shown.getSeconds())
                                 - (clock.getHours() * 3600 + clock.getMinutes() * 60 + clock.getSeconds()));
            verify(apart <= 1 || apart >= 86399, "the field is " + apart + " s off the clock");
            verify(!panel.changed);
        }

        function test_unchecking_returns_to_the_chosen_zone() {
            var panel = createPanel(["alpha-one"]);
            var editor = panel.dateTimeEditor;
            var chosen = editor.timeZonePicker.currentIndex;
            mouseClick(editor.useCurrentTimeControl);
            compare(editor.timeZonePicker.currentIndex, editor.timeZonePicker.model.currentTimeZoneIndex);
            mouseClick(editor.useCurrentTimeControl);
            compare(editor.timeZonePicker.currentIndex, chosen);
        }
    }
}
