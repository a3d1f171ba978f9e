#include "core/date_time_helpers.h"
#include "core/server_info.h"
#include "models/time_zones_model.h"

#include <QAbstractItemModelTester>
#include <QTimer>
#include <QtTest>

#include <ctime>
#include <memory>
#include <vector>

using namespace rtu;

// The workstation's zone comes from TZ, set in main() before Qt reads it.
static const char kWorkstationZone[] = "Asia/Tokyo";

namespace {

// Owns the servers of a test selection.
class Servers
{
public:
    void add(const QByteArray &zone, bool loggedIn = true)
    {
        BaseServerInfo base;
        base.id = QUuid::createUuid();
        base.name = QStringLiteral("server");
        m_servers.push_back(loggedIn ? std::make_unique<ServerInfo>(
                                           base, ExtraServerInfo(QStringLiteral("pw"), 0, 0, zone, {}))
                                     : std::make_unique<ServerInfo>(base));
    }

    ServerInfoPtrContainer selection() const
    {
        ServerInfoPtrContainer result;
        for (const auto &server : m_servers)
            result.append(server.get());
        return result;
    }

private:
    std::vector<std::unique_ptr<ServerInfo>> m_servers;
};

ServerInfoPtrContainer oneServerIn(Servers &servers, const QByteArray &zone)
{
    servers.add(zone);
    return servers.selection();
}

int rowOfZone(const QByteArray &zone)
{
    Servers servers;
    return TimeZonesModel(oneServerIn(servers, zone), nullptr).initIndex();
}

QString display(const TimeZonesModel &model, int row)
{
    return model.data(model.index(row, 0), Qt::DisplayRole).toString();
}

// A stand-in database: identifier -> (text, standard offset).
TimeZoneLookup lookupOf(const QHash<QByteArray, TimeZoneFacts> &facts)
{
    return [facts](const QByteArray &id) { return facts.value(id, TimeZoneFacts{QString::fromUtf8(id), 0}); };
}

} // namespace

class TestTimeZonesModel : public QObject
{
    Q_OBJECT

private slots:
    // Runs first, while the platform's list is not built yet in this process.
    void platformListIsPreparedAheadInSlices()
    {
        QObject context;
        TimeZonesModel::prepareAhead(&context);
        QCOMPARE(context.findChildren<QTimer *>().size(), 1);
        QCoreApplication::processEvents();
        QVERIFY2(!context.findChildren<QTimer *>().isEmpty(), "the whole list was built in one turn");
        QTRY_VERIFY(context.findChildren<QTimer *>().isEmpty());
        QVERIFY(TimeZonesModel(ServerInfoPtrContainer(), nullptr).rowCount() > 100);
    }

    void rowsFollowTheStandardOffset()
    {
        Servers servers;
        TimeZonesModel model(oneServerIn(servers, "Europe/Berlin"), nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(model.rowCount() > 100);

        const QDateTime now = QDateTime::currentDateTime();
        int previousOffset = INT_MIN;
        QString previousName;
        QSet<QString> names;
        for (int row = 0; row < model.rowCount(); ++row) {
            const QByteArray id = model.timeZoneIdByIndex(row);
            QVERIFY(model.isValidValue(row));
            QCOMPARE(model.data(model.index(row, 0), Qt::UserRole).toByteArray(), id);
            const QTimeZone zone(id);
            QVERIFY2(zone.isValid(), id.constData());
            const int offset = zone.standardTimeOffset(now);
            const QString name = display(model, row);
            QVERIFY2(offset > previousOffset || (offset == previousOffset && name > previousName),
                     qPrintable(name));
            QVERIFY2(!names.contains(name), qPrintable(name));
            names.insert(name);
            previousOffset = offset;
            previousName = name;
        }
        QCOMPARE(model.timeZoneIdByIndex(model.initIndex()), QByteArray("Europe/Berlin"));
        QCOMPARE(display(model, model.initIndex()), timeZoneDisplayText(QTimeZone("Europe/Berlin"), now));
    }

    void everyTextRoleShowsTheName()
    {
        Servers servers;
        TimeZonesModel model(oneServerIn(servers, "Asia/Tokyo"), nullptr);
        const QModelIndex index = model.index(model.initIndex(), 0);
        const QString name = display(model, model.initIndex());
        QVERIFY(!name.isEmpty());
        for (const int role : {Qt::EditRole, Qt::ToolTipRole, Qt::StatusTipRole, Qt::WhatsThisRole,
                               Qt::AccessibleTextRole, Qt::AccessibleDescriptionRole})
            QCOMPARE(model.data(index, role).toString(), name);
        QVERIFY(!model.data(index, Qt::DecorationRole).isValid());
        QVERIFY(!model.data(index, Qt::UserRole + 1).isValid());
        QVERIFY(!model.data(QModelIndex(), Qt::DisplayRole).isValid());
        QCOMPARE(model.rowCount(index), 0);
    }

    void utcAliasesShareTheZeroOffsetRow()
    {
        const int utcRow = rowOfZone("UTC");
        QCOMPARE(rowOfZone("Etc/UTC"), utcRow);
        QCOMPARE(rowOfZone("GMT"), utcRow);
        QCOMPARE(rowOfZone("Universal"), utcRow);
        QCOMPARE(rowOfZone("Etc/GMT+0"), utcRow);

        Servers servers;
        TimeZonesModel model(oneServerIn(servers, "Etc/UTC"), nullptr);
        QCOMPARE(model.initIndex(), utcRow);
        QVERIFY(model.isValidValue(utcRow));
        const QByteArray first = model.timeZoneIdByIndex(utcRow);
        QVERIFY(!first.isEmpty());
        QCOMPARE(QTimeZone(first).standardTimeOffset(QDateTime::currentDateTime()), 0);
        // A zone of another offset is not merged in.
        QVERIFY(rowOfZone("UTC+01:00") != utcRow);
        QVERIFY(rowOfZone("UTC+01:00") > utcRow);
    }

    // Without a "Universal" row, UTC is not shown or sent as a region that
    // happens to share its offset.
    void utcIsNeverAnotherRegion()
    {
        const QList<QByteArray> regions{"Africa/Abidjan", "Europe/London", "UTC"};
        const QHash<QByteArray, TimeZoneFacts> facts{
            {"Africa/Abidjan", {QStringLiteral("(UTC+00:00) Africa/Abidjan"), 0}},
            {"Europe/London", {QStringLiteral("(UTC+00:00) Europe/London"), 0}},
            {"UTC", {QStringLiteral("UTC"), 0}}};
        Servers servers;
        TimeZonesModel model(oneServerIn(servers, "Etc/UTC"), nullptr, regions, lookupOf(facts));
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(display(model, model.initIndex()), QStringLiteral("(UTC+00:00) UTC"));
        QCOMPARE(model.timeZoneIdByIndex(model.initIndex()), QByteArray("UTC"));
        QCOMPARE(model.timeZoneIdByIndex(0), QByteArray("Africa/Abidjan"));

        // The same on this platform, for a server and for the workstation.
        Servers platform;
        TimeZonesModel real(oneServerIn(platform, "UTC"), nullptr);
        const QByteArray id = real.timeZoneIdByIndex(real.initIndex());
        QVERIFY2(id == "UTC" || id.startsWith("Etc/U") || id == "Universal", id.constData());
        qputenv("TZ", "UTC");
        tzset();
        const QByteArray workstation = real.timeZoneIdByIndex(real.currentTimeZoneIndex());
        qputenv("TZ", kWorkstationZone);
        tzset();
        QCOMPARE(workstation, id);
    }

    void utcJoinsTheUniversalRowWhereThereIsOne()
    {
        const QList<QByteArray> ids{"Africa/Abidjan", "Etc/Zulu", "UTC", "Europe/Berlin", "UTC+01:00"};
        const QHash<QByteArray, TimeZoneFacts> facts{
            {"Africa/Abidjan", {QStringLiteral("(UTC+00:00) Africa/Abidjan"), 0}},
            {"Etc/Zulu", {QStringLiteral("Coordinated Universal Time"), 0}},
            {"Europe/Berlin", {QStringLiteral("most of Germany"), 3600}},
            {"UTC+01:00", {QStringLiteral("UTC+01:00"), 3600}}};
        Servers servers;
        TimeZonesModel model(oneServerIn(servers, "Universal"), nullptr, ids, lookupOf(facts));
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(display(model, model.initIndex()), QStringLiteral("Coordinated Universal Time"));
        QCOMPARE(model.timeZoneIdByIndex(model.initIndex()), QByteArray("Etc/Zulu"));
        Servers offsetOnly;
        TimeZonesModel plusOne(oneServerIn(offsetOnly, "UTC+01:00"), nullptr, ids, lookupOf(facts));
        QCOMPARE(display(plusOne, plusOne.initIndex()), QStringLiteral("most of Germany"));
    }

    void typedTextFindsTheRow_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("zone");
        QTest::newRow("city of the identifier") << "Berlin" << QByteArray("Europe/Berlin");
        QTest::newRow("any case, blank for underscore") << "new york" << QByteArray("America/New_York");
        QTest::newRow("shown text") << timeZoneDisplayText(QTimeZone("Asia/Tokyo"), QDateTime::currentDateTime()).toUpper()
                                    << QByteArray("Asia/Tokyo");
        QTest::newRow("nothing typed") << "  " << QByteArray();
        QTest::newRow("no such place") << "Atlantis" << QByteArray();
        QTest::newRow("not a zone row") << "Different" << QByteArray();
    }

    void typedTextFindsTheRow()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, zone);
        Servers servers;
        servers.add("Europe/Berlin");
        servers.add("Asia/Tokyo");
        TimeZonesModel model(servers.selection(), nullptr);
        const int row = model.indexOfText(typed);
        if (zone.isEmpty()) {
            QCOMPARE(row, -1);
            return;
        }
        QVERIFY(row > 0);
        Servers in;
        TimeZonesModel reference(oneServerIn(in, zone), nullptr);
        QCOMPARE(display(model, row), display(reference, reference.initIndex()));
    }

    void differentZonesGiveTheDifferentRow_data()
    {
        QTest::addColumn<QList<QByteArray>>("zones");
        QTest::addColumn<bool>("firstLoggedIn");
        QTest::newRow("two zones") << QList<QByteArray>{"Europe/Berlin", "Asia/Tokyo"} << true;
        QTest::newRow("nothing selected") << QList<QByteArray>{} << true;
        QTest::newRow("first not logged in") << QList<QByteArray>{"Europe/Berlin"} << false;
        QTest::newRow("second not logged in") << QList<QByteArray>{"Europe/Berlin", QByteArray()} << true;
    }

    void differentZonesGiveTheDifferentRow()
    {
        QFETCH(QList<QByteArray>, zones);
        QFETCH(bool, firstLoggedIn);
        Servers servers;
        for (int i = 0; i < zones.size(); ++i)
            servers.add(zones.at(i), i == 0 ? firstLoggedIn : !zones.at(i).isEmpty());
        TimeZonesModel model(servers.selection(), nullptr);
        Servers plain;
        TimeZonesModel reference(oneServerIn(plain, "Europe/Berlin"), nullptr);

        QCOMPARE(model.rowCount(), reference.rowCount() + 1);
        QCOMPARE(model.initIndex(), 0);
        QCOMPARE(model.property("initIndex").toInt(), 0);
        QCOMPARE(display(model, 0), QStringLiteral("<Different>"));
        QCOMPARE(model.timeZoneIdByIndex(0), QByteArray("<Different>"));
        QVERIFY(!model.isValidValue(0));
        QVERIFY(model.isValidValue(1));
        QCOMPARE(display(model, 1), display(reference, 0));
    }

    void unknownZoneGivesTheUnknownRow_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::newRow("not in the database") << QByteArray("Mars/Olympus_Mons");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("valid but not listed") << QByteArray("America/Atka");
    }

    void unknownZoneGivesTheUnknownRow()
    {
        QFETCH(QByteArray, zone);
        Servers servers;
        servers.add(zone);
        servers.add(zone);
        TimeZonesModel model(servers.selection(), nullptr);
        QCOMPARE(model.initIndex(), 0);
        QCOMPARE(display(model, 0), QStringLiteral("<Unknown>"));
        QCOMPARE(model.data(model.index(0, 0), Qt::UserRole).toByteArray(), QByteArray("<Unknown>"));
        QVERIFY(!model.isValidValue(0));
        QVERIFY(model.isValidValue(1));
        QCOMPARE(model.rowCount(), TimeZonesModel(ServerInfoPtrContainer(), nullptr).rowCount());
    }

    void indexesOutsideTheList()
    {
        TimeZonesModel model(ServerInfoPtrContainer(), nullptr);
        const int count = model.rowCount();
        QCOMPARE(model.timeZoneIdByIndex(-1), QByteArray());
        QCOMPARE(model.timeZoneIdByIndex(count), QByteArray());
        QVERIFY(!model.timeZoneIdByIndex(count - 1).isEmpty());
        QVERIFY(!model.isValidValue(-1));
        QVERIFY(!model.isValidValue(count));
        QVERIFY(model.isValidValue(count - 1));
    }

    void workstationZone()
    {
        QCOMPARE(QDateTime::currentDateTime().timeZone().id(), QByteArray(kWorkstationZone));
        TimeZonesModel model(ServerInfoPtrContainer(), nullptr);
        const int expected = rowOfZone(kWorkstationZone) + 1; // below "<Different>"
        QVERIFY(expected >= 0);
        QCOMPARE(model.currentTimeZoneIndex(), expected);
        QCOMPARE(model.property("currentTimeZoneIndex").toInt(), expected);

        // A zone the database does not list has no row; the index follows the
        // workstation at every read.
        qputenv("TZ", "America/Atka");
        tzset();
        QCOMPARE(QDateTime::currentDateTime().timeZone().id(), QByteArray("America/Atka"));
        const int unlisted = model.currentTimeZoneIndex();
        qputenv("TZ", kWorkstationZone);
        tzset();
        QCOMPARE(unlisted, -1);
        QCOMPARE(model.currentTimeZoneIndex(), expected);
    }
};

int main(int argc, char *argv[])
{
    qputenv("TZ", kWorkstationZone);
    tzset();
    QCoreApplication app(argc, argv);
    TestTimeZonesModel test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_time_zones_model.moc"
