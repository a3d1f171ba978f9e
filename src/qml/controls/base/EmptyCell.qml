import QtQuick 2.5

Item {
    width: 1
    height: 1
}
