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
            model: buttonsModel

            delegate: Loader {
                readonly property int buttonId: model.id
                readonly property string buttonCaption: model.caption

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
        }
    }

    Component {
        id: styledButton

        Base.StyledButton {
            text: parent.buttonCaption
            onClicked: panel.buttonClicked(parent.buttonId)
        }
    }
}
