import QtQuick 2.5
import QtTest 1.1

import orvane.rtu 1.0 as TessRtu

TestCase {
    name: "Registration"
    when: windowShown

    function test_constants_enums() {
        compare(TessRtu.Constants.SettingsPage, 0)
        compare(TessRtu.Constants.ProgressPage, 1)
        compare(TessRtu.Constants.SummaryPage, 2)
        compare(TessRtu.Constants.NotLogged, 2)
        compare(TessRtu.Constants.UnknownEntityType, 3)
        compare(TessRtu.Constants.AllowIfConfigFlag, 2)
        compare(TessRtu.Constants.AllFlags, 0xFFFF)
    }

    function test_constants_cannot_be_created() {
        var failure = ""
        try {
            Qt.createQmlObject("import orvane.rtu 1.0; Constants {}", this, "constants")
        } catch (error) {
            failure = error.qmlErrors.map(function(e) { return e.message }).join("\n")
        }
        verify(failure.indexOf("Constants") >= 0, failure)
    }

    function test_context_identity() {
        compare(rtuContext.toolDisplayName, "Orvane Tessaly Server Configuration Tool")
        compare(rtuContext.toolVersion, "2.3.2.9296")
        verify(/^[0-9a-f]{12}$/.test(rtuContext.toolRevision), rtuContext.toolRevision)
        compare(rtuContext.isBeta, false)
        compare(rtuContext.currentPage, TessRtu.Constants.SettingsPage)
    }
}
