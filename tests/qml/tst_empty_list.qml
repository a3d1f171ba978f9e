import QtQuick 2.5
import QtTest 1.2

import "Fleet.js" as Fleet

// Until the first server is found the list says that it searches, and where.
Item {
    id: root

    width: 300
    height: 400

    TestCase {
        name: "EmptyList"
        when: windowShown

        function test_says_where_it_searches_until_a_server_is_found() {
            var component = Qt.createComponent("qrc:/src/qml/controls/rtu/SelectionList.qml");
            compare(component.status, Component.Ready, component.errorString());
            var list = createTemporaryObject(component, root, { width: 300, height: 400 });
            var notice = findChild(list.headerItem, "searchingNotice");
            compare(list.selectionModel.serversCount, 0);
            verify(notice.visible);
            // The namespace the tests run in has its loopback address alone.
            compare(notice.text, "Searching for servers on 127.0.0.1...");
            compare(notice.Accessible.name, notice.text);

            Fleet.start(this, testFixture, rtuContext, "refusing_fleet.json", 6);
            verify(!notice.visible, "gone with the servers found");
        }
    }
}
