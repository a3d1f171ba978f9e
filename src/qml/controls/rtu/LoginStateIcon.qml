import QtQuick 2.5

import orvane.rtu 1.0 as TessRtu

import "../../common" as Common

Image {
    property int loggedState: TessRtu.Constants.LoggedToAllServers

    width: Common.SizeManager.clickableSizes.small
    height: width
    fillMode: Image.PreserveAspectFit
    source: loggedState === TessRtu.Constants.LoggedToAllServers ? ""
        : (loggedState === TessRtu.Constants.PartiallyLogged ? "qrc:/resources/lock-open.png"
                                                              : "qrc:/resources/lock-closed.png")
}
