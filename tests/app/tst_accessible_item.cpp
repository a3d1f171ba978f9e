#include "app/qml_registration.h"

#include <QAccessible>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

#include <memory>

// The items' accessible interface: what Qt Quick reports, plus what Qt 5
// leaves out, read through QAccessible as a screen reader's bridge does. (The
// events it sends need a live bridge: the AT-SPI tests hear them.)
class TestAccessibleItem : public QObject
{
    Q_OBJECT

private:
    QQmlEngine m_engine;

    std::unique_ptr<QQuickWindow> show(const QByteArray &items)
    {
        QQmlComponent component(&m_engine);
        component.setData("import QtQuick 2.15\nimport QtQuick.Window 2.2\nimport QtQuick.Controls 1.4\n"
                          "import orvane.rtu 1.0 as TessRtu\n"
                          "Window { width: 300; height: 300; visible: true\n" + items + "\n}",
                          QUrl(QStringLiteral("qrc:/test.qml")));
        std::unique_ptr<QQuickWindow> window(qobject_cast<QQuickWindow *>(component.create()));
        if (!window)
            qWarning() << component.errors();
        if (window && !QTest::qWaitForWindowExposed(window.get()))
            window.reset();
        return window;
    }

    static QAccessibleInterface *node(QQuickWindow *window, const char *name)
    {
        auto *item = window->findChild<QQuickItem *>(QLatin1String(name));
        return item ? QAccessible::queryAccessibleInterface(item) : nullptr;
    }

private slots:
    void initTestCase() { rtu::registerQmlTypes(); }

    void disabledItemsAreNotEnabled()
    {
        auto window = show("Button { objectName: 'apply'; text: 'Apply changes' }");
        QVERIFY(window);
        QAccessibleInterface *button = node(window.get(), "apply");
        QVERIFY(button);
        QVERIFY(!button->state().disabled);
        QQuickItem *item = qobject_cast<QQuickItem *>(button->object());
        item->setEnabled(false);
        QVERIFY(button->state().disabled);
        // Through a parent too: the whole list goes grey during a run.
        item->setEnabled(true);
        item->parentItem()->setEnabled(false);
        QVERIFY(button->state().disabled);
    }

    void expandedStateAndItsChange()
    {
        auto window = show("Button { objectName: 'changelog'; property bool open: false; text: 'Changelog'\n"
                           "  TessRtu.AccessibleExtras.expandable: true\n"
                           "  TessRtu.AccessibleExtras.expanded: open }");
        QVERIFY(window);
        QAccessibleInterface *button = node(window.get(), "changelog");
        QVERIFY(button->state().expandable);
        QVERIFY(button->state().collapsed);
        QVERIFY(!button->state().expanded);
        button->object()->setProperty("open", true);
        QVERIFY(button->state().expanded);
        QVERIFY(!button->state().collapsed);
    }

    void passwordFieldHasAName()
    {
        auto window = show("TextField { objectName: 'password'; echoMode: TextInput.Password\n"
                           "  TessRtu.AccessibleExtras.name: 'Password' }");
        QVERIFY(window);
        QAccessibleInterface *field = node(window.get(), "password");
        QVERIFY(field->state().passwordEdit);
        QCOMPARE(field->text(QAccessible::Name), QStringLiteral("Password"));
    }

    void comboBoxValueIsItsText()
    {
        auto window = show("ComboBox { objectName: 'zone'; model: ['Europe/Berlin', 'Asia/Tokyo']\n"
                           "  Accessible.name: 'Time zone'\n"
                           "  TessRtu.AccessibleExtras.valueText: currentText }");
        QVERIFY(window);
        QAccessibleInterface *combo = node(window.get(), "zone");
        QCOMPARE(combo->text(QAccessible::Name), QStringLiteral("Time zone"));
        QAccessibleTextInterface *text = combo->textInterface();
        QVERIFY(text);
        QCOMPARE(text->text(0, text->characterCount()), QStringLiteral("Europe/Berlin"));
        combo->object()->setProperty("currentIndex", 1);
        QCOMPARE(text->text(0, text->characterCount()), QStringLiteral("Asia/Tokyo"));
        // All of it chosen, so that readers speak a new value as it comes.
        int start = -1, end = -1;
        text->selection(0, &start, &end);
        QCOMPARE(start, 0);
        QCOMPARE(end, 10);
    }

    void progressBarHasAValue()
    {
        auto window = show("Rectangle { objectName: 'bar'; property int value: 3\n"
                           "  property int minimumValue: 0; property int maximumValue: 8\n"
                           "  Accessible.role: Accessible.ProgressBar; Accessible.name: 'Applying changes' }");
        QVERIFY(window);
        QAccessibleValueInterface *value = node(window.get(), "bar")->valueInterface();
        QVERIFY(value);
        QCOMPARE(value->currentValue().toInt(), 3);
        QCOMPARE(value->minimumValue().toInt(), 0);
        QCOMPARE(value->maximumValue().toInt(), 8);
    }

    void listChildrenInViewOrder()
    {
        // Declared bottom row first, as a view may create its delegates.
        auto window = show("Item { objectName: 'list'; width: 100; height: 100; Accessible.role: Accessible.List\n"
                           "  Item { y: 60; width: 10; height: 10; Accessible.role: Accessible.ListItem; Accessible.name: 'third' }\n"
                           "  Item { y: 0; width: 10; height: 10; Accessible.role: Accessible.ListItem; Accessible.name: 'first' }\n"
                           "  Item { y: 30; width: 10; height: 10; Accessible.role: Accessible.ListItem; Accessible.name: 'second' }\n"
                           "}");
        QVERIFY(window);
        QAccessibleInterface *list = node(window.get(), "list");
        QCOMPARE(list->childCount(), 3);
        QStringList names;
        for (int i = 0; i < list->childCount(); ++i) {
            names << list->child(i)->text(QAccessible::Name);
            QCOMPARE(list->indexOfChild(list->child(i)), i);
        }
        QCOMPARE(names, QStringList({QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third")}));
    }

    void hiddenWindowHoldsNoFocus()
    {
        auto window = show("TextField { objectName: 'field'; focus: true }");
        QVERIFY(window);
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QAccessibleInterface *field = node(window.get(), "field");
        QTRY_VERIFY(field->state().focused);
        window->hide();
        QVERIFY(!field->state().focused);
    }
};

QTEST_MAIN(TestAccessibleItem)
#include "tst_accessible_item.moc"
