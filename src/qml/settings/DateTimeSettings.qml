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

    function tryApplyChanges() {
        var editor = dateTimeEditor;
        if (!changed || !editor)
            return true;

        var zones = editor.timeZonePicker.model;
        var index = editor.timeZonePicker.currentIndex;
        var invalid = new Date(NaN);
        draft.clear();
        draft.setDateTime(zones.isValidValue(index) ? zones.timeZoneIdByIndex(index) : "",
                          editor.useCurrentTimeControl.checkedState === Qt.Checked,
                          editor.dateControl.acceptableInput ? editor.dateControl.date : invalid,
                          editor.timeControl.acceptableInput ? editor.timeControl.time : invalid,
                          editor.dateTyped || editor.timeTyped,
                          selection ? selection.currentClockMs() : 0);

        var problem = draft.problem();
        if (problem.field !== TessRtu.ChangeDraft.NoField) {
            errorDialog.message = problem.message;
            errorDialog.show();
            if (problem.field === TessRtu.ChangeDraft.TimeZoneField)
                editor.timeZonePicker.forceActiveFocus();
            else if (problem.field === TessRtu.ChangeDraft.DateField)
                editor.dateControl.forceActiveFocus();
            else
                editor.timeControl.forceActiveFocus();
            return false;
        }
        return draft.submit(rtuContext.changesManager());
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

        // Each control under its label; a narrow page wraps the cells.
        Flow {
            id: grid

            property alias timeZonePicker: timeZonePicker
            property alias dateControl: dateControl
            property alias timeControl: timeControl
            property alias useCurrentTimeControl: useCurrentTimeControl
            property bool conversionSuspended: false
            readonly property bool showNow: useCurrentTimeControl.checkedState === Qt.Checked
            property bool changed: timeZonePicker.changed || dateControl.changed || timeControl.changed
                                   || useCurrentTimeControl.changed
            // A field the operator typed in (or chose a date for) keeps what
            // was typed; the others show the servers' clock as it runs.
            property bool dateTyped: false
            property bool timeTyped: false
            // Set while the fields are written from here, not by the operator.
            property bool updating: false
            // The zone the fields are shown in; empty for the servers' own.
            property var shownZoneId: ""
            readonly property real minimumWidth: Math.max(zoneCell.width, dateCell.width, timeCell.width, nowCell.width)

            // Zone identifiers arrive as byte arrays, whose text form is the identifier.
            function zoneIdText(id) {
                return String(id);
            }

            function noteTyping() {
                if (updating || showNow)
                    return;
                dateTyped = dateTyped || dateControl.changed;
                timeTyped = timeTyped || timeControl.changed;
            }

            function showClock() {
                var now = thisComponent.selection ? thisComponent.selection.dateTimeIn(shownZoneId) : undefined;
                if (!(now instanceof Date) || isNaN(now.getTime()))
                    return;
                updating = true;
                if (!dateTyped && !timeTyped)
                    dateControl.initDate = now;
                if (!timeTyped)
                    timeControl.initTime = now;
                updating = false;
            }

            function convertZone(from, to) {
                if (conversionSuspended || !dateControl.acceptableInput || !timeControl.acceptableInput)
                    return;

                var zones = timeZonePicker.model;
                var previousId = zones.timeZoneIdByIndex(from);
                var newId = zones.timeZoneIdByIndex(to);
                var convertible = zones.isValidValue(from) && zones.isValidValue(to);
                if (!convertible)
                    console.log("Can't change timezone form " + zoneIdText(previousId) + " to " + zoneIdText(newId));
                else
                    console.log("Chaning timezone from " + zoneIdText(previousId) + " to " + zoneIdText(newId));

                if (!dateTyped && !timeTyped) {
                    shownZoneId = newId;
                    showClock();
                    return;
                }
                if (!convertible)
                    return;
                var converted = rtuContext.applyTimeZone(dateControl.date, timeControl.time, previousId, newId);
                updating = true;
                dateControl.setDate(converted);
                timeControl.initTime = converted;
                updating = false;
                shownZoneId = newId;
            }

            width: thisComponent.width
            spacing: Common.SizeManager.spacing.medium

            Timer {
                interval: 500
                repeat: true
                running: !grid.timeTyped
                onTriggered: grid.showClock()
            }

            Connections {
                target: dateControl
                function onChangedChanged() { grid.noteTyping(); }
            }

            Connections {
                target: timeControl
                function onChangedChanged() { grid.noteTyping(); }
            }

            Base.Column {
                id: zoneCell

                spacing: Common.SizeManager.spacing.small

                Base.Text {
                    thin: false
                    text: qsTr("Time zone")
                }

                Base.TimeZonePicker {
                    id: timeZonePicker

                    model: rtuContext.timeZonesModel(timeZonePicker)
                    initIndex: model.initIndex
                    pseudoEnabled: thisComponent.dateTimeEditable
                    onTimeZoneChanged: grid.convertZone(from, to)
                }
            }

            Base.Column {
                id: dateCell

                spacing: Common.SizeManager.spacing.small

                Base.Text {
                    thin: false
                    text: qsTr("Date")
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
                        Accessible.name: qsTr("Select date...")
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
            }

            Base.Column {
                id: timeCell

                spacing: Common.SizeManager.spacing.small

                Base.Text {
                    thin: false
                    text: qsTr("Time")
                }

                Base.TimeEdit {
                    id: timeControl

                    enabled: thisComponent.dateTimeEditable && !grid.showNow
                    showNow: grid.showNow
                    // The panel runs the clock, from the servers' own.
                    runsClock: false
                    initTime: thisComponent.selection ? thisComponent.selection.dateTime : new Date(NaN)
                }
            }

            Base.Column {
                id: nowCell

                spacing: Common.SizeManager.spacing.small

                Base.Text {
                    text: " "
                }

                Item {
                    width: useCurrentTimeControl.width
                    height: timeControl.height

                    Base.CheckBox {
                        id: useCurrentTimeControl

                        anchors.verticalCenter: parent.verticalCenter
                        enabled: thisComponent.dateTimeEditable
                        text: qsTr("Set current date/time")
                        initialCheckedState: Qt.Unchecked
                        onCheckedStateChanged: {
                            grid.conversionSuspended = true;
                            var zones = timeZonePicker.model;
                            if (checkedState === Qt.Checked) {
                                timeZonePicker.chooseOnBehalf(zones.currentTimeZoneIndex);
                                // The fields drop what was typed while they read "<now>".
                                grid.dateTyped = false;
                                grid.timeTyped = false;
                            } else {
                                timeZonePicker.chooseOnBehalf(timeZonePicker.lastSelectedIndex);
                                var index = timeZonePicker.currentIndex;
                                grid.shownZoneId = zones.isValidValue(index) ? zones.timeZoneIdByIndex(index) : "";
                                grid.showClock();
                            }
                            grid.conversionSuspended = false;
                        }
                    }
                }
            }

            Dialogs.CalendarDialog {
                id: calendarDialog

                objectName: "calendarDialog"

                onDateChanged: dateControl.setDate(date)
            }
        }
    }

    TessRtu.ChangeDraft {
        id: draft
    }

    Dialogs.ErrorDialog {
        id: errorDialog

        objectName: "errorDialog"
    }
}
