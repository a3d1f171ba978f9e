import QtQuick 2.5
import "../controls/base" as Base
import "../common" as Common

FocusScope {
    id: thisComponent

    objectName: "progressPage"

    readonly property var changesManager: rtuContext.changesManager()
    readonly property int totalCount: changesManager.totalChangesCount
    readonly property int appliedCount: changesManager.appliedChangesCount
    // The caption and the bar follow the counter once a frame, not once an
    // answer: a batch has hundreds of answers a second, and each new caption
    // is laid out and shaped anew.
    property int shownCount: 0
    property alias caption: captionText.text
    property alias patienceNote: patienceText
    property alias progressBar: progressFrame

    function focusHome() {
        progressFrame.forceActiveFocus();
    }

    Column {
        anchors.fill: parent
        anchors.margins: Common.SizeManager.spacing.medium
        spacing: Common.SizeManager.spacing.base

        Base.Text {
            id: captionText

            width: parent.width
            thin: false
            wrapMode: Text.Wrap
            font.pixelSize: Common.SizeManager.fontSizes.large
            text: thisComponent.totalCount === 0
                  ? qsTr("Applying changes...")
                  : qsTr("Applying changes (%1/%2)").arg(thisComponent.shownCount).arg(thisComponent.totalCount)
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        Base.LineDelimiter {
            color: "#e4e4e4"
        }

        // The progress bar for screen readers: Qt Quick offers the value,
        // minimum and maximum of an item with these properties, and sends
        // each new value. It holds the keyboard while the page shows.
        Rectangle {
            id: progressFrame

            objectName: "progressFrame"
            readonly property int value: thisComponent.shownCount
            readonly property int minimumValue: 0
            readonly property int maximumValue: thisComponent.totalCount

            width: parent.width
            height: Common.SizeManager.clickableSizes.base
            border.color: "grey"
            focus: true
            activeFocusOnTab: true

            Accessible.role: Accessible.ProgressBar
            Accessible.name: qsTr("Applying changes")
            Accessible.focusable: true

            Base.ProgressBar {
                objectName: "progressBar"
                height: parent.height
                width: parent.width * (thisComponent.shownCount + 1) / (thisComponent.totalCount + 1)
                indeterminate: true
            }

            Base.FocusFrame {}
        }

        Base.Text {
            id: patienceText

            width: parent.width
            visible: false
            wrapMode: Text.Wrap
            font.pixelSize: Common.SizeManager.fontSizes.medium
            text: qsTr("Please be patient, the operation can take up to several minutes")
            Accessible.role: Accessible.StaticText
            Accessible.name: visible ? text : ""
        }
    }

    Timer {
        interval: 16
        repeat: true
        running: true
        triggeredOnStart: true
        onTriggered: thisComponent.shownCount = thisComponent.appliedCount
    }

    Timer {
        interval: 5000
        running: true
        onTriggered: patienceText.visible = true
    }
}
