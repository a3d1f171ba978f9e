#include "discovery/server_registry.h"

#include <QtTest>

#include <algorithm>

using namespace rtu;

namespace {

QUuid idOf(int number)
{
    return QUuid(uint(number), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
}

QString refusalName(ServerRegistry::Refusal refusal)
{
    switch (refusal) {
    case ServerRegistry::Refusal::None: return QString();
    case ServerRegistry::Refusal::TooManyServers: return QStringLiteral("servers");
    case ServerRegistry::Refusal::TooManyIdsForAddress: return QStringLiteral("perAddress");
    case ServerRegistry::Refusal::TooManyAddressesForId: return QStringLiteral("perId");
    case ServerRegistry::Refusal::NotTrusted: return QStringLiteral("trust");
    }
    return QStringLiteral("?");
}

QString changeNames(int changes)
{
    QStringList names;
    const std::pair<int, const char *> known[] = {{ServerRegistry::NameChanged, "name"},
                                                  {ServerRegistry::SystemNameChanged, "system"},
                                                  {ServerRegistry::PortChanged, "port"},
                                                  {ServerRegistry::FlagsChanged, "flags"}};
    for (const auto &[bit, name] : known) {
        if (changes & bit)
            names.append(QLatin1String(name));
    }
    return names.join(QLatin1Char(','));
}

// Runs a script of "<ms> <action> [<argument>] [inputs] [outcomes]" steps and
// checks that each step has exactly the outcomes it lists; any other outcome
// fails. Actions: answer ADDRESS, trust/expect ADDRESS[,ADDRESS], ask ADDRESS,
// expire. Inputs change the answer's record: id=N, name=, system=, port=,
// flags=. Outcomes: added, followed, refused=REASON, changed=FIELDS,
// shown=ADDRESS, conflict=ADDRESSES (empty: it ended), wasUnknown, new,
// removed=IDS, gone=ADDRESSES.
void run(const QStringList &script)
{
    ServersFinderParameters parameters;
    parameters.maxServers = 3;
    parameters.maxServersPerAddress = 2;
    parameters.maxAddressesPerServer = 3;
    ServerRegistry registry(parameters);
    for (const QString &step : script) {
        const QStringList words = step.split(QLatin1Char(' '));
        const qint64 now = words.at(0).toLongLong();
        const QString action = words.at(1);
        const QString argument = action == QLatin1String("expire") ? QString() : words.at(2);
        BaseServerInfo record;
        record.id = idOf(1);
        record.name = QStringLiteral("Server");
        record.systemName = QStringLiteral("North");
        record.port = 7001;
        QMap<QString, QString> expected;
        for (const QString &word : words.mid(argument.isNull() ? 2 : 3)) {
            const QString key = word.section(QLatin1Char('='), 0, 0);
            const QString value = word.section(QLatin1Char('='), 1);
            if (key == QLatin1String("id"))
                record.id = idOf(value.toInt());
            else if (key == QLatin1String("name"))
                record.name = value;
            else if (key == QLatin1String("system"))
                record.systemName = value;
            else if (key == QLatin1String("port"))
                record.port = value.toInt();
            else if (key == QLatin1String("flags"))
                record.flags = value.toInt();
            else
                expected.insert(key, value);
        }

        QMap<QString, QString> actual;
        std::optional<ServerRegistry::ConflictChange> conflict;
        if (action == QLatin1String("answer")) {
            const ServerRegistry::Answer answer = registry.takeAnswer(record, argument, now);
            if (!answer.followed())
                actual.insert(QStringLiteral("refused"), refusalName(answer.refusal));
            else
                actual.insert(answer.added ? QStringLiteral("added") : QStringLiteral("followed"), QString());
            if (answer.changes & ~ServerRegistry::DisplayAddressSwitched)
                actual.insert(QStringLiteral("changed"), changeNames(answer.changes));
            if (answer.changes & ServerRegistry::DisplayAddressSwitched)
                actual.insert(QStringLiteral("shown"), answer.displayAddress);
            if (answer.unknownRemoved)
                actual.insert(QStringLiteral("wasUnknown"), QString());
            conflict = answer.conflict;
        } else if (action == QLatin1String("trust")) {
            conflict = registry.trustAddresses(idOf(1), argument.split(QLatin1Char(',')), now);
        } else if (action == QLatin1String("expect")) {
            conflict = registry.expectAddresses(idOf(1), argument.split(QLatin1Char(',')), now);
        } else if (action == QLatin1String("ask")) {
            if (registry.takeRequest(argument, now))
                actual.insert(QStringLiteral("new"), QString());
        } else {
            QCOMPARE(action, QStringLiteral("expire"));
            const ServerRegistry::Expiry expiry = registry.expire(now);
            QStringList removed;
            for (const QUuid &id : expiry.servers)
                removed.append(QString::number(id.data1));
            std::sort(removed.begin(), removed.end());
            if (!removed.isEmpty())
                actual.insert(QStringLiteral("removed"), removed.join(QLatin1Char(',')));
            if (!expiry.unknowns.isEmpty())
                actual.insert(QStringLiteral("gone"), expiry.unknowns.join(QLatin1Char(',')));
            QVERIFY(expiry.conflicts.size() <= 1);
            if (!expiry.conflicts.isEmpty())
                conflict = expiry.conflicts.first();
        }
        if (conflict)
            actual.insert(QStringLiteral("conflict"), conflict->addresses.join(QLatin1Char(',')));

        QStringList shown;
        for (auto it = actual.cbegin(); it != actual.cend(); ++it)
            shown.append(it.value().isNull() ? it.key() : it.key() + QLatin1Char('=') + it.value());
        QVERIFY2(actual == expected, qPrintable(step + QStringLiteral("  -> ") + shown.join(QLatin1Char(' '))));
    }
}

} // namespace

// Times are those of the tool: 12 s for servers, addresses and the displayed
// address, 60 s for unknown hosts, 180 s for an expected address.
class TestServerRegistry : public QObject
{
    Q_OBJECT

private slots:
    void trustAndConflict_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::newRow("a second host while the known one answers")
            << QStringList{"0 answer A added", "1000 answer B refused=trust conflict=A,B",
                           "1500 answer C refused=trust conflict=A,B,C", "2000 answer A followed shown=A"};
        QTest::newRow("a silence of exactly the time-out is no move")
            << QStringList{"0 answer A added", "12000 answer B refused=trust conflict=A,B"};
        QTest::newRow("a move once the known one is silent")
            << QStringList{"0 answer A added", "12001 answer B followed shown=B",
                           "12002 answer A refused=trust conflict=B,A"};
        QTest::newRow("the conflict ends when the other host falls silent")
            << QStringList{"0 answer A added", "1000 answer B refused=trust conflict=A,B",
                           "12500 answer A followed shown=A", "13000 expire", "13001 expire conflict="};
        QTest::newRow("an address made known keeps the one that answers")
            << QStringList{"0 answer A added", "1000 trust B", "2000 answer B followed shown=B",
                           "3000 answer A followed"};
        QTest::newRow("an address made known during a conflict ends it")
            << QStringList{"0 answer A added", "1000 answer B refused=trust conflict=A,B",
                           "2000 trust A,B conflict=", "3000 answer B followed shown=B"};
        QTest::newRow("an expected address ends a conflict at once")
            << QStringList{"0 answer A added", "1000 answer B refused=trust conflict=A,B",
                           "2000 expect B conflict=", "3000 answer B followed shown=B"};
        QTest::newRow("an expected address outlives trust updates for 180 s")
            << QStringList{"0 answer A added", "1000 expect B", "181000 answer A followed shown=A",
                           "181000 trust A", "181001 answer B followed"};
        QTest::newRow("and no longer")
            << QStringList{"0 answer A added", "1000 expect B", "181000 answer A followed shown=A",
                           "181001 trust A", "181002 answer B refused=trust conflict=A,B"};
    }
    void trustAndConflict() { QFETCH(QStringList, script); run(script); }

    void displayedAddressAndChanges_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::newRow("the second answer fills it in")
            << QStringList{"0 answer A added", "2000 answer A followed shown=A", "4000 answer A followed"};
        QTest::newRow("it stays while it answers every 12 s")
            << QStringList{"0 answer A added", "100 trust B", "2000 answer A followed shown=A",
                           "14000 answer B followed", "14001 answer B followed shown=B", "14002 answer A followed"};
        QTest::newRow("the factory flag alone is no change")
            << QStringList{"0 answer A added", "2000 answer A followed shown=A", "3000 answer A flags=4 followed",
                           "4000 answer A flags=5 followed changed=flags", "5000 answer A flags=1 followed"};
        QTest::newRow("name, system and port")
            << QStringList{"0 answer A added", "2000 answer A name=Other port=7002 followed shown=A changed=name,port",
                           "3000 answer A name=Other port=7002 system=South followed changed=system"};
    }
    void displayedAddressAndChanges() { QFETCH(QStringList, script); run(script); }

    void expiry_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::newRow("a server silent for more than 12 s")
            << QStringList{"0 answer A added", "12000 expire", "12001 expire removed=1", "12002 answer A added"};
        QTest::newRow("a clock that runs back expires nothing")
            << QStringList{"20000 answer A added", "1000 expire", "32000 expire"};
        QTest::newRow("an unknown host lives until 60 s without requests")
            << QStringList{"0 ask H new", "30000 ask H", "90000 expire", "90001 expire gone=H", "90002 ask H new"};
        QTest::newRow("an answering host is no unknown one until its answers are old")
            << QStringList{"0 ask A new", "1000 answer A added wasUnknown", "2000 ask A", "13000 expire",
                           "13001 ask A", "13001 expire removed=1", "13002 ask A new"};
    }
    void expiry() { QFETCH(QStringList, script); run(script); }

    // At most 3 servers, 2 new ids per address, 3 addresses per id.
    void limits_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::newRow("one address brings its share, all bring the total")
            << QStringList{"0 answer A id=1 added", "0 answer A id=2 added", "0 answer A id=3 refused=perAddress",
                           "0 answer B id=3 added", "0 answer B id=4 refused=servers"};
        QTest::newRow("servers that fall silent make room")
            << QStringList{"0 answer A id=1 added", "0 answer A id=2 added", "6000 answer B id=3 added",
                           "12001 expire removed=1,2", "12002 answer A id=4 added", "12002 answer A id=5 added"};
        QTest::newRow("an id is followed from a few addresses")
            << QStringList{"0 answer A added", "1000 answer B refused=trust conflict=A,B",
                           "1000 answer C refused=trust conflict=A,B,C", "1000 answer D refused=perId"};
    }
    void limits() { QFETCH(QStringList, script); run(script); }
};

QTEST_GUILESS_MAIN(TestServerRegistry)
#include "tst_server_registry.moc"
