import QtQuick 2.15
import QtQuick.Window 2.2

import orvane.rtu 1.0 as TessRtu

import "../base" as Base
import "../../dialogs" as Dialogs
import "../../common" as Common

ListView {
    id: thisComponent

    property bool askForSelectionChange: false
    property var selectionModel: rtuContext.selectionModel()
    readonly property int selectAllCheckedState: {
        if (!selectionModel.serversCount || !selectionModel.selectedCount)
            return Qt.Unchecked;
        return selectionModel.selectedCount === selectionModel.serversCount ? Qt.Checked : Qt.PartiallyChecked;
    }
    property var pendingOperation: null
    // The row the keyboard is on, and whether on its password entry. Not the
    // view's current row: the view would chase that with its highlight.
    property int keyRow: -1
    property bool keyOnPassword: false

    // The operator chose to apply the unsaved edits instead of changing the selection.
    signal applyChanges()

    // Every selection operation passes here, so unsaved edits are never lost silently.
    function changeSelection(operation) {
        if (!askForSelectionChange) {
            operation();
            return;
        }
        pendingOperation = operation;
        confirmationDialog.show();
    }

    function selectAll(select) {
        changeSelection(function() { selectionModel.setAllItemSelected(select); });
    }

    function toggleRow(row) {
        changeSelection(function() { selectionModel.changeItemSelectedState(row); });
    }

    function selectOnlyRow(row) {
        changeSelection(function() { selectionModel.setItemSelected(row); });
    }

    function contains(item) {
        for (var node = item; node; node = node.parent) {
            if (node === thisComponent)
                return true;
        }
        return false;
    }

    function rowItem(row) {
        var loader = itemAtIndex(row);
        return loader ? loader.item : null;
    }

    // Puts the keyboard on a row (or its password entry), scrolled into view.
    function focusRow(row, onPassword) {
        if (count === 0) {
            focusSelectAll(headerItem);
            return;
        }
        row = Math.max(0, Math.min(row, count - 1));
        positionViewAtIndex(row, ListView.Contain);
        var item = rowItem(row);
        if (!item)
            return;
        var passwordShown = onPassword === true && item.needsPassword === true;
        keyRow = row;
        keyOnPassword = passwordShown;
        var target = passwordShown ? item.loginButton : (item.rowArea !== undefined ? item.rowArea : item);
        target.forceActiveFocus();
        // The password entry hangs below its row: show both.
        if (passwordShown)
            positionViewAtIndex(row, ListView.Contain);
    }

    function moveBy(step) {
        var item = rowItem(keyRow);
        if (step > 0 && !keyOnPassword && item && item.needsPassword === true) {
            focusRow(keyRow, true);
        } else if (step < 0 && keyOnPassword) {
            focusRow(keyRow, false);
        } else if (step < 0 && keyRow === 0) {
            focusSelectAll(headerItem);
        } else {
            var row = Math.max(0, Math.min(keyRow + step, count - 1));
            positionViewAtIndex(row, ListView.Contain);
            var previous = rowItem(row);
            // Upwards, a system's password entry comes before its row.
            focusRow(row, step < 0 && previous && previous.needsPassword === true);
        }
    }

    // The row a page away from the keyboard's row.
    function pageFrom(step) {
        var item = itemAtIndex(keyRow);
        if (!item)
            return keyRow;
        var y = step > 0 ? item.y + item.height + height - 1 : item.y - height + 1;
        var row = indexAt(width / 2, y);
        if (row >= 0)
            return row;
        return step > 0 ? count - 1 : 0;
    }

    function focusSelectAll(holder) {
        if (!holder || !holder.visible)
            return;
        if (holder === headerItem)
            positionViewAtBeginning();
        else
            positionViewAtEnd();
        holder.selectAllBox.forceActiveFocus();
    }

    // A select-all box that takes the focus is scrolled into sight, however
    // it got it (Tab wrapping round from the page lands on the lower one).
    function reveal(holder) {
        if (holder.y < contentY)
            contentY = holder.y;
        else if (holder.y + holder.height > contentY + height)
            contentY = holder.y + holder.height - height;
    }

    function focusAfterList() {
        var next = nextItemInFocusChain(true);
        if (next && !contains(next))
            next.forceActiveFocus();
        else
            focusSelectAll(headerItem);
    }

    function focusBeforeList() {
        var previous = nextItemInFocusChain(false);
        if (previous && !contains(previous))
            previous.forceActiveFocus();
        else
            focusRow(keyRow < 0 ? 0 : keyRow, false);
    }

    function focusLastStop() {
        if (footerItem && footerItem.visible)
            focusSelectAll(footerItem);
        else
            focusRow(keyRow < 0 ? 0 : keyRow, keyOnPassword);
    }

    // Which stop of the list an item is in: the header, the footer, or
    // (anything else inside) the rows.
    function stopOf(item) {
        for (var node = item; node && node !== thisComponent; node = node.parent) {
            if (node === headerItem || node === footerItem)
                return node;
        }
        return null;
    }

    // Tab order: the box above the rows, the rows (one stop, the arrows
    // move within), the box below them when it shows.
    function tabFrom(item, forward) {
        var holderItem = stopOf(item);
        if (holderItem === headerItem)
            forward ? focusRow(keyRow < 0 ? 0 : keyRow, keyOnPassword) : focusBeforeList();
        else if (holderItem === footerItem)
            forward ? focusAfterList() : focusRow(keyRow < 0 ? 0 : keyRow, keyOnPassword);
        else if (forward)
            footerItem && footerItem.visible ? focusSelectAll(footerItem) : focusAfterList();
        else
            focusSelectAll(headerItem);
    }

    // One dialog serves every system row.
    function askForPassword(systemName, conflict) {
        loginDialog.systemName = systemName;
        loginDialog.conflict = conflict || "";
        loginDialog.show();
    }

    spacing: 1
    clip: true
    // The list is one stop of the Tab order; within it the arrows move.
    activeFocusOnTab: !activeFocus
    keyNavigationEnabled: false
    // No current row: nothing here shows or uses one, and the view's own
    // invisible highlight chased a current row that moves pushed far away,
    // drawing frame after frame for seconds (after a renamed system, the
    // whole time a summary was read).
    currentIndex: -1
    // Rows come and go by the hundred while a fleet is found: delegates
    // scrolled or pushed out are kept for the next rows, not rebuilt.
    reuseItems: true
    model: selectionModel

    // Tab into the list lands on the first stop, Backtab on the last one; a
    // focus scope would otherwise bring back whichever stop had it last. A
    // stop that gets the focus back otherwise (its window active again
    // after a dialog) keeps it.
    onActiveFocusChanged: {
        if (!activeFocus || (Window.activeFocusItem !== thisComponent && !TessRtu.KeyboardMode.tabbing))
            return;
        if (TessRtu.KeyboardMode.backwards)
            focusLastStop();
        else
            focusSelectAll(headerItem);
    }

    Keys.onPressed: {
        var inRows = keyRow >= 0 && stopOf(Window.activeFocusItem) === null;
        switch (event.key) {
        case Qt.Key_Tab:
            tabFrom(Window.activeFocusItem, true);
            break;
        case Qt.Key_Backtab:
            tabFrom(Window.activeFocusItem, false);
            break;
        case Qt.Key_Down:
            inRows ? moveBy(1) : focusRow(keyRow < 0 ? 0 : keyRow, false);
            break;
        case Qt.Key_Up:
            inRows ? moveBy(-1) : focusSelectAll(headerItem);
            break;
        case Qt.Key_Home:
            focusRow(0, false);
            break;
        case Qt.Key_End:
            focusRow(count - 1, false);
            break;
        case Qt.Key_PageDown:
            focusRow(inRows ? pageFrom(1) : 0, false);
            break;
        case Qt.Key_PageUp:
            focusRow(inRows ? pageFrom(-1) : 0, false);
            break;
        default:
            return;
        }
        event.accepted = true;
    }

    Accessible.role: Accessible.List
    Accessible.name: qsTr("Auto-Detected Servers and Systems.")

    header: Column {
        readonly property alias selectAllBox: headerSelectAll

        width: thisComponent.width

        Item { width: 1; height: Common.SizeManager.spacing.base }

        Base.Text {
            width: parent.width
            color: "#666666"
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: Common.SizeManager.fontSizes.large
            text: qsTr("Auto-Detected Servers and Systems.")
        }

        Base.Text {
            objectName: "limitNotice"
            x: Common.SizeManager.spacing.base
            width: parent.width - 2 * x
            visible: thisComponent.selectionModel.serversLimitReached
            color: "red"
            wrapMode: Text.Wrap
            // Laid out only when shown: the count changes with every server found.
            text: visible ? qsTr("Too many servers: only the first %1 found are listed")
                            .arg(thisComponent.selectionModel.serversCount) : ""
        }

        SelectAllBox {
            id: headerSelectAll

            objectName: "selectAllBox"
            width: parent.width
            checkedState: thisComponent.selectAllCheckedState
            onSelectAllRequested: thisComponent.selectAll(select)
            onActiveFocusChanged: {
                if (activeFocus)
                    thisComponent.reveal(parent);
            }
        }

        Base.LineDelimiter {
            color: "#e4e4e4"
        }

        Item {
            width: 1
            height: Common.SizeManager.spacing.base
            visible: searchingNotice.visible
        }

        // Gone with the first server found.
        Base.Text {
            id: searchingNotice

            objectName: "searchingNotice"
            x: Common.SizeManager.spacing.base
            width: parent.width - 2 * x
            visible: thisComponent.selectionModel.serversCount === 0
            color: "#666666"
            wrapMode: Text.Wrap
            text: !visible ? ""
                : localAddresses.addresses.length === 0
                  ? qsTr("Searching for servers, but this computer has no IPv4 address.")
                  : qsTr("Searching for servers on %1...").arg(localAddresses.addresses.join(", "))
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }

    footer: Column {
        readonly property alias selectAllBox: footerSelectAll

        width: thisComponent.width
        // The footer's own height counts in the content, so compare without it.
        visible: thisComponent.contentHeight - height > thisComponent.height

        Item { width: 1; height: 1 }

        SelectAllBox {
            id: footerSelectAll

            width: parent.width
            checkedState: thisComponent.selectAllCheckedState
            onSelectAllRequested: thisComponent.selectAll(select)
            onActiveFocusChanged: {
                if (activeFocus)
                    thisComponent.reveal(parent);
            }
        }

        Item { width: 1; height: 1 }
    }

    delegate: Loader {
        id: rowLoader

        readonly property int row: index

        // Rows that move (a server found above) keep the keyboard on them.
        onRowChanged: {
            if (activeFocus)
                thisComponent.keyRow = row;
        }
        onActiveFocusChanged: {
            if (activeFocus)
                thisComponent.keyRow = row;
        }

        width: ListView.view.width
        sourceComponent: {
            switch (model.itemType) {
            case TessRtu.Constants.SystemItemType:
                return systemRow;
            case TessRtu.Constants.ServerItemType:
                return serverRow;
            case TessRtu.Constants.UnknownGroupType:
                return unknownGroupRow;
            default:
                return unknownAddressRow;
            }
        }

        // A reused delegate may have served a row of another kind: until the
        // loader swaps its item, that item sees the new row, which lacks some
        // of its roles. The defaults keep those bindings quiet meanwhile.
        Component {
            id: systemRow

            SystemItem {
                systemName: model.systemName
                loggedState: model.loggedState ?? TessRtu.Constants.LoggedToAllServers
                selectedState: model.selectedState
                serversCount: model.serversCount ?? 0
                selectedServersCount: model.selectedServersCount ?? 0
                rowIndex: rowLoader.row
                onClicked: thisComponent.toggleRow(rowIndex)
                onLoginRequested: thisComponent.askForPassword(systemName, model.conflict)
            }
        }

        Component {
            id: serverRow

            ServerItem {
                loggedIn: model.loggedIn ?? false
                conflict: model.conflict ?? ""
                name: model.name
                macAddress: model.macAddress ?? ""
                selectedState: model.selectedState
                rowIndex: rowLoader.row
                onSingleClicked: thisComponent.toggleRow(rowIndex)
                onDoubleClicked: thisComponent.selectOnlyRow(rowIndex)
            }
        }

        Component {
            id: unknownGroupRow

            UnknownGroupItem {
                caption: model.name ?? ""
            }
        }

        Component {
            id: unknownAddressRow

            UnknownItem {
                address: model.ipAddress ?? ""
            }
        }
    }

    TessRtu.LocalIPv4Addresses {
        id: localAddresses
    }

    // An address that comes up while searching is named too.
    Timer {
        interval: 2000
        repeat: true
        running: thisComponent.selectionModel.serversCount === 0
        onTriggered: localAddresses.refresh()
    }

    Connections {
        target: thisComponent.selectionModel
        function onLayoutChanged() {
            thisComponent.forceLayout();
        }
    }

    Connections {
        target: rtuContext
        function onLoginOperationFailed(primarySystem) {
            loginErrorDialog.message = qsTr("Can't login to any server in system %1 with entered password")
                .arg(primarySystem);
            loginErrorDialog.show();
        }

        // The keyboard goes back to the system row, whose entry goes once
        // logged in; after a refusal it stays on the entry, to try again.
        function onLoginOperationSucceeded(primarySystem) {
            if (thisComponent.keyOnPassword)
                thisComponent.focusRow(thisComponent.keyRow, false);
            Common.Announcer.say(qsTr("Logged in to system %1")
                                 .arg(primarySystem.length ? primarySystem : qsTr("Unassigned system")));
        }
    }

    Dialogs.MessageDialog {
        id: confirmationDialog

        objectName: "confirmationDialog"

        title: qsTr("Confirmation")
        message: qsTr("Configuration changes have not been saved yet")
        buttons: TessRtu.Buttons.ApplyChanges | TessRtu.Buttons.DiscardChanges | TessRtu.Buttons.Cancel
        styledButtons: TessRtu.Buttons.ApplyChanges
        onButtonClicked: {
            var operation = thisComponent.pendingOperation;
            thisComponent.pendingOperation = null;
            if (id === TessRtu.Buttons.ApplyChanges)
                thisComponent.applyChanges();
            else if (id === TessRtu.Buttons.DiscardChanges && operation)
                operation();
        }
    }

    Dialogs.ErrorDialog {
        id: loginErrorDialog

        objectName: "loginErrorDialog"
    }

    Dialogs.LoginToSystemDialog {
        id: loginDialog

        objectName: "loginDialog"

        onLoginClicked: rtuContext.tryLoginWith(loginDialog.systemName, password)
    }
}
