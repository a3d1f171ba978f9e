import QtQuick 2.5

import "../controls/base" as Base
import "../controls/rtu" as Rtu
import "../settings" as Settings
import "../common" as Common

FocusScope {
    id: thisComponent

    objectName: "settingsPage"

    readonly property var selectionModel: rtuContext.selectionModel()
    property bool parametersChanged: ipPortSettings.changed || dateTimeSettings.changed || systemSettings.changed
    property alias settingsColumn: settingsColumn
    property alias settingsFlickable: settingsFlickable
    // The widest thing a panel cannot wrap; a narrower page scrolls sideways.
    readonly property real panelsWidth: Math.max(ipPortSettings.minimumWidth, dateTimeSettings.minimumWidth,
                                                 systemSettings.minimumWidth)

    // The keyboard starts on the first control of the panels.
    function focusHome() {
        var first = settingsColumn.nextItemInFocusChain(true);
        if (first)
            first.forceActiveFocus();
    }

    // Every panel hands over its edits; one refusal throws the whole set away.
    function applyChanges() {
        var panels = [];
        for (var i = 0; i < settingsColumn.children.length; ++i) {
            var child = settingsColumn.children[i];
            if (typeof child.tryApplyChanges === "function")
                panels.push(child);
        }

        var accepted = 0;
        for (var j = 0; j < panels.length; ++j) {
            if (!panels[j].tryApplyChanges())
                break;
            ++accepted;
        }

        var manager = rtuContext.changesManager();
        if (accepted > 0 && accepted === panels.length)
            manager.applyChanges();
        else
            manager.clearChanges();
    }

    clip: true

    Rtu.OutdatedWarningPanel {
        id: outdatedWarning

        objectName: "outdatedWarning"
        z: 1
        show: thisComponent.selectionModel.selectionOutdated
        onUpdateClicked: thisComponent.selectionModel.selectionChanged()
    }

    Flickable {
        id: settingsFlickable

        objectName: "settingsFlickable"

        anchors.top: outdatedWarning.bottom
        anchors.bottom: bottomBar.top
        anchors.left: parent.left
        anchors.right: parent.right
        clip: true
        flickableDirection: Flickable.AutoFlickIfNeeded
        boundsBehavior: Flickable.StopAtBounds
        contentWidth: Math.max(width, Math.ceil(thisComponent.panelsWidth) + 2 * Common.SizeManager.spacing.medium)
        contentHeight: settingsColumn.height + Common.SizeManager.fontSizes.base + Common.SizeManager.spacing.base

        Column {
            id: settingsColumn

            x: Common.SizeManager.spacing.medium
            y: Common.SizeManager.fontSizes.base
            width: settingsFlickable.contentWidth - 2 * Common.SizeManager.spacing.medium
            spacing: Common.SizeManager.spacing.large

            Settings.IpPortSettings {
                id: ipPortSettings
            }

            Settings.DateTimeSettings {
                id: dateTimeSettings
            }

            Settings.SystemAndPasswordSetting {
                id: systemSettings
            }

            Base.EmptyCell {}
        }
    }

    Rtu.ScrollIndicator {
        flickable: settingsFlickable
    }

    Rtu.FocusScroller {
        flickable: settingsFlickable
    }

    Rtu.ScrollIndicator {
        objectName: "sidewaysIndicator"
        flickable: settingsFlickable
        horizontal: true
    }

    Rtu.BottomBar {
        id: bottomBar

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom

        // Laid out left to right, so that Tab goes from "Cancel" to "Apply changes" as they are seen.
        Row {
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            spacing: Common.SizeManager.spacing.base

            Base.Button {
                objectName: "cancelButton"
                anchors.verticalCenter: parent.verticalCenter
                height: Common.SizeManager.clickableSizes.medium
                width: height * 3
                enabled: applyButton.enabled
                text: qsTr("Cancel")
                onClicked: rtuContext.selectionChanged()
            }

            Base.StyledButton {
                id: applyButton

                objectName: "applyChangesButton"
                anchors.verticalCenter: parent.verticalCenter
                height: Common.SizeManager.clickableSizes.medium
                width: height * 4
                enabled: thisComponent.parametersChanged
                text: qsTr("Apply changes")
                onClicked: thisComponent.applyChanges()
            }
        }
    }
}
