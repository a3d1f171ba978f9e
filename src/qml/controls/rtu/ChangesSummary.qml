import QtQuick 2.5

import "../base" as Base
import "../expandable" as Expandable
import "../../common" as Common

// The result rows of one apply run, grouped by server.
Expandable.ExpandableItem {
    id: thisComponent

    property bool successfulSummary: true
    property string caption
    property var model: null

    // Columns widen to their widest cell.
    property real nameColumnWidth: 0
    property real valueColumnWidth: 0
    property real reasonColumnWidth: 0

    function widened(current, textWidth) {
        var wanted = 3 * Common.SizeManager.spacing.large + textWidth;
        return wanted > current ? wanted : current;
    }

    // Wide cells wrap inside the table instead of running off its right edge,
    // where nothing could scroll them into sight.
    function shownWidths(tableWidth) {
        var icon = Common.SizeManager.clickableSizes.base;
        var name = Math.min(nameColumnWidth, tableWidth / 4);
        // A value wraps only when it and the reason cannot both have their width;
        // it keeps at least a third of the table.
        var value = Math.min(valueColumnWidth,
                             Math.max(tableWidth / 3, tableWidth - name - icon - reasonColumnWidth));
        var rest = tableWidth - name - value - icon;
        return { "name": name, "value": value, "reason": Math.min(reasonColumnWidth, Math.max(rest, 0)) };
    }

    expanded: !successfulSummary

    headerDelegate: Column {
        spacing: Common.SizeManager.spacing.medium

        Base.Text {
            width: parent.width
            wrapMode: Text.Wrap
            font.pixelSize: Common.SizeManager.fontSizes.large
            text: thisComponent.caption
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        Base.LineDelimiter {
            objectName: "captionDelimiter"
        }

        Base.Button {
            objectName: "changelogButton"
            visible: thisComponent.successfulSummary
            height: Common.SizeManager.clickableSizes.medium
            width: height * 4
            text: qsTr("Changelog")
            Accessible.description: thisComponent.expanded ? qsTr("shown") : qsTr("hidden")
            onClicked: thisComponent.toggle()
        }
    }

    areaDelegate: ListView {
        id: table

        interactive: false
        height: contentHeight
        cacheBuffer: 65535
        model: thisComponent.model

        section.property: "id"
        section.delegate: Item {
            width: table.width
            height: sectionText.height + 2 * Common.SizeManager.spacing.medium

            Base.Text {
                id: sectionText

                anchors.verticalCenter: parent.verticalCenter
                thin: false
                font.pixelSize: Common.SizeManager.fontSizes.medium
                text: section.substring(section.indexOf("}") + 1)
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }

        delegate: Row {
            readonly property string rowName: model.name
            readonly property string rowValue: model.value
            readonly property var shown: thisComponent.shownWidths(table.width)

            height: Math.max(nameCell.height, valueCell.height, reasonCell.height)

            // One row is read as one line: setting, value and what happened.
            Accessible.role: Accessible.ListItem
            Accessible.name: qsTr("%1: %2").arg(model.name).arg(model.value)
            Accessible.description: thisComponent.successfulSummary ? qsTr("changed")
                : qsTr("failed: %1").arg(model.reason)

            Base.Text {
                id: nameCell

                objectName: "nameCell"
                width: shown.name
                height: contentHeight + Common.SizeManager.spacing.medium
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                font.pixelSize: Common.SizeManager.fontSizes.small
                text: model.name
                onImplicitWidthChanged: thisComponent.nameColumnWidth = thisComponent.widened(
                                            thisComponent.nameColumnWidth, implicitWidth)
            }

            Base.Text {
                id: valueCell

                objectName: "valueCell"
                width: shown.value
                height: contentHeight + Common.SizeManager.spacing.medium
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                color: thisComponent.successfulSummary ? "black" : "red"
                font.pixelSize: Common.SizeManager.fontSizes.small
                text: model.value
                onImplicitWidthChanged: thisComponent.valueColumnWidth = thisComponent.widened(
                                            thisComponent.valueColumnWidth, implicitWidth)
            }

            Item {
                width: Common.SizeManager.clickableSizes.base
                height: nameCell.height

                Image {
                    id: successImage

                    anchors.centerIn: parent
                    width: Common.SizeManager.clickableSizes.small
                    height: width
                    fillMode: Image.PreserveAspectFit
                    source: thisComponent.successfulSummary ? "qrc:/resources/changelog-ok.png"
                                                            : "qrc:/resources/changelog-fail.png"
                }
            }

            Base.Text {
                id: reasonCell

                objectName: "reasonCell"
                width: shown.reason
                height: contentHeight + Common.SizeManager.spacing.medium
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                font.pixelSize: Common.SizeManager.fontSizes.small
                text: model.reason
                onImplicitWidthChanged: thisComponent.reasonColumnWidth = thisComponent.widened(
                                            thisComponent.reasonColumnWidth, implicitWidth)
            }
        }
    }
}
