import QtQuick 2.5
import QtTest 1.2

import "Fleet.js" as Fleet
import "PanelSteps.js" as Steps

Item {
    id: root

    width: 1000
    height: 700

    Component {
        id: panelComponent

        Loader {
            width: root.width
            source: "qrc:/src/qml/settings/SystemAndPasswordSetting.qml"
        }
    }

    TestCase {
        id: testCase

        name: "SystemPanel"
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

        function replaceText(field, text) {
            mouseClick(field);
            keySequence("ctrl+a");
            keyClick(Qt.Key_Backspace);
            Steps.typeText(testCase, text);
        }

        function test_fields_start_from_the_selection() {
            var panel = createPanel(["alpha-one"]);
            compare(panel.maskedArea.systemNameField.text, "Alpha");
            compare(panel.maskedArea.passwordField.text, "738");
            verify(!panel.changed);
            verify(panel.tryApplyChanges(), "a panel without edits accepts at once");
        }

        function test_blank_system_name_is_refused() {
            var panel = createPanel(["alpha-one"]);
            var field = panel.maskedArea.systemNameField;
            replaceText(field, "   ");
            verify(panel.changed);

            verify(!panel.tryApplyChanges());
            var dialog = findChild(panel, "errorDialog");
            verify(dialog.visible);
            compare(dialog.message, "Invalid system name specified. Can't apply changes");
            verify(field.activeFocus);
            dialog.close();
        }

        function test_name_with_surrounding_blanks_is_sent_as_typed() {
            var panel = createPanel(["alpha-one"]);
            replaceText(panel.maskedArea.systemNameField, "  Lobby  ");
            verify(panel.tryApplyChanges());
            Fleet.applyAndWait(testCase, rtuContext);
            compare(Fleet.resultRows(testFixture, rtuContext), ["system name=  Lobby  "]);
        }

        function test_differing_systems_show_placeholder_cleared_on_focus() {
            var panel = createPanel(["alpha-one", "beta-one"]);
            mouseClick(findChild(panel, "editAllButton"));
            var field = panel.maskedArea.systemNameField;
            compare(field.text, "<different systems>");
            verify(!panel.changed);
            mouseClick(field);
            compare(field.text, "", "the placeholder goes when the field takes the focus");
            verify(!panel.changed, "an emptied placeholder is no edit");
            verify(panel.tryApplyChanges());
        }
    }
}
