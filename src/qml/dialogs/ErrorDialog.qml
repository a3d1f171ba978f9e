import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

import "." as Dialogs

Dialogs.MessageDialog {
    title: qsTr("Error")
    buttons: TessRtu.Buttons.Ok
    styledButtons: TessRtu.Buttons.Ok
}
