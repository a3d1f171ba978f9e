#include "app/qml_registration.h"
#include "app/rtu_context.h"

#include <QImage>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { rtu::registerQmlTypes(); }

    void resourceTree()
    {
        const QStringList expected = {
            QStringLiteral(":/qt/etc/qt.conf"),
            QStringLiteral(":/src/qml/main.qml"),
            QStringLiteral(":/resources/Roboto-Regular.ttf"),
            QStringLiteral(":/resources/Roboto-Medium.ttf"),
            QStringLiteral(":/tesstool.ico"),
            QStringLiteral(":/resources/lock-open.png"),
            QStringLiteral(":/resources/lock-closed.png"),
            QStringLiteral(":/resources/unknown.png"),
            QStringLiteral(":/resources/changelog-ok.png"),
            QStringLiteral(":/resources/changelog-fail.png"),
            QStringLiteral(":/resources/calendar.png"),
            QStringLiteral(":/resources/empty_page.png"),
        };
        for (const QString &path : expected)
            QVERIFY2(QFile::exists(path), qPrintable(path));
        for (const QString &path : expected) {
            if (!path.endsWith(QLatin1String(".png")))
                continue;
            const QImage image(path);
            QVERIFY2(!image.isNull() && image.width() >= 64, qPrintable(path));
        }

        QFile conf(QStringLiteral(":/qt/etc/qt.conf"));
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(conf.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                 QStringList({QStringLiteral("[Paths]"), QStringLiteral("Prefix=.")}));
    }

    void mainDocumentSeesTheContext()
    {
        rtu::RtuContext context(nullptr);
        QQmlApplicationEngine engine;
        QStringList warnings;
        connect(&engine, &QQmlEngine::warnings, this, [&](const QList<QQmlError> &errors) {
            for (const QQmlError &error : errors)
                warnings << error.toString();
        });
        engine.rootContext()->setContextProperty(QStringLiteral("rtuContext"), &context);
        engine.load(QUrl(QStringLiteral("qrc:/src/qml/main.qml")));

        QCOMPARE(engine.rootObjects().size(), 1);
        auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
        QVERIFY(window);
        QCOMPARE(window->title(), QStringLiteral("Orvane Tessaly Server Configuration Tool"));
        QCOMPARE(window->width(), 1024);
        QCOMPARE(window->height(), 600);
        QCOMPARE(window->minimumWidth(), 1024);
        QCOMPARE(window->minimumHeight(), 480);
        QCOMPARE(window->color(), QColor(Qt::white));
        QVERIFY(window->isVisible());
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
