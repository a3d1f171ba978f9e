import QtQuick 2.5

import "../controls/base" as Base
import "../controls/rtu" as Rtu
import "../settings" as Settings
import "../common"

FocusScope {
    id: thisComponent

    readonly property var selectionModel: rtuContext.selectionModel()
    property bool parametersChanged: ipPortSettings.changed || dateTimeSettings.changed || systemSettings.changed
    property alias settingsColumn: settingsColumn

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

        z: 1
        show: thisComponent.selectionModel.selectionOutdated
        onUpdateClicked: thisComponent.selectionModel.selectionChanged()
    }

    Flickable {
        id: settingsFlickable

        anchors.top: outdatedWarning.bottom
        anchors.bottom: bottomBar.top
        anchors.left: parent.left
        anchors.right: parent.right
        clip: true
        flickableDirection: Flickable.VerticalFlick
        contentWidth: width
        contentHeight: settingsColumn.height + SizeManager.fontSizes.base + SizeManager.spacing.base

        Column {
            id: settingsColumn

            x: SizeManager.spacing.medium
            y: SizeManager.fontSizes.base
            width: settingsFlickable.width - 2 * SizeManager.spacing.medium
            spacing: SizeManager.spacing.large

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

    Item {
        id: bottomBar

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: SizeManager.clickableSizes.medium * 2

        Base.ThickDelimiter {
            anchors.top: parent.top
            width: parent.width
        }

        Row {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.leftMargin: SizeManager.spacing.medium
            anchors.rightMargin: SizeManager.spacing.medium
            anchors.verticalCenter: parent.verticalCenter
            layoutDirection: Qt.RightToLeft
            spacing: SizeManager.spacing.base

            Base.StyledButton {
                id: applyButton

                height: SizeManager.clickableSizes.medium
                width: height * 4
                enabled: thisComponent.parametersChanged
                text: qsTr("Apply changes")
                onClicked: thisComponent.applyChanges()
            }

            Base.Button {
                height: SizeManager.clickableSizes.medium
                width: height * 3
                enabled: applyButton.enabled
                text: qsTr("Cancel")
                onClicked: rtuContext.selectionChanged()
            }
        }
    }
}
