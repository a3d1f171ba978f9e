import QtQuick 2.5
import QtQuick.Controls 1.4 as Controls
import QtQuick.Controls.Styles 1.4

import orvane.rtu 1.0 as TessRtu

import "." as Base
import "../../common" as Common

Controls.ComboBox {
    id: picker

    property int initIndex: Common.SizeManager.kInvalidArrayIndex
    readonly property bool changed: currentIndex !== initIndex
    property bool pseudoEnabled: true
    property int fontSize: Common.SizeManager.fontSizes.base
    property int lastSelectedIndex: Common.SizeManager.kInvalidArrayIndex
    property int lastAcceptedIndex: Common.SizeManager.kInvalidArrayIndex
    property bool tracking: false
    // What was typed into the open list, until a pause in the typing.
    property string typedText: ""

    signal timeZoneChanged(int from, int to)

    // Typing into the open list moves it to the first row whose text or
    // zones contain what was typed ("Berlin" finds the row of Europe/Berlin,
    // whose text may only say "most of Germany"). Other keys are the list's own.
    function typeInOpenList(event, menuFrame) {
        var character = event.text
        if (character.length !== 1 || character < " " || (character === " " && typedText.length === 0)) {
            event.accepted = false
            return
        }
        event.accepted = true
        typedText += character
        typingPause.restart()
        var row = model && typeof model.indexOfText === "function" ? model.indexOfText(typedText) : -1
        if (row < 0)
            return
        // The list's own key handling highlights and scrolls the same way.
        for (var i = 0; i < menuFrame.children.length; ++i) {
            var content = menuFrame.children[i]
            if (typeof content.menuItemAt === "function")
                content.menuItemAt(row)
        }
        menuFrame.__menu.__currentIndex = row
    }

    // Typing into the closed picker searches the same way, and takes the
    // row found; the stock picker jumped by the first letter alone.
    function typeInClosedPicker(event) {
        var character = event.text
        if (character.length !== 1 || character < " " || (character === " " && typedText.length === 0)
                || (event.modifiers & (Qt.ControlModifier | Qt.AltModifier))) {
            return
        }
        event.accepted = true
        typedText += character
        typingPause.restart()
        var row = model && typeof model.indexOfText === "function" ? model.indexOfText(typedText) : -1
        if (row >= 0 && row !== currentIndex) {
            currentIndex = row
            activated(row)
        }
    }

    // A zone the tool picks for the operator is said aloud: it changes
    // away from where the keyboard is.
    function chooseOnBehalf(index) {
        if (index === currentIndex)
            return
        currentIndex = index
        if (currentText.length > 0)
            Common.Announcer.say(qsTr("Time zone changed to %1").arg(currentText))
    }

    function scrollEnclosingFlickable(angleDelta) {
        for (var item = parent; item; item = item.parent) {
            if (item.flickableDirection === undefined)
                continue
            var top = item.originY
            var bottom = Math.max(top, item.originY + item.contentHeight - item.height)
            // Half a pixel per eighth of a degree: 60 pixels a notch.
            item.contentY = Math.min(bottom, Math.max(top, item.contentY - angleDelta / 2))
            return
        }
    }

    function trackIndex() {
        if (!tracking) {
            if (currentIndex !== initIndex || currentIndex < 0)
                return
            lastSelectedIndex = currentIndex
            lastAcceptedIndex = currentIndex
            tracking = true
            return
        }
        // Rows such as "<Different>" are not zones: choosing them is ignored.
        if (!model || !model.isValidValue(currentIndex) || currentIndex === lastAcceptedIndex)
            return
        var from = lastAcceptedIndex
        lastSelectedIndex = from
        lastAcceptedIndex = currentIndex
        timeZoneChanged(from, currentIndex)
    }

    onCurrentIndexChanged: trackIndex()
    onInitIndexChanged: currentIndex = initIndex
    onModelChanged: currentIndex = initIndex
    Component.onCompleted: currentIndex = initIndex
    onHoveredChanged: hovered ? tooltip.show() : tooltip.hide()
    onPressedChanged: {
        if (pressed)
            tooltip.hide()
    }

    // A pseudo-disabled picker cannot be changed from the keyboard either;
    // forwarded keys are seen before the combo box's own handlers.
    Keys.forwardTo: pseudoEnabled ? [keySearch] : [keyBlocker]

    Accessible.name: qsTr("Time zone")
    // The chosen zone is the picker's text, so that screen readers read it
    // as its value and speak it when it changes.
    TessRtu.AccessibleExtras.valueText: currentText

    implicitHeight: Common.SizeManager.clickableSizes.medium
    implicitWidth: 5 * implicitHeight
    clip: true
    textRole: "display"
    activeFocusOnTab: true
    activeFocusOnPress: true
    opacity: enabled && pseudoEnabled ? 1 : 0.5

    style: ComboBoxStyle {
        id: pickerStyle

        font.family: Common.SizeManager.regularFont.name
        font.pixelSize: picker.fontSize

        // The drop-down list: the shown font, and typing finds a zone.
        __dropDownStyle: MenuStyle {
            font: pickerStyle.font
            __labelColor: pickerStyle.textColor
            __selectedLabelColor: pickerStyle.selectedTextColor
            __selectedBackgroundColor: pickerStyle.selectionColor
            __maxPopupHeight: 400
            __menuItemType: "comboboxitem"
            __scrollerStyle: ScrollViewStyle {}

            frame: Rectangle {
                objectName: "zoneListFrame"
                color: "#dcdcdc"
                border.width: 1
                border.color: "darkgray"
                focus: true
                Keys.onPressed: picker.typeInOpenList(event, parent)
            }
        }

        label: Item {
            Text {
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.rightMargin: 1.5 * pickerStyle.dropDownButtonWidth
                anchors.verticalCenter: parent.verticalCenter
                text: control.currentText
                elide: Text.ElideRight
                font.pixelSize: picker.fontSize
                font.family: Common.SizeManager.regularFont.name
                renderType: Text.NativeRendering
            }
        }
    }

    // The wheel must not change the zone by accident, yet the page around
    // the picker still scrolls under it.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        onWheel: {
            wheel.accepted = true
            picker.scrollEnclosingFlickable(wheel.angleDelta.y)
        }
    }

    MouseArea {
        anchors.fill: parent
        visible: !picker.pseudoEnabled
        hoverEnabled: true
        onContainsMouseChanged: containsMouse ? tooltip.show() : tooltip.hide()
    }

    Timer {
        id: typingPause

        interval: 1000
        onTriggered: picker.typedText = ""
    }

    Item {
        id: keySearch

        Keys.onPressed: picker.typeInClosedPicker(event)
    }

    Item {
        id: keyBlocker

        Keys.onPressed: event.accepted = event.key !== Qt.Key_Tab && event.key !== Qt.Key_Backtab
    }

    Base.FocusFrame {}

    Base.Tooltip {
        id: tooltip

        objectName: "tooltip"
        y: picker.height
        text: picker.currentText
    }
}
