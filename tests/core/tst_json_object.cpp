#include "core/json_object.h"

#include <QJsonDocument>
#include <QtTest>

using namespace rtu;

namespace {

QByteArray nested(int depth)
{
    QByteArray text = "{\"a\":";
    for (int level = 1; level < depth; ++level)
        text += level % 2 ? "[" : "{\"a\":";
    text += "1";
    for (int level = depth - 1; level >= 1; --level)
        text += level % 2 ? "]" : "}";
    return text + "}";
}

// What a hostile host sends in one datagram: one key, over and over.
QByteArray repeatedKey(int size)
{
    QByteArray text = "{";
    while (text.size() < size - 16)
        text += "\"k\":[1],";
    return text + "\"k\":[1]}";
}

} // namespace

class TestJsonObject : public QObject
{
    Q_OBJECT

private slots:
    void readsWhatQtReads_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty object") << QByteArray("{}");
        QTest::newRow("reply") << QByteArray("{\"error\": \"0\", \"errorString\": \"\", \"reply\": {\"utcTime\": \"1\"}}");
        QTest::newRow("same key in sibling objects")
            << QByteArray("{\"reply\": [{\"name\": \"eth0\", \"dhcp\": true}, {\"name\": \"eth1\", \"dhcp\": false}]}");
        QTest::newRow("same key at two levels") << QByteArray("{\"a\": {\"a\": {\"a\": 1}}, \"b\": [{\"a\": 2}]}");
        QTest::newRow("escapes in keys and values")
            << QByteArray("{\"a\\\"b\": \"c\\\\d\", \"\\u00e9\": \"\\ud83d\\ude00\", \"\\/\": null, \"x\\ny\": -1.5e+3}");
        QTest::newRow("keys that differ after the escape") << QByteArray("{\"\\u0061\": 1, \"\\u0062\": 2, \"ab\": 3}");
        QTest::newRow("surrounding blanks") << QByteArray(" \r\n\t{ \"a\" : [ 1 , true , false , null ] } \n");
        QTest::newRow("deepest accepted") << nested(kMaxJsonDepth);
    }

    void readsWhatQtReads()
    {
        QFETCH(QByteArray, text);
        const std::optional<QJsonObject> object = parseJsonObject(text);
        QVERIFY(object);
        QCOMPARE(*object, QJsonDocument::fromJson(text).object());
    }

    void refuses_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not JSON") << QByteArray("<html>Service unavailable</html>");
        QTest::newRow("array") << QByteArray("[{}]");
        QTest::newRow("string") << QByteArray("\"{}\"");
        QTest::newRow("truncated") << QByteArray("{\"reply\": {\"utcTime\": \"1\"");
        QTest::newRow("unterminated key") << QByteArray("{\"reply");
        QTest::newRow("garbage after") << QByteArray("{} {}");
        QTest::newRow("key without quotes") << QByteArray("{a: 1}");
        QTest::newRow("bad escape") << QByteArray("{\"\\q\": 1}");
        QTest::newRow("short unicode escape") << QByteArray("{\"\\u12\": 1}");
        QTest::newRow("repeated key") << QByteArray("{\"a\": 1, \"a\": 2}");
        QTest::newRow("repeated key with containers") << QByteArray("{\"a\": [1], \"b\": 0, \"a\": {\"x\": 1}}");
        QTest::newRow("repeated key, nested") << QByteArray("{\"reply\": [{\"mac\": \"1\", \"mac\": \"2\"}]}");
        QTest::newRow("repeated through an escape") << QByteArray("{\"a\": [1], \"\\u0061\": [2]}");
        QTest::newRow("repeated through an escaped slash") << QByteArray("{\"/\": [1], \"\\/\": [2]}");
        QTest::newRow("repeated through a surrogate pair")
            << QByteArray("{\"\xF0\x9F\x98\x80\": [1], \"\\ud83d\\ude00\": [2]}");
        QTest::newRow("one level too deep") << nested(kMaxJsonDepth + 1);
        QTest::newRow("a datagram of one key") << repeatedKey(65000);
    }

    void refuses()
    {
        QFETCH(QByteArray, text);
        QVERIFY(!parseJsonObject(text));
    }
};

QTEST_GUILESS_MAIN(TestJsonObject)
#include "tst_json_object.moc"
