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

    function save(name) {
        wait(400);
        var image = grabImage(window.contentItem);
        image.save(directory + "/" + name + ".png");
    }

    function listRow(row) {
        var list = window.selectionPage.selectionList;
        list.forceLayout();
        return list.itemAtIndex(row).item;
    }

    function test_pages() {
        verify(directory.length > 0, "TESSALY_SCREENSHOT_DIR is not set");
        var fleet = testFixture.environment("TESSALY_SCREENSHOT_FLEET");
        model = Fleet.start(shots, testFixture, rtuContext, fleet.length ? fleet : "screens_fleet.json", 5);
        var component = Qt.createComponent("qrc:/src/qml/main.qml");
        compare(component.status, Component.Ready, component.errorString());
        window = component.createObject(null);
        window.requestActivate();
        Fleet.waitLoggedIn(shots, testFixture, model, ["Entrance", "Parking"]);
        save("welcome");

        mouseClick(listRow(Fleet.serverRow(testFixture, model, "Entrance")));
        tryCompare(page(), "objectName", "settingsPage");
        save("settings-one-server");

        wait(200);
        mouseClick(listRow(Fleet.serverRow(testFixture, model, "Parking")));
        tryCompare(model, "selectedCount", 2);
        tryCompare(page(), "objectName", "settingsPage");
        save("settings-several-servers");

        var panels = page().settingsColumn.children;
        mouseClick(findChild(panels[0], "editAllButton"));
        mouseClick(findChild(panels[2], "editAllButton"));
        save("settings-several-servers-edit-all");

        mouseClick(panels[2].maskedArea.systemNameField);
        Steps.typeText(shots, "Headquarters");
        save("settings-unsaved");
        mouseClick(findChild(page(), "applyChangesButton"));
        tryCompare(page(), "objectName", "progressPage");
        save("progress");

        tryCompare(page(), "objectName", "summaryPage", 30000);
        var summary = page();
        if (summary.successfulSummary.visible)
            mouseClick(findChild(summary.successfulSummary, "changelogButton"));
        save("summary");
        window.destroy();
    }
}
