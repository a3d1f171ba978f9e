#include "cli/cli_options.h"
#include "cli/input_rules.h"

#include <QtTest>

using namespace rtu::cli;

namespace {

QStringList split(const QString &line)
{
    return QProcess::splitCommand(line);
}

} // namespace

class TestCliOptions : public QObject
{
    Q_OBJECT

private slots:
    // The window's field rules, applied to typed text.
    void fieldRules_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("port 1") << "port" << "1" << true;
        QTest::newRow("port 65535") << "port" << "65535" << true;
        QTest::newRow("port 0") << "port" << "0" << false;
        QTest::newRow("port 65536") << "port" << "65536" << false;
        QTest::newRow("port with a leading zero") << "port" << "080" << false;
        QTest::newRow("port with a sign") << "port" << "+80" << false;
        QTest::newRow("port with a line end") << "port" << "80\n" << false;
        QTest::newRow("address") << "address" << "192.168.0.254" << true;
        QTest::newRow("address of zeros") << "address" << "0.0.0.0" << true;
        QTest::newRow("address 255") << "address" << "255.255.255.255" << true;
        QTest::newRow("octet 256") << "address" << "256.1.1.1" << false;
        QTest::newRow("octet with a leading zero") << "address" << "10.01.0.1" << false;
        QTest::newRow("three octets") << "address" << "10.0.0" << false;
        QTest::newRow("five octets") << "address" << "10.0.0.1.5" << false;
        QTest::newRow("empty octet") << "address" << "10..0.1" << false;
        QTest::newRow("trailing blank") << "address" << "10.0.0.1 " << false;
        QTest::newRow("name") << "blank" << " North " << false;
        QTest::newRow("blank name") << "blank" << " \t " << true;
    }

    void fieldRules()
    {
        QFETCH(QString, rule);
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        if (rule == QLatin1String("port"))
            QCOMPARE(isAcceptablePort(text), accepted);
        else if (rule == QLatin1String("address"))
            QCOMPARE(isAcceptableAddress(text), accepted);
        else
            QCOMPARE(isBlank(text), accepted);
    }

    // The confirmation compares the mask with what the server reports,
    // which is dotted.
    void masks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("dotted");
        QTest::newRow("dotted") << "255.255.240.0" << "255.255.240.0";
        QTest::newRow("prefix 24") << "24" << "255.255.255.0";
        QTest::newRow("prefix 20") << "20" << "255.255.240.0";
        QTest::newRow("prefix 0") << "0" << "0.0.0.0";
        QTest::newRow("prefix 32") << "32" << "255.255.255.255";
        QTest::newRow("prefix 33") << "33" << "";
        QTest::newRow("incomplete") << "255.255.0" << "";
        QTest::newRow("empty") << "" << "";
    }

    void masks()
    {
        QFETCH(QString, text);
        QFETCH(QString, dotted);
        QCOMPARE(dottedMask(text).value_or(QString()), dotted);
    }

    void refusedArguments_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no command") << "" << "missing command";
        QTest::newRow("unknown command") << "remove --all" << "unknown command \"remove\"";
        QTest::newRow("unknown option") << "list --colour" << "Unknown option 'colour'";
        QTest::newRow("a change with list") << "list --set-port 7001" << "--set-port belongs to apply";
        QTest::newRow("no selection") << "apply --set-port 7001" << "needs a selection";
        QTest::newRow("no change") << "apply --all" << "needs a change";
        QTest::newRow("all and a system") << "apply --all --system A --set-port 7001" << "leave out --system";
        QTest::newRow("blank system name") << "apply --all --set-system-name \"  \"" << "invalid system name";
        QTest::newRow("port 0") << "apply --all --set-port 0" << "invalid port \"0\"";
        QTest::newRow("port 65536") << "apply --all --set-port 65536" << "invalid port \"65536\"";
        QTest::newRow("port twice") << "apply --all --set-port 1 --set-port 2" << "--set-port is given more than once";
        QTest::newRow("unknown zone") << "apply --all --set-zone Mars/Olympus" << "unknown time zone \"Mars/Olympus\"";
        QTest::newRow("time in words") << "apply --all --set-time tomorrow" << "is neither now nor a date and time";
        QTest::newRow("date only") << "apply --all --set-time 2030-01-02" << "is neither now nor a date and time";
        QTest::newRow("year out of range") << "apply --all --set-time 2101-01-01T00:00:00" << "between 2000 and 2100";
        QTest::newRow("dhcp off") << "apply --all --dhcp off" << "--dhcp: only \"on\"";
        QTest::newRow("incomplete address") << "apply --all --set-ip eth0=10.0.0/24" << "invalid ip address for interface eth0";
        QTest::newRow("incomplete mask") << "apply --all --set-ip eth0=10.0.0.2/255.255" << "invalid mask for interface eth0";
        QTest::newRow("no mask") << "apply --all --set-ip eth0=10.0.0.2" << "needs ADDRESS/MASK or dhcp";
        QTest::newRow("no interface") << "apply --all --set-ip 10.0.0.2/24" << "expected INTERFACE=";
        QTest::newRow("bad gateway") << "apply --all --set-ip eth0=10.0.0.2/24,gw=10.0.0" << "invalid gateway";
        QTest::newRow("bad dns") << "apply --all --set-ip eth0=dhcp,dns=300.1.1.1" << "invalid dns";
        QTest::newRow("gateway under dhcp") << "apply --all --set-ip eth0=dhcp,gw=10.0.0.1" << "takes its gateway from DHCP";
        QTest::newRow("unknown setting") << "apply --all --set-ip eth0=dhcp,mtu=9000" << "unknown setting \"mtu=9000\"";
        QTest::newRow("interface twice") << "apply --all --set-ip eth0=dhcp --set-ip eth0=dhcp" << "eth0 is given twice";
        QTest::newRow("dhcp and set-ip") << "apply --all --dhcp on --set-ip eth0=dhcp" << "give one of them";
        QTest::newRow("wait of 0") << "list --wait 0" << "--wait: \"0\"";
        QTest::newRow("wait in words") << "list --wait soon" << "--wait: \"soon\"";
        QTest::newRow("login twice") << "list --login A --login A" << "a system is named twice";
        QTest::newRow("second command") << "list apply" << "unexpected argument \"apply\"";
    }

    void refusedArguments()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, message);
        const ParsedArguments parsed = parseArguments(split(arguments));
        QVERIFY2(parsed.error.contains(message), qPrintable(parsed.error));
    }

    void listOptions()
    {
        ParsedArguments parsed = parseArguments(split(QStringLiteral("list")));
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        QCOMPARE(parsed.options.command, Command::List);
        QCOMPARE(parsed.options.waitMs, 3000);
        QVERIFY(!parsed.options.json);
        QCOMPARE(parsed.options.secretsCount(), 0);

        parsed = parseArguments(split(QStringLiteral("list --wait 1.25 --json --login \"Warehouse A\" --login B")));
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        QCOMPARE(parsed.options.waitMs, 1250);
        QVERIFY(parsed.options.json);
        QCOMPARE(parsed.options.logins, QStringList({QStringLiteral("Warehouse A"), QStringLiteral("B")}));
        QCOMPARE(parsed.options.secretsCount(), 2);
    }

    void selectionAndPlainChanges()
    {
        // An empty name stands for the servers not set up yet.
        const ParsedArguments parsed = parseArguments(
            split(QStringLiteral("apply --system North --server 127.0.0.5 --set-system-name \" Depot 2 \" "
                                 "--set-port 7010 --set-password --login North --dry-run"))
            + QStringList{QStringLiteral("--system"), QString()});
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        const Options &options = parsed.options;
        QCOMPARE(options.command, Command::Apply);
        QCOMPARE(options.systems, QStringList({QStringLiteral("North"), QString()}));
        QCOMPARE(options.servers, QStringList{QStringLiteral("127.0.0.5")});
        QVERIFY(!options.all);
        // Sent as typed, as the window does.
        QCOMPARE(options.systemName.value_or(QString()), QStringLiteral(" Depot 2 "));
        QCOMPARE(options.port.value_or(0), 7010);
        QVERIFY(options.setPassword);
        QVERIFY(options.dryRun);
        QCOMPARE(options.secretsCount(), 2);
    }

    void interfaceSettings()
    {
        const ParsedArguments parsed = parseArguments(split(
            QStringLiteral("apply --server 127.0.0.5 --set-ip eth0=10.0.0.2/24,gw=10.0.0.1,dns= --set-ip eth1=dhcp")));
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        const QVector<InterfaceSetting> &settings = parsed.options.interfaces;
        QCOMPARE(settings.size(), 2);
        QCOMPARE(settings.at(0).name, QStringLiteral("eth0"));
        QVERIFY(!settings.at(0).dhcp);
        QCOMPARE(settings.at(0).address, QStringLiteral("10.0.0.2"));
        QCOMPARE(settings.at(0).mask, QStringLiteral("255.255.255.0"));
        QCOMPARE(settings.at(0).gateway.value_or(QStringLiteral("unset")), QStringLiteral("10.0.0.1"));
        // An empty value clears the setting: set, but empty.
        QCOMPARE(settings.at(0).dns.value_or(QStringLiteral("unset")), QString());
        QCOMPARE(settings.at(1).name, QStringLiteral("eth1"));
        QVERIFY(settings.at(1).dhcp);
        QVERIFY(!settings.at(1).dns);
        QVERIFY(!settings.at(1).gateway);
    }

    void times_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("now");
        QTest::addColumn<QDateTime>("wallClock");
        QTest::addColumn<qint64>("instantMs");
        QTest::newRow("now") << "now" << true << QDateTime() << qint64(-1);
        QTest::newRow("wall clock") << "2030-01-02T03:04:05" << false
                                    << QDateTime(QDate(2030, 1, 2), QTime(3, 4, 5)) << qint64(-1);
        QTest::newRow("without seconds") << "2030-01-02T03:04" << false
                                         << QDateTime(QDate(2030, 1, 2), QTime(3, 4)) << qint64(-1);
        QTest::newRow("fraction dropped") << "2030-01-02T03:04:05.678" << false
                                          << QDateTime(QDate(2030, 1, 2), QTime(3, 4, 5)) << qint64(-1);
        QTest::newRow("UTC") << "2030-01-02T03:04:05Z" << false << QDateTime()
                             << QDateTime(QDate(2030, 1, 2), QTime(3, 4, 5), Qt::UTC).toMSecsSinceEpoch();
        QTest::newRow("offset") << "2030-01-02T03:04:05+02:00" << false << QDateTime()
                                << QDateTime(QDate(2030, 1, 2), QTime(1, 4, 5), Qt::UTC).toMSecsSinceEpoch();
    }

    void times()
    {
        QFETCH(QString, text);
        QFETCH(bool, now);
        QFETCH(QDateTime, wallClock);
        QFETCH(qint64, instantMs);
        const ParsedArguments parsed = parseArguments({QStringLiteral("apply"), QStringLiteral("--all"),
                                                       QStringLiteral("--set-time"), text});
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        QVERIFY(parsed.options.time);
        const TimeSetting &time = *parsed.options.time;
        QCOMPARE(time.now, now);
        QCOMPARE(time.instantMs.value_or(-1), instantMs);
        if (wallClock.isValid()) {
            QCOMPARE(time.date, wallClock.date());
            QCOMPARE(time.time, wallClock.time());
        }
    }

    void zonesOfThePicker()
    {
        ParsedArguments parsed = parseArguments(split(QStringLiteral("apply --all --set-zone Asia/Tokyo")));
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        QCOMPARE(parsed.options.zoneId, QByteArrayLiteral("Asia/Tokyo"));
        // An alias the picker files under another row is pointed there.
        parsed = parseArguments(split(QStringLiteral("apply --all --set-zone Etc/UTC")));
        QVERIFY(parsed.error.contains(QStringLiteral("did you mean \"")));
    }

    void helpAndVersionNeedNothingElse()
    {
        QCOMPARE(parseArguments(split(QStringLiteral("--help"))).options.command, Command::Help);
        QCOMPARE(parseArguments(split(QStringLiteral("apply -h"))).options.command, Command::Help);
        QCOMPARE(parseArguments(split(QStringLiteral("--version"))).options.command, Command::Version);
        const QRegularExpression version(QStringLiteral("^tessaly-config-cli \\d+(\\.\\d+)+ \\(revision \\w+\\)\n$"));
        QVERIFY2(version.match(versionText()).hasMatch(), qPrintable(versionText()));
    }
};

QTEST_GUILESS_MAIN(TestCliOptions)
#include "tst_cli_options.moc"
