import QtQuick 2.5
import QtQuick.Window 2.2
import QtTest 1.2

import "Fleet.js" as Fleet
import "PanelSteps.js" as Steps

// A refused apply leaves what the operator typed on the page until it is
// thrown away, and stages nothing that a later batch could send.
Item {
    id: root

    width: 1000
    height: 700

    Component {
        id: pageComponent

        Loader {
            width: root.width
            height: root.height
            source: "qrc:/src/qml/pages/SettingsPage.qml"
        }
    }

    TestCase {
        id: testCase

        name: "RefusedApply"
        when: windowShown

        function createPage() {
            var loader = createTemporaryObject(pageComponent, root);
            tryCompare(loader, "status", Loader.Ready);
            waitForRendering(loader.item);
            return loader;
        }

        function replaceText(page, field, text) {
            Steps.scrollTo(testCase, page, field);
            mouseClick(field);
            keySequence("ctrl+a");
            keyClick(Qt.Key_Backspace);
            Steps.typeText(testCase, text);
            compare(field.text, text);
        }

        function initTestCase() {
            Fleet.start(testCase, testFixture, rtuContext, "operator_fleet.json", 3);
        }

        function cleanup() {
            Fleet.backToSettings(rtuContext);
        }

        // A panel refuses what was typed in it: every field keeps its text,
        // and once mended the page sends what it shows, each change once.
        function test_refused_by_a_panel_keeps_the_page() {
            Fleet.select(testCase, testFixture, rtuContext, ["office-cam-2"]);
            var page = createPage().item;
            var portField = page.settingsColumn.children[0].maskedArea.portControl;
            var nameField = page.settingsColumn.children[2].maskedArea.systemNameField;
            replaceText(page, portField, "7021");
            replaceText(page, nameField, " ");

            mouseClick(findChild(page, "applyChangesButton"));
            var dialog = findChild(page.settingsColumn.children[2], "errorDialog");
            tryVerify(function() { return dialog.visible; });
            dialog.close();
            // The dialog's window had the keyboard.
            root.Window.window.requestActivate();
            tryVerify(function() { return root.Window.window.active; });
            compare(rtuContext.currentPage, 0);
            compare(portField.text, "7021");
            compare(nameField.text, " ");
            verify(page.parametersChanged);

            replaceText(page, nameField, "Office East");
            mouseClick(findChild(page, "applyChangesButton"));
            tryCompare(rtuContext, "currentPage", 2, 15000);
            compare(Fleet.resultRows(testFixture, rtuContext), ["port=7021", "system name=Office East"]);
            compare(testFixture.serverState("office-cam-2").port, 7021);
        }
    }
}
