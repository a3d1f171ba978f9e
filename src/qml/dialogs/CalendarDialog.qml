import QtQuick 2.5
import QtQuick.Controls 1.4 as Controls

import orvane.rtu 1.0 as TessRtu

import "." as Dialogs
import "../common" as Common

Dialogs.Dialog {
    id: dialog

    property date initDate: new Date()

    signal dateChanged(date date)

    title: qsTr("Select date...")
    buttons: TessRtu.Buttons.Ok | TessRtu.Buttons.Cancel
    styledButtons: TessRtu.Buttons.Ok

    onVisibleChanged: {
        if (visible && area)
            area.calendar.selectedDate = initDate
    }
    onButtonClicked: {
        if (id === TessRtu.Buttons.Ok)
            dialog.dateChanged(area.calendar.selectedDate)
    }

    areaDelegate: Item {
        readonly property alias calendar: calendar

        width: calendar.width + 2 * Common.SizeManager.spacing.base
        height: calendar.height + 2 * Common.SizeManager.spacing.base

        Controls.Calendar {
            id: calendar

            x: Common.SizeManager.spacing.base
            y: Common.SizeManager.spacing.base
            // Wide enough for the longest month name with its year.
            width: 9 * Common.SizeManager.clickableSizes.base
            height: 8 * Common.SizeManager.clickableSizes.base
            selectedDate: dialog.initDate
        }
    }
}
