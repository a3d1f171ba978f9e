import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

import "." as Base
import "../../common" as Common

Item {
    id: panel

    property int buttons: 0
    property int styled: 0
    property real buttonHeight: Common.SizeManager.clickableSizes.base
    property real spacing: Common.SizeManager.spacing.base

    signal buttonClicked(int id)

    function buttonItem(id) {
        for (var i = 0; i < repeater.count; ++i) {
            var loader = repeater.itemAt(i);
            if (loader && loader.buttonId === id)
                return loader.item;
        }
        return null;
    }

    // The row runs right to left, so Tab goes to the lower index; past the
    // ends it leaves the panel as the focus chain does.
    function tabFrom(index, forward) {
        var next = forward ? index - 1 : index + 1;
        if (next >= 0 && next < repeater.count) {
            repeater.itemAt(next).item.forceActiveFocus();
            return;
        }
        var edge = repeater.itemAt(forward ? repeater.count - 1 : 0).item;
        var outside = edge.nextItemInFocusChain(forward);
        var inside = false;
        for (var item = outside; item; item = item.parent)
            inside = inside || item === panel;
        // Nothing else takes the focus: go round within the panel.
        (outside && !inside ? outside : repeater.itemAt(forward ? repeater.count - 1 : 0).item).forceActiveFocus();
    }

    width: row.width + 2 * spacing
    height: buttonHeight + 2 * spacing

    TessRtu.Buttons {
        id: buttonsModel

        buttons: panel.buttons
    }

    Row {
        id: row

        objectName: "buttonsRow"
        x: panel.spacing
        y: panel.spacing
        spacing: panel.spacing
        // The model lists the rightmost button first.
        layoutDirection: Qt.RightToLeft

        Repeater {
            id: repeater

            model: buttonsModel

            delegate: Loader {
                readonly property int buttonId: model.id
                readonly property string buttonCaption: model.caption
                readonly property int buttonIndex: index

                width: panel.buttonHeight * model.aspect
                height: panel.buttonHeight
                sourceComponent: (panel.styled & buttonId) ? styledButton : plainButton
            }
        }
    }

    Component {
        id: plainButton

        Base.Button {
            text: parent.buttonCaption
            onClicked: panel.buttonClicked(parent.buttonId)
            Keys.onTabPressed: panel.tabFrom(parent.buttonIndex, true)
            Keys.onBacktabPressed: panel.tabFrom(parent.buttonIndex, false)
        }
    }

    Component {
        id: styledButton

        Base.StyledButton {
            text: parent.buttonCaption
            onClicked: panel.buttonClicked(parent.buttonId)
            Keys.onTabPressed: panel.tabFrom(parent.buttonIndex, true)
            Keys.onBacktabPressed: panel.tabFrom(parent.buttonIndex, false)
        }
    }
}
