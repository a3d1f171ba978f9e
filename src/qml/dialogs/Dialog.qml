import QtQuick 2.5
import QtQuick.Window 2.2

import "../controls/base" as Base
import "../common" as Common

Window {
    id: dialog

    property int buttons: 0
    property int styledButtons: 0
    property Component areaDelegate
    readonly property alias area: areaLoader.item
    readonly property alias buttonsPanel: panel

    signal buttonClicked(int id)

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

        // Closed first, so that a handler may open another dialog at once.
        onButtonClicked: {
            dialog.close()
            dialog.buttonClicked(id)
        }
    }
}
