import QtQuick 2.5

// Says a line to screen readers without moving the keyboard: a notification
// that shows anew for each line. Nothing of it is drawn.
Item {
    id: thisComponent

    property string text

    function say(line) {
        text = line;
        visible = false;
        visible = true;
    }

    width: 0
    height: 0
    visible: false

    Accessible.role: Accessible.Notification
    Accessible.name: text
}
