#pragma once

#include <QObject>

class QSocketNotifier;

namespace rtu::cli {

// Turns Ctrl-C (SIGINT) into a signal on the event loop. Only one may exist.
class InterruptWatch : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatch(QObject *parent = nullptr);
    ~InterruptWatch() override;

    // From now on Ctrl-C ends the process at once, as it would without us.
    void release();

signals:
    void interrupted();

private:
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace rtu::cli
