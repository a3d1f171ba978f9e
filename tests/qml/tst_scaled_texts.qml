import QtQuick 2.5
import QtQuick.Window 2.2
import QtTest 1.2

import orvane.rtu 1.0 as TessRtu

import "Fleet.js" as Fleet
import "Texts.js" as Texts

// Run at each scale factor (QT_SCALE_FACTOR, from tests/CMakeLists.txt):
// scales: 1 1.5 2
// Every text of every page and dialog fits its box: text is laid out anew
// for each device pixel ratio, and a word a pixel wider wraps or is cut.
TestCase {
    id: testCase

    name: "ScaledTexts"
    when: windowShown

    property var model: null
    property var window: null

    function page() {
        var item = window.pageLoader.item;
        waitForRendering(item);
        return item;
    }

    function initTestCase() {
        model = Fleet.start(testCase, testFixture, rtuContext, "refusing_fleet.json", 6);
        Fleet.waitLoggedIn(testCase, testFixture, model, ["alpha-one", "alpha-two", "beta-one", "beta-two"]);
        var component = Qt.createComponent("qrc:/src/qml/main.qml");
        compare(component.status, Component.Ready, component.errorString());
        window = component.createObject(null);
        verify(window !== null);
        // The offscreen screen is 800 x 600 device pixels, which cuts a
        // scaled window down to it when shown: give it back its size.
        window.width = 1024;
        window.height = 600;
        window.selectionPage.width = window.width / 3.5;
        compare(window.width, 1024);
    }

    function cleanupTestCase() {
        window.destroy();
        wait(0);
    }

    function test_texts_fit_data() {
        return [
            { tag: "welcome", servers: [] },
            { tag: "one server", servers: ["alpha-one"] },
            { tag: "several servers, edit all", servers: ["alpha-one", "beta-one"], editAll: true },
        ];
    }

    function test_texts_fit(data) {
        Fleet.backToSettings(rtuContext);
        if (data.servers.length)
            Fleet.select(testCase, testFixture, rtuContext, data.servers);
        else
            model.setAllItemSelected(false);
        var shown = page();
        if (data.editAll) {
            for (var i = 0; i < 3; ++i) {
                var button = findChild(shown.settingsColumn.children[i], "editAllButton");
                if (button)
                    mouseClick(button);
            }
            waitForRendering(shown);
        }
        verify(Texts.visibleTexts(shown).length > 2);
        compare(Texts.overflowingTexts(shown), []);
        compare(Texts.overflowingTexts(window.selectionPage), []);
    }

    function test_dialog_texts_fit_data() {
        return [
            { tag: "login", name: "loginDialog" },
            { tag: "confirmation", name: "confirmationDialog" },
        ];
    }

    function test_dialog_texts_fit(data) {
        var dialog = findChild(window.selectionPage, data.name);
        dialog.show();
        tryVerify(function() { return dialog.visible; });
        waitForRendering(dialog.contentItem);
        verify(Texts.visibleTexts(dialog.contentItem).length > 1);
        compare(Texts.overflowingTexts(dialog.contentItem), []);
        dialog.close();
    }

    function test_summary_texts_fit() {
        Fleet.select(testCase, testFixture, rtuContext, ["alpha-two"]);
        // The name it has: a summary row without changing the fleet.
        rtuContext.changesManager().addSystemChange("Alpha");
        Fleet.applyAndWait(testCase, rtuContext);
        var summary = page();
        if (summary.successfulSummary.visible)
            mouseClick(findChild(summary.successfulSummary, "changelogButton"));
        waitForRendering(summary);
        compare(Texts.overflowingTexts(summary), []);
        Fleet.backToSettings(rtuContext);
    }
}
