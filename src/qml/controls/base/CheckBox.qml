import QtQuick 2.5
import QtQuick.Controls 1.4 as Controls
import QtQuick.Controls.Styles 1.4

import "." as Base
import "../../common" as Common

Controls.CheckBox {
    id: checkBox

    property int initialCheckedState: Qt.Checked
    readonly property bool changed: checkedState !== initialCheckedState
    property int fontSize: Common.SizeManager.fontSizes.base

    // Assigned, not bound: the operator's clicks must not be overridden.
    onInitialCheckedStateChanged: checkedState = initialCheckedState
    Component.onCompleted: checkedState = initialCheckedState

    opacity: enabled ? 1 : 0.5

    // A partly checked box reads as mixed, not as unchecked.
    Accessible.checkStateMixed: checkedState === Qt.PartiallyChecked

    style: CheckBoxStyle {
        label: Text {
            text: control.text
            font.pixelSize: checkBox.fontSize
            font.family: Common.SizeManager.regularFont.name
            renderType: Text.NativeRendering
        }
    }

    Base.FocusFrame {}
}
