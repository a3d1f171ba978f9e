import QtQuick 2.5
import QtQuick.Window 2.2
import QtTest 1.2

import orvane.rtu 1.0 as TessRtu

import "qrc:/src/qml/common" as Common
import "qrc:/src/qml/controls/base" as Base
import "qrc:/src/qml/dialogs" as Dialogs
import "Fleet.js" as Fleet

// The whole job from the keyboard: the server list's keys, the select-all
// box, the closed zone picker, and the dialogs' Enter and Escape.
Item {
    id: root

    width: 400
    height: 600

    Component {
        id: listComponent

        Column {
            readonly property Item list: page.item.selectionList
            readonly property alias after: after

            Loader {
                id: page

                width: root.width
                height: root.height - after.height
                source: "qrc:/src/qml/pages/ServerSelectionPage.qml"
            }

            // The next stop of the Tab order after the list.
            TextInput {
                id: after

                width: root.width
                height: 20
                activeFocusOnTab: true
                text: "after"
            }
        }
    }

    Component {
        id: pickerComponent

        Base.TimeZonePicker {
            id: picker

            model: rtuContext.timeZonesModel(picker)
            initIndex: model.initIndex
        }
    }

    Component {
        id: confirmationComponent

        Dialogs.MessageDialog {
            buttons: TessRtu.Buttons.ApplyChanges | TessRtu.Buttons.DiscardChanges | TessRtu.Buttons.Cancel
            styledButtons: TessRtu.Buttons.ApplyChanges
            message: "Configuration changes have not been saved yet"
        }
    }

    Component {
        id: settingsComponent

        Loader {
            width: root.width
            height: 250
            source: "qrc:/src/qml/pages/SettingsPage.qml"
        }
    }

    SignalSpy {
        id: frameSpy

        signalName: "frameSwapped"
    }

    // What screen readers are told away from the focus.
    SignalSpy {
        id: saidSpy

        target: Common.Announcer
        signalName: "said"
    }

    SignalSpy {
        id: buttonSpy

        signalName: "buttonClicked"
    }

    TestCase {
        id: testCase

        name: "Keyboard"
        when: windowShown

        property var model: null

        function initTestCase() {
            model = Fleet.start(testCase, testFixture, rtuContext, "refusing_fleet.json", 6);
            Fleet.waitLoggedIn(testCase, testFixture, model, ["alpha-one", "alpha-two", "beta-one", "beta-two"]);
        }

        function init() {
            model.setAllItemSelected(false);
        }

        // A list with the keyboard on its first row.
        function keyboardList() {
            var holder = createTemporaryObject(listComponent, root);
            var list = holder.list;
            waitForRendering(list);
            list.forceActiveFocus();
            verify(list.headerItem.selectAllBox.activeFocus, "the list starts at its select-all box");
            keyClick(Qt.Key_Down);
            compare(list.keyRow, 0);
            return list;
        }

        // Sorted first on purpose: the first Tab of the run.
        function test_a_first_tab_shows_the_frame() {
            var holder = createTemporaryObject(listComponent, root);
            waitForRendering(holder.list);
            root.forceActiveFocus();
            keyClick(Qt.Key_Tab);
            var box = holder.list.headerItem.selectAllBox;
            verify(box.activeFocus);
            verify(findChild(box, "focusFrame").visible, "the first Tab frames the select-all box");
        }

        function row(name) {
            var server = Fleet.serverRow(testFixture, model, name);
            return server >= 0 ? server : Fleet.systemRow(testFixture, model, name);
        }

        function focusedRow(list) {
            var inside = false;
            for (var item = root.Window.activeFocusItem; item; item = item.parent)
                inside = inside || item === list.rowItem(list.keyRow);
            verify(inside, "the keyboard row holds the focus");
            return list.keyRow;
        }

        function test_arrows_move_the_keyboard_row() {
            var list = keyboardList();
            keyClick(Qt.Key_Down);
            compare(focusedRow(list), 1);
            keyClick(Qt.Key_End);
            compare(focusedRow(list), list.count - 1);
            var item = list.itemAtIndex(list.keyRow);
            verify(item.y >= list.contentY && item.y + item.height <= list.contentY + list.height + 1,
                   "the last row is scrolled into view");
            keyClick(Qt.Key_Home);
            compare(focusedRow(list), 0);
            keyClick(Qt.Key_PageDown);
            verify(focusedRow(list) > 1, "a page down moves by more than a row");
            keyClick(Qt.Key_PageUp);
            compare(focusedRow(list), 0);
            keyClick(Qt.Key_Up);
            verify(list.headerItem.selectAllBox.activeFocus, "up from the first row is the select-all box");
            compare(list.currentIndex, -1, "the view keeps no current row of its own");
        }

        // Nothing moves once the keyboard rests on a row: no highlight chases it.
        function test_no_frames_at_rest_on_a_row() {
            var list = keyboardList();
            frameSpy.target = root.Window.window;
            frameSpy.clear();
            keyClick(Qt.Key_End);
            keyClick(Qt.Key_Home);
            keyClick(Qt.Key_PageDown);
            tryVerify(function() { return frameSpy.count > 0; }, 1000, "moving the keyboard draws");
            // The last frames of the move may trail on a slow (sanitized)
            // build; what must not happen is frames that never stop.
            var quiet = false;
            for (var round = 0; round < 5 && !quiet; ++round) {
                frameSpy.clear();
                wait(1000);
                quiet = frameSpy.count === 0;
            }
            verify(quiet, "frames are still drawn with the keyboard at rest");
        }

        function shownIn(flickable, item) {
            var box = item.mapToItem(flickable, 0, 0, item.width, item.height);
            return box.y >= 0 && box.y + box.height <= flickable.height;
        }

        function test_tab_scrolls_the_focused_control_into_view() {
            Fleet.select(testCase, testFixture, rtuContext, ["alpha-one"]);
            var loader = createTemporaryObject(settingsComponent, root);
            tryCompare(loader, "status", Loader.Ready);
            var settings = loader.item;
            waitForRendering(settings);
            var flickable = findChild(settings, "settingsFlickable");
            var nameField = settings.settingsColumn.children[2].maskedArea.systemNameField;
            verify(!shownIn(flickable, nameField), "the page is taller than its view");
            settings.settingsColumn.children[0].maskedArea.portControl.forceActiveFocus();
            for (var i = 0; i < 40 && !nameField.activeFocus; ++i)
                keyClick(Qt.Key_Tab);
            verify(nameField.activeFocus);
            verify(shownIn(flickable, nameField), "Tab brought the field into view");
        }

        function selectedState(name) {
            return testFixture.modelRows(model)[row(name)].selectedState;
        }

        // Space asks what a click asks, Enter what a double click asks; a
        // server that is not logged in takes neither.
        function test_space_and_enter_on_rows_data() {
            return [
                { tag: "Space toggles a server", preselect: ["beta-one"], key: Qt.Key_Space, on: "alpha-one",
                  selected: ["alpha-one", "beta-one"], said: "selected" },
                { tag: "Space takes a server out", preselect: ["alpha-one"], key: Qt.Key_Space, on: "alpha-one",
                  selected: [], said: "not selected" },
                { tag: "Enter selects a server alone", preselect: ["beta-one", "beta-two"], key: Qt.Key_Return,
                  on: "alpha-one", selected: ["alpha-one"], said: "selected" },
                { tag: "Space toggles a system", preselect: ["beta-one"], key: Qt.Key_Space, on: "Alpha",
                  selected: ["alpha-one", "alpha-two", "beta-one"], said: "2 of 2 servers selected" },
                { tag: "not logged in", preselect: ["beta-one"], key: Qt.Key_Space, on: "gamma-one",
                  selected: ["beta-one"], said: undefined },
            ];
        }

        function test_space_and_enter_on_rows(data) {
            tryVerify(function() { return !testFixture.modelRows(model)[row("gamma-one")].loggedIn; }, 10000);
            for (var i = 0; i < data.preselect.length; ++i)
                model.changeItemSelectedState(row(data.preselect[i]));
            var list = keyboardList();
            while (list.keyRow < row(data.on))
                keyClick(Qt.Key_Down);
            compare(focusedRow(list), row(data.on));
            saidSpy.clear();
            keyClick(data.key);
            wait(50);
            var names = ["alpha-one", "alpha-two", "beta-one", "beta-two", "gamma-one"];
            for (var j = 0; j < names.length; ++j)
                compare(selectedState(names[j]) === Qt.Checked, data.selected.indexOf(names[j]) >= 0, names[j]);
            // Screen readers say nothing of a list row's checked state.
            compare(saidSpy.count ? saidSpy.signalArguments[saidSpy.count - 1][0] : undefined, data.said);
        }

        function test_space_goes_through_the_confirmation() {
            var list = keyboardList();
            list.askForSelectionChange = true;
            while (list.keyRow < row("alpha-one"))
                keyClick(Qt.Key_Down);
            keyClick(Qt.Key_Space);
            var dialog = findChild(list, "confirmationDialog");
            tryVerify(function() { return dialog.visible; });
            compare(model.selectedCount, 0, "nothing changes before the answer");
            dialog.close();
        }

        // The box shows the selection the list has, whatever Space did to it.
        function test_select_all_box_shows_the_selection() {
            var list = keyboardList();
            var box = list.headerItem.selectAllBox;
            keyClick(Qt.Key_Up);
            verify(box.activeFocus);
            var shown = findChild(box, "checkBox");
            saidSpy.clear();
            keyClick(Qt.Key_Space);
            tryCompare(model, "selectedCount", model.serversCount - 1);   // Gamma refuses the passwords
            compare(shown.checkedState, Qt.PartiallyChecked);
            // Screen readers hear nothing of "partly checked" coming or going.
            compare(saidSpy.signalArguments[saidSpy.count - 1][0], "select / unselect all: partially checked");
            keyClick(Qt.Key_Space);
            tryCompare(model, "selectedCount", 0);
            compare(shown.checkedState, Qt.Unchecked);
            compare(saidSpy.signalArguments[saidSpy.count - 1][0], "select / unselect all: not checked");
            model.changeItemSelectedState(row("alpha-one"));
            compare(shown.checkedState, Qt.PartiallyChecked);
        }

        function test_password_entry_is_reached_and_opens_the_dialog() {
            tryVerify(function() { return testFixture.modelRows(model)[row("Gamma")].loggedState
                                          === TessRtu.Constants.NotLogged; }, 10000);
            var list = keyboardList();
            while (list.keyRow < row("Gamma"))
                keyClick(Qt.Key_Down);
            keyClick(Qt.Key_Down);
            compare(list.keyRow, row("Gamma"));
            verify(list.rowItem(row("Gamma")).loginButton.activeFocus, "below a locked system, its password entry");
            keyClick(Qt.Key_Return);
            var dialog = findChild(list, "loginDialog");
            tryVerify(function() { return dialog.visible; });
            compare(dialog.systemName, "Gamma");
            dialog.cancel();
            keyClick(Qt.Key_Down);
            compare(list.keyRow, row("gamma-one"));
        }

        // Tab: the box above, the rows, then out of the list; Backtab from
        // the next stop comes back to the rows (the box below shows only
        // when the list overflows).
        function test_tab_order_through_the_list() {
            var list = keyboardList();
            var holder = list.parent;
            while (holder.after === undefined)
                holder = holder.parent;
            holder.parent.height = 10000;
            keyClick(Qt.Key_Backtab);
            verify(list.headerItem.selectAllBox.activeFocus);
            keyClick(Qt.Key_Tab);
            compare(focusedRow(list), 0);
            keyClick(Qt.Key_Tab);
            if (list.footerItem.visible) {
                verify(list.footerItem.selectAllBox.activeFocus);
                keyClick(Qt.Key_Tab);
            }
            verify(holder.after.activeFocus, "Tab leaves the list");
            keyClick(Qt.Key_Backtab);
            verify(list.footerItem.visible ? list.footerItem.selectAllBox.activeFocus : focusedRow(list) === 0,
                   "Backtab comes back to the list's last stop");
        }

        // Typed quickly, a word finds the zone whose id or text contains it,
        // as in the open list; a single first letter does not jump.
        function typeText(text) {
            for (var i = 0; i < text.length; ++i)
                keyClick(text.charAt(i));
        }

        function test_typing_into_the_closed_picker_searches() {
            var picker = createTemporaryObject(pickerComponent, root);
            picker.forceActiveFocus();
            var before = picker.currentIndex;
            typeText("Tokyo");
            compare(String(picker.model.timeZoneIdByIndex(picker.currentIndex)), "Asia/Tokyo");
            verify(!picker.__popup.__popupVisible, "the list stays closed");
            wait(1100);
            typeText("Berlin");
            compare(String(picker.model.timeZoneIdByIndex(picker.currentIndex)), "Europe/Berlin");
            wait(1100);
            var berlin = picker.currentIndex;
            typeText("@");
            compare(picker.currentIndex, berlin, "no zone contains it: the zone stays");
            verify(before !== berlin);
        }

        function test_dialog_keys_data() {
            return [
                { tag: "Enter presses the default button", key: Qt.Key_Return, tabs: 0,
                  button: TessRtu.Buttons.ApplyChanges },
                { tag: "Escape is Cancel", key: Qt.Key_Escape, tabs: 0, button: TessRtu.Buttons.Cancel },
                { tag: "Return presses the focused button", key: Qt.Key_Return, tabs: 1,
                  button: TessRtu.Buttons.Cancel },
                { tag: "Tab goes left to right", key: Qt.Key_Return, tabs: 2,
                  button: TessRtu.Buttons.DiscardChanges },
            ];
        }

        function test_dialog_keys(data) {
            keyClick(Qt.Key_Tab);   // moving by keyboard, as the operator who opens it
            var dialog = createTemporaryObject(confirmationComponent, root);
            buttonSpy.clear();
            buttonSpy.target = dialog;
            dialog.show();
            tryVerify(function() { return dialog.visible; });
            var focused = dialog.buttonsPanel.buttonItem(TessRtu.Buttons.ApplyChanges);
            tryVerify(function() { return focused.activeFocus; }, 1000, "the dialog starts on its default button");
            for (var i = 0; i < data.tabs; ++i)
                verify(windowKeys.keyClick(focused, Qt.Key_Tab));
            verify(windowKeys.keyClick(focused, data.key));
            compare(buttonSpy.count, 1);
            compare(buttonSpy.signalArguments[0][0], data.button);
            verify(!dialog.visible);
        }
    }
}
