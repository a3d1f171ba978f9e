#include "models/buttons.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

using namespace rtu;

class TestButtons : public QObject
{
    Q_OBJECT

private:
    struct Row
    {
        int id;
        QString caption;
        float aspect;
    };

    static QVector<Row> rows(const Buttons &model)
    {
        QVector<Row> result;
        for (int i = 0; i < model.rowCount(); ++i) {
            const QModelIndex index = model.index(i);
            result.append({model.data(index, Buttons::IdRole).toInt(),
                           model.data(index, Buttons::CaptionRole).toString(),
                           model.data(index, Buttons::AspectRole).toFloat()});
        }
        return result;
    }

private slots:
    void rowsFollowFlags_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<QList<int>>("ids");
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<QList<float>>("aspects");

        QTest::newRow("ok and cancel") << int(Buttons::Ok | Buttons::Cancel)
                                       << QList<int>{Buttons::Ok, Buttons::Cancel}
                                       << QStringList{QStringLiteral("Ok"), QStringLiteral("Cancel")}
                                       << QList<float>{3.0f, 3.0f};
        QTest::newRow("none") << 0 << QList<int>() << QStringList() << QList<float>();
        QTest::newRow("unknown bit only") << 128 << QList<int>() << QStringList() << QList<float>();
        QTest::newRow("unknown bits ignored")
            << (0x100 | 128 | Buttons::Update) << QList<int>{Buttons::Update}
            << QStringList{QStringLiteral("Update")} << QList<float>{3.0f};
        QTest::newRow("confirmation in flag order")
            << int(Buttons::Cancel | Buttons::DiscardChanges | Buttons::ApplyChanges)
            << QList<int>{Buttons::ApplyChanges, Buttons::DiscardChanges, Buttons::Cancel}
            << QStringList{QStringLiteral("Apply changes"), QStringLiteral("Discard changes"),
                           QStringLiteral("Cancel")}
            << QList<float>{5.0f, 5.0f, 3.0f};
        QTest::newRow("all") << 0x7F
                             << QList<int>{Buttons::Yes, Buttons::ApplyChanges, Buttons::Ok, Buttons::Update,
                                           Buttons::No, Buttons::DiscardChanges, Buttons::Cancel}
                             << QStringList{QStringLiteral("Yes"), QStringLiteral("Apply changes"),
                                            QStringLiteral("Ok"), QStringLiteral("Update"), QStringLiteral("No"),
                                            QStringLiteral("Discard changes"), QStringLiteral("Cancel")}
                             << QList<float>{3.0f, 5.0f, 3.0f, 3.0f, 3.0f, 5.0f, 3.0f};
    }

    void rowsFollowFlags()
    {
        QFETCH(int, flags);
        QFETCH(QList<int>, ids);
        QFETCH(QStringList, captions);
        QFETCH(QList<float>, aspects);

        Buttons model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setButtons(flags);

        QCOMPARE(model.buttons(), flags);
        const QVector<Row> actual = rows(model);
        QCOMPARE(actual.size(), ids.size());
        for (int i = 0; i < actual.size(); ++i) {
            QCOMPARE(actual.at(i).id, ids.at(i));
            QCOMPARE(actual.at(i).caption, captions.at(i));
            QCOMPARE(actual.at(i).aspect, aspects.at(i));
        }
    }

    void everyWriteResets()
    {
        Buttons model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.buttons(), 0);

        QSignalSpy aboutToReset(&model, &QAbstractItemModel::modelAboutToBeReset);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        QSignalSpy changed(&model, &Buttons::buttonsChanged);

        model.setButtons(Buttons::Ok);
        model.setButtons(Buttons::Ok);
        model.setButtons(Buttons::Yes | Buttons::No);
        QCOMPARE(aboutToReset.count(), 3);
        QCOMPARE(reset.count(), 3);
        QCOMPARE(changed.count(), 3);
        QCOMPARE(model.rowCount(), 2);

        model.setButtons(0);
        QCOMPARE(reset.count(), 4);
        QCOMPARE(model.rowCount(), 0);
    }

    void dataOutsideRowsAndRolesIsInvalid()
    {
        Buttons model;
        model.setButtons(Buttons::Ok);
        QVERIFY(!model.data(model.index(1), Buttons::IdRole).isValid());
        QVERIFY(!model.data(QModelIndex(), Buttons::CaptionRole).isValid());
        QVERIFY(!model.data(model.index(0), Qt::DisplayRole).isValid());
        QCOMPARE(model.data(model.index(0), Buttons::IdRole).userType(), int(QMetaType::Int));
        QCOMPARE(model.data(model.index(0), Buttons::AspectRole).userType(), int(QMetaType::Float));

        const QHash<int, QByteArray> roles = model.roleNames();
        QCOMPARE(roles.size(), 3);
        QCOMPARE(roles.value(257), QByteArray("id"));
        QCOMPARE(roles.value(258), QByteArray("caption"));
        QCOMPARE(roles.value(259), QByteArray("aspect"));
    }
};

QTEST_GUILESS_MAIN(TestButtons)

#include "tst_buttons.moc"
