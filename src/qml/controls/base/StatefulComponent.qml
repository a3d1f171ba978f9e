import QtQuick 2.5

// A Loader without an explicit size takes the size of what it shows.
Loader {
    property bool showFirst: true
    property Component first
    property Component second

    sourceComponent: showFirst ? first : second
}
