import QtQuick 2.5
import QtTest 1.1

import orvane.rtu 1.0 as TessRtu

import "qrc:/src/qml/controls/base" as Base
import "qrc:/src/qml/common" as Common

Item {
    id: root

    width: 600
    height: 300

    Component {
        id: textFieldComponent

        Base.TextField {}
    }

    Component {
        id: checkBoxComponent

        Base.CheckBox {}
    }

    Component {
        id: panelComponent

        Base.ButtonsPanel {}
    }

    Component {
        id: tooltipHostComponent

        Item {
            readonly property alias tooltip: tooltip

            x: 50
            y: 60
            width: 20
            height: 20
            clip: true

            Base.Tooltip {
                id: tooltip

                x: 5
                y: 7
                text: "Europe/Berlin"
            }
        }
    }

    TextInput {
        id: focusSink

        y: 250
        width: 50
        height: 20
    }

    TestCase {
        name: "BaseControls"
        when: windowShown

        SignalSpy {
            id: clickSpy

            signalName: "buttonClicked"
        }

        function create(component, properties) {
            var item = createTemporaryObject(component, root, properties || {})
            verify(item !== null)
            return item
        }

        function typeText(text) {
            for (var i = 0; i < text.length; ++i)
                keyClick(text.charAt(i))
        }

        function test_text_field_follows_initial_text() {
            var field = create(textFieldComponent, { initialText: "North" })
            compare(field.text, "North")
            verify(!field.changed)
            field.forceActiveFocus()
            compare(field.selectedText, "North", "focus selects all")
            typeText("South")
            verify(field.changed)
            field.initialText = "West"
            compare(field.text, "West", "a new initial text replaces what was typed")
            verify(!field.changed)

            focusSink.forceActiveFocus()
            mouseClick(field)
            verify(field.activeFocus)
            tryCompare(field, "selectedText", "West", 1000, "a click that gives the focus selects all too")
        }

        function test_text_field_clear_on_init_value() {
            var field = create(textFieldComponent, { initialText: "<different systems>", clearOnInitValue: true })
            field.forceActiveFocus()
            compare(field.text, "")
            verify(!field.changed, "an emptied placeholder is no change")
            focusSink.forceActiveFocus()
            compare(field.text, "<different systems>")
            verify(!field.changed)

            field.forceActiveFocus()
            typeText("Lab")
            verify(field.changed)
            keyClick(Qt.Key_A, Qt.ControlModifier)
            keyClick(Qt.Key_Delete)
            verify(field.changed, "emptied after typing is a change")
            focusSink.forceActiveFocus()
            compare(field.text, "", "nothing restored once changed")
            verify(field.changed)
        }

        function test_text_field_revert_on_empty_data() {
            return [
                { tag: "reverts", revert: true, left: "admin" },
                { tag: "stays empty", revert: false, left: "" },
            ]
        }

        function test_text_field_revert_on_empty(data) {
            var field = create(textFieldComponent, { initialText: "admin", revertOnEmpty: data.revert })
            field.forceActiveFocus()
            keyClick(Qt.Key_Delete)
            compare(field.text, "")
            focusSink.forceActiveFocus()
            compare(field.text, data.left)
            compare(field.changed, data.left !== "admin")
        }

        function test_check_box_changed() {
            var box = create(checkBoxComponent, { text: "Use DHCP" })
            compare(box.checkedState, Qt.Checked, "checked by default")
            verify(!box.changed)
            mouseClick(box)
            compare(box.checkedState, Qt.Unchecked)
            verify(box.changed)
            box.initialCheckedState = Qt.PartiallyChecked
            compare(box.checkedState, Qt.PartiallyChecked)
            verify(!box.changed)
        }

        function test_buttons_panel_layout() {
            var panel = create(panelComponent, {
                buttons: TessRtu.Buttons.Ok | TessRtu.Buttons.Cancel | TessRtu.Buttons.ApplyChanges,
                styled: TessRtu.Buttons.ApplyChanges,
                buttonHeight: 30,
                spacing: 5
            })
            clickSpy.clear()
            clickSpy.target = panel
            var row = findChild(panel, "buttonsRow")
            verify(row !== null)
            tryCompare(row, "width", 30 * (5 + 3 + 3) + 2 * 5)
            compare(panel.width, row.width + 10)
            compare(panel.height, 40)

            var loaders = []
            for (var i = 0; i < row.children.length; ++i) {
                if (row.children[i].item)
                    loaders.push(row.children[i])
            }
            compare(loaders.length, 3)
            loaders.sort(function(a, b) { return b.x - a.x })
            var captions = loaders.map(function(loader) { return loader.item.text })
            compare(captions, ["Apply changes", "Ok", "Cancel"], "right to left in flag order")
            compare(loaders[0].width, 150)
            compare(loaders[2].width, 90)
            verify(loaders[0].item.style !== loaders[1].item.style, "the styled button looks different")

            mouseClick(loaders[2].item)
            compare(clickSpy.count, 1)
            compare(clickSpy.signalArguments[0][0], TessRtu.Buttons.Cancel)

            panel.buttons = 0
            tryCompare(row, "width", 0)
            compare(panel.width, 10)
        }

        function test_tooltip_escapes_clipping() {
            var host = create(tooltipHostComponent)
            var tooltip = host.tooltip
            compare(tooltip.opacity, 0)
            tooltip.hide()
            compare(tooltip.parent, host, "hiding a hidden tooltip changes nothing")

            tooltip.show()
            verify(tooltip.parent !== host)
            compare(tooltip.parent.parent, null, "moved under the top-level item")
            var scenePos = tooltip.mapToItem(null, 0, 0)
            compare(scenePos.x, host.mapToItem(null, 5, 7).x)
            compare(scenePos.y, host.mapToItem(null, 5, 7).y)
            tryCompare(tooltip, "opacity", 1)

            tooltip.hide()
            compare(tooltip.parent, host)
            compare(tooltip.x, 5)
            compare(tooltip.y, 7)
            tryCompare(tooltip, "opacity", 0)
        }

        function test_size_manager_loads_fonts() {
            verify(Common.SizeManager.clickableSizes.base > 20)
            compare(Common.SizeManager.regularFont.status, FontLoader.Ready)
            compare(Common.SizeManager.mediumFont.status, FontLoader.Ready)
        }
    }
}
