import QtQuick 2.5
import QtTest 1.2

import orvane.rtu 1.0 as TessRtu

import "Fleet.js" as Fleet
import "PanelSteps.js" as Steps

Item {
    id: root

    width: 1000
    height: 700

    Component {
        id: panelComponent

        Column {
            width: root.width

            property alias panel: panel

            Loader {
                id: panel

                width: parent.width
                source: "qrc:/src/qml/settings/IpPortSettings.qml"
            }
        }
    }

    TestCase {
        id: testCase

        name: "NetworkPanel"
        when: windowShown

        property var model: null

        function initTestCase() {
            model = Fleet.start(testCase, testFixture, rtuContext, "refusing_fleet.json", 6);
        }

        function cleanup() {
            Fleet.backToSettings(rtuContext);
        }

        function createPanel(names) {
            Fleet.select(testCase, testFixture, rtuContext, names);
            var holder = createTemporaryObject(panelComponent, root);
            tryCompare(holder.panel, "status", Loader.Ready);
            // Rows and grids place their children before the next frame; click after it.
            waitForRendering(holder.panel.item);
            return holder.panel.item;
        }

        function line(panel, index) {
            return panel.maskedArea.interfaceEditor.lines.itemAt(index);
        }

        // Greyed fields say why; fields that can be changed say nothing.
        function test_server_without_interface_control_says_why() {
            verify(testFixture.updateServer("fresh-one", { "flags": "SF_timeCtrl SF_AutoSystemName" }));
            tryVerify(function() {
                Fleet.select(testCase, testFixture, rtuContext, ["fresh-one"]);
                return (rtuContext.selection.flags & TessRtu.Constants.AllowIfConfigFlag) === 0;
            }, 10000, "the server still offers interface control");
            var editor = createPanel(["fresh-one"]).maskedArea.interfaceEditor;
            verify(!editor.enabled);
            var reason = findChild(editor, "disabledReason");
            verify(reason.visible);
            compare(reason.text, "Interfaces settings cannot be changed on this server");
            compare(String(reason.color), "#ff0000");

            editor = createPanel(["alpha-one"]).maskedArea.interfaceEditor;
            verify(editor.enabled);
            verify(!findChild(editor, "disabledReason").visible);
        }

        function test_single_server_shows_its_interfaces_and_port() {
            var panel = createPanel(["alpha-one"]);
            verify(panel.warned, "one server needs no \"Edit all\"");
            compare(panel.maskedArea.interfaceEditor.lines.count, 2);
            compare(line(panel, 0).readableName, "Interface #1");
            compare(line(panel, 0).ipAddressControl.text, "127.0.0.2");
            compare(line(panel, 0).subnetMaskControl.text, "255.0.0.0");
            compare(line(panel, 0).useDHCPControl.checkedState, Qt.Unchecked);
            compare(line(panel, 1).useDHCPControl.checkedState, Qt.Checked);
            verify(!line(panel, 1).ipAddressControl.enabled, "address fields stay locked under DHCP");
            verify(line(panel, 1).dnsControl.enabled, "DNS stays editable under DHCP");
            compare(panel.maskedArea.portControl.text, "7001");
            verify(!panel.changed);
        }

        function test_dns_change_under_dhcp_sends_dns_and_dhcp_only() {
            var panel = createPanel(["alpha-two"]);
            Steps.typeAddress(testCase, line(panel, 0).dnsControl, "8.8.4.4");
            verify(panel.changed, "an edited DNS field marks the panel");

            verify(panel.tryApplyChanges());
            Fleet.applyAndWait(testCase, rtuContext);
            compare(rtuContext.changesManager().totalChangesCount, 2);
            compare(Fleet.resultRows(testFixture, rtuContext), ["dhcp=on", "dns=8.8.4.4"]);
        }

        function test_dhcp_switched_off_sends_address_mask_and_dhcp() {
            var panel = createPanel(["alpha-one"]);
            mouseClick(line(panel, 1).useDHCPControl);
            compare(line(panel, 1).useDHCPControl.checkedState, Qt.Unchecked);
            verify(line(panel, 1).ipAddressControl.enabled);

            verify(panel.tryApplyChanges());
            Fleet.applyAndWait(testCase, rtuContext);
            compare(Fleet.resultRows(testFixture, rtuContext), ["dhcp=off", "ip=10.1.0.7", "mask=255.255.0.0"]);
        }

        function test_invalid_address_stops_with_message_and_focus() {
            var panel = createPanel(["alpha-one"]);
            var ip = line(panel, 0).ipAddressControl;
            Steps.clearOctet(testCase, ip, 3);
            verify(!ip.acceptableInput);
            verify(panel.changed);

            verify(!panel.tryApplyChanges(), "an incomplete address must refuse the edits");
            var dialog = findChild(panel.maskedArea.interfaceEditor, "errorDialog");
            verify(dialog.visible);
            compare(dialog.message, "Invalid ip address for interface eth0 specified. Can't apply changes.");
            verify(ip.activeFocus, "the faulty field takes the focus");
            dialog.close();
        }

        function test_several_servers_with_differing_ports() {
            var panel = createPanel(["alpha-one", "alpha-two"]);
            verify(!panel.warned, "several servers start masked");
            verify(panel.maskedArea === null);
            mouseClick(findChild(panel, "editAllButton"));
            verify(panel.warned);

            var properties = panel.maskedArea;
            compare(properties.portControl.text, "<different>");
            var editor = properties.interfaceEditor;
            compare(editor.enableDhcpOnAll.checkedState, Qt.Unchecked);
            verify(editor.enableDhcpOnAll.enabled, "one server still has a static interface");
            mouseClick(editor.enableDhcpOnAll);
            verify(panel.changed);

            verify(panel.tryApplyChanges());
            Fleet.applyAndWait(testCase, rtuContext);
            // Only the static interface of alpha-one is switched; the port stays as it was.
            compare(Fleet.resultRows(testFixture, rtuContext), ["dhcp=on"]);
        }

        function test_port_change_is_sent_as_a_number() {
            var panel = createPanel(["alpha-one"]);
            var port = panel.maskedArea.portControl;
            mouseClick(port);
            keySequence("ctrl+a");
            Steps.typeText(testCase, "8080");
            verify(panel.changed);
            verify(panel.tryApplyChanges());
            Fleet.applyAndWait(testCase, rtuContext);
            compare(Fleet.resultRows(testFixture, rtuContext), ["port=8080"]);
        }
    }
}
