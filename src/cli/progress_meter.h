#pragma once

#include <QElapsedTimer>
#include <QString>

class QIODevice;

namespace rtu::cli {

// The progress of a run on standard error: on a terminal one line drawn over
// and over, otherwise a plain line now and then, which logs keep readable.
class ProgressMeter
{
public:
    ProgressMeter(QIODevice *device, bool terminal);

    void start(int total, int servers);
    void update(int done, int total);
    // done: the changes answered; notSent: those a stopped run never sent.
    void finish(int done, int total, qint64 elapsedMs, int notSent = 0);
    // Ends the line being drawn, so that a message can follow.
    void breakLine();

private:
    void draw(int done, int total);
    void write(const QString &text);

    QIODevice *const m_device;
    const bool m_terminal;
    bool m_lineOpen = false;
    bool m_started = false;
    QElapsedTimer m_sinceOutput;
    int m_shownDone = -1;
};

} // namespace rtu::cli
