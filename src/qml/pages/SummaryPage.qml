import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

import "../controls/base" as Base
import "../controls/rtu" as Rtu
import "../common" as Common

Item {
    id: thisComponent

    objectName: "summaryPage"

    readonly property var changesManager: rtuContext.changesManager()
    readonly property var successfulModel: changesManager.successfulResultsModel()
    readonly property var failedModel: changesManager.failedResultsModel()
    readonly property int successfulCount: successfulModel ? successfulModel.changesCount : 0
    readonly property int failedCount: failedModel ? failedModel.changesCount : 0
    property alias successfulSummary: successfulSummary
    property alias failedSummary: failedSummary
    property alias nothingAppliedNote: nothingAppliedText

    // The keyboard starts on the result line, so that it is read first.
    function focusHome() {
        var line = successfulSummary.visible ? successfulSummary.captionItem
                 : failedSummary.visible ? failedSummary.captionItem : nothingAppliedText;
        if (line)
            line.forceActiveFocus();
    }

    Flickable {
        id: summaryFlickable

        anchors.top: parent.top
        anchors.bottom: bottomBar.top
        anchors.left: parent.left
        anchors.right: parent.right
        clip: true
        flickableDirection: Flickable.VerticalFlick
        contentWidth: width
        contentHeight: summaryColumn.height + 2 * Common.SizeManager.spacing.medium

        Column {
            id: summaryColumn

            x: Common.SizeManager.spacing.medium
            y: Common.SizeManager.spacing.medium
            width: summaryFlickable.width - 2 * Common.SizeManager.spacing.medium
            spacing: Common.SizeManager.spacing.large

            Rtu.ChangesSummary {
                id: successfulSummary

                width: parent.width
                visible: thisComponent.successfulCount !== 0
                model: thisComponent.successfulModel
                caption: qsTr("%1 of %2 successful changed").arg(thisComponent.successfulCount)
                    .arg(thisComponent.successfulCount + thisComponent.failedCount)
            }

            Rtu.ChangesSummary {
                id: failedSummary

                width: parent.width
                successfulSummary: false
                visible: thisComponent.failedCount !== 0
                model: thisComponent.failedModel
                caption: qsTr("%1 errors").arg(thisComponent.failedCount)
            }

            // A run whose queue was empty ends at once with no rows.
            Base.Text {
                id: nothingAppliedText

                width: parent.width
                visible: thisComponent.successfulCount === 0 && thisComponent.failedCount === 0
                wrapMode: Text.Wrap
                font.pixelSize: Common.SizeManager.fontSizes.large
                text: qsTr("No changes were applied.")
                activeFocusOnTab: visible
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                Accessible.focusable: true

                Base.FocusFrame {}
            }
        }
    }

    Rtu.ScrollIndicator {
        flickable: summaryFlickable
    }

    Rtu.FocusScroller {
        flickable: summaryFlickable
    }

    Rtu.BottomBar {
        id: bottomBar

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom

        Base.StyledButton {
            objectName: "okButton"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            height: Common.SizeManager.clickableSizes.medium
            width: height * 3
            text: qsTr("Ok")
            onClicked: {
                // Rebuild the selection summary from the servers' new values first.
                rtuContext.selectionModel().selectionChanged();
                rtuContext.currentPage = TessRtu.Constants.SettingsPage;
            }
        }
    }
}
