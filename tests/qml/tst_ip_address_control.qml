import QtQuick 2.5
import QtTest 1.1

import "qrc:/src/qml/controls/base" as Base

Item {
    id: root

    width: 400
    height: 200

    TestCase {
        name: "IpAddressControl"
        when: windowShown

        Component {
            id: ipComponent

            Base.IpAddressControl {}
        }

        Item {
            id: focusSink

            activeFocusOnTab: true
        }

        function createControl(initialText) {
            var control = createTemporaryObject(ipComponent, root, { initialText: initialText })
            verify(control !== null)
            return control
        }

        function typeText(text) {
            for (var i = 0; i < text.length; ++i)
                keyClick(text.charAt(i))
        }

        function test_typing_moves_between_octets() {
            var control = createControl("")
            var octets = control.octets
            octets[0].forceActiveFocus()

            typeText("19")
            verify(octets[0].activeFocus, "two digits stay in the first octet")
            keyClick("2")
            verify(octets[1].activeFocus, "the third digit moves on")
            compare(octets[0].text, "192")

            keyClick(Qt.Key_Backspace)
            verify(octets[0].activeFocus, "Backspace in an empty octet goes back")
            compare(octets[0].text, "192")

            keyClick(Qt.Key_Right)
            verify(octets[1].activeFocus)
            keyClick(Qt.Key_Tab)
            verify(octets[2].activeFocus)
            keyClick(Qt.Key_Left)
            verify(octets[1].activeFocus)
            keyClick(Qt.Key_Backtab)
            verify(octets[0].activeFocus)

            typeText("10")
            compare(octets[0].text, "10", "a focused octet is selected, so typing replaces it")

            mouseClick(octets[3])
            verify(octets[3].activeFocus)
            mouseClick(octets[0])
            verify(octets[0].activeFocus)
            tryCompare(octets[0], "selectedText", "10", 1000, "a click that gives the focus selects all too")
        }

        function test_whole_address_typed() {
            var control = createControl("")
            control.octets[0].forceActiveFocus()
            typeText("192168")
            verify(control.octets[2].activeFocus)
            typeText("1")
            keyClick(Qt.Key_Tab)
            typeText("20")
            compare(control.text, "192.168.1.20")
            verify(control.acceptableInput)
            verify(control.changed)
            verify(!control.isEmptyAddress)
        }

        function test_address_typed_with_its_dots() {
            var control = createControl("127.0.0.21")
            control.octets[0].forceActiveFocus()
            typeText("10.1.20.3")
            compare(control.text, "10.1.20.3")
            verify(control.acceptableInput)

            control.octets[0].forceActiveFocus()
            typeText("192.168.1.254")
            compare(control.text, "192.168.1.254", "a dot after a full octet does not skip the next one")

            control.octets[0].forceActiveFocus()
            typeText(".")
            verify(control.octets[0].activeFocus, "a dot before any digit stays put")
            compare(control.octets[0].text, "192")
        }

        function test_out_of_range_cannot_be_typed() {
            var control = createControl("")
            control.octets[0].forceActiveFocus()
            typeText("256")
            compare(control.octets[0].text, "25")
            verify(control.octets[0].activeFocus)
        }

        function test_clicking_a_dot_edits_the_octet_before_it() {
            var control = createControl("10.0.0.1")
            var left = control.octets[1]
            var right = control.octets[2]
            var point = control.mapFromItem(left, left.width + (right.x - left.x - left.width) / 2, left.height / 2)
            mouseClick(control, point.x, point.y)
            verify(left.activeFocus)
        }

        function test_initial_text_data() {
            return [
                { tag: "address", initial: "10.1.2.3", text: "10.1.2.3", acceptable: true, empty: false },
                { tag: "blank octets", initial: "...", text: "...", acceptable: false, empty: true },
                { tag: "spaces only", initial: " . .  . ", text: " . .  . ", acceptable: false, empty: true },
                { tag: "octet above 255", initial: "1.2.3.256", text: "1.2.3.256", acceptable: false, empty: false },
                { tag: "one octet missing", initial: "1..3.4", text: "1..3.4", acceptable: false, empty: false },
            ]
        }

        function test_initial_text(data) {
            var control = createControl(data.initial)
            compare(control.text, data.text)
            compare(control.acceptableInput, data.acceptable)
            compare(control.isEmptyAddress, data.empty)
            verify(!control.changed)
        }

        // The widest address fits inside the frame, each octet clear of the dots beside it.
        function test_widest_address_fits() {
            var control = createControl("255.255.255.255")
            var row = control.octets[0].parent
            verify(row.width <= control.width - 4, "row " + row.width + " in " + control.width)
            for (var i = 0; i < 4; ++i) {
                var octet = control.octets[i]
                var room = (octet.width - octet.contentWidth) / 2
                verify(room >= 3, "octet " + i + " keeps " + room + " px beside its digits")
            }
        }

        function test_malformed_initial_text_keeps_octets_data() {
            return [
                { tag: "three parts", initial: "10.0.0" },
                { tag: "five parts", initial: "10.0.0.1.5" },
                { tag: "empty", initial: "" },
            ]
        }

        function test_malformed_initial_text_keeps_octets(data) {
            var control = createControl("192.168.0.1")
            control.initialText = data.initial
            compare(control.text, "192.168.0.1")
            verify(!control.changed)
            verify(control.acceptableInput)
        }

        function test_changed_follows_initial_text() {
            var control = createControl("10.0.0.1")
            control.octets[2].forceActiveFocus()
            keyClick("5")
            compare(control.text, "10.0.5.1")
            verify(control.changed)

            keyClick(Qt.Key_Backspace)
            keyClick("0")
            verify(!control.changed, "typing the old value back is no change")

            keyClick(Qt.Key_Backspace)
            keyClick("7")
            verify(control.changed)
            // Setting the initial text again overrides what was typed.
            control.initialText = "172.16.0.1"
            compare(control.text, "172.16.0.1")
            verify(!control.changed)
        }
    }
}
