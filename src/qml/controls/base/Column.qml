import QtQuick 2.5

import "../../common" as Common

Column {
    spacing: Common.SizeManager.spacing.base
}
