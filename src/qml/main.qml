import QtQuick 2.5
import QtQuick.Window 2.2

import orvane.rtu 1.0 as TessRtu

Window {
    id: mainWindow

    title: rtuContext.toolDisplayName + (rtuContext.isBeta ? " (beta)" : "")
    color: "white"
    visible: true

    width: 1024
    height: 600
    minimumWidth: 1024
    minimumHeight: 480
}
