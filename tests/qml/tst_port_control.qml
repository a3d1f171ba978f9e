import QtQuick 2.5
import QtTest 1.1

import "qrc:/src/qml/controls/base" as Base

Item {
    id: root

    width: 400
    height: 200

    TestCase {
        name: "PortControl"
        when: windowShown

        Component {
            id: portComponent

            Base.PortControl {}
        }

        Item {
            id: focusSink

            y: 100
            width: 10
            height: 10
        }

        function createControl(port) {
            var control = createTemporaryObject(portComponent, root, { initialPort: port })
            verify(control !== null)
            return control
        }

        function typeText(text) {
            for (var i = 0; i < text.length; ++i)
                keyClick(text.charAt(i))
        }

        function leave() {
            focusSink.forceActiveFocus()
        }

        function test_disagreeing_servers_show_different() {
            var control = createControl(0)
            compare(control.text, "<different>")
            verify(!control.changed)
            verify(!control.acceptableInput)

            control.forceActiveFocus()
            compare(control.text, "", "focus empties the field")
            verify(!control.changed, "an emptied field is no change yet")

            leave()
            compare(control.text, "<different>")
            verify(!control.changed)

            control.forceActiveFocus()
            typeText("8080")
            verify(control.changed)
            verify(control.acceptableInput)
            leave()
            compare(control.text, "8080")
        }

        function test_range_data() {
            return [
                { tag: "highest", typed: "65535", text: "65535", acceptable: true },
                { tag: "lowest", typed: "1", text: "1", acceptable: true },
                { tag: "zero", typed: "0", text: "", acceptable: false },
                { tag: "above range", typed: "65536", text: "6553", acceptable: true },
                { tag: "too long", typed: "123456", text: "12345", acceptable: true },
                { tag: "letters", typed: "8a0", text: "80", acceptable: true },
            ]
        }

        function test_range(data) {
            var control = createControl(7001)
            control.forceActiveFocus()
            compare(control.selectedText, "7001", "a port is selected on focus")
            keyClick(Qt.Key_Delete)
            typeText(data.typed)
            compare(control.text, data.text)
            compare(control.acceptableInput, data.acceptable)
        }

        function test_unacceptable_texts_data() {
            return [
                { tag: "zero", text: "0" },
                { tag: "above range", text: "65536" },
                { tag: "leading zero", text: "080" },
            ]
        }

        function test_unacceptable_texts(data) {
            var control = createControl(7001)
            control.text = data.text
            verify(!control.acceptableInput)
            verify(control.changed)
        }

        function test_empty_field_restores_last_valid_value() {
            var control = createControl(7001)
            control.forceActiveFocus()
            keyClick(Qt.Key_Delete)
            leave()
            compare(control.text, "7001", "nothing typed: the port comes back")
            verify(!control.changed)

            control.forceActiveFocus()
            typeText("80")
            keyClick(Qt.Key_A, Qt.ControlModifier)
            keyClick(Qt.Key_Delete)
            compare(control.text, "")
            leave()
            compare(control.text, "80")
            verify(control.changed)
        }

        function test_initial_port_resets_text() {
            var control = createControl(7001)
            control.forceActiveFocus()
            typeText("9000")
            control.initialPort = 7002
            compare(control.text, "7002")
            verify(!control.changed)
            control.initialPort = 0
            compare(control.text, "<different>")
            verify(!control.changed)
        }
    }
}
