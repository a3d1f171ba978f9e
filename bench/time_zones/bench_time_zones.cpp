// How long the time-zone list takes to build; the date panel builds one each
// time it appears. Prints the first (cold) build and the warm builds after it.

#include "models/time_zones_model.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <algorithm>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? QByteArray(argv[1]).toInt() : 20;

    QVector<double> warm;
    double cold = 0;
    int rows = 0;
    for (int run = 0; run <= runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        rtu::TimeZonesModel model(rtu::ServerInfoPtrContainer(), nullptr);
        const double ms = timer.nsecsElapsed() / 1e6;
        rows = model.rowCount();
        if (run == 0)
            cold = ms;
        else
            warm.append(ms);
    }
    std::sort(warm.begin(), warm.end());

    QTextStream out(stdout);
    out << "rows: " << rows << "\n";
    out << "cold build: " << cold << " ms\n";
    if (!warm.isEmpty()) {
        out << "warm builds (" << warm.size() << "): min " << warm.first() << " ms, median "
            << warm.at(warm.size() / 2) << " ms, max " << warm.last() << " ms\n";
    }
    return 0;
}
