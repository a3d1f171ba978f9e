import QtQuick 2.5

// A check box that only shows a state, drawn from plain items. A list row
// builds one each time it appears, and the styled control cost several
// times as much to create; the row takes the clicks itself.
Item {
    id: thisComponent

    property int checkedState: Qt.Unchecked

    // As wide as the styled control with an empty label, so rows keep their layout.
    implicitWidth: box.width + 5
    implicitHeight: box.height
    opacity: enabled ? 1 : 0.5

    Rectangle {
        id: box

        width: 16
        height: 16
        radius: 2
        border.color: "#999"
        gradient: Gradient {
            GradientStop { position: 0; color: "#eee" }
            GradientStop { position: 0.1; color: "#fff" }
        }
    }

    // A tick of two strokes, each turned about its left end.
    Item {
        anchors.fill: box
        visible: thisComponent.checkedState === Qt.Checked

        Rectangle {
            x: 0.25 * parent.width
            y: 0.53 * parent.height - height / 2
            width: 0.27 * parent.width
            height: 2
            color: "#222"
            antialiasing: true
            transformOrigin: Item.Left
            rotation: 50
        }

        Rectangle {
            x: 0.41 * parent.width
            y: 0.74 * parent.height - height / 2
            width: 0.5 * parent.width
            height: 2
            color: "#222"
            antialiasing: true
            transformOrigin: Item.Left
            rotation: -62
        }
    }

    Rectangle {
        anchors.fill: box
        anchors.margins: 3
        radius: 1
        visible: thisComponent.checkedState === Qt.PartiallyChecked
        border.color: "#222"
        gradient: Gradient {
            GradientStop { position: 0; color: "#999" }
            GradientStop { position: 1; color: "#555" }
        }
    }
}
