#include "core/constants.h"

#include "private_network.h"
#include "tool_on_fleet.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace rtu;
using rtu::test::ToolOnFleet;

namespace {

// Two servers of one system with the first default password; they never
// share a new one between them, as servers whose sync takes time.
QJsonObject labFleet()
{
    return QJsonDocument::fromJson(R"({"servers": [
      {"name": "North", "systemName": "Lab", "addresses": ["127.0.0.2"]},
      {"name": "South", "systemName": "Lab", "addresses": ["127.0.0.3"]}
    ]})").object();
}

QStringList queryKeys(const QJsonValue &entry)
{
    QStringList keys;
    for (const QJsonValue &item : entry[QStringLiteral("query")].toArray())
        keys.append(item.toArray().at(0).toString());
    return keys;
}

} // namespace

// What a batch promises through the whole tool: a confirmed password stays
// confirmed, only what the batch asked for is sent, and a reply that says no
// (or cannot be read) is not taken for a yes.
class TestBatchHonesty : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    // A sibling logs in again with the old password, which it still has:
    // that must not undo the new one the changed server confirmed.
    void siblingLoginKeepsAConfirmedPassword()
    {
        ToolOnFleet tool;
        QVERIFY2(tool.start(labFleet()), qPrintable(tool.sim.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(tool.allLoggedIn(), ToolOnFleet::kWaitMs);
        QVERIFY(tool.select({QStringLiteral("North")}));

        tool.manager->addPasswordChange(QStringLiteral("Tide-42"));
        QVERIFY(tool.applyAndWait());
        QCOMPARE(tool.succeeded().size(), 1);
        QCOMPARE(tool.sim.server(QStringLiteral("North"))[QStringLiteral("password")].toString(),
                 QStringLiteral("Tide-42"));
        QCOMPARE(tool.sim.server(QStringLiteral("South"))[QStringLiteral("password")].toString(),
                 QStringLiteral("738"));
        // The design's forward copy: the sibling is given the new password too.
        QCOMPARE(tool.role(QStringLiteral("South"), ServersSelectionModel::DefaultPasswordRole).toBool(), false);

        // Selecting the sibling refreshes it: refused with the new password,
        // it logs in again with the old one.
        QVERIFY(tool.select({QStringLiteral("South")}));
        QTRY_VERIFY_WITH_TIMEOUT(tool.role(QStringLiteral("South"), ServersSelectionModel::DefaultPasswordRole).toBool(),
                                 ToolOnFleet::kWaitMs);
        QVERIFY(tool.loggedIn(QStringLiteral("South")));
        QCOMPARE(tool.role(QStringLiteral("North"), ServersSelectionModel::DefaultPasswordRole).toBool(), false);

        // The changed server's next refresh still gets in.
        const int before = tool.sim.requestLog().size();
        QVERIFY(tool.select({QStringLiteral("North")}));
        QTRY_VERIFY_WITH_TIMEOUT(tool.sim.requestLog().size() > before + 1, ToolOnFleet::kWaitMs);
        const QJsonArray log = tool.sim.requestLog();
        const QJsonObject refresh = log.at(before).toObject();
        QCOMPARE(refresh[QStringLiteral("name")].toString(), QStringLiteral("North"));
        QCOMPARE(refresh[QStringLiteral("auth")][QStringLiteral("password")].toString(), QStringLiteral("Tide-42"));
        QVERIFY(refresh[QStringLiteral("authorized")].toBool());
        QVERIFY(tool.loggedIn(QStringLiteral("North")));
    }

    // An apply refused for want of a selection keeps nothing for the next.
    void refusedApplyLeavesNothingStaged()
    {
        ToolOnFleet tool;
        QVERIFY2(tool.start(labFleet()), qPrintable(tool.sim.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(tool.allLoggedIn(), ToolOnFleet::kWaitMs);
        QVERIFY(tool.select({}));

        QSignalSpy pages(tool.context.get(), &RtuContext::currentPageChanged);
        tool.manager->addPortChange(7301);
        tool.manager->addSystemChange(QStringLiteral("Stale"));
        tool.manager->applyChanges();
        QCOMPARE(pages.count(), 0);

        QVERIFY(tool.select({QStringLiteral("North"), QStringLiteral("South")}));
        tool.sim.clearLog();
        tool.manager->addSystemChange(QStringLiteral("Asked"));
        QVERIFY(tool.applyAndWait());

        for (const QString &name : {QStringLiteral("North"), QStringLiteral("South")}) {
            const QJsonArray sent = tool.changeRequests(name);
            QCOMPARE(sent.size(), 1);
            QCOMPARE(queryKeys(sent.at(0)), QStringList({QStringLiteral("systemName"), QStringLiteral("oldPassword")}));
            const QJsonObject state = tool.sim.server(name);
            QCOMPARE(state[QStringLiteral("systemName")].toString(), QStringLiteral("Asked"));
            QCOMPARE(state[QStringLiteral("port")].toInt(), 7001);
        }
        QCOMPARE(tool.manager->totalChangesCount(), 2);
        QCOMPARE(tool.succeeded().size(), 2);
        QVERIFY(tool.failed().isEmpty());
    }

    // Every way a server's 200 says no, or says nothing readable, and a
    // failure that left the server changed: the row tells what the server
    // did, and whether it may have done it.
    void answersThatAreNoYes_data()
    {
        QTest::addColumn<QJsonObject>("knobs");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("applied");
        const QString refused = QStringLiteral("Refused here");
        const QString unreadable = QStringLiteral("Unreadable answer (HTTP 200); the change may have been applied");

        const QJsonValue refusals[] = {1, true, QStringLiteral("1.0"), QStringLiteral("0x1"), QStringLiteral("1e3")};
        for (const QJsonValue &error : refusals) {
            const QByteArray text = QJsonDocument(QJsonArray{error}).toJson(QJsonDocument::Compact);
            QTest::newRow(qPrintable(QStringLiteral("error %1").arg(QString::fromUtf8(text.mid(1, text.size() - 2)))))
                << QJsonObject{{QStringLiteral("error"), error}, {QStringLiteral("errorString"), refused}} << refused
                << false;
        }
        QTest::newRow("truncated JSON") << QJsonObject{{QStringLiteral("replyMode"), QStringLiteral("truncated")}}
                                        << unreadable << true;
        QTest::newRow("HTML page") << QJsonObject{{QStringLiteral("replyMode"), QStringLiteral("nonJson")}}
                                   << unreadable << true;
        QTest::newRow("500 after the change")
            << QJsonObject{{QStringLiteral("replyStatus"), 500}}
            << QStringLiteral("Internal Server Error; the change may have been applied") << true;
        QTest::newRow("nobody listens") << QJsonObject{{QStringLiteral("http"), QStringLiteral("closed")}}
                                        << QStringLiteral("Not sent (Network Error: #1)") << false;
    }

    void answersThatAreNoYes()
    {
        QFETCH(QJsonObject, knobs);
        QFETCH(QString, reason);
        QFETCH(bool, applied);
        ToolOnFleet tool;
        QVERIFY2(tool.start(labFleet()), qPrintable(tool.sim.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(tool.allLoggedIn(), ToolOnFleet::kWaitMs);
        QVERIFY(tool.select({QStringLiteral("North")}));

        knobs.insert(QStringLiteral("faultCommands"), QJsonArray{QStringLiteral("configure")});
        QVERIFY(!tool.sim.setKnobs(QStringLiteral("North"), knobs).isEmpty());
        tool.manager->addSystemChange(QStringLiteral("Renamed"));
        QVERIFY(tool.applyAndWait());

        QVERIFY(tool.succeeded().isEmpty());
        const QVector<test::SummaryRow> failed = tool.failed();
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).name, QStringLiteral("system name"));
        QCOMPARE(failed.at(0).reason, reason);
        QCOMPARE(tool.sim.server(QStringLiteral("North"))[QStringLiteral("systemName")].toString(),
                 applied ? QStringLiteral("Renamed") : QStringLiteral("Lab"));
    }
};

QTEST_GUILESS_MAIN(TestBatchHonesty)

#include "tst_batch_honesty.moc"
