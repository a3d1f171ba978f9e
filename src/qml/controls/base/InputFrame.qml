import QtQuick 2.5

// The frame of the composite inputs (address, date, time), drawn like a text field.
Item {
    property bool focused: false
    property real textHeight: 0

    Rectangle {
        anchors.fill: parent
        anchors.bottomMargin: -1
        color: "#44ffffff"
        radius: frame.radius
    }

    Rectangle {
        id: frame

        anchors.fill: parent
        radius: parent.textHeight * 0.16
        border.color: parent.focused ? "#47b" : "#999"
        gradient: Gradient {
            GradientStop { position: 0; color: "#e0e0e0" }
            GradientStop { position: 0.1; color: "#fff" }
            GradientStop { position: 1; color: "#fff" }
        }
    }
}
