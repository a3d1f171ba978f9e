// The whole tool, started as src/main.cpp starts it (same context, same QML
// documents), watched from inside its own process: when the fleet is listed
// and logged in, how late a 10 ms timer on the GUI thread gets, the CPU time
// over a window at rest and the peak memory. In batch mode it also applies a
// system name and a port to every server through the changes manager, with
// the window loaded, and times the run. One JSON line goes to stdout at the
// end. Driven by bench/tool/run.py; opens sockets, so it runs inside
// scripts/netns.sh.

#include "app/graphics.h"
#include "app/qml_registration.h"
#include "app/rtu_context.h"
#include "changes/changes_manager.h"
#include "core/constants.h"
#include "models/servers_selection_model.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSet>
#include <QTimer>
#include <QUrl>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

using namespace rtu;

namespace {

// Milliseconds since the process was started by the kernel, so that loading
// the libraries counts as it does for the operator.
double processAgeMs()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    timespec boot {};
    if (!stat.open(QIODevice::ReadOnly) || clock_gettime(CLOCK_BOOTTIME, &boot) != 0)
        return 0;
    const QByteArray text = stat.readAll();
    // The command name may hold blanks; the fields after it are plain.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble(); // field 22 of the whole line
    const double startMs = startTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
    return boot.tv_sec * 1000.0 + boot.tv_nsec / 1e6 - startMs;
}

double cpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3
        + usage.ru_stime.tv_usec / 1e3;
}

// CPU time of the calling thread alone: what a stall of the GUI thread spent
// working, as against waiting for a core.
double threadCpuMs()
{
    timespec spent {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &spent);
    return spent.tv_sec * 1e3 + spent.tv_nsec / 1e6;
}

qint64 statusKiB(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

struct Options
{
    int servers = 0;
    int seconds = 125;
    int restFromS = 60;
    int restToS = 120;
    bool batch = false;
};

class Probe : public QObject
{
public:
    Probe(const Options &options, const QElapsedTimer &sinceMain, double startOffsetMs, RtuContext *context,
          QQuickWindow *window)
        : options(options), sinceMain(sinceMain), startOffsetMs(startOffsetMs), context(context),
          model(qobject_cast<ServersSelectionModel *>(context->selectionModel())),
          changes(qobject_cast<ChangesManager *>(context->changesManager())), window(window)
    {
        connect(window, &QQuickWindow::frameSwapped, this, &Probe::onFrame);
        connect(model, &ServersSelectionModel::serversCountChanged, this, [this] {
            const int count = this->model->serversCount();
            if (firstListedMs < 0 && count > 0)
                firstListedMs = now();
            if (listedModelMs < 0 && this->options.servers > 0 && count >= this->options.servers)
                listedModelMs = now();
        });
        // Follows the logins from the rows the model announces, so that
        // watching costs the tool next to nothing.
        connect(model, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex &first, const QModelIndex &last, const QVector<int> &roles) {
                    restRowsChanged += atRest() ? last.row() - first.row() + 1 : 0;
                    if (!roles.isEmpty() && !roles.contains(ServersSelectionModel::LoggedInRole))
                        return;
                    for (int row = first.row(); row <= last.row(); ++row) {
                        const QModelIndex index = this->model->index(row);
                        if (this->model->data(index, ServersSelectionModel::ItemTypeRole).toInt()
                            != Constants::ServerItemType)
                            continue;
                        const QUuid id = this->model->data(index, ServersSelectionModel::IdRole).toUuid();
                        const bool loggedIn = this->model->data(index, ServersSelectionModel::LoggedInRole).toBool();
                        if (loggedIn)
                            loggedIds.insert(id);
                        else
                            loggedIds.remove(id);
                    }
                });
        connect(context, &RtuContext::currentPageChanged, this, &Probe::onPage);
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(10);
        connect(&tick, &QTimer::timeout, this, &Probe::onTick);
        tickClock.start();
        tick.start();
        // The 10 ms timer would cost more than the tool itself at rest: it is
        // stopped while the CPU time is taken, and stalls at rest are watched
        // before and after.
        // Precise: Qt rounds a coarse timer of 20 s or more to whole seconds,
        // which moved the end of a run past the next discovery cycle.
        QTimer::singleShot(options.restFromS * 1000 - int(now()), Qt::PreciseTimer, this, [this] {
            tick.stop();
            restCpuStartMs = cpuMs();
            restWallStartMs = now();
        });
        QTimer::singleShot(options.restToS * 1000 - int(now()), Qt::PreciseTimer, this, [this] {
            restCpuEndMs = cpuMs();
            restWallEndMs = now();
            tickClock.restart();
            tickThreadMs = -1;
            tick.start();
        });
        QTimer::singleShot(options.seconds * 1000 - int(now()), Qt::PreciseTimer, this, &Probe::finish);
    }

    double now() const { return startOffsetMs + sinceMain.nsecsElapsed() / 1e6; }

    bool atRest() const
    {
        const double at = now();
        return at >= options.restFromS * 1000.0 && at <= options.restToS * 1000.0;
    }

    // At rest: 2 s after the whole fleet is logged in (10 s after start
    // without a fleet), and not in a batch.
    bool settled(double at) const
    {
        if (options.batch)
            return false;
        return options.servers == 0 ? at >= 10000.0 : loggedMs >= 0 && at >= loggedMs + 2000.0;
    }

    void onFrame()
    {
        restFrames += atRest() ? 1 : 0;
        if (firstFrameMs < 0)
            firstFrameMs = now();
        if (listedModelMs >= 0 && listedMs < 0)
            listedMs = now();
    }

    int loggedInCount() const
    {
        int count = 0;
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex index = model->index(row);
            if (model->data(index, ServersSelectionModel::ItemTypeRole).toInt() == Constants::ServerItemType
                && model->data(index, ServersSelectionModel::LoggedInRole).toBool())
                ++count;
        }
        return count;
    }

    void onTick()
    {
        const double gapMs = tickClock.nsecsElapsed() / 1e6;
        tickClock.restart();
        const double threadMs = threadCpuMs();
        const double workedMs = tickThreadMs < 0 ? 0 : threadMs - tickThreadMs;
        tickThreadMs = threadMs;
        const double lateMs = gapMs - tick.interval();
        const double at = now();
        // Loading the documents and the first frame are start-up, not stalls.
        if (firstFrameMs >= 0) {
            if (lateMs > stallMaxMs) {
                stallAtMs = at;
                stallWorkedMs = workedMs;
            }
            stallMaxMs = qMax(stallMaxMs, lateMs);
            if (settled(at))
                restStallMaxMs = qMax(restStallMaxMs, lateMs);
            else
                fillStallMaxMs = qMax(fillStallMaxMs, lateMs);
        }
        if (options.servers > 0 && listedModelMs >= 0 && loggedMs < 0 && loggedIds.size() >= options.servers
            && loggedInCount() >= options.servers) {
            loggedMs = at;
            if (options.batch)
                QTimer::singleShot(1000, this, &Probe::selectAll);
        }
    }

    void selectAll()
    {
        model->setAllItemSelected(true);
        selected = model->selectedCount();
        // The settings page loads on the selection; let it settle first.
        QTimer::singleShot(2000, this, &Probe::applyBatch);
    }

    void applyBatch()
    {
        changes->addSystemChange(QStringLiteral("Bench Renamed"));
        changes->addPortChange(7002);
        batchStartEpochMs = QDateTime::currentMSecsSinceEpoch();
        batchClock.start();
        batchThreadStartMs = threadCpuMs();
        changes->applyChanges();
    }

    void onPage()
    {
        if (!batchClock.isValid() || context->currentPage() != Constants::SummaryPage || batchMs >= 0)
            return;
        batchMs = batchClock.nsecsElapsed() / 1e6;
        batchThreadMs = threadCpuMs() - batchThreadStartMs;
        batchEndEpochMs = QDateTime::currentMSecsSinceEpoch();
        applied = changes->appliedChangesCount();
        QTimer::singleShot(2000, this, &Probe::finish);
    }

    void finish()
    {
        if (finished)
            return;
        finished = true;
        QJsonObject result{
            {QStringLiteral("servers"), options.servers},
            {QStringLiteral("sceneGraph"), QQuickWindow::sceneGraphBackend().isEmpty()
                                               ? QStringLiteral("opengl") : QQuickWindow::sceneGraphBackend()},
            {QStringLiteral("startEpochMs"), double(startEpochMs)},
            {QStringLiteral("contextEpochMs"), double(contextEpochMs)},
            {QStringLiteral("endEpochMs"), double(QDateTime::currentMSecsSinceEpoch())},
            {QStringLiteral("contextMs"), contextMs},
            {QStringLiteral("firstFrameMs"), firstFrameMs},
            {QStringLiteral("firstListedMs"), firstListedMs},
            {QStringLiteral("listedModelMs"), listedModelMs},
            {QStringLiteral("listedMs"), listedMs},
            {QStringLiteral("loggedMs"), loggedMs},
            {QStringLiteral("listedCount"), model->serversCount()},
            {QStringLiteral("loggedCount"), loggedInCount()},
            {QStringLiteral("rows"), model->rowCount()},
            {QStringLiteral("stallMaxMs"), stallMaxMs},
            {QStringLiteral("stallEndedAtMs"), stallAtMs},
            {QStringLiteral("stallWorkedMs"), stallWorkedMs},
            {QStringLiteral("fillStallMaxMs"), fillStallMaxMs},
            {QStringLiteral("restStallMaxMs"), restStallMaxMs},
            {QStringLiteral("restCpuPercent"),
             restCpuEndMs >= 0 && restCpuStartMs >= 0
                 ? 100.0 * (restCpuEndMs - restCpuStartMs) / (restWallEndMs - restWallStartMs) : -1},
            {QStringLiteral("restFrames"), restFrames},
            {QStringLiteral("restRowsChanged"), restRowsChanged},
            {QStringLiteral("vmHwmKiB"), double(statusKiB("VmHWM"))},
            {QStringLiteral("vmRssKiB"), double(statusKiB("VmRSS"))},
            {QStringLiteral("threads"), double(statusKiB("Threads"))},
        };
        if (options.batch) {
            result.insert(QStringLiteral("selected"), selected);
            result.insert(QStringLiteral("batchMs"), batchMs);
            result.insert(QStringLiteral("batchThreadMs"), batchThreadMs);
            result.insert(QStringLiteral("batchStartEpochMs"), double(batchStartEpochMs));
            result.insert(QStringLiteral("batchEndEpochMs"), double(batchEndEpochMs));
            result.insert(QStringLiteral("appliedChanges"), applied);
        }
        std::printf("bench-tool: %s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
        QCoreApplication::quit();
    }

    const Options options;
    const QElapsedTimer sinceMain;
    const double startOffsetMs;
    RtuContext *const context;
    ServersSelectionModel *const model;
    ChangesManager *const changes;
    QQuickWindow *const window;
    qint64 startEpochMs = 0;
    qint64 contextEpochMs = 0;
    double contextMs = -1;
    QTimer tick;
    QElapsedTimer tickClock;
    double firstFrameMs = -1;
    int restFrames = 0;
    int restRowsChanged = 0;
    double firstListedMs = -1;
    double listedModelMs = -1;
    QSet<QUuid> loggedIds;
    double listedMs = -1;
    double loggedMs = -1;
    double stallMaxMs = 0;
    double stallAtMs = -1;
    double stallWorkedMs = 0;
    double tickThreadMs = -1;
    double fillStallMaxMs = 0;
    double restStallMaxMs = 0;
    double restCpuStartMs = -1;
    double restCpuEndMs = -1;
    double restWallStartMs = -1;
    double restWallEndMs = -1;
    int selected = 0;
    QElapsedTimer batchClock;
    double batchMs = -1;
    double batchThreadStartMs = 0;
    double batchThreadMs = -1; // CPU of the GUI thread during the batch
    qint64 batchStartEpochMs = 0;
    qint64 batchEndEpochMs = 0;
    int applied = 0;
    bool finished = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    const double startOffsetMs = processAgeMs();
    const qint64 startEpochMs = QDateTime::currentMSecsSinceEpoch() - qint64(startOffsetMs);

    // The start-up of src/main.cpp, step for step.
    QGuiApplication application(argc, argv);
    RtuContext context(&application);
    const double contextMs = startOffsetMs + sinceMain.nsecsElapsed() / 1e6;
    const qint64 contextEpochMs = QDateTime::currentMSecsSinceEpoch();
    chooseSceneGraphBackend();
    QQmlApplicationEngine engine;
    registerQmlTypes();
    engine.rootContext()->setContextProperty(QStringLiteral("rtuContext"), &context);
    engine.load(QUrl(QStringLiteral("qrc:/src/qml/main.qml")));

    QCommandLineParser parser;
    const QCommandLineOption servers(QStringLiteral("servers"), QStringLiteral("servers expected"),
                                     QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("length of the run"),
                                     QStringLiteral("s"), QStringLiteral("125"));
    const QCommandLineOption restFrom(QStringLiteral("rest-from"), QStringLiteral("start of the rest window"),
                                      QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption restTo(QStringLiteral("rest-to"), QStringLiteral("end of the rest window"),
                                    QStringLiteral("s"), QStringLiteral("120"));
    const QCommandLineOption batch(QStringLiteral("batch"), QStringLiteral("apply a name and a port to all"));
    parser.addOptions({servers, seconds, restFrom, restTo, batch});
    parser.process(application);

    if (qEnvironmentVariable("TESSALY_PRIVATE_NET") != QLatin1String("1")) {
        std::fprintf(stderr, "bench_tool opens sockets: run it inside scripts/netns.sh\n");
        return 2;
    }
    const QList<QObject *> roots = engine.rootObjects();
    auto *window = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
    if (!window) {
        std::fprintf(stderr, "bench_tool: the main window did not load\n");
        return 1;
    }

    Options options;
    options.servers = parser.value(servers).toInt();
    options.seconds = parser.value(seconds).toInt();
    options.restFromS = parser.value(restFrom).toInt();
    options.restToS = parser.value(restTo).toInt();
    options.batch = parser.isSet(batch);
    Probe probe(options, sinceMain, startOffsetMs, &context, window);
    probe.startEpochMs = startEpochMs;
    probe.contextEpochMs = contextEpochMs;
    probe.contextMs = contextMs;
    return application.exec();
}
