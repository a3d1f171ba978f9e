import QtQuick 2.5
import QtTest 1.1

import "qrc:/src/qml/controls/base" as Base
import "qrc:/src/qml/common" as Common
import "Texts.js" as Texts

Item {
    id: root

    width: 600
    height: 300

    // Stands in for the time zones model: same role and functions.
    ListModel {
        id: zonesModel

        function isValidValue(index) {
            return index >= 0 && index < count && get(index).valid
        }

        ListElement { display: "<Different>"; valid: false }
        ListElement { display: "(UTC+01:00) Europe/Berlin"; valid: true }
        ListElement { display: "(UTC+02:00) Europe/Helsinki"; valid: true }
        ListElement { display: "(UTC-05:00) America/New_York"; valid: true }
    }

    Component {
        id: pickerComponent

        Base.TimeZonePicker {
            model: zonesModel
        }
    }

    Component {
        id: scrolledPickerComponent

        Flickable {
            property alias picker: innerPicker

            width: 300
            height: 100
            contentHeight: 1000

            Base.TimeZonePicker {
                id: innerPicker

                y: 20
                model: zonesModel
                initIndex: 1
            }
        }
    }

    Component {
        id: zoneListPickerComponent

        Base.TimeZonePicker {
            id: zoneListPicker

            model: rtuContext.timeZonesModel(zoneListPicker)
            initIndex: model.initIndex
        }
    }

    TestCase {
        name: "TimeZonePicker"
        when: windowShown

        SignalSpy {
            id: zoneSpy

            signalName: "timeZoneChanged"
        }

        function createPicker(initIndex, properties) {
            var values = properties || {}
            values.initIndex = initIndex
            var picker = createTemporaryObject(pickerComponent, root, values)
            verify(picker !== null)
            zoneSpy.clear()
            zoneSpy.target = picker
            return picker
        }

        // The open list is a window of its own, in the tool's font: what is
        // typed there finds the first row whose text or zones contain it, and
        // Enter takes that row.
        function test_typing_in_the_open_list_finds_a_zone() {
            var picker = createTemporaryObject(zoneListPickerComponent, root)
            mouseClick(picker)
            tryVerify(function() { return picker.__popup.__popupVisible })
            var list = picker.__popup.__contentItem.item
            verify(Texts.visibleTexts(list).length > 5)
            compare(Texts.foreignFonts(list, [Common.SizeManager.regularFont.name]), [])
            verify(windowKeys.typeText(list, "Berlin"))
            var highlighted = picker.__popup.__currentIndex
            compare(String(picker.model.timeZoneIdByIndex(highlighted)), "Europe/Berlin")
            verify(picker.__popup.__popupVisible, "typing does not choose yet")
            verify(windowKeys.keyClick(list, Qt.Key_Return))
            tryVerify(function() { return !picker.__popup.__popupVisible })
            compare(picker.currentIndex, highlighted)
        }

        function test_starts_at_initial_index() {
            var picker = createPicker(2)
            compare(picker.currentIndex, 2)
            compare(picker.currentText, "(UTC+02:00) Europe/Helsinki")
            verify(!picker.changed)
            compare(picker.lastSelectedIndex, 2)
            compare(zoneSpy.count, 0)
        }

        function test_invalid_rows_are_ignored() {
            var picker = createPicker(1)
            picker.forceActiveFocus()
            keyClick(Qt.Key_Up)
            compare(picker.currentIndex, 0)
            compare(zoneSpy.count, 0, "\"<Different>\" is no zone")
            verify(picker.changed)

            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Down)
            compare(picker.currentIndex, 2)
            compare(zoneSpy.count, 1)
            compare(zoneSpy.signalArguments[0][0], 1, "from the last real zone")
            compare(zoneSpy.signalArguments[0][1], 2)
            compare(picker.lastSelectedIndex, 1)

            keyClick(Qt.Key_Down)
            compare(zoneSpy.count, 2)
            compare(zoneSpy.signalArguments[1][0], 2)
            compare(zoneSpy.signalArguments[1][1], 3)
            compare(picker.lastSelectedIndex, 2)

            picker.currentIndex = picker.lastSelectedIndex
            compare(zoneSpy.count, 3)
            compare(zoneSpy.signalArguments[2][0], 3)
            compare(zoneSpy.signalArguments[2][1], 2)
        }

        function test_unknown_initial_zone() {
            var picker = createPicker(0)
            compare(picker.currentIndex, 0)
            picker.currentIndex = 3
            compare(zoneSpy.count, 1)
            compare(zoneSpy.signalArguments[0][0], 0, "the first change comes from the initial row")
            compare(zoneSpy.signalArguments[0][1], 3)
            picker.currentIndex = 0
            compare(zoneSpy.count, 1)
            picker.currentIndex = 1
            compare(zoneSpy.count, 2)
            compare(zoneSpy.signalArguments[1][0], 3)
        }

        function test_wheel_does_not_change_zone() {
            var picker = createPicker(1)
            mouseWheel(picker, picker.width / 2, picker.height / 2, 0, -120)
            mouseWheel(picker, picker.width / 2, picker.height / 2, 0, 120)
            compare(picker.currentIndex, 1)
            compare(zoneSpy.count, 0)
        }

        function test_wheel_scrolls_the_page_around_it() {
            var page = createTemporaryObject(scrolledPickerComponent, root)
            var picker = page.picker
            mouseWheel(picker, picker.width / 2, picker.height / 2, 0, -120)
            verify(page.contentY > 0, "the wheel over the picker scrolls the page down")
            var scrolled = page.contentY
            mouseWheel(picker, picker.width / 2, picker.height / 2, 0, 120)
            verify(page.contentY < scrolled, "and back up")
            mouseWheel(picker, picker.width / 2, picker.height / 2, 0, 1200)
            compare(page.contentY, 0, "not beyond the top")
            compare(picker.currentIndex, 1)
        }

        function test_pseudo_disabled_cannot_be_changed() {
            var picker = createPicker(1, { pseudoEnabled: false })
            compare(picker.opacity, 0.5)
            mouseClick(picker)
            picker.forceActiveFocus()
            keyClick(Qt.Key_Down)
            compare(picker.currentIndex, 1)
            compare(zoneSpy.count, 0)

            picker.pseudoEnabled = true
            compare(picker.opacity, 1)
            picker.forceActiveFocus()
            keyClick(Qt.Key_Down)
            compare(picker.currentIndex, 2)
        }

        function test_tooltip_follows_hover() {
            var picker = createPicker(3)
            var tooltip = findChild(picker, "tooltip")
            verify(tooltip !== null)
            mouseMove(picker, picker.width / 2, picker.height / 2)
            tryCompare(tooltip, "opacity", 1)
            compare(tooltip.text, "(UTC-05:00) America/New_York")
            verify(tooltip.parent !== picker, "lifted out of the clipped picker")
            mouseMove(root, root.width - 1, root.height - 1)
            tryCompare(tooltip, "opacity", 0)
        }
    }
}
