import QtQuick 2.5
import QtTest 1.2

import orvane.rtu 1.0 as TessRtu

import "qrc:/src/qml/common" as Common
import "Fleet.js" as Fleet
import "Texts.js" as Texts

TestCase {
    id: testCase

    name: "MainWindow"
    when: windowShown

    property var model: null
    property var window: null

    Component {
        id: narrowSettings

        Loader {
            height: 500
            source: "qrc:/src/qml/pages/SettingsPage.qml"
        }
    }

    // The page shown, laid out, so that clicks land where its controls are drawn.
    function page() {
        var item = window.pageLoader.item;
        if (item)
            waitForRendering(item);
        return item;
    }

    function initTestCase() {
        model = Fleet.start(testCase, testFixture, rtuContext, "refusing_fleet.json", 6);
        var component = Qt.createComponent("qrc:/src/qml/main.qml");
        compare(component.status, Component.Ready, component.errorString());
        window = component.createObject(null);
        verify(window !== null);
    }

    function cleanupTestCase() {
        window.destroy();
        wait(0);    // the deletion is deferred: let it happen before the engine goes
    }

    function init() {
        // The left pane at its minimum, as the window starts.
        window.selectionPage.width = window.width / 3.5;
        Fleet.backToSettings(rtuContext);
        model.setAllItemSelected(false);
        model.selectionChanged();
    }

    // At the narrowest window, with the splitter dragged as far as it goes,
    // every settings text can be read; a pane narrower still than what
    // cannot wrap scrolls sideways.
    function test_settings_texts_are_never_cut_data() {
        return [
            { tag: "left pane at its minimum", squeeze: 0 },
            { tag: "splitter at its limit", squeeze: -1 },
            { tag: "narrower than the content", squeeze: 330 },
        ];
    }

    function test_settings_texts_are_never_cut(data) {
        compare(window.width, window.minimumWidth);
        Fleet.select(testCase, testFixture, rtuContext, ["alpha-one"]);
        var left = window.selectionPage;
        if (data.squeeze < 0) {
            mouseDrag(window.contentItem, left.width + 0.5, window.height / 2, window.width, 0);
            fuzzyCompare(window.pageLoader.width, window.minimumWidth * 0.55, 1);
        }
        // The splitter never allows a narrower pane: such a page stands alone.
        var settings = data.squeeze > 0
            ? createTemporaryObject(narrowSettings, window.contentItem, { width: data.squeeze, z: 1 }).item : page();
        waitForRendering(settings);
        var flickable = findChild(settings, "settingsFlickable");
        verify(Texts.visibleTexts(settings.settingsColumn).length > 20);
        compare(Texts.cutTexts(settings.settingsColumn, flickable.contentItem, flickable.contentWidth), []);
        if (data.squeeze > 0)
            verify(findChild(settings, "sidewaysIndicator").visible);
        else
            compare(flickable.contentWidth, flickable.width, "the page fits without scrolling sideways");
    }

    // No text falls back to the platform's font, dialogs included.
    function test_every_text_is_in_the_tools_font() {
        var families = [Common.SizeManager.regularFont.name, Common.SizeManager.mediumFont.name];
        Fleet.select(testCase, testFixture, rtuContext, ["alpha-one"]);
        compare(Texts.foreignFonts(page(), families), []);

        var calendar = findChild(page(), "calendarDialog");
        calendar.show();
        tryVerify(function() { return calendar.visible; });
        waitForRendering(calendar.contentItem);
        var texts = Texts.visibleTexts(calendar.contentItem);
        verify(texts.length > 30, "the calendar shows its days");
        compare(Texts.foreignFonts(calendar.contentItem, families), []);
        calendar.close();
    }

    function test_page_follows_the_selection() {
        compare(page().objectName, "emptySelectionPage");
        Fleet.select(testCase, testFixture, rtuContext, ["alpha-one"]);
        compare(page().objectName, "settingsPage");

        var first = page();
        Fleet.select(testCase, testFixture, rtuContext, ["alpha-two"]);
        verify(page() !== first, "a new selection builds the page afresh");
        compare(page().objectName, "settingsPage");

        model.setAllItemSelected(false);
        compare(page().objectName, "emptySelectionPage");
    }

    function test_left_pane_only_works_on_the_settings_page() {
        Fleet.select(testCase, testFixture, rtuContext, ["alpha-one"]);
        verify(window.selectionPage.enabled);
        compare(window.selectionPage.opacity, 1);

        rtuContext.currentPage = TessRtu.Constants.ProgressPage;
        compare(page().objectName, "progressPage");
        verify(!window.selectionPage.enabled);
        compare(window.selectionPage.opacity, 0.5);

        // Servers that answer during a run must not rebuild the progress page.
        var progress = page();
        model.selectionChanged();
        verify(page() === progress);

        rtuContext.currentPage = TessRtu.Constants.SummaryPage;
        compare(page().objectName, "summaryPage");
        verify(!window.selectionPage.enabled);
    }

    function panelButton(panel, buttonId) {
        var row = panel.children[0];
        for (var i = 0; i < row.children.length; ++i) {
            if (row.children[i].buttonId === buttonId)
                return row.children[i].item;
        }
        return null;
    }

    function test_outdated_banner_offers_a_reload() {
        Fleet.select(testCase, testFixture, rtuContext, ["beta-two"]);
        var settings = page();
        var banner = findChild(settings, "outdatedWarning");
        verify(!banner.show);
        compare(banner.y, -banner.height, "the banner waits above the page");

        // The server renames itself while the operator looks at it.
        verify(testFixture.updateServer("beta-two", { "name": "beta-renamed" }));
        tryVerify(function() { return model.selectionOutdated; }, 10000);
        verify(banner.show);
        tryCompare(banner, "y", 0);

        mouseClick(panelButton(findChild(banner, "updateButtons"), TessRtu.Buttons.Update));
        verify(!model.selectionOutdated);
        verify(page() !== settings, "\"Update\" rebuilds the page from fresh values");
        verify(!findChild(page(), "outdatedWarning").show);
        verify(testFixture.updateServer("{0a11ce00-0000-4000-8000-000000000004}", { "name": "beta-two" }));
    }

    function test_unsaved_edits_guard_the_selection() {
        Fleet.select(testCase, testFixture, rtuContext, ["alpha-one"]);
        verify(!window.selectionPage.askForSelectionChange);
        page().settingsColumn.children[2].maskedArea.systemNameField.text = "Edited";
        verify(page().parametersChanged);
        verify(window.selectionPage.askForSelectionChange);
        verify(findChild(page(), "applyChangesButton").enabled);

        // "Cancel" reloads the page and so throws the edit away.
        mouseClick(findChild(page(), "cancelButton"));
        compare(page().settingsColumn.children[2].maskedArea.systemNameField.text, "Alpha");
        verify(!window.selectionPage.askForSelectionChange);
        verify(!findChild(page(), "applyChangesButton").enabled);
    }

    function test_a_refusing_panel_discards_every_edit() {
        Fleet.select(testCase, testFixture, rtuContext, ["alpha-one"]);
        var panels = page().settingsColumn.children;
        var ip = panels[0].maskedArea.interfaceEditor.lines.itemAt(0).ipAddressControl;
        ip.octets[3].text = "";
        panels[2].maskedArea.systemNameField.text = "Valid";

        page().applyChanges();
        var dialog = findChild(panels[0].maskedArea.interfaceEditor, "errorDialog");
        verify(dialog.visible);
        dialog.close();
        compare(rtuContext.currentPage, TessRtu.Constants.SettingsPage);

        // The valid name was collected but cleared with the rest.
        rtuContext.changesManager().applyChanges();
        compare(rtuContext.currentPage, TessRtu.Constants.SettingsPage);
    }

    // Sorted first on purpose: nothing has been counted yet.
    function test_a_progress_caption_before_anything_is_counted() {
        compare(rtuContext.changesManager().totalChangesCount, 0);
        rtuContext.currentPage = TessRtu.Constants.ProgressPage;
        compare(page().caption, "Applying changes...");
        var bar = findChild(page(), "progressBar");
        fuzzyCompare(bar.width, bar.parent.width, 0.5);
        // Indeterminate: its stripes keep moving.
        var stripes = findChild(bar, "stripes");
        var x = stripes.x;
        tryVerify(function() { return stripes.x !== x; }, 1000);
    }

    function test_progress_caption_and_bar_follow_the_counters() {
        Fleet.select(testCase, testFixture, rtuContext, ["alpha-one", "alpha-two"]);
        // Slow answers hold the run on the progress page while it is read.
        for (var name of ["alpha-one", "alpha-two"])
            verify(testFixture.updateServer(name, { "knobs": { "delayMs": 300 } }));
        var manager = rtuContext.changesManager();
        manager.addSystemChange("Renamed");
        manager.addPortChange(7100);
        manager.addPasswordChange("n3w");
        manager.applyChanges();
        compare(page().objectName, "progressPage");

        tryVerify(function() { return manager.appliedChangesCount > 0; }, 10000);
        var applied = manager.appliedChangesCount;
        var total = manager.totalChangesCount;
        compare(total, 6);
        verify(applied < total);
        tryCompare(page(), "caption", "Applying changes (" + applied + "/" + total + ")", 200);
        var bar = findChild(page(), "progressBar");
        fuzzyCompare(bar.width, bar.parent.width * (applied + 1) / (total + 1), 0.5);
        verify(!page().patienceNote.visible, "the patience note waits five seconds");
        for (name of ["alpha-one", "alpha-two"])
            verify(testFixture.updateServer(name, { "knobs": { "delayMs": 0 } }));
        tryCompare(rtuContext, "currentPage", TessRtu.Constants.SummaryPage, 15000);
    }

    function test_summary_captions_and_hiding() {
        Fleet.select(testCase, testFixture, rtuContext, ["alpha-one", "alpha-two"]);
        verify(testFixture.updateServer("alpha-two", { "knobs": { "refuse": [] } }));
        var manager = rtuContext.changesManager();
        manager.addSystemChange("Accepted");
        Fleet.applyAndWait(testCase, rtuContext);
        verify(testFixture.updateServer("alpha-two", { "knobs": { "refuse": ["systemName", "password", "port", "settime", "ifconfig"] } }));

        var summary = page();
        compare(summary.objectName, "summaryPage");
        verify(summary.successfulSummary.visible);
        verify(summary.failedSummary.visible);
        compare(summary.successfulSummary.caption, "1 of 2 successful changed");
        compare(summary.failedSummary.caption, "1 errors");
        verify(!summary.nothingAppliedNote.visible);
        verify(!summary.successfulSummary.expanded, "successful rows start folded");
        compare(summary.successfulSummary.area, null, "folded rows are built when first shown");
        verify(summary.failedSummary.expanded, "failed rows start open");
        compare(summary.failedSummary.area.count, 1);
        summary.successfulSummary.toggle();
        summary.successfulSummary.toggle();
        compare(summary.successfulSummary.area.count, 1, "shown once, the rows are kept");
        // A screen reader reads each row as one line, with its server.
        var changed = summary.successfulSummary.area.itemAtIndex(0).Accessible.name;
        var failed = summary.failedSummary.area.itemAtIndex(0).Accessible.name;
        verify(/^alpha-\w+ \(127\.0\.0\.\d+\): system name: Accepted, changed$/.test(changed), changed);
        verify(/^alpha-\w+ \(127\.0\.0\.\d+\): system name: Accepted, failed: .+$/.test(failed), failed);
        verify(changed.split(":")[0] !== failed.split(":")[0], "each row names its own server");
        verify(Qt.colorEqual(findChild(summary.successfulSummary, "captionDelimiter").color, "black"));
        verify(Qt.colorEqual(findChild(summary.failedSummary, "captionDelimiter").color, "black"));

        // "Ok" rebuilds the selection from the new values and returns to the settings.
        mouseClick(findChild(summary, "okButton"));
        compare(rtuContext.currentPage, TessRtu.Constants.SettingsPage);
        compare(page().objectName, "settingsPage");
    }

    function test_summary_long_reason_wraps_inside_the_table() {
        var reason = "The system name cannot be changed while the server is merging with another system; "
            + "wait until the merge has finished, then try again or ask the administrator of the system";
        Fleet.select(testCase, testFixture, rtuContext, ["alpha-two"]);
        verify(testFixture.updateServer("alpha-two", { "knobs": { "refuseString": reason } }));
        rtuContext.changesManager().addSystemChange("Renamed");
        Fleet.applyAndWait(testCase, rtuContext);
        verify(testFixture.updateServer("alpha-two", { "knobs": { "refuseString": "Operation is not permitted" } }));

        var table = page().failedSummary.area;
        tryCompare(table, "count", 1);
        var row = table.itemAtIndex(0);
        var reasonCell = findChild(row, "reasonCell");
        compare(reasonCell.text, reason);
        var right = reasonCell.mapToItem(table, reasonCell.width, 0).x;
        verify(right <= table.width + 0.5, "the reason runs to " + right + ", past the table's " + table.width);
        verify(reasonCell.lineCount > 1, "a reason wider than the table wraps");
        verify(row.height >= reasonCell.contentHeight, "the row grows with the wrapped reason");
        var nameCell = findChild(row, "nameCell");
        verify(nameCell.width > nameCell.implicitWidth, "short columns keep their widened width");
        compare(nameCell.lineCount, 1);

        // A successful row has no reason, so a long value keeps its one line.
        var refusals = testFixture.serverState("alpha-two").knobs.refuse;
        verify(testFixture.updateServer("alpha-two", { "knobs": { "refuse": [] } }));
        Fleet.backToSettings(rtuContext);
        Fleet.select(testCase, testFixture, rtuContext, ["alpha-two"]);
        var nameBefore = rtuContext.selection.systemName;
        var longName = "Harbour night shift recorders of the eastern quay";
        rtuContext.changesManager().addSystemChange(longName);
        Fleet.applyAndWait(testCase, rtuContext);
        var successful = page().successfulSummary;
        successful.toggle();
        tryCompare(successful.area, "count", 1);
        var valueCell = findChild(successful.area.itemAtIndex(0), "valueCell");
        compare(valueCell.text, longName);
        compare(valueCell.lineCount, 1);
        verify(valueCell.mapToItem(successful.area, valueCell.width, 0).x <= successful.area.width + 0.5);

        Fleet.backToSettings(rtuContext);
        Fleet.select(testCase, testFixture, rtuContext, ["alpha-two"]);
        rtuContext.changesManager().addSystemChange(nameBefore);
        Fleet.applyAndWait(testCase, rtuContext);
        verify(testFixture.updateServer("alpha-two", { "knobs": { "refuse": refusals } }));
    }

    function test_empty_run_says_nothing_was_applied() {
        // Both servers already use DHCP everywhere: the run has nothing to send.
        Fleet.select(testCase, testFixture, rtuContext, ["alpha-two", "beta-one"]);
        var manager = rtuContext.changesManager();
        manager.turnOnDhcp();
        Fleet.applyAndWait(testCase, rtuContext);
        verify(!page().successfulSummary.visible);
        verify(!page().failedSummary.visible);
        verify(page().nothingAppliedNote.visible);
        compare(page().nothingAppliedNote.text, "No changes were applied.");
    }
}
