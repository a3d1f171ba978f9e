import QtQuick 2.5
import QtTest 1.2

import orvane.rtu 1.0 as TessRtu

import "../Fleet.js" as Fleet
import "../PanelSteps.js" as Steps

// Not a test: walks the main window through its pages against a simulated
// fleet and saves a picture of each (scripts/screenshot.sh runs it).
TestCase {
    id: shots

    name: "PageShots"
    when: windowShown

    property var model: null
    property var window: null
    property string directory: testFixture.environment("TESSALY_SCREENSHOT_DIR")

    function page() {
        return window.pageLoader.item;
    }

    function waitForPage(name, timeout) {
        tryVerify(function() { return page() && page().objectName === name; }, timeout || 5000, name);
        waitForRendering(page());
    }

    function save(name) {
        wait(400);
        verify(testFixture.saveWindowImage(window, directory + "/" + name + ".png"), name);
    }

    function listRow(row) {
        var list = window.selectionPage.selectionList;
        list.forceLayout();
        return list.itemAtIndex(row).item;
    }

    function test_pages() {
        verify(directory.length > 0, "TESSALY_SCREENSHOT_DIR is not set");
        // The window exists before any server answers, as at start-up: a list
        // built over rows that are already there would not start at its top.
        var component = Qt.createComponent("qrc:/src/qml/main.qml");
        compare(component.status, Component.Ready, component.errorString());
        window = component.createObject(null);
        window.requestActivate();
        waitForRendering(window.contentItem);
        save("searching");
        model = Fleet.start(shots, testFixture, rtuContext, testFixture.environment("TESSALY_SCREENSHOT_FLEET"), 8);
        Fleet.waitLoggedIn(shots, testFixture, model, ["Harbour Gate", "Harbour Quay"]);
        tryVerify(function() {
            return testFixture.modelRows(model).every(function(row) { return row.itemType !== 1 || row.name.indexOf("(127.") > 0; });
        }, 10000, "servers without their address");
        save("welcome");
        // The keyboard on a row of the list, with its focus frame.
        windowKeys.keyClick(window.contentItem, Qt.Key_Tab);
        windowKeys.keyClick(window.contentItem, Qt.Key_Tab);
        for (var down = 0; down < 3; ++down)
            windowKeys.keyClick(window.contentItem, Qt.Key_Down);
        save("keyboard-row");
        var list = window.selectionPage.selectionList;
        tryVerify(function() { return testFixture.modelRows(model).some(function(row) { return row.itemType === 3; }); },
                  10000, "no unknown host");
        list.positionViewAtEnd();
        save("server-list-end");
        list.positionViewAtBeginning();

        mouseClick(listRow(Fleet.serverRow(testFixture, model, "Harbour Gate")));
        waitForPage("settingsPage");
        save("settings-one-server");
        var flickable = findChild(page(), "settingsFlickable");
        flickable.contentY = flickable.contentHeight - flickable.height;
        save("settings-one-server-scrolled");
        flickable.contentY = 0;

        // The zone list open, and the calendar, each in a window of its own.
        var dateTime = page().settingsColumn.children[1].dateTimeEditor;
        flickable.contentY = dateTime.mapToItem(flickable.contentItem, 0, 0).y - 40;
        var picker = dateTime.timeZonePicker;
        mouseClick(picker);
        tryVerify(function() { return picker.__popup.__popupVisible; });
        wait(400);
        verify(testFixture.saveWindowImage(picker.__popup.__contentItem, directory + "/zone-list.png"));
        picker.__popup.__dismissAndDestroy();
        var calendar = findChild(dateTime, "calendarDialog");
        calendar.show();
        tryVerify(function() { return calendar.visible; });
        wait(400);
        verify(testFixture.saveWindowImage(calendar, directory + "/calendar.png"));
        calendar.close();
        window.requestActivate();
        tryVerify(function() { return window.active; });
        flickable.contentY = 0;

        // The narrowest page: the splitter dragged as far right as it goes.
        mouseDrag(window.contentItem, window.selectionPage.width + 0.5, window.height / 2, window.width, 0);
        wait(200);
        save("settings-narrow");
        flickable.contentY = flickable.contentHeight - flickable.height;
        save("settings-narrow-scrolled");
        flickable.contentX = flickable.contentWidth - flickable.width;
        save("settings-narrow-scrolled-sideways");
        flickable.contentX = 0;
        flickable.contentY = 0;
        window.selectionPage.width = window.width / 3.5;

        mouseClick(listRow(Fleet.serverRow(testFixture, model, "Harbour Archive")));
        tryCompare(model, "selectedCount", 2);
        mouseClick(listRow(Fleet.serverRow(testFixture, model, "Harbour Gate")));
        tryCompare(model, "selectedCount", 1);
        waitForPage("settingsPage");
        save("settings-no-interface-control");
        mouseClick(listRow(Fleet.serverRow(testFixture, model, "Harbour Archive")));
        tryCompare(model, "selectedCount", 0);
        mouseClick(listRow(Fleet.serverRow(testFixture, model, "Harbour Gate")));
        tryCompare(model, "selectedCount", 1);
        waitForPage("settingsPage");

        wait(200);
        mouseClick(listRow(Fleet.serverRow(testFixture, model, "Harbour Quay")));
        tryCompare(model, "selectedCount", 2);
        waitForPage("settingsPage");
        save("settings-several-servers");
        findChild(page().settingsColumn.children[0], "editAllButton").forceActiveFocus();
        windowKeys.keyClick(window.contentItem, Qt.Key_Tab);
        save("keyboard-button");

        var panels = page().settingsColumn.children;
        mouseClick(findChild(panels[0], "editAllButton"));
        mouseClick(findChild(panels[1], "editAllButton"));
        mouseClick(findChild(panels[2], "editAllButton"));
        save("settings-several-servers-edit-all");

        mouseClick(panels[2].maskedArea.systemNameField);
        Steps.typeText(shots, "Harbour East");
        save("settings-unsaved");
        // A slow answer keeps the progress page up long enough to be seen.
        verify(testFixture.updateServer("Harbour Gate", { "knobs": { "delayMs": 3000 } }));
        mouseClick(findChild(page(), "applyChangesButton"));
        waitForPage("progressPage");
        save("progress");

        waitForPage("summaryPage", 30000);
        verify(testFixture.updateServer("Harbour Gate", { "knobs": { "delayMs": 0 } }));
        var summary = page();
        if (summary.successfulSummary.visible)
            mouseClick(findChild(summary.successfulSummary, "changelogButton"));
        save("summary");
        window.destroy();
    }
}
