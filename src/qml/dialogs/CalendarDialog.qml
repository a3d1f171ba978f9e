import QtQuick 2.5
import QtQuick.Controls 1.4 as Controls
import QtQuick.Controls.Styles 1.4

import orvane.rtu 1.0 as TessRtu

import "." as Dialogs
import "../controls/base" as Base
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
            style: calendarStyle
        }
    }

    // Every text in the tool's own font.
    Component {
        id: calendarStyle

        CalendarStyle {
            navigationBar: Rectangle {
                height: Common.SizeManager.clickableSizes.base
                color: "#f9f9f9"

                Rectangle {
                    anchors.bottom: parent.bottom
                    width: parent.width
                    height: 1
                    color: "#dddddd"
                }

                MonthStep {
                    id: previousMonth

                    objectName: "previousMonth"
                    anchors.left: parent.left
                    onClicked: control.showPreviousMonth()
                }

                Base.Text {
                    anchors.left: previousMonth.right
                    anchors.right: nextMonth.left
                    anchors.verticalCenter: parent.verticalCenter
                    horizontalAlignment: Text.AlignHCenter
                    elide: Text.ElideRight
                    font.pixelSize: Common.SizeManager.fontSizes.medium
                    text: styleData.title
                }

                MonthStep {
                    id: nextMonth

                    objectName: "nextMonth"
                    anchors.right: parent.right
                    forward: true
                    onClicked: control.showNextMonth()
                }
            }

            dayOfWeekDelegate: Rectangle {
                implicitHeight: Common.SizeManager.clickableSizes.base
                color: gridVisible ? "#fcfcfc" : "transparent"

                Base.Text {
                    anchors.centerIn: parent
                    text: control.locale.dayName(styleData.dayOfWeek, control.dayOfWeekFormat)
                }
            }

            dayDelegate: Rectangle {
                anchors.fill: parent
                color: styleData.selected ? "#35A0DA" : "transparent"

                Base.Text {
                    anchors.centerIn: parent
                    text: styleData.date.getDate()
                    color: !styleData.valid ? "#dddddd"
                         : styleData.selected ? "white"
                         : styleData.visibleMonth ? "#444444" : "#bbbbbb"
                }
            }
        }
    }

    // A chevron that turns the calendar by a month.
    component MonthStep: MouseArea {
        property bool forward: false

        width: height
        height: parent.height

        Canvas {
            anchors.centerIn: parent
            width: parent.height / 3
            height: width * 2
            onPaint: {
                var context = getContext("2d")
                context.clearRect(0, 0, width, height)
                context.strokeStyle = "#666666"
                context.lineWidth = 2
                context.beginPath()
                context.moveTo(parent.forward ? 1 : width - 1, 1)
                context.lineTo(parent.forward ? width - 1 : 1, height / 2)
                context.lineTo(parent.forward ? 1 : width - 1, height - 1)
                context.stroke()
            }
        }
    }
}
