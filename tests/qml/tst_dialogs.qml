import QtQuick 2.5
import QtTest 1.1

import orvane.rtu 1.0 as TessRtu

import "qrc:/src/qml/dialogs" as Dialogs
import "qrc:/src/qml/common" as Common

Item {
    id: root

    width: 400
    height: 200

    Component {
        id: messageComponent

        Dialogs.MessageDialog {}
    }

    Component {
        id: calendarComponent

        Dialogs.CalendarDialog {}
    }

    Component {
        id: loginComponent

        Dialogs.LoginToSystemDialog {}
    }

    TestCase {
        name: "Dialogs"
        when: windowShown

        SignalSpy {
            id: spy
        }

        function create(component, properties) {
            var dialog = createTemporaryObject(component, root, properties || {})
            verify(dialog !== null)
            return dialog
        }

        function findByText(item, text) {
            if (item.text === text && item.hasOwnProperty("pressed"))
                return item
            for (var i = 0; i < item.children.length; ++i) {
                var found = findByText(item.children[i], text)
                if (found)
                    return found
            }
            return null
        }

        function clickButton(dialog, caption) {
            var button = findByText(dialog.contentItem, caption)
            verify(button !== null, caption)
            mouseClick(button)
        }

        function showAndActivate(dialog) {
            dialog.show()
            dialog.requestActivate()
            tryCompare(dialog, "active", true)
        }

        function test_button_click_closes_then_reports() {
            var dialog = create(messageComponent, {
                message: "Configuration changes have not been saved yet",
                buttons: TessRtu.Buttons.ApplyChanges | TessRtu.Buttons.DiscardChanges | TessRtu.Buttons.Cancel,
                styledButtons: TessRtu.Buttons.ApplyChanges
            })
            var reports = []
            dialog.buttonClicked.connect(function(id) { reports.push({ id: id, visible: dialog.visible }) })
            dialog.show()
            tryCompare(dialog, "visible", true)

            clickButton(dialog, "Discard changes")
            compare(reports.length, 1)
            compare(reports[0].id, TessRtu.Buttons.DiscardChanges)
            compare(reports[0].visible, false, "closed before the click is reported")
            verify(!dialog.visible)

            dialog.show()
            clickButton(dialog, "Apply changes")
            compare(reports.length, 2)
            compare(reports[1].id, TessRtu.Buttons.ApplyChanges)
        }

        function test_message_width_data() {
            var sentence = "The quick brown fox jumps over the lazy dog. "
            return [
                { tag: "long message wraps", message: sentence + sentence + sentence + sentence, wraps: true },
                { tag: "short message", message: "Done", wraps: false },
            ]
        }

        function test_message_width(data) {
            var dialog = create(messageComponent, { message: data.message })
            dialog.show()
            var text = dialog.area.messageText
            var padding = 2 * Common.SizeManager.spacing.base
            if (data.wraps) {
                compare(text.width, 400)
                verify(text.lineCount > 1)
                verify(text.contentWidth <= 400)
            } else {
                verify(text.width < 400)
                compare(text.lineCount, 1)
            }
            compare(dialog.area.width, text.width + padding)
            compare(dialog.width, Math.ceil(Math.max(text.width + padding, dialog.buttonsPanel.width)))
            compare(dialog.height, Math.ceil(dialog.area.height + dialog.buttonsPanel.height))
            compare(dialog.maximumWidth, dialog.width)
            compare(dialog.minimumWidth, dialog.width)
        }

        function test_calendar_reports_chosen_date() {
            var dialog = create(calendarComponent, { initDate: new Date(2024, 1, 29) })
            spy.clear()
            spy.target = dialog
            spy.signalName = "dateChanged"
            compare(dialog.title, "Select date...")

            dialog.show()
            dialog.area.calendar.selectedDate = new Date(2024, 2, 3)
            clickButton(dialog, "Cancel")
            compare(spy.count, 0)

            dialog.show()
            compare(dialog.area.calendar.selectedDate.getDate(), 29, "shown again at the initial date")
            dialog.area.calendar.selectedDate = new Date(2024, 2, 3)
            clickButton(dialog, "Ok")
            compare(spy.count, 1)
            var chosen = spy.signalArguments[0][0]
            compare(chosen.getFullYear(), 2024)
            compare(chosen.getMonth(), 2)
            compare(chosen.getDate(), 3)
        }

        function test_login_dialog_starts_afresh() {
            var dialog = create(loginComponent)
            compare(dialog.title, "Login to server")
            showAndActivate(dialog)
            var field = dialog.passwordField
            tryVerify(function() { return field.activeFocus })
            keyClick("s")
            keyClick("3")
            compare(field.text, "s3")
            compare(field.echoMode, TextInput.Password)
            mouseClick(dialog.showPasswordCheckBox)
            compare(field.echoMode, TextInput.Normal)

            clickButton(dialog, "Cancel")
            verify(!dialog.visible)

            showAndActivate(dialog)
            compare(field.text, "")
            compare(dialog.showPasswordCheckBox.checked, false)
            compare(field.echoMode, TextInput.Password)
            tryVerify(function() { return field.activeFocus })
        }

        // Servers the password will not reach are named above the field.
        function test_login_dialog_says_what_it_cannot_reach() {
            var dialog = create(loginComponent)
            var text = findChild(dialog.contentItem, "conflictText")
            showAndActivate(dialog)
            verify(!text.visible)
            var plain = dialog.height
            dialog.close()
            dialog.conflict = "Not sent to a server that answers from several addresses:\ngate answers from 127.0.0.11 and 127.0.0.12."
            showAndActivate(dialog)
            verify(text.visible)
            compare(text.text, dialog.conflict)
            verify(dialog.height > plain, "the dialog grows to show it")
        }

        function test_login_dialog_enter_acts_as_ok_data() {
            return [
                { tag: "Enter", key: Qt.Key_Enter },
                { tag: "Return", key: Qt.Key_Return },
            ]
        }

        function test_login_dialog_enter_acts_as_ok(data) {
            var dialog = create(loginComponent)
            var logins = []
            var cancels = 0
            dialog.loginClicked.connect(function(password) { logins.push(password) })
            dialog.cancelClicked.connect(function() { ++cancels })
            showAndActivate(dialog)
            tryVerify(function() { return dialog.passwordField.activeFocus })
            keyClick("p")
            keyClick("w")
            keyClick(data.key)
            compare(logins, ["pw"])
            verify(!dialog.visible)

            showAndActivate(dialog)
            keyClick("x")
            clickButton(dialog, "Ok")
            compare(logins, ["pw", "x"])
            compare(cancels, 0)
        }
    }
}
