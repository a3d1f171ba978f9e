import QtQuick 2.5
import QtQuick.Window 2.2

import orvane.rtu 1.0 as TessRtu

import "../controls/base" as Base
import "../common" as Common

Window {
    id: dialog

    property int buttons: 0
    property int styledButtons: 0
    property Component areaDelegate
    readonly property alias area: areaLoader.item
    readonly property alias buttonsPanel: panel
    // Enter presses it: the styled button, else "Ok".
    readonly property int defaultButton: {
        for (var bit = 1; bit <= TessRtu.Buttons.Cancel; bit <<= 1) {
            if ((styledButtons & buttons & bit) !== 0)
                return bit;
        }
        return (buttons & TessRtu.Buttons.Ok) !== 0 ? TessRtu.Buttons.Ok : 0;
    }

    property bool focusPending: false

    signal buttonClicked(int id)

    // Closed first, so that a handler may open another dialog at once.
    function press(id) {
        dialog.close()
        dialog.buttonClicked(id)
    }

    // Escape is "Cancel" where there is one, and otherwise only closes.
    function dismiss() {
        if ((buttons & TessRtu.Buttons.Cancel) !== 0)
            press(TessRtu.Buttons.Cancel)
        else
            dialog.close()
    }

    // Moving by keyboard, the operator starts on the default button; after
    // a click no button is focused (and so drawn), as before. Enter and
    // Escape work either way. The button takes the focus once the window is
    // active: focus moved in a window not yet active reached screen readers
    // before the window did, and they said nothing of the dialog.
    function focusDefaultButton() {
        focusPending = false
        var button = panel.buttonItem(defaultButton)
        if (button && TessRtu.KeyboardMode.active)
            button.forceActiveFocus()
    }

    onVisibleChanged: {
        if (!visible)
            return
        requestActivate()
        keyHandler.forceActiveFocus()
        focusPending = true
        if (active)
            focusDefaultButton()
    }
    onActiveChanged: {
        if (active && focusPending)
            focusDefaultButton()
    }

    flags: Qt.Dialog | Qt.WindowTitleHint | Qt.MSWindowsFixedSizeDialogHint
    modality: Qt.WindowModal
    title: ""

    // Window sizes are whole pixels; rounding up keeps the content uncut.
    width: Math.ceil(Math.max(areaLoader.width, panel.width))
    height: Math.ceil(areaLoader.height + panel.height)
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height

    Item {
        id: keyHandler

        anchors.fill: parent
        focus: true

        // A focused button takes Return itself; anywhere else it means the
        // default button.
        Keys.onReturnPressed: {
            if (dialog.defaultButton !== 0)
                dialog.press(dialog.defaultButton)
        }
        Keys.onEnterPressed: {
            if (dialog.defaultButton !== 0)
                dialog.press(dialog.defaultButton)
        }
        Keys.onEscapePressed: dialog.dismiss()

        Accessible.role: Accessible.Dialog
        Accessible.name: dialog.title

        Loader {
            id: areaLoader

            sourceComponent: dialog.areaDelegate
        }

        Base.ButtonsPanel {
            id: panel

            anchors.right: parent.right
            anchors.bottom: parent.bottom
            buttons: dialog.buttons
            styled: dialog.styledButtons

            onButtonClicked: dialog.press(id)
        }
    }
}
