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
    // the offscreen platform, which has no hardware GL, gets the software one.
    void backendChoice()
    {
        QVERIFY(QQuickWindow::sceneGraphBackend().isEmpty());
        qputenv("QT_QUICK_BACKEND", "openvg");
        rtu::chooseSceneGraphBackend();
        QVERIFY(QQuickWindow::sceneGraphBackend().isEmpty());

        qunsetenv("QT_QUICK_BACKEND");
        qunsetenv("QMLSCENE_DEVICE");
        rtu::chooseSceneGraphBackend();
        QCOMPARE(QQuickWindow::sceneGraphBackend(), QStringLiteral("software"));
    }
};

QTEST_MAIN(TestGraphics)
#include "tst_graphics.moc"
