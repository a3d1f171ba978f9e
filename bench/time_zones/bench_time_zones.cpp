// What a time-zone picker costs. The zone list is built once per process;
// every settings page then creates a model from it.
//
//   bench_time_zones [RUNS]   (default 10)
//
// cold:      the first model of a fresh process, which builds the list
//            (one child process per run)
// ahead:     the first model of a fresh process after the list was prepared
//            ahead on the event loop, as the tool does at start-up, and the
//            longest the event loop waited on one slice of that preparation
// warm:      every later model of a process
// Each line gives min / median / max in milliseconds.

#include "models/time_zones_model.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

#include <algorithm>

namespace {

double createModelMs()
{
    QElapsedTimer timer;
    timer.start();
    rtu::TimeZonesModel model(rtu::ServerInfoPtrContainer(), nullptr);
    return timer.nsecsElapsed() / 1e6;
}

// Prepares the list ahead and returns the longest gap between two turns of
// the event loop meanwhile.
double prepareAheadMs()
{
    QObject context;
    rtu::TimeZonesModel::prepareAhead(&context);
    QElapsedTimer sinceLastTurn;
    sinceLastTurn.start();
    double longest = 0;
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceLastTurn.nsecsElapsed() / 1e6);
        sinceLastTurn.restart();
        if (context.findChildren<QTimer *>().isEmpty())
            QCoreApplication::quit();
    });
    probe.start();
    QCoreApplication::exec();
    return longest;
}

QString summary(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return QStringLiteral("min %1, median %2, max %3 ms (%4 runs)")
        .arg(values.first(), 0, 'f', 2)
        .arg(values.at(values.size() / 2), 0, 'f', 2)
        .arg(values.last(), 0, 'f', 2)
        .arg(values.size());
}

// Runs this program again with one mode; it prints its figures on one line.
QVector<double> child(const QString &mode)
{
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(), {mode});
    process.waitForFinished(60000);
    QVector<double> values;
    for (const QByteArray &value : process.readAllStandardOutput().trimmed().split(' '))
        values.append(value.toDouble());
    return values;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QLatin1String("--cold")) {
        out << createModelMs() << "\n";
        return 0;
    }
    if (mode == QLatin1String("--ahead")) {
        const double longestTurn = prepareAheadMs();
        out << createModelMs() << " " << longestTurn << "\n";
        return 0;
    }

    const int runs = std::max(1, argc > 1 ? QByteArray(argv[1]).toInt() : 10);
    QVector<double> cold;
    QVector<double> ahead;
    QVector<double> slices;
    for (int run = 0; run < runs; ++run) {
        cold.append(child(QStringLiteral("--cold")).value(0));
        const QVector<double> figures = child(QStringLiteral("--ahead"));
        ahead.append(figures.value(0));
        slices.append(figures.value(1));
    }
    createModelMs();
    QVector<double> warm;
    for (int run = 0; run < runs; ++run)
        warm.append(createModelMs());

    out << "rows: " << rtu::TimeZonesModel(rtu::ServerInfoPtrContainer(), nullptr).rowCount() << "\n";
    out << "cold model:              " << summary(cold) << "\n";
    out << "model after ahead:       " << summary(ahead) << "\n";
    out << "longest preparing slice: " << summary(slices) << "\n";
    out << "warm model:              " << summary(warm) << "\n";
    return 0;
}
