#include "core/constants.h"
#include "discovery/servers_finder.h"

#include <QtTest>

using namespace rtu;

namespace {

const QString kId = QStringLiteral("{6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b}");
const QString kSeed = QStringLiteral("{0a0b0c0d-1111-4222-8333-444455556666}");
const QByteArray kZero(1, '\0');

} // namespace

class TestAnswerParsing : public QObject
{
    Q_OBJECT

private slots:
    void acceptedAnswers_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("systemName");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("flags");

        const int time = Constants::AllowChangeDateTimeFlag;
        const int ifConfig = Constants::AllowIfConfigFlag;
        const int factory = Constants::IsFactoryFlag;

        QTest::newRow("top level, application")
            << QByteArray("{\"application\":\"Media Server\",\"id\":\"{6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b}\","
                          "\"name\":\"Gate\",\"systemName\":\"North\",\"port\":7001,\"flags\":\"SF_timeCtrl\"}")
            << kId << "Gate" << "North" << 7001 << time;
        QTest::newRow("reply wrapper, type")
            << QByteArray("{\"error\":0,\"reply\":{\"type\":\"Media Server\",\"id\":\"6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b\","
                          "\"name\":\"Hall\",\"systemName\":\"South\",\"port\":8080}}")
            << kId << "Hall" << "South" << 8080 << 0;
        QTest::newRow("type accepted when application is another program")
            << QByteArray("{\"application\":\"Web Client\",\"type\":\"Media Server\",\"id\":\"{6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b}\"}")
            << kId << "" << "" << 0 << 0;
        QTest::newRow("seed wins over id")
            << QByteArray("{\"seed\":\"{0a0b0c0d-1111-4222-8333-444455556666}\",\"application\":\"Media Server\","
                          "\"id\":\"{6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b}\"}")
            << kSeed << "" << "" << 0 << 0;
        QTest::newRow("seed alone")
            << QByteArray("{\"application\":\"Media Server\",\"seed\":\"{0a0b0c0d-1111-4222-8333-444455556666}\"}")
            << kSeed << "" << "" << 0 << 0;
        QTest::newRow("malformed id is the null id")
            << QByteArray("{\"application\":\"Media Server\",\"id\":\"not-a-uuid\",\"name\":\"X\"}")
            << QString() << "X" << "" << 0 << 0;
        QTest::newRow("port as a string reads 0")
            << QByteArray("{\"application\":\"Media Server\",\"id\":\"{6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b}\",\"port\":\"7001\"}")
            << kId << "" << "" << 0 << 0;
        QTest::newRow("port out of int range reads 0")
            << QByteArray("{\"application\":\"Media Server\",\"port\":1e300}") << QString() << "" << "" << 0 << 0;
        QTest::newRow("non-string texts read empty")
            << QByteArray("{\"application\":\"Media Server\",\"id\":42,\"name\":{\"a\":1},\"systemName\":[1],\"flags\":7}")
            << QString() << "" << "" << 0 << 0;
        QTest::newRow("flags: interface and time markers")
            << QByteArray("{\"application\":\"Media Server\",\"flags\":\"SF_IfListCtrl SF_timeCtrl\"}")
            << QString() << "" << "" << 0 << (time | ifConfig);
        QTest::newRow("flags: factory marker only")
            << QByteArray("{\"application\":\"Media Server\",\"flags\":\"SF_AutoSystemName\"}")
            << QString() << "" << "" << 0 << factory;
        QTest::newRow("flags: markers are case-sensitive")
            << QByteArray("{\"application\":\"Media Server\",\"flags\":\"sf_timectrl SF_IFLISTCTRL\"}")
            << QString() << "" << "" << 0 << 0;
        QTest::newRow("text ends at a zero byte")
            << QByteArray("{\"application\":\"Media Server\",\"name\":\"Pad\"}") + kZero + "garbage{{"
            << QString() << "Pad" << "" << 0 << 0;
    }

    void acceptedAnswers()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, id);
        QFETCH(QString, name);
        QFETCH(QString, systemName);
        QFETCH(int, port);
        QFETCH(int, flags);

        const std::optional<BaseServerInfo> info = ServersFinder::parseAnswer(datagram);
        QVERIFY(info.has_value());
        QCOMPARE(info->id, QUuid(id));
        QCOMPARE(info->name, name);
        QCOMPARE(info->systemName, systemName);
        QCOMPARE(info->port, port);
        QCOMPARE(info->flags, flags);
        // Both addresses are the finder's business, never the answer's.
        QVERIFY(info->displayAddress.isEmpty());
        QVERIFY(info->hostAddress.isEmpty());
    }

    void rejectedDatagrams_data()
    {
        QTest::addColumn<QByteArray>("datagram");

        QTest::newRow("empty") << QByteArray();
        QTest::newRow("the request text") << ServersFinderParameters().request;
        QTest::newRow("not JSON") << QByteArray("Media Server");
        QTest::newRow("JSON array") << QByteArray("[{\"application\":\"Media Server\"}]");
        QTest::newRow("JSON string") << QByteArray("\"Media Server\"");
        QTest::newRow("other application") << QByteArray("{\"application\":\"Web Client\",\"id\":\"x\"}");
        QTest::newRow("application in other case") << QByteArray("{\"application\":\"media server\"}");
        QTest::newRow("application not a string") << QByteArray("{\"application\":[\"Media Server\"]}");
        QTest::newRow("reply not an object")
            << QByteArray("{\"application\":\"Media Server\",\"reply\":\"Media Server\"}");
        QTest::newRow("accepted key only outside the reply")
            << QByteArray("{\"application\":\"Media Server\",\"reply\":{\"name\":\"Inner\"}}");
        QTest::newRow("zero byte cuts the object")
            << QByteArray("{\"application\":\"Media Server\",") + kZero + "\"name\":\"x\"}";
        QTest::newRow("leading zero byte") << kZero + "{\"application\":\"Media Server\"}";
        QTest::newRow("not UTF-8")
            << QByteArray("{\"application\":\"Media Server\",\"name\":\"\xff\xfe\xc3\x28\"}");
        QTest::newRow("truncated") << QByteArray("{\"application\":\"Media Server\",\"name\":\"Cut");
        QTest::newRow("deeply nested") << QByteArray(60000, '[');
        QTest::newRow("a key twice")
            << QByteArray("{\"application\":\"Media Server\",\"name\":[\"A\"],\"name\":\"B\"}");
        QByteArray huge = "{\"application\":\"Web Client\",\"name\":\"";
        huge.append(QByteArray(65000, 'a')).append("\"}");
        QTest::newRow("huge, other application") << huge;
    }

    void rejectedDatagrams()
    {
        QFETCH(QByteArray, datagram);
        QVERIFY(!ServersFinder::parseAnswer(datagram).has_value());
    }

    void hugeAcceptedAnswerKeepsItsText()
    {
        const QString name(60000, QLatin1Char('n'));
        const QByteArray datagram = QByteArray("{\"application\":\"Media Server\",\"name\":\"") + name.toUtf8() + "\"}";
        const std::optional<BaseServerInfo> info = ServersFinder::parseAnswer(datagram);
        QVERIFY(info.has_value());
        QCOMPARE(info->name, name);
    }
};

QTEST_GUILESS_MAIN(TestAnswerParsing)
#include "tst_answer_parsing.moc"
