import QtQuick 2.5
import QtTest 1.2

import "Fleet.js" as Fleet

// The values of tests/support/field_inputs.json, typed into the window's
// fields as an operator would (pasted, for names and passwords): what the
// command's parser takes (tst_cli_options runs the same table) the window
// must take and send, what it refuses the window must refuse.
Item {
    id: root

    width: 1000
    height: 700

    Component {
        id: panelComponent

        Column {
            property alias panel: panel
            property string source

            width: root.width

            Loader {
                id: panel

                width: parent.width
                source: parent.source
            }
        }
    }

    TestCase {
        id: testCase

        name: "FieldRules"
        when: windowShown

        readonly property var rowNames: ({
            "port": "port", "address": "ip", "mask": "mask", "gateway": "gateway", "dns": "dns",
            "systemName": "system name", "password": "password"
        })

        function initTestCase() {
            Fleet.start(testCase, testFixture, rtuContext, "refusing_fleet.json", 6);
        }

        function cleanup() {
            Fleet.backToSettings(rtuContext);
        }

        function createPanel(document) {
            Fleet.select(testCase, testFixture, rtuContext, ["alpha-one"]);
            var holder = createTemporaryObject(panelComponent, root, { "source": "qrc:/src/qml/settings/" + document });
            tryCompare(holder.panel, "status", Loader.Ready);
            waitForRendering(holder.panel.item);
            return holder.panel.item;
        }

        function typeKeys(text) {
            for (var i = 0; i < text.length; ++i)
                keyClick(text.charAt(i));
        }

        // Empties the four octets, then types the text, dots and all.
        function typeAddress(control, text) {
            for (var i = 3; i >= 0; --i) {
                mouseClick(control.octets[i]);
                keySequence("ctrl+a");
                keyClick(Qt.Key_Backspace);
            }
            mouseClick(control.octets[0]);
            typeKeys(text);
        }

        // The control the value went into, and whether it holds it as given.
        function enter(panel, field, text) {
            if (field === "systemName" || field === "password") {
                var textField = field === "systemName" ? panel.maskedArea.systemNameField
                                                       : panel.maskedArea.passwordField;
                textField.text = text;
                return textField.text === text;
            }
            if (field === "port") {
                var port = panel.maskedArea.portControl;
                mouseClick(port);
                keySequence("ctrl+a");
                typeKeys(text);
                return port.text === text;
            }
            var line = panel.maskedArea.interfaceEditor.lines.itemAt(0);
            var controls = { "address": line.ipAddressControl, "mask": line.subnetMaskControl,
                             "gateway": line.gatewayControl, "dns": line.dnsControl };
            var control = controls[field];
            typeAddress(control, text);
            return text.length === 0 ? control.isEmptyAddress : control.text === text;
        }

        function test_value_data() {
            var rows = testFixture.fieldInputs();
            for (var i = 0; i < rows.length; ++i)
                rows[i].tag = rows[i].field + ": " + rows[i].why;
            return rows;
        }

        function test_value(row) {
            var document = row.field === "systemName" || row.field === "password"
                ? "SystemAndPasswordSetting.qml" : "IpPortSettings.qml";
            var panel = createPanel(document);
            var held = enter(panel, row.field, row.text);
            if (!held) {
                verify(!row.accepted, "the field does not hold what it must take");
                return;
            }
            var taken = panel.tryApplyChanges();
            var dialog = row.field === "port" ? findChild(panel, "portErrorDialog")
                : findChild(document === "IpPortSettings.qml" ? panel.maskedArea.interfaceEditor : panel,
                            "errorDialog");
            compare(taken, row.accepted);
            compare(dialog.visible, !row.accepted, "an error dialog goes with every refusal");
            if (!taken) {
                dialog.close();
                return;
            }
            // What was taken reaches the servers as given.
            Fleet.applyAndWait(testCase, rtuContext);
            var rows = Fleet.resultRows(testFixture, rtuContext);
            verify(rows.indexOf(rowNames[row.field] + "=" + row.text) >= 0,
                   "not sent as given: " + rows.join(", ").substring(0, 300));
        }
    }
}
