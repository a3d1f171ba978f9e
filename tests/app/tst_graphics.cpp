#include "app/graphics.h"

#include <QQuickWindow>
#include <QtTest>

class TestGraphics : public QObject
{
    Q_OBJECT

private slots:
    void renderers_data()
    {
        QTest::addColumn<QByteArray>("renderer");
        QTest::addColumn<bool>("software");
        QTest::newRow("llvmpipe") << QByteArray("llvmpipe (LLVM 15.0.6, 256 bits)") << true;
        QTest::newRow("softpipe") << QByteArray("softpipe") << true;
        QTest::newRow("classic swrast") << QByteArray("Mesa DRI Software Rasterizer") << true;
        QTest::newRow("none") << QByteArray(" ") << true;
        QTest::newRow("intel") << QByteArray("Mesa Intel(R) UHD Graphics 620 (KBL GT2)") << false;
        QTest::newRow("radeon") << QByteArray("AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49)") << false;
        QTest::newRow("virgl") << QByteArray("virgl") << false;
    }
    void renderers()
    {
        QFETCH(QByteArray, renderer);
        QFETCH(bool, software);
        QCOMPARE(rtu::rendererIsSoftware(renderer), software);
    }

    // Runs before any window: an operator's backend stands, and without one
    // the offscreen platform, which has no hardware GL, gets the software one,
    // paced to the display's refresh unless the operator paced it.
    void backendChoice()
    {
        qunsetenv("QT_QPA_UPDATE_IDLE_TIME");
        QVERIFY(QQuickWindow::sceneGraphBackend().isEmpty());
        qputenv("QT_QUICK_BACKEND", "openvg");
        rtu::chooseSceneGraphBackend();
        QVERIFY(QQuickWindow::sceneGraphBackend().isEmpty());
        QVERIFY(!qEnvironmentVariableIsSet("QT_QPA_UPDATE_IDLE_TIME"));

        qunsetenv("QT_QUICK_BACKEND");
        qunsetenv("QMLSCENE_DEVICE");
        rtu::chooseSceneGraphBackend();
        QCOMPARE(QQuickWindow::sceneGraphBackend(), QStringLiteral("software"));
        QCOMPARE(qgetenv("QT_QPA_UPDATE_IDLE_TIME"), QByteArray("16"));

        qputenv("QT_QPA_UPDATE_IDLE_TIME", "8");
        rtu::chooseSceneGraphBackend();
        QCOMPARE(qgetenv("QT_QPA_UPDATE_IDLE_TIME"), QByteArray("8"));
    }
};

QTEST_MAIN(TestGraphics)
#include "tst_graphics.moc"
