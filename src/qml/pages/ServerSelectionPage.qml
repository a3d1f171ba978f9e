import QtQuick 2.5
import QtQuick.Controls 1.4

import "../controls/rtu" as Rtu

ScrollView {
    id: thisComponent

    property alias askForSelectionChange: selectionList.askForSelectionChange
    property alias selectionList: selectionList

    signal applyChanges()

    Rtu.SelectionList {
        id: selectionList

        onApplyChanges: thisComponent.applyChanges()

        // The view's own scroll bars, named for screen readers.
        Binding {
            target: thisComponent.__verticalScrollBar
            property: "Accessible.name"
            value: qsTr("Scroll the server list")
        }

        Binding {
            target: thisComponent.__horizontalScrollBar
            property: "Accessible.name"
            value: qsTr("Scroll the server list sideways")
        }
    }
}
