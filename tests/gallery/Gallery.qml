import QtQuick 2.5
import QtQuick.Layouts 1.1

import orvane.rtu 1.0 as TessRtu

import "qrc:/src/qml/controls/base" as Base
import "qrc:/src/qml/dialogs" as Dialogs
import "qrc:/src/qml/common" as Common

// Every base control and dialog in its states, for scripts/screenshot.sh.
Rectangle {
    id: gallery

    width: 1180
    height: 900
    color: "white"

    ListModel {
        id: zonesModel

        function isValidValue(index) {
            return index > 0
        }

        ListElement { display: "<Different>" }
        ListElement { display: "(UTC+01:00) Europe/Berlin" }
        ListElement { display: "(UTC-05:00) America/New_York" }
    }

    // Shown once the scene is complete, so that the windows and the tooltip
    // find their final parents.
    Timer {
        running: true
        interval: 100
        onTriggered: {
            messageDialog.show()
            errorDialog.show()
            calendarDialog.show()
            loginDialog.show()
            zoneTooltip.show()
            portFocused.forceActiveFocus()
        }
    }

    GridLayout {
        x: Common.SizeManager.spacing.medium
        y: Common.SizeManager.spacing.medium
        width: parent.width - 2 * x
        columns: 2
        columnSpacing: Common.SizeManager.spacing.large
        rowSpacing: Common.SizeManager.spacing.base

        Base.Text { text: "Text (thin / medium)"; thin: false }
        Row {
            spacing: Common.SizeManager.spacing.base
            Base.Text { text: "Regular face" }
            Base.Text { text: "Medium face"; thin: false }
            Base.Hyperlink { link: "https://www.tessaly.example" }
            Base.Hyperlink { link: "mailto:support@tessaly.example"; caption: "support@tessaly.example" }
        }

        Base.Text { text: "Delimiters"; thin: false }
        Base.Column {
            Layout.fillWidth: true
            Base.LineDelimiter { color: "#e4e4e4" }
            Base.LineDelimiter {}
            Base.ThickDelimiter {}
        }

        Base.Text { text: "Check boxes"; thin: false }
        Row {
            spacing: Common.SizeManager.spacing.base
            Base.CheckBox { text: "Checked" }
            Base.CheckBox { text: "Unchecked"; initialCheckedState: Qt.Unchecked }
            Base.CheckBox { text: "Partly"; initialCheckedState: Qt.PartiallyChecked }
            Base.CheckBox { text: "Disabled"; enabled: false }
        }

        Base.Text { text: "Buttons"; thin: false }
        Row {
            spacing: Common.SizeManager.spacing.base
            Base.Button { text: "Cancel"; width: 3 * height }
            Base.Button { text: "Disabled"; width: 3 * height; enabled: false }
            Base.StyledButton { text: "Apply changes"; width: 4 * height }
            Base.StyledButton { text: "Disabled"; width: 4 * height; enabled: false }
            Base.Button { text: "A caption long enough to wrap"; width: 3 * height; height: 2 * implicitHeight }
        }

        Base.Text { text: "Buttons panel"; thin: false }
        Base.ButtonsPanel {
            buttons: TessRtu.Buttons.ApplyChanges | TessRtu.Buttons.DiscardChanges | TessRtu.Buttons.Cancel
            styled: TessRtu.Buttons.ApplyChanges
        }

        Base.Text { text: "Text fields"; thin: false }
        Row {
            spacing: Common.SizeManager.spacing.base
            Base.TextField { initialText: "North system" }
            Base.TextField { initialText: "<different systems>"; clearOnInitValue: true }
            Base.TextField { initialText: "Disabled"; enabled: false }
        }

        Base.Text { text: "IP address"; thin: false }
        Row {
            spacing: Common.SizeManager.spacing.base
            Base.IpAddressControl { initialText: "192.168.10.254" }
            Base.IpAddressControl { initialText: "..." }
            Base.IpAddressControl { initialText: "10.0.0.256" }
            Base.IpAddressControl { initialText: "172.16.0.1"; enabled: false }
        }

        Base.Text { text: "Port"; thin: false }
        Row {
            spacing: Common.SizeManager.spacing.base
            Base.PortControl { initialPort: 7001; width: 3 * Common.SizeManager.clickableSizes.base }
            Base.PortControl { initialPort: 0; width: 3 * Common.SizeManager.clickableSizes.base }
            Base.PortControl { id: portFocused; initialPort: 80; width: 3 * Common.SizeManager.clickableSizes.base }
        }

        Base.Text { text: "Date (de, sv, en_US, none, now)"; thin: false }
        Row {
            spacing: Common.SizeManager.spacing.base
            Base.DateEdit { locale: Qt.locale("de_DE"); initDate: new Date(2024, 1, 29) }
            Base.DateEdit { locale: Qt.locale("sv_SE"); initDate: new Date(2024, 1, 29) }
            Base.DateEdit { locale: Qt.locale("en_US"); initDate: new Date(2024, 1, 29) }
            Base.DateEdit { locale: Qt.locale("de_DE") }
            Base.DateEdit { locale: Qt.locale("de_DE"); initDate: new Date(); showNow: true }
        }

        Base.Text { text: "Time (en_US, de, none, now)"; thin: false }
        Row {
            spacing: Common.SizeManager.spacing.base
            Base.TimeEdit { locale: Qt.locale("en_US"); initTime: new Date(2024, 0, 1, 0, 5, 7); clockInterval: 3600000 }
            Base.TimeEdit { locale: Qt.locale("de_DE"); initTime: new Date(2024, 0, 1, 13, 5, 7); clockInterval: 3600000 }
            Base.TimeEdit { locale: Qt.locale("de_DE") }
            Base.TimeEdit { locale: Qt.locale("de_DE"); initTime: new Date(); showNow: true }
        }

        Base.Text { text: "Tooltip, stateful"; thin: false }
        Row {
            Layout.preferredHeight: 2.5 * Common.SizeManager.clickableSizes.base
            spacing: Common.SizeManager.spacing.base

            Item {
                width: 230
                height: 20
                clip: true

                Base.Text { text: "Clipped owner (tooltip shown)" }

                Base.Tooltip {
                    id: zoneTooltip

                    y: 20
                    text: "(UTC+01:00) Europe/Berlin"
                }
            }

            Base.StatefulComponent {
                showFirst: false
                first: Base.Text { text: "first" }
                second: Base.Text { text: "second component shown"; color: "#FF0000" }
            }
        }

        Base.Text { text: "Time zone"; thin: false }
        Row {
            spacing: Common.SizeManager.spacing.base
            Base.TimeZonePicker { model: zonesModel; initIndex: 1 }
            Base.TimeZonePicker { model: zonesModel; initIndex: 0; pseudoEnabled: false }
        }
    }

    Dialogs.MessageDialog {
        id: messageDialog

        title: "Confirmation"
        message: "Configuration changes have not been saved yet. This sentence makes the message long enough to wrap at the maximum width."
        buttons: TessRtu.Buttons.ApplyChanges | TessRtu.Buttons.DiscardChanges | TessRtu.Buttons.Cancel
        styledButtons: TessRtu.Buttons.ApplyChanges
        modality: Qt.NonModal
    }

    Dialogs.ErrorDialog {
        id: errorDialog

        message: "Can't login to any server in system North with entered password"
        modality: Qt.NonModal
    }

    Dialogs.CalendarDialog {
        id: calendarDialog

        initDate: new Date(2024, 1, 29)
        modality: Qt.NonModal
    }

    Dialogs.LoginToSystemDialog {
        id: loginDialog
    }
}
