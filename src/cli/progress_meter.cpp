#include "cli/progress_meter.h"

#include <QIODevice>

namespace rtu::cli {

namespace {

constexpr int kBarWidth = 30;
// A terminal line is redrawn at most this often; plain lines come this
// seldom, so that a run over a thousand servers writes a few lines.
constexpr qint64 kRedrawMs = 100;
constexpr qint64 kLineMs = 1000;

} // namespace

ProgressMeter::ProgressMeter(QIODevice *device, bool terminal) : m_device(device), m_terminal(terminal) {}

void ProgressMeter::start(int total, int servers)
{
    m_started = true;
    m_sinceOutput.start();
    write(QStringLiteral("applying %1 %2 to %3 %4\n")
              .arg(total)
              .arg(total == 1 ? QStringLiteral("change") : QStringLiteral("changes"))
              .arg(servers)
              .arg(servers == 1 ? QStringLiteral("server") : QStringLiteral("servers")));
    if (m_terminal)
        draw(0, total);
}

void ProgressMeter::update(int done, int total)
{
    // The last count is for finish() to show.
    if (!m_started || done == m_shownDone || (!m_terminal && done >= total)
        || m_sinceOutput.elapsed() < (m_terminal ? kRedrawMs : kLineMs))
        return;
    if (m_terminal)
        draw(done, total);
    else
        write(QStringLiteral("%1 of %2 changes done\n").arg(done).arg(total));
    m_shownDone = done;
    m_sinceOutput.restart();
}

void ProgressMeter::finish(int done, int total, qint64 elapsedMs, int notSent)
{
    if (!m_started)
        return;
    if (m_terminal)
        draw(done, total);
    breakLine();
    write(QStringLiteral("%1 of %2 changes done in %3 s%4\n")
              .arg(done)
              .arg(total)
              .arg(elapsedMs / 1000.0, 0, 'f', 3)
              .arg(notSent > 0 ? QStringLiteral(", %1 not sent").arg(notSent) : QString()));
    m_started = false;
}

void ProgressMeter::breakLine()
{
    if (m_lineOpen)
        write(QStringLiteral("\n"));
    m_lineOpen = false;
}

void ProgressMeter::draw(int done, int total)
{
    const int filled = total > 0 ? int(qint64(done) * kBarWidth / total) : kBarWidth;
    write(QStringLiteral("\r[%1%2] %3/%4 changes")
              .arg(QString(filled, QLatin1Char('#')), QString(kBarWidth - filled, QLatin1Char('-')))
              .arg(done)
              .arg(total));
    m_lineOpen = true;
}

void ProgressMeter::write(const QString &text)
{
    if (m_device)
        m_device->write(text.toUtf8());
}

} // namespace rtu::cli
