import QtQuick 2.5

// A header above an area that is shown only while expanded.
FocusScope {
    id: thisComponent

    property Component headerDelegate
    property Component areaDelegate
    property bool expanded: true
    property alias header: headerLoader.item
    property alias area: areaLoader.item

    function toggle() {
        expanded = !expanded;
    }

    height: headerLoader.height + (expanded ? areaLoader.height : 0)

    Loader {
        id: headerLoader

        width: parent.width
        sourceComponent: thisComponent.headerDelegate
    }

    Loader {
        id: areaLoader

        anchors.top: headerLoader.bottom
        width: parent.width
        visible: thisComponent.expanded
        // Built when first shown, then kept: a folded list of a large run's
        // results would otherwise be built row by row before the page shows.
        active: thisComponent.expanded || status === Loader.Ready
        focus: true
        sourceComponent: thisComponent.areaDelegate
    }
}
