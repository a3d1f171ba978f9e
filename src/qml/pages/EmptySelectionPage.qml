import QtQuick 2.5

import "../controls/base" as Base
import "../common" as Common

Item {
    id: thisComponent

    objectName: "emptySelectionPage"

    readonly property string versionText: (rtuContext.isBeta ? qsTr("%1 beta (%2)") : qsTr("%1 (%2)"))
        .arg(rtuContext.toolVersion).arg(rtuContext.toolRevision)

    Column {
        anchors.centerIn: parent
        spacing: Common.SizeManager.spacing.large

        Base.Text {
            anchors.horizontalCenter: parent.horizontalCenter
            width: picture.width * 1.6
            color: "#666666"
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: Common.SizeManager.fontSizes.medium
            text: qsTr("Welcome to the\n%1").arg(rtuContext.toolDisplayName)
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        Image {
            id: picture

            anchors.horizontalCenter: parent.horizontalCenter
            width: Common.SizeManager.clickableSizes.large * 3
            height: sourceSize.width > 0 ? width * sourceSize.height / sourceSize.width : width
            fillMode: Image.PreserveAspectFit
            source: "qrc:/resources/empty_page.png"
        }

        Base.Text {
            anchors.horizontalCenter: parent.horizontalCenter
            width: picture.width * 1.6
            color: "#666666"
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: Common.SizeManager.fontSizes.medium
            text: qsTr("Select server(s) from the menu on the left to get started")
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }

    Column {
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: Common.SizeManager.spacing.medium
        spacing: Common.SizeManager.spacing.small

        TextInput {
            anchors.right: parent.right
            readOnly: true
            selectByMouse: true
            renderType: Text.NativeRendering
            color: "#666666"
            font.family: Common.SizeManager.regularFont.name
            font.pixelSize: Common.SizeManager.fontSizes.small
            text: qsTr("     Software version %1").arg(thisComponent.versionText)
            Accessible.role: Accessible.StaticText
            Accessible.name: text.trim()
        }

        Base.Hyperlink {
            anchors.right: parent.right
            link: rtuContext.toolCompanyUrl
        }

        Base.Hyperlink {
            anchors.right: parent.right
            caption: rtuContext.toolSupportMail
            link: "mailto:%1?Subject=Support request [%2 ver.%3]".arg(rtuContext.toolSupportMail)
                .arg(rtuContext.toolDisplayName).arg(thisComponent.versionText)
        }
    }
}
