pragma Singleton

import QtQuick 2.5

// Lines for screen readers to say without the keyboard moving: what the tool
// did on the operator's behalf, and results that show away from the focus.
// The main window's Announcement says them.
QtObject {
    signal said(string line)

    function say(line) {
        said(line);
    }
}
