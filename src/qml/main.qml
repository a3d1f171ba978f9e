import QtQuick 2.5
import QtQuick.Window 2.2
import QtQuick.Controls 1.4
import QtQuick.Layouts 1.1

import orvane.rtu 1.0 as TessRtu

import "pages" as Pages
import "controls/base" as Base
import "common" as Common

Window {
    id: mainWindow

    property alias selectionPage: selectionPage
    property alias pageLoader: pageLoader

    function chosenPage() {
        switch (rtuContext.currentPage) {
        case TessRtu.Constants.ProgressPage:
            return progressPage;
        case TessRtu.Constants.SummaryPage:
            return summaryPage;
        default:
            return (rtuContext.selection && rtuContext.selection.count) ? settingsPage : emptySelectionPage;
        }
    }

    function keyboardInPage() {
        for (var item = activeFocusItem; item; item = item.parent) {
            if (item === pageHolder)
                return true;
        }
        return activeFocusItem === null || activeFocusItem === contentItem;
    }

    // Every reload builds the page afresh, which also throws unapplied edits
    // away. An operator on the keyboard, who was on the page or nowhere,
    // starts on the new page's first stop (always on a page that follows a
    // run's steps) instead of getting lost with the control that went away;
    // after clicks the page takes no focus, as before.
    function reloadPage(stepChanged) {
        var refocus = TessRtu.KeyboardMode.active && (stepChanged === true || keyboardInPage());
        pageLoader.sourceComponent = undefined;
        pageLoader.sourceComponent = chosenPage();
        if (refocus && pageLoader.item && typeof pageLoader.item.focusHome === "function")
            pageLoader.item.focusHome();
    }

    title: rtuContext.toolDisplayName + (rtuContext.isBeta ? " (beta)" : "")
    color: "white"
    visible: true

    width: 1024
    height: 600
    minimumWidth: 1024
    minimumHeight: 480

    Component.onCompleted: {
        selectionPage.width = width / 3.5;
        selectionPage.Layout.minimumWidth = width / 3.5;
    }

    SplitView {
        anchors.fill: parent
        orientation: Qt.Horizontal

        Pages.ServerSelectionPage {
            id: selectionPage

            askForSelectionChange: (pageLoader.item && pageLoader.item.parametersChanged === true) ? true : false
            enabled: rtuContext.currentPage === TessRtu.Constants.SettingsPage
            opacity: enabled ? 1 : 0.5
            onApplyChanges: {
                if (pageLoader.item && typeof pageLoader.item.applyChanges === "function")
                    pageLoader.item.applyChanges();
            }
        }

        Item {
            id: pageHolder

            Layout.fillWidth: true
            // The splitter keeps the settings wide enough to read.
            Layout.minimumWidth: mainWindow.minimumWidth * 0.55

            Loader {
                id: pageLoader

                anchors.fill: parent
                focus: true
                sourceComponent: emptySelectionPage
            }
        }
    }

    Base.Announcement {
        id: announcement

        objectName: "announcement"

        Connections {
            target: Common.Announcer
            function onSaid(line) {
                announcement.say(line);
            }
        }
    }

    Connections {
        target: rtuContext
        function onCurrentPageChanged() {
            mainWindow.reloadPage(true);
        }

        function onSelectionChanged() {
            // Servers answering during a run must not interrupt the progress page.
            if (rtuContext.currentPage !== TessRtu.Constants.ProgressPage)
                mainWindow.reloadPage();
        }
    }

    Component {
        id: emptySelectionPage

        Pages.EmptySelectionPage {}
    }

    Component {
        id: settingsPage

        Pages.SettingsPage {}
    }

    Component {
        id: progressPage

        Pages.ProgressPage {}
    }

    Component {
        id: summaryPage

        Pages.SummaryPage {}
    }
}
