#include "cli/cli_options.h"
#include "cli/draft_builder.h"
#include "cli/secret_input.h"
#include "field_inputs.h"

#include <QtTest>

using namespace rtu::cli;
using rtu::test::FieldInput;
using rtu::test::fieldInputs;

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
    // The values the window's fields take or refuse, given to the command:
    // it must take and refuse the same (the Qt Quick side runs this table
    // through the panels).
    void fieldTable_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        for (const FieldInput &input : fieldInputs()) {
            QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(input.field, input.why)))
                << input.field << input.text << input.accepted;
        }
    }

    void fieldTable()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        const QString server = QStringLiteral("127.0.0.5");
        const QString address = QStringLiteral("10.1.0.9");
        const QString mask = QStringLiteral("255.255.0.0");
        QStringList arguments{QStringLiteral("apply"), QStringLiteral("--server"), server};
        if (field == QLatin1String("port"))
            arguments << QStringLiteral("--set-port") << text;
        else if (field == QLatin1String("address"))
            arguments << QStringLiteral("--set-ip") << QStringLiteral("eth0=%1/%2").arg(text, mask);
        else if (field == QLatin1String("mask"))
            arguments << QStringLiteral("--set-ip") << QStringLiteral("eth0=%1/%2").arg(address, text);
        else if (field == QLatin1String("gateway"))
            arguments << QStringLiteral("--set-ip") << QStringLiteral("eth0=%1/%2,gw=%3").arg(address, mask, text);
        else if (field == QLatin1String("dns"))
            arguments << QStringLiteral("--set-ip") << QStringLiteral("eth0=%1/%2,dns=%3").arg(address, mask, text);
        else if (field == QLatin1String("systemName"))
            arguments << QStringLiteral("--set-system-name") << text;
        else
            arguments << QStringLiteral("--set-password");
        const ParsedArguments parsed = parseArguments(arguments);
        QString error = parsed.error;
        if (error.isEmpty() && field == QLatin1String("password")) {
            // The new password comes from standard input, checked as the command does.
            Secrets secrets;
            secrets.newPassword = text;
            error = checkValues(parsed.options, secrets);
        }
        QVERIFY2(error.isEmpty() == accepted, qPrintable(error.isEmpty() ? QStringLiteral("taken") : error));
        // A refused value is named, shortened when it is long.
        if (!accepted)
            QVERIFY2(error.size() < 400, qPrintable(error));
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
        QTest::newRow("one dash") << "apply -all --set-port 7001" << "unknown option \"-all\" (long options take two dashes: --all)";
        QTest::newRow("one dash, list") << "list -json" << "unknown option \"-json\"";
        QTest::newRow("expect none") << "apply --all --expect 0 --set-port 7001" << "--expect: \"0\" is not a number";
        QTest::newRow("expect in words") << "apply --all --expect two --set-port 7001" << "--expect: \"two\"";
        QTest::newRow("expect with list") << "list --expect 2" << "--expect belongs to apply";
        QTest::newRow("timeout of 0") << "list --timeout 0" << "--timeout: \"0\"";
        QTest::newRow("no mask") << "apply --all --set-ip eth0=10.0.0.2" << "needs ADDRESS/MASK or dhcp";
        QTest::newRow("no interface") << "apply --all --set-ip 10.0.0.2/24" << "expected INTERFACE=";
        QTest::newRow("bad gateway") << "apply --all --set-ip eth0=10.0.0.2/255.255.255.0,gw=10.0.0" << "invalid gateway";
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

    // A huge value comes back shortened, whatever option carried it.
    void hugeValuesAreShortened_data()
    {
        QTest::addColumn<QStringList>("arguments");
        const QString huge = QStringLiteral("7").repeated(100000);
        QTest::newRow("port") << QStringList{QStringLiteral("apply"), QStringLiteral("--all"), QStringLiteral("--set-port"), huge};
        QTest::newRow("zone") << QStringList{QStringLiteral("apply"), QStringLiteral("--all"), QStringLiteral("--set-zone"), huge};
        QTest::newRow("address") << QStringList{QStringLiteral("apply"), QStringLiteral("--all"), QStringLiteral("--set-ip"),
                                                QStringLiteral("eth0=%1/255.0.0.0").arg(huge)};
        QTest::newRow("command") << QStringList{huge};
        QTest::newRow("wait") << QStringList{QStringLiteral("list"), QStringLiteral("--wait"), huge + QLatin1Char('s')};
    }

    void hugeValuesAreShortened()
    {
        QFETCH(QStringList, arguments);
        const QString error = parseArguments(arguments).error;
        QVERIFY(!error.isEmpty());
        QVERIFY2(error.size() < 300, qPrintable(error.left(300)));
        QVERIFY2(error.contains(QStringLiteral("(100000 characters)")) || error.contains(QStringLiteral("(100001 characters)")),
                 qPrintable(error));
    }

    void listOptions()
    {
        ParsedArguments parsed = parseArguments(split(QStringLiteral("list")));
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        QCOMPARE(parsed.options.command, Command::List);
        QCOMPARE(parsed.options.waitMs, kDefaultWaitMs);
        QVERIFY(!parsed.options.timeoutMs);
        QVERIFY(!parsed.options.json);
        QCOMPARE(parsed.options.secretsCount(), 0);

        parsed = parseArguments(split(QStringLiteral("list --wait 1.25 --timeout 9 --json --login \"Warehouse A\" --login B")));
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        QCOMPARE(parsed.options.waitMs, 1250);
        QCOMPARE(parsed.options.timeoutMs.value_or(0), 9000);
        QVERIFY(parsed.options.json);
        QCOMPARE(parsed.options.logins, QStringList({QStringLiteral("Warehouse A"), QStringLiteral("B")}));
        QCOMPARE(parsed.options.secretsCount(), 2);
    }

    void selectionAndPlainChanges()
    {
        // An empty name stands for the servers not set up yet.
        const ParsedArguments parsed = parseArguments(
            split(QStringLiteral("apply --system North --server 127.0.0.5 --set-system-name \" Depot 2 \" "
                                 "--set-port 7010 --set-password --login North --dry-run --expect 2"))
            + QStringList{QStringLiteral("--system"), QString()});
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        const Options &options = parsed.options;
        QCOMPARE(options.command, Command::Apply);
        QCOMPARE(options.systems, QStringList({QStringLiteral("North"), QString()}));
        QCOMPARE(options.servers, QStringList{QStringLiteral("127.0.0.5")});
        QVERIFY(!options.all);
        // Sent as typed, as the window does.
        QCOMPARE(options.systemName.value_or(QString()), QStringLiteral(" Depot 2 "));
        QCOMPARE(options.port.value_or(QString()), QStringLiteral("7010"));
        QCOMPARE(options.expect.value_or(0), 2);
        QVERIFY(options.setPassword);
        QVERIFY(options.dryRun);
        QCOMPARE(options.secretsCount(), 2);
    }

    void interfaceSettings()
    {
        const ParsedArguments parsed = parseArguments(split(
            QStringLiteral("apply --server 127.0.0.5 --set-ip eth0=10.0.0.2/255.255.255.0,gw=10.0.0.1,dns= --set-ip eth1=dhcp")));
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        const QVector<rtu::InterfaceEdit> &settings = parsed.options.interfaces;
        QCOMPARE(settings.size(), 2);
        QCOMPARE(settings.at(0).name, QStringLiteral("eth0"));
        QVERIFY(!settings.at(0).useDhcp);
        QCOMPARE(settings.at(0).address, QStringLiteral("10.0.0.2"));
        QCOMPARE(settings.at(0).mask, QStringLiteral("255.255.255.0"));
        QCOMPARE(settings.at(0).gateway.value_or(QStringLiteral("unset")), QStringLiteral("10.0.0.1"));
        // An empty value clears the setting: set, but empty.
        QCOMPARE(settings.at(0).dns.value_or(QStringLiteral("unset")), QString());
        QCOMPARE(settings.at(1).name, QStringLiteral("eth1"));
        QVERIFY(settings.at(1).useDhcp);
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
