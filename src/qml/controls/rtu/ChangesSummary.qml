import QtQuick 2.15
import QtQuick.Window 2.2

import orvane.rtu 1.0 as TessRtu

import "../base" as Base
import "../expandable" as Expandable
import "../../common" as Common

// The result rows of one apply run, grouped by server.
Expandable.ExpandableItem {
    id: thisComponent

    property bool successfulSummary: true
    property string caption
    property var model: null
    readonly property Item captionItem: header ? header.captionItem : null

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
        readonly property alias captionItem: captionText

        spacing: Common.SizeManager.spacing.medium

        // The result line: where the keyboard lands when the summary opens.
        Base.Text {
            id: captionText

            objectName: "resultLine"
            width: parent.width
            wrapMode: Text.Wrap
            font.pixelSize: Common.SizeManager.fontSizes.large
            text: thisComponent.caption
            activeFocusOnTab: true
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Accessible.focusable: true

            Base.FocusFrame {}
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
            TessRtu.AccessibleExtras.expandable: true
            TessRtu.AccessibleExtras.expanded: thisComponent.expanded
            onClicked: {
                thisComponent.toggle();
                // Qt 5 sends screen readers no change of the expanded state.
                Common.Announcer.say(thisComponent.expanded ? qsTr("Changelog expanded") : qsTr("Changelog collapsed"));
            }
        }
    }

    // One stop of the Tab order; Up, Down, Home and End move between rows.
    areaDelegate: ListView {
        id: table

        function focusRow(row) {
            if (count === 0)
                return;
            currentIndex = Math.max(0, Math.min(row, count - 1));
            if (currentItem)
                currentItem.forceActiveFocus();
        }

        interactive: false
        height: contentHeight
        cacheBuffer: 65535
        model: thisComponent.model
        // Drawn nowhere: the focus frame shows the row.
        highlightFollowsCurrentItem: false
        keyNavigationEnabled: false
        activeFocusOnTab: !activeFocus && count > 0

        // Tab onto the table lands on its current row.
        onActiveFocusChanged: {
            if (activeFocus && Window.activeFocusItem === table)
                focusRow(currentIndex);
        }
        // From a row, Tab leaves the table as from the table itself.
        Keys.onTabPressed: table.nextItemInFocusChain(true).forceActiveFocus()
        Keys.onBacktabPressed: table.nextItemInFocusChain(false).forceActiveFocus()
        Keys.onUpPressed: focusRow(currentIndex - 1)
        Keys.onDownPressed: focusRow(currentIndex + 1)
        Keys.onPressed: {
            if (event.key === Qt.Key_Home)
                focusRow(0);
            else if (event.key === Qt.Key_End)
                focusRow(count - 1);
            else
                return;
            event.accepted = true;
        }

        Accessible.role: Accessible.List
        Accessible.name: thisComponent.successfulSummary ? qsTr("Changelog") : thisComponent.caption

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
                // Each row names its server.
                Accessible.ignored: true
            }
        }

        delegate: Item {
            readonly property string rowName: model.name
            readonly property string rowValue: model.value
            readonly property var shown: thisComponent.shownWidths(table.width)

            width: cells.width
            height: cells.height

            // One row is read as one line: server, setting, value and what happened.
            Accessible.role: Accessible.ListItem
            Accessible.name: {
                var server = model.id.substring(model.id.indexOf("}") + 1);
                return thisComponent.successfulSummary
                        ? qsTr("%1: %2: %3, changed").arg(server).arg(model.name).arg(model.value)
                        : qsTr("%1: %2: %3, failed: %4").arg(server).arg(model.name).arg(model.value).arg(model.reason);
            }
            Accessible.focusable: true

            Row {
                id: cells

                height: Math.max(nameCell.height, valueCell.height, reasonCell.height)

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

            Base.FocusFrame {
                inset: Common.SizeManager.lineSizes.thin
            }
        }
    }
}
