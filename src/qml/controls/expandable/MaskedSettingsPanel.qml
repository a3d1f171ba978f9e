import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

import "../base" as Base
import "../../common" as Common

// Hides settings that may differ between the selected servers until the
// operator asks to edit them all.
GenericSettingsPanel {
    id: thisComponent

    property Component propertiesDelegate
    property Item maskedArea: (warned && area) ? area.item : null
    property bool extraWarned: false
    property bool warned: (rtuContext.selection !== null && rtuContext.selection.count === 1) || extraWarned
    // The narrowest the shown content can be: what it cannot wrap.
    readonly property real minimumWidth: {
        var item = area ? area.item : null;
        if (!item)
            return 0;
        return item.minimumWidth !== undefined ? item.minimumWidth : item.implicitWidth;
    }

    changed: (maskedArea && maskedArea.changed) ? true : false

    // "Edit all" goes away as it is pressed; the keyboard goes on to the
    // first field it uncovered. A click leaves the fields as they were.
    function focusFirstField() {
        if (!TessRtu.KeyboardMode.active)
            return;
        var first = area ? area.nextItemInFocusChain(true) : null;
        for (var item = first; item; item = item.parent) {
            if (item === area) {
                first.forceActiveFocus();
                return;
            }
        }
    }

    areaDelegate: Loader {
        sourceComponent: thisComponent.warned ? thisComponent.propertiesDelegate : maskingPanel
        focus: true
    }

    Component {
        id: maskingPanel

        Column {
            readonly property real minimumWidth: editAllRow.width

            spacing: Common.SizeManager.spacing.base

            Base.Text {
                width: parent.width
                wrapMode: Text.Wrap
                font.pixelSize: Common.SizeManager.fontSizes.medium
                text: qsTr("Settings in this section can be different for selected servers.")
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }

            Row {
                id: editAllRow

                spacing: Common.SizeManager.spacing.medium

                Base.Button {
                    id: editAllButton

                    objectName: "editAllButton"

                    height: Common.SizeManager.clickableSizes.medium
                    width: height * 4
                    text: qsTr("Edit all")
                    Accessible.description: thisComponent.propertiesGroupName
                    onClicked: {
                        thisComponent.warned = true;
                        thisComponent.focusFirstField();
                    }
                }

                Base.Text {
                    anchors.verticalCenter: editAllButton.verticalCenter
                    color: "#666666"
                    text: qsTr("If you doesn't click this button,\nnothing will be changed")
                }
            }
        }
    }
}
