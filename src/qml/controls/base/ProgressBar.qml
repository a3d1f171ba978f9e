import QtQuick 2.5

// An indeterminate progress bar: a blue bar whose stripes run to the right
// while it is shown. Drawn here rather than by the stock control, whose style
// took about 4 ms to build each time the progress page opened, while the
// answer to a batch's first request waited.
Rectangle {
    id: thisComponent

    property bool indeterminate: true

    radius: 2
    border.width: 1
    border.color: "#3a7fbf"
    gradient: Gradient {
        GradientStop { position: 0; color: "#7cbbe8" }
        GradientStop { position: 1; color: "#4499dd" }
    }
    clip: true

    // Only drawn: its owner is the progress bar screen readers see, with
    // the value.
    Accessible.ignored: true

    Image {
        id: stripes

        objectName: "stripes"
        // The width of the tile, after which the stripes repeat.
        readonly property int stripePeriod: 40

        visible: thisComponent.indeterminate
        width: parent.width + stripePeriod
        height: parent.height
        fillMode: Image.Tile
        source: "qrc:/resources/progress-stripes.png"

        NumberAnimation on x {
            from: -stripes.stripePeriod
            to: 0
            duration: 800
            loops: Animation.Infinite
            running: thisComponent.indeterminate && thisComponent.visible
        }
    }
}
