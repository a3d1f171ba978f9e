import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

import "../controls/base" as Base
import "../controls/expandable" as Expandable
import "../controls/rtu" as Rtu
import "../dialogs" as Dialogs
import "../common" as Common

Expandable.MaskedSettingsPanel {
    id: thisComponent

    readonly property var selection: rtuContext.selection
    readonly property int selectedCount: selection ? selection.count : 0
    readonly property bool dateTimeEditable: selection !== null
                                             && (selection.flags & TessRtu.Constants.AllowChangeDateTimeFlag) !== 0
    readonly property Item dateTimeEditor: (maskedArea && maskedArea.showItem) ? maskedArea.currentItem : null

    function refuse(message, control) {
        errorDialog.message = message;
        errorDialog.show();
        control.forceActiveFocus();
        return false;
    }

    function tryApplyChanges() {
        var editor = dateTimeEditor;
        if (!changed || !editor)
            return true;

        var zones = editor.timeZonePicker.model;
        var index = editor.timeZonePicker.currentIndex;
        if (!zones.isValidValue(index))
            return refuse("Please choose time zone", editor.timeZonePicker);

        var useCurrent = editor.useCurrentTimeControl.checkedState === Qt.Checked;
        if (!useCurrent) {
            if (!editor.dateControl.acceptableInput)
                return refuse("Please enter valid date", editor.dateControl);
            if (!editor.timeControl.acceptableInput)
                return refuse("Please enter valid time", editor.timeControl);
        }

        var date = editor.dateControl.date;
        var time = editor.timeControl.time;
        var zoneId = zones.timeZoneIdByIndex(index);
        if (useCurrent) {
            // The empty zone stands for the workstation's own zone.
            var now = new Date();
            var converted = rtuContext.applyTimeZone(now, now, "", zoneId);
            date = converted;
            time = converted;
        }
        rtuContext.changesManager().addDateTimeChange(date, time, zoneId);
        return true;
    }

    propertiesGroupName: qsTr("Set Device Date & Time")
    extraWarned: !dateTimeEditable && selectedCount > 1

    propertiesDelegate: Rtu.FlaggedItem {
        property bool changed: showItem && currentItem !== null && currentItem.changed

        showItem: thisComponent.dateTimeEditable || thisComponent.selectedCount === 1
        message: qsTr("Can not change date and time for some selected servers")
        item: dateTimeGrid
    }

    Component {
        id: dateTimeGrid

        Grid {
            id: grid

            property alias timeZonePicker: timeZonePicker
            property alias dateControl: dateControl
            property alias timeControl: timeControl
            property alias useCurrentTimeControl: useCurrentTimeControl
            property bool conversionSuspended: false
            readonly property bool showNow: useCurrentTimeControl.checkedState === Qt.Checked
            property bool changed: timeZonePicker.changed || dateControl.changed || timeControl.changed
                                   || useCurrentTimeControl.changed

            // Zone identifiers arrive as byte arrays, whose text form is the identifier.
            function zoneIdText(id) {
                return String(id);
            }

            function convertZone(from, to) {
                if (conversionSuspended || !dateControl.acceptableInput || !timeControl.acceptableInput)
                    return;

                var zones = timeZonePicker.model;
                var previousId = zones.timeZoneIdByIndex(from);
                var newId = zones.timeZoneIdByIndex(to);
                if (!zones.isValidValue(from) || !zones.isValidValue(to)) {
                    console.log("Can't change timezone form " + zoneIdText(previousId) + " to " + zoneIdText(newId));
                    return;
                }
                console.log("Chaning timezone from " + zoneIdText(previousId) + " to " + zoneIdText(newId));
                var converted = rtuContext.applyTimeZone(dateControl.date, timeControl.time, previousId, newId);
                dateControl.setDate(converted);
                timeControl.initTime = converted;
            }

            columns: 4
            rowSpacing: Common.SizeManager.spacing.small
            columnSpacing: Common.SizeManager.spacing.medium
            verticalItemAlignment: Grid.AlignVCenter

            Base.Text {
                thin: false
                text: qsTr("Time zone")
            }
            Base.Text {
                thin: false
                text: qsTr("Date")
            }
            Base.Text {
                thin: false
                text: qsTr("Time")
            }
            Item { width: 1; height: 1 }

            Base.TimeZonePicker {
                id: timeZonePicker

                model: rtuContext.timeZonesModel(timeZonePicker)
                initIndex: model.initIndex
                pseudoEnabled: thisComponent.dateTimeEditable
                onTimeZoneChanged: grid.convertZone(from, to)
            }

            Row {
                spacing: Common.SizeManager.spacing.small

                Base.DateEdit {
                    id: dateControl

                    enabled: thisComponent.dateTimeEditable && !grid.showNow
                    showNow: grid.showNow
                    initDate: thisComponent.selection ? thisComponent.selection.dateTime : new Date()
                }

                Base.Button {
                    objectName: "calendarButton"
                    height: dateControl.height
                    width: height
                    enabled: dateControl.enabled
                    onClicked: {
                        calendarDialog.initDate = dateControl.acceptableInput ? dateControl.date : new Date();
                        calendarDialog.show();
                    }

                    Image {
                        anchors.centerIn: parent
                        height: parent.height * 0.6
                        fillMode: Image.PreserveAspectFit
                        source: "qrc:/resources/calendar.png"
                    }
                }
            }

            Base.TimeEdit {
                id: timeControl

                enabled: thisComponent.dateTimeEditable && !grid.showNow
                showNow: grid.showNow
                initTime: thisComponent.selection ? thisComponent.selection.dateTime : new Date(NaN)
            }

            Base.CheckBox {
                id: useCurrentTimeControl

                enabled: thisComponent.dateTimeEditable
                text: qsTr("Set current date/time")
                initialCheckedState: Qt.Unchecked
                onCheckedStateChanged: {
                    grid.conversionSuspended = true;
                    if (checkedState === Qt.Checked)
                        timeZonePicker.currentIndex = timeZonePicker.model.currentTimeZoneIndex;
                    else
                        timeZonePicker.currentIndex = timeZonePicker.lastSelectedIndex;
                    grid.conversionSuspended = false;
                }
            }

            Dialogs.CalendarDialog {
                id: calendarDialog

                objectName: "calendarDialog"

                onDateChanged: dateControl.setDate(date)
            }
        }
    }

    Dialogs.ErrorDialog {
        id: errorDialog

        objectName: "errorDialog"
    }
}
