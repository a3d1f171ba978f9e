import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

import "../../common" as Common

// Shows the control the keyboard is on. Only while the operator moves by
// keyboard: after a click the window looks as it always did.
Rectangle {
    property Item target: parent
    // Negative: drawn around the control; positive: inside it (rows that
    // fill a clipped list).
    property real inset: -Common.SizeManager.lineSizes.thick

    objectName: "focusFrame"
    anchors.fill: target
    anchors.margins: inset
    z: 1000
    visible: target !== null && target.activeFocus && TessRtu.KeyboardMode.active
    color: "transparent"
    radius: 2
    border.width: Common.SizeManager.lineSizes.thick
    border.color: Common.SizeManager.colors.focus
}
