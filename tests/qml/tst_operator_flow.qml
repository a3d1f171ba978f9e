import QtQuick 2.5
import QtTest 1.2

import orvane.rtu 1.0 as TessRtu

import "Fleet.js" as Fleet
import "PanelSteps.js" as Steps

// The whole job as an operator does it in the main window, by clicks and
// keys, against the simulated fleet.
TestCase {
    id: testCase

    name: "OperatorFlow"
    when: windowShown

    property var model: null
    property var window: null

    function page() {
        return window.pageLoader.item;
    }

    function listRow(row) {
        var list = window.selectionPage.selectionList;
        list.forceLayout();
        var item = list.itemAtIndex(row);
        verify(item !== null, "no delegate for row " + row);
        return item.item;
    }

    // Pages are rebuilt on every switch, so ask the loader each time.
    function waitForPage(name, timeout) {
        tryVerify(function() { return page() && page().objectName === name; }, timeout || 5000,
                  "the page shown is not " + name);
        waitForRendering(page());
    }

    function scrollTo(field) {
        Steps.scrollTo(testCase, page(), field);
    }

    function replaceText(field, text) {
        scrollTo(field);
        mouseClick(field);
        verify(field.activeFocus);
        keySequence("ctrl+a");
        keyClick(Qt.Key_Backspace);
        Steps.typeText(testCase, text);
        compare(field.text, text);
    }

    function initTestCase() {
        model = Fleet.start(testCase, testFixture, rtuContext, "operator_fleet.json", 3);
        var component = Qt.createComponent("qrc:/src/qml/main.qml");
        compare(component.status, Component.Ready, component.errorString());
        window = component.createObject(null);
        verify(window !== null);
        window.requestActivate();
        tryVerify(function() { return window.active; });
    }

    function cleanupTestCase() {
        window.destroy();
        wait(0);    // the deletion is deferred: let it happen before the engine goes
    }

    function test_1_configure_one_server() {
        compare(page().objectName, "emptySelectionPage");
        Fleet.waitLoggedIn(testCase, testFixture, model, ["office-cam-1", "office-cam-2"]);

        mouseClick(listRow(Fleet.serverRow(testFixture, model, "office-cam-1")));
        waitForPage("settingsPage");
        var panels = page().settingsColumn.children;
        var portField = panels[0].maskedArea.portControl;
        var nameField = panels[2].maskedArea.systemNameField;
        compare(portField.text, "7001");
        compare(nameField.text, "Office");
        compare(panels[0].maskedArea.interfaceEditor.lines.itemAt(0).ipAddressControl.text, "127.0.0.2");

        replaceText(portField, "7011");
        replaceText(nameField, "Office HQ");
        var applyButton = findChild(page(), "applyChangesButton");
        verify(applyButton.enabled);
        mouseClick(applyButton);

        waitForPage("progressPage");
        waitForPage("summaryPage", 20000);

        var summary = page();
        compare(summary.successfulSummary.caption, "2 of 2 successful changed");
        verify(!summary.failedSummary.visible);
        mouseClick(findChild(summary.successfulSummary, "changelogButton"));
        verify(summary.successfulSummary.expanded);
        var table = summary.successfulSummary.area;
        tryCompare(table, "count", 2);
        var values = [];
        for (var i = 0; i < table.count; ++i)
            values.push(table.itemAtIndex(i).rowName + "=" + table.itemAtIndex(i).rowValue);
        compare(values.sort(), ["port=7011", "system name=Office HQ"]);

        mouseClick(findChild(summary, "okButton"));
        waitForPage("settingsPage");
        panels = page().settingsColumn.children;
        compare(panels[0].maskedArea.portControl.text, "7011");
        compare(panels[2].maskedArea.systemNameField.text, "Office HQ");

        var state = testFixture.serverState("office-cam-1");
        compare(state.port, 7011);
        compare(state.systemName, "Office HQ");
        compare(testFixture.serverState("office-cam-2").systemName, "Office", "only the selected server changes");
    }

    // The page is rebuilt from the same selection long after it was made;
    // a change of the zone alone must leave the server's clock where it is.
    function test_3_zone_change_after_cancel_keeps_the_clock() {
        Fleet.select(testCase, testFixture, rtuContext, ["office-cam-2"]);
        waitForPage("settingsPage");
        wait(4000);
        // The login dialogs of the test before had the keyboard.
        window.requestActivate();
        tryVerify(function() { return window.active; });
        replaceText(page().settingsColumn.children[2].maskedArea.systemNameField, "Office West");
        mouseClick(findChild(page(), "cancelButton"));
        tryVerify(function() { return !page().parametersChanged; });
        waitForPage("settingsPage");

        var picker = page().settingsColumn.children[1].dateTimeEditor.timeZonePicker;
        var tokyo = -1;
        for (var row = 0; row < picker.model.rowCount() && tokyo < 0; ++row) {
            if (String(picker.model.timeZoneIdByIndex(row)) === "Asia/Tokyo")
                tokyo = row;
        }
        verify(tokyo >= 0);
        picker.currentIndex = tokyo;
        mouseClick(findChild(page(), "applyChangesButton"));
        waitForPage("summaryPage", 20000);
        compare(page().successfulSummary.caption, "2 of 2 successful changed");

        var state = testFixture.serverState("office-cam-2");
        compare(state.timezoneId, "Asia/Tokyo");
        verify(Math.abs(state.clockOffsetMs) < 2000, "the server's clock is off by " + state.clockOffsetMs + " ms");
        mouseClick(findChild(page(), "okButton"));
        waitForPage("settingsPage");
    }

    function test_2_log_in_to_a_system_with_its_password() {
        var vaultRow = Fleet.systemRow(testFixture, model, "Vault");
        tryVerify(function() { return listRow(vaultRow).loggedState === TessRtu.Constants.NotLogged; }, 15000);
        var vault = listRow(vaultRow);
        var loginButton = findChild(vault, "loginButton");
        verify(loginButton.visible);

        mouseClick(loginButton);
        var loginDialog = findChild(window.selectionPage.selectionList, "loginDialog");
        tryVerify(function() { return loginDialog.visible && loginDialog.active; });
        mouseClick(loginDialog.passwordField);
        Steps.typeIntoDialog(testCase, "guess");
        keyClick(Qt.Key_Return);

        var errorDialog = findChild(window.selectionPage.selectionList, "loginErrorDialog");
        tryVerify(function() { return errorDialog.visible; }, 10000);
        compare(errorDialog.message, "Can't login to any server in system Vault with entered password");
        errorDialog.close();

        mouseClick(loginButton);
        tryVerify(function() { return loginDialog.visible && loginDialog.active; });
        mouseClick(loginDialog.passwordField);
        Steps.typeIntoDialog(testCase, "vault-pass");
        keyClick(Qt.Key_Return);
        tryVerify(function() {
            return listRow(Fleet.serverRow(testFixture, model, "vault-1")).loggedIn;
        }, 10000);
        tryVerify(function() { return !findChild(listRow(vaultRow), "loginButton").visible; });
    }
}
