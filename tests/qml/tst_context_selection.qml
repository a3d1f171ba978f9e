import QtQuick 2.5
import QtTest 1.1

TestCase {
    name: "ContextSelection"
    when: windowShown

    SignalSpy {
        id: selectionSpy
        target: rtuContext
        signalName: "selectionChanged"
    }

    function test_new_selection_after_every_change() {
        var model = rtuContext.selectionModel()
        verify(model !== null)
        var before = selectionSpy.count

        model.selectionChanged()
        compare(selectionSpy.count, before + 1)
        var first = rtuContext.selection
        verify(first !== null)
        compare(first.count, 0)
        compare(first.flags, 0xFFFF)
        compare(first.editableInterfaces, false)

        model.selectionChanged()
        compare(selectionSpy.count, before + 2)
        var second = rtuContext.selection
        verify(second !== null)
        verify(second !== first)
        compare(second.count, 0)
    }

    function test_snapshot_models() {
        var first = rtuContext.ipSettingsModel()
        var second = rtuContext.ipSettingsModel()
        verify(first !== second)
        compare(first.isSingleSelection, true)
        var zones = rtuContext.timeZonesModel(this)
        verify(zones.initIndex === 0)
        verify(!zones.isValidValue(0))
    }
}
