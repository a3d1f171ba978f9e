#include "core/constants.h"
#include "core/server_info.h"

#include <QtTest>

using namespace rtu;

class TestServerInfo : public QObject
{
    Q_OBJECT

private:
    static BaseServerInfo base()
    {
        BaseServerInfo info;
        info.id = QUuid::fromString(QStringLiteral("{1b8d3a3c-0f3e-4c5b-9a61-6d0b2b1c7e01}"));
        info.displayAddress = QStringLiteral("10.0.0.5");
        info.flags = Constants::AllowIfConfigFlag;
        info.name = QStringLiteral("Server 1");
        info.systemName = QStringLiteral("North");
        info.hostAddress = QStringLiteral("10.0.0.5");
        info.port = 7001;
        return info;
    }

    static ExtraServerInfo extra(const QString &password)
    {
        return ExtraServerInfo(password, 1000, 2000, "Europe/Berlin",
                               {InterfaceInfo(QStringLiteral("eth0"), QStringLiteral("10.0.0.5"),
                                              QStringLiteral("00:11:22:33:44:55"), QStringLiteral("255.0.0.0"),
                                              QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.2"), Qt::Checked)});
    }

private slots:
    void defaultRecords()
    {
        const BaseServerInfo info;
        QVERIFY(info.id.isNull());
        QVERIFY(info.name.isEmpty() && info.systemName.isEmpty() && info.hostAddress.isEmpty());
        QCOMPARE(info.flags, 0);
        QCOMPARE(info.port, 0);
        const InterfaceInfo iface;
        QCOMPARE(iface.useDHCP, 0);
        const ExtraServerInfo extraInfo;
        QCOMPARE(extraInfo.timestampMs, 0);
        QVERIFY(extraInfo.interfaces.isEmpty());
        QVERIFY(!ServerInfo().hasExtraInfo());
    }

    void baseEquality_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<bool>("equal");
        // 0 id, 1 name, 2 port, 3 systemName, 4 hostAddress, 5 displayAddress, 6 flags
        QTest::newRow("id") << 0 << false;
        QTest::newRow("name") << 1 << false;
        QTest::newRow("port") << 2 << false;
        QTest::newRow("system name") << 3 << false;
        QTest::newRow("host address") << 4 << true;
        QTest::newRow("display address") << 5 << true;
        QTest::newRow("flags") << 6 << true;
    }

    void baseEquality()
    {
        QFETCH(int, field);
        QFETCH(bool, equal);
        const BaseServerInfo first = base();
        BaseServerInfo second = first;
        switch (field) {
        case 0: second.id = QUuid::createUuid(); break;
        case 1: second.name += QLatin1Char('x'); break;
        case 2: second.port += 1; break;
        case 3: second.systemName += QLatin1Char('x'); break;
        case 4: second.hostAddress = QStringLiteral("10.0.0.99"); break;
        case 5: second.displayAddress = QStringLiteral("10.0.0.99"); break;
        case 6: second.flags = Constants::IsFactoryFlag | Constants::AllowChangeDateTimeFlag; break;
        }
        QCOMPARE(first == second, equal);
        QCOMPARE(first != second, !equal);
    }

    void interfaceEqualityIgnoresName_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<bool>("equal");
        QTest::newRow("name") << 0 << true;
        QTest::newRow("ip") << 1 << false;
        QTest::newRow("mac") << 2 << false;
        QTest::newRow("mask") << 3 << false;
        QTest::newRow("gateway") << 4 << false;
        QTest::newRow("dns") << 5 << false;
        QTest::newRow("dhcp") << 6 << false;
    }

    void interfaceEqualityIgnoresName()
    {
        QFETCH(int, field);
        QFETCH(bool, equal);
        const InterfaceInfo first = extra(QString()).interfaces.first();
        InterfaceInfo second = first;
        const QString other = QStringLiteral("1.2.3.4");
        switch (field) {
        case 0: second.name = QStringLiteral("eth9"); break;
        case 1: second.ip = other; break;
        case 2: second.macAddress = other; break;
        case 3: second.mask = other; break;
        case 4: second.gateway = other; break;
        case 5: second.dns = other; break;
        case 6: second.useDHCP = Qt::Unchecked; break;
        }
        QCOMPARE(first == second, equal);
        QCOMPARE(first != second, !equal);
    }

    void flagDecoding_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("flags");
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("interface and time") << QStringLiteral("SF_IfListCtrl SF_timeCtrl") << 3;
        QTest::newRow("time in lower case") << QStringLiteral("sf_timectrl") << 0;
        QTest::newRow("factory only") << QStringLiteral("SF_AutoSystemName") << 4;
        QTest::newRow("all three, glued") << QStringLiteral("SF_timeCtrl|SF_IfListCtrl|SF_AutoSystemName") << 7;
        QTest::newRow("marker inside a word") << QStringLiteral("xSF_IfListCtrlx") << 2;
        QTest::newRow("unknown markers") << QStringLiteral("SF_Has_HDD SF_ArmServer") << 0;
    }

    void flagDecoding()
    {
        QFETCH(QString, text);
        QFETCH(int, flags);
        QCOMPARE(flagsFromText(text), flags);
    }

    void copyIsDeep()
    {
        ServerInfo original(base(), extra(QStringLiteral("one")));
        ServerInfo copy(original);
        copy.writableExtraInfo().password = QStringLiteral("two");
        copy.writableBaseInfo().name = QStringLiteral("Renamed");
        QCOMPARE(original.extraInfo().password, QStringLiteral("one"));
        QCOMPARE(original.baseInfo().name, QStringLiteral("Server 1"));
        QVERIFY(!ServerInfo(ServerInfo(base())).hasExtraInfo());
    }

    void assignmentKeepsExtraWhenSourceHasNone()
    {
        ServerInfo target(base(), extra(QStringLiteral("secret")));
        BaseServerInfo renamed = base();
        renamed.name = QStringLiteral("Renamed");
        target = ServerInfo(renamed);
        QVERIFY(target.hasExtraInfo());
        QCOMPARE(target.extraInfo().password, QStringLiteral("secret"));
        QCOMPARE(target.baseInfo().name, QStringLiteral("Renamed"));

        const ServerInfo plain(renamed);
        target = plain;
        QVERIFY(target.hasExtraInfo());
    }

    void assignmentCopiesExtraWhenSourceHasIt()
    {
        ServerInfo target(base());
        const ServerInfo source(base(), extra(QStringLiteral("new")));
        target = source;
        QVERIFY(target.hasExtraInfo());
        QCOMPARE(target.extraInfo().password, QStringLiteral("new"));
        target.writableExtraInfo().password = QStringLiteral("changed");
        QCOMPARE(source.extraInfo().password, QStringLiteral("new"));

        ServerInfo other(base(), extra(QStringLiteral("old")));
        other = source;
        QCOMPARE(other.extraInfo().password, QStringLiteral("new"));
        QCOMPARE(other.extraInfo().interfaces.size(), 1);
    }

    void resetExtraInfo()
    {
        ServerInfo plain(base());
        plain.resetExtraInfo();
        QVERIFY(!plain.hasExtraInfo());
        QCOMPARE(plain.baseInfo(), base());

        ServerInfo logged(base(), extra(QStringLiteral("pw")));
        logged.resetExtraInfo();
        QVERIFY(!logged.hasExtraInfo());
        logged.setExtraInfo(extra(QStringLiteral("again")));
        QCOMPARE(logged.extraInfo().password, QStringLiteral("again"));
    }
};

QTEST_GUILESS_MAIN(TestServerInfo)
#include "tst_server_info.moc"
