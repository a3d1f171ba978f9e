import QtQuick 2.15

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

    // One dialog serves every system row.
    function askForPassword(systemName) {
        loginDialog.systemName = systemName;
        loginDialog.show();
    }

    spacing: 1
    clip: true
    // No current row: nothing here shows or uses one, and the view's own
    // invisible highlight chased a current row that moves pushed far away,
    // drawing frame after frame for seconds (after a renamed system, the
    // whole time a summary was read).
    currentIndex: -1
    // Rows come and go by the hundred while a fleet is found: delegates
    // scrolled or pushed out are kept for the next rows, not rebuilt.
    reuseItems: true
    model: selectionModel

    header: Column {
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
            objectName: "selectAllBox"
            width: parent.width
            checkedState: thisComponent.selectAllCheckedState
            onSelectAllRequested: thisComponent.selectAll(select)
        }

        Base.LineDelimiter {
            color: "#e4e4e4"
        }
    }

    footer: Column {
        width: thisComponent.width
        // The footer's own height counts in the content, so compare without it.
        visible: thisComponent.contentHeight - height > thisComponent.height

        Item { width: 1; height: 1 }

        SelectAllBox {
            width: parent.width
            checkedState: thisComponent.selectAllCheckedState
            onSelectAllRequested: thisComponent.selectAll(select)
        }

        Item { width: 1; height: 1 }
    }

    delegate: Loader {
        id: rowLoader

        readonly property int row: index

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
                rowIndex: rowLoader.row
                onClicked: thisComponent.toggleRow(rowIndex)
                onLoginRequested: thisComponent.askForPassword(systemName)
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
