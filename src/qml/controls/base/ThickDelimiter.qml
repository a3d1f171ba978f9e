import QtQuick 2.5

Rectangle {
    width: parent ? parent.width : 0
    height: 8

    gradient: Gradient {
        GradientStop { position: 0; color: "#ffffff" }
        GradientStop { position: 1; color: "#eeeeee" }
    }
}
