import QtQuick 2.5
import QtTest 1.2

import orvane.rtu 1.0 as TessRtu

import "Fleet.js" as Fleet

Item {
    id: root

    width: 400
    height: 900

    Component {
        id: pageComponent

        Loader {
            anchors.fill: parent
            source: "qrc:/src/qml/pages/ServerSelectionPage.qml"
        }
    }

    Component {
        id: signalSpyComponent

        SignalSpy {}
    }

    SignalSpy {
        id: applySpy

        signalName: "applyChanges"
    }

    TestCase {
        id: testCase

        name: "SelectionList"
        when: windowShown

        property var model: null

        function initTestCase() {
            model = Fleet.start(testCase, testFixture, rtuContext, "refusing_fleet.json", 6);
            Fleet.waitLoggedIn(testCase, testFixture, model, ["alpha-one", "alpha-two", "beta-one", "beta-two"]);
        }

        function init() {
            model.setAllItemSelected(false);
            applySpy.clear();
        }

        function createList() {
            var loader = createTemporaryObject(pageComponent, root);
            tryCompare(loader, "status", Loader.Ready);
            applySpy.target = loader.item;
            var list = loader.item.selectionList;
            // Columns lay their rows out before the next frame; click only after it.
            waitForRendering(list);
            return list;
        }

        function rowItem(list, row) {
            var item = list.itemAtIndex(row);
            verify(item !== null, "no delegate for row " + row);
            return item.item;
        }

        function serverItem(list, name) {
            return rowItem(list, Fleet.serverRow(testFixture, model, name));
        }

        function isSelected(name) {
            var rows = testFixture.modelRows(model);
            return rows[Fleet.serverRow(testFixture, model, name)].selectedState === Qt.Checked;
        }

        function test_rows_show_systems_servers_and_lock_state() {
            var list = createList();
            var alpha = rowItem(list, Fleet.systemRow(testFixture, model, "Alpha"));
            compare(alpha.caption, "Alpha");
            var unassigned = rowItem(list, Fleet.systemRow(testFixture, model, ""));
            compare(unassigned.caption, "Unassigned system");

            tryCompare(model, "serversCount", 6);
            var gammaRow = Fleet.systemRow(testFixture, model, "Gamma");
            tryVerify(function() { return rowItem(list, gammaRow).loggedState === TessRtu.Constants.NotLogged; }, 10000);
            var gamma = rowItem(list, gammaRow);
            verify(findChild(gamma, "loginButton").visible, "a refused system offers the password entry");
            verify(!findChild(alpha, "loginButton").visible);

            var server = serverItem(list, "alpha-one");
            verify(server.loggedIn);
            compare(server.opacity, 1);
            var locked = serverItem(list, "gamma-one");
            compare(locked.opacity, 0.3);
        }

        // A current row would drag the view's highlight after it, frame after
        // frame, each time moves carry it away.
        function test_no_row_is_current() {
            var list = createList();
            verify(list.count > 0);
            compare(list.currentIndex, -1);
            compare(list.currentItem, null);
        }

        function test_unknown_group_row() {
            var component = Qt.createComponent("qrc:/src/qml/controls/rtu/UnknownGroupItem.qml");
            compare(component.status, Component.Ready, component.errorString());
            var group = createTemporaryObject(component, root, { caption: "Other discovered servers", width: 300 });
            var notice = findChild(group, "notice");
            compare(notice.text, "We can't connect to these servers or find any information about them");
            verify(Qt.colorEqual(notice.color, "red"));
            verify(Qt.colorEqual(findChild(group, "captionDelimiter").color, "black"),
                   "the line under the caption is the plain one");
        }

        function test_login_dialog_names_the_system() {
            var list = createList();
            var gammaRow = Fleet.systemRow(testFixture, model, "Gamma");
            tryVerify(function() { return rowItem(list, gammaRow).loggedState === TessRtu.Constants.NotLogged; }, 10000);
            mouseClick(findChild(rowItem(list, gammaRow), "loginButton"));
            var dialog = findChild(list, "loginDialog");
            tryVerify(function() { return dialog.visible; });
            compare(dialog.title, "Login to server");
            compare(findChild(dialog.contentItem, "systemCaption").text, "System: Gamma");
            dialog.cancel();
            verify(!dialog.visible);
        }

        function test_limit_notice() {
            var component = Qt.createComponent("qrc:/src/qml/controls/rtu/SelectionList.qml");
            compare(component.status, Component.Ready, component.errorString());
            var full = createTemporaryObject(component, root, { width: 300, height: 400,
                                                                 selectionModel: testFixture.fullSelectionModel(3) });
            var notice = findChild(full.headerItem, "limitNotice");
            verify(notice.visible);
            compare(notice.text, "Too many servers: only the first 3 found are listed");
            verify(Qt.colorEqual(notice.color, "red"));
            verify(!findChild(createList().headerItem, "limitNotice").visible);
        }

        function test_elided_name_shows_its_full_text_data() {
            return [
                { tag: "cut short", width: 120, tooltip: true },
                { tag: "fits", width: 600, tooltip: false }
            ];
        }

        function test_elided_name_shows_its_full_text(data) {
            var component = Qt.createComponent("qrc:/src/qml/controls/rtu/ServerItem.qml");
            compare(component.status, Component.Ready, component.errorString());
            var name = "Harbour Gate East (127.0.0.21)";
            var item = createTemporaryObject(component, root, { width: data.width, loggedIn: true, name: name });
            waitForRendering(item);
            compare(item.nameTooltip, null);
            mouseMove(item, item.width / 2, item.height / 2);
            if (data.tooltip) {
                tryVerify(function() { return item.nameTooltip !== null && item.nameTooltip.shown; });
                compare(item.nameTooltip.text, name);
                mouseMove(root, root.width - 1, root.height - 1);
                tryCompare(item, "nameTooltip", null);
            } else {
                wait(50);
                compare(item.nameTooltip, null);
            }
        }

        // A server two hosts answer as is greyed, cannot be clicked into the
        // selection and says why under the pointer.
        function test_conflicting_server_says_why_and_stays_unselected() {
            var component = Qt.createComponent("qrc:/src/qml/controls/rtu/ServerItem.qml");
            var why = "Answers as this server come from 127.0.0.20 and 127.0.0.21.\nIt cannot be selected while they all answer.";
            var item = createTemporaryObject(component, root, { width: 400, loggedIn: true, name: "Real ()",
                                                                conflict: why });
            var clicks = createTemporaryObject(signalSpyComponent, root, { target: item, signalName: "singleClicked" });
            waitForRendering(item);
            verify(item.opacity < 1);
            mouseMove(item, item.width / 2, item.height / 2);
            tryVerify(function() { return item.conflictTooltip !== null && item.conflictTooltip.shown; });
            compare(item.conflictTooltip.text, why);
            compare(item.nameTooltip, null);
            compare(findChild(item, "detailText").text, "Answers as this server come from 127.0.0.20 and 127.0.0.21.");
            mouseClick(item);
            compare(clicks.count, 0);
            item.conflict = "";
            mouseClick(item);
            compare(clicks.count, 1);
        }

        function test_footer_only_when_the_list_overflows() {
            var list = createList();
            var loader = list.parent.parent;
            verify(list.contentHeight > 300);
            loader.anchors.fill = undefined;
            loader.width = root.width;

            loader.height = 300;
            waitForRendering(list);
            verify(list.footerItem.visible, "a list taller than its view repeats the box at its end");

            loader.height = list.contentHeight + 200;
            waitForRendering(list);
            verify(!list.footerItem.visible);
        }

        function test_single_click_toggles_and_double_click_selects_only() {
            var list = createList();
            mouseClick(serverItem(list, "alpha-one"));
            tryVerify(function() { return isSelected("alpha-one"); });
            wait(200);
            mouseClick(serverItem(list, "beta-one"));
            tryVerify(function() { return isSelected("beta-one"); });
            compare(model.selectedCount, 2);
            wait(200);

            // The first click of a double click toggles, the second keeps this server alone.
            mouseDoubleClickSequence(serverItem(list, "alpha-two"));
            tryCompare(model, "selectedCount", 1);
            verify(isSelected("alpha-two"));
            wait(200);

            mouseClick(serverItem(list, "alpha-two"));
            tryCompare(model, "selectedCount", 0);
        }

        function test_clicks_on_a_server_not_logged_in_do_nothing() {
            var list = createList();
            mouseClick(serverItem(list, "gamma-one"));
            wait(200);
            mouseDoubleClickSequence(serverItem(list, "gamma-one"));
            wait(200);
            compare(model.selectedCount, 0);
        }

        // Rows scrolled out lend their delegates to the rows scrolled in; none
        // may keep what it showed for its former row, nor trip over the roles
        // that row lacks.
        function test_reused_rows_show_their_own_row() {
            var list = createList();
            qmlWarnings.take();
            var loader = list.parent.parent;
            loader.anchors.fill = undefined;
            loader.width = root.width;
            loader.height = 200;
            model.changeItemSelectedState(Fleet.serverRow(testFixture, model, "alpha-two"));
            model.changeItemSelectedState(Fleet.systemRow(testFixture, model, "Beta"));
            var rows = testFixture.modelRows(model);
            var order = [];
            for (var r = 0; r < rows.length; ++r)
                order.push(r);
            order = order.concat(order.slice().reverse());
            for (var i = 0; i < order.length; ++i) {
                var row = order[i];
                list.positionViewAtIndex(row, i < rows.length ? ListView.End : ListView.Beginning);
                waitForRendering(list);
                var item = rowItem(list, row);
                var expected = testFixture.modelRows(model)[row]; // names gain their address meanwhile
                if (expected.itemType === TessRtu.Constants.ServerItemType)
                    compare(item.name, expected.name, "row " + row);
                else if (expected.itemType === TessRtu.Constants.SystemItemType)
                    compare(item.systemName, expected.systemName, "row " + row);
                else
                    continue;
                compare(findChild(item, "checkBox").checkedState, expected.selectedState, "row " + row);
            }
            compare(qmlWarnings.take(), []);
        }

        function test_select_all_box() {
            var list = createList();
            var box = findChild(list.headerItem, "selectAllBox");
            compare(box.checkedState, Qt.Unchecked);
            mouseClick(box);
            // Gamma refuses the default passwords, so its server stays out.
            tryCompare(list, "selectAllCheckedState", Qt.PartiallyChecked);
            compare(model.selectedCount, model.serversCount - 1);
            mouseClick(box);
            tryCompare(model, "selectedCount", 0);
            compare(list.selectAllCheckedState, Qt.Unchecked);
        }

        function test_gate_asks_before_changing_the_selection_data() {
            return [
                { tag: "apply changes", button: TessRtu.Buttons.ApplyChanges, applied: 1, selected: 0 },
                { tag: "discard changes", button: TessRtu.Buttons.DiscardChanges, applied: 0, selected: 1 },
                { tag: "cancel", button: TessRtu.Buttons.Cancel, applied: 0, selected: 0 }
            ];
        }

        function test_gate_asks_before_changing_the_selection(data) {
            var list = createList();
            list.askForSelectionChange = true;
            mouseClick(serverItem(list, "alpha-one"));
            var dialog = findChild(list, "confirmationDialog");
            tryVerify(function() { return dialog.visible; });
            compare(dialog.title, "Confirmation");
            compare(dialog.message, "Configuration changes have not been saved yet");
            compare(model.selectedCount, 0, "nothing changes before the answer");

            var button = null;
            var panelButtons = dialog.buttonsPanel.children[0].children;
            for (var i = 0; i < panelButtons.length; ++i) {
                if (panelButtons[i].buttonId === data.button)
                    button = panelButtons[i];
            }
            verify(button !== null);
            mouseClick(button);
            verify(!dialog.visible);
            compare(applySpy.count, data.applied);
            tryCompare(model, "selectedCount", data.selected);
        }
    }
}
