pragma Singleton

import QtQuick 2.5
import QtQuick.Controls 1.4 as Controls

Item {
    id: sizeManager

    readonly property QtObject clickableSizes: QtObject {
        readonly property real base: 1.2 * referenceButton.implicitHeight
        readonly property real small: 0.5 * base
        readonly property real medium: 1.3 * base
        readonly property real large: 1.3 * medium
    }

    readonly property QtObject fontSizes: QtObject {
        readonly property int small: 13
        readonly property int base: 15
        readonly property int medium: 17
        readonly property int large: 20
    }

    readonly property QtObject spacing: QtObject {
        readonly property real small: sizeManager.clickableSizes.base / 8
        readonly property real base: sizeManager.clickableSizes.base / 3
        readonly property real medium: sizeManager.clickableSizes.base / 1.5
        readonly property real large: sizeManager.clickableSizes.base
        readonly property real extraLarge: sizeManager.clickableSizes.base * 2
    }

    readonly property QtObject lineSizes: QtObject {
        readonly property int thin: 1
        readonly property int thick: 2
    }

    readonly property QtObject colors: QtObject {
        // The frame around the control the keyboard is on.
        readonly property color focus: "#1e62a8"
    }

    readonly property alias regularFont: regularFontLoader
    readonly property alias mediumFont: mediumFontLoader

    readonly property int kInvalidArrayIndex: -1

    visible: false

    // Every clickable size derives from the platform's push button height.
    Controls.Button {
        id: referenceButton

        text: "0"
    }

    FontLoader {
        id: regularFontLoader

        source: "qrc:/resources/Roboto-Regular.ttf"
    }

    FontLoader {
        id: mediumFontLoader

        source: "qrc:/resources/Roboto-Medium.ttf"
    }
}
