import QtQuick 2.5
import QtQuick.Window 2.13

// Gives the keyboard back to the window a dialog came from where no window
// manager does (a bare X server leaves no window active once the dialog is
// gone). Restart it when the dialog closes.
Timer {
    property Window dialog

    interval: 200
    onTriggered: {
        if (!dialog.visible && dialog.transientParent && Qt.application.state !== Qt.ApplicationActive)
            dialog.transientParent.requestActivate()
    }
}
