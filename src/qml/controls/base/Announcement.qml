import QtQuick 2.5

// Says a line to screen readers without moving the keyboard: a notification
// that shows anew for each line. Nothing of it is drawn. Shown half a second
// after it is asked for: what asks often rebuilds the settings page at once,
// a burst of a few hundred events, and a screen reader drops notifications
// until it has caught up with such a burst (Orca, past fifty queued).
Item {
    id: thisComponent

    property string text
    property string pendingText

    function say(line) {
        pendingText = line;
        delay.restart();
    }

    width: 0
    height: 0
    visible: false

    Accessible.role: Accessible.Notification
    Accessible.name: text

    Timer {
        id: delay

        interval: 500
        onTriggered: {
            thisComponent.text = thisComponent.pendingText;
            thisComponent.visible = false;
            thisComponent.visible = true;
        }
    }
}
