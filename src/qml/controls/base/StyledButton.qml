import QtQuick 2.5
import QtQuick.Controls.Styles 1.4

import "." as Base

Base.Button {
    id: button

    style: ButtonStyle {
        background: Rectangle {
            color: !control.enabled ? "#CCCCCC" : (control.pressed ? "#00B1EC" : "#35A0DA")
            border.color: "#CCCCCC"
        }

        label: Base.ButtonLabel {
            text: control.text
            fontSize: button.fontSize
            color: "white"
        }
    }
}
