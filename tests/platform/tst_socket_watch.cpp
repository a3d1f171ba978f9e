#include "platform/socket_watch.h"

#include <QtTest>

#include <memory>
#include <sys/socket.h>
#include <unistd.h>

using namespace rtu;

namespace {

// Two connected local stream sockets, closed with the pair.
struct Pair
{
    int ends[2] = {-1, -1};
    Pair() { socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends); }
    ~Pair()
    {
        for (int end : ends)
            if (end >= 0)
                ::close(end);
    }
    void closeEnd(int i)
    {
        ::close(ends[i]);
        ends[i] = -1;
    }
};

struct Counts
{
    int readable = 0;
    int writable = 0;
};

// Counts the signals; each readable one reads what came, as a stream would.
std::unique_ptr<platform::SocketWatch> watch(int socket, Counts &counts)
{
    auto watch = std::make_unique<platform::SocketWatch>(socket);
    QObject::connect(watch.get(), &platform::SocketWatch::readable, [&counts, socket]() {
        char bytes[16];
        (void)::read(socket, bytes, sizeof(bytes));
        ++counts.readable;
    });
    QObject::connect(watch.get(), &platform::SocketWatch::writable, [&counts]() { ++counts.writable; });
    return watch;
}

} // namespace

class SocketWatchTest : public QObject
{
    Q_OBJECT

private slots:
    // Signals come only for the enabled interests, and stop when they are
    // disabled, also for a socket whose peer has gone (always "ready").
    void signalsFollowTheEnabledInterests()
    {
        Pair pair;
        QVERIFY(pair.ends[0] >= 0);
        Counts counts;
        const auto a = watch(pair.ends[0], counts);
        QTest::qWait(30);
        QCOMPARE(counts.writable, 0);

        a->setWriteEnabled(true);
        QTRY_VERIFY(counts.writable > 0);
        // From writing to reading in one step, as a stream does once connected.
        a->setInterest(true, false);
        const int writable = counts.writable;
        QTest::qWait(30);
        QCOMPARE(counts.writable, writable);
        QCOMPARE(counts.readable, 0);

        QCOMPARE(::write(pair.ends[1], "x", 1), ssize_t(1));
        QTRY_COMPARE(counts.readable, 1);
        QTest::qWait(30);
        QCOMPARE(counts.readable, 1);

        pair.closeEnd(1);
        QTRY_VERIFY(counts.readable > 1);
        a->setReadEnabled(false);
        const int readable = counts.readable;
        QTest::qWait(30);
        QCOMPARE(counts.readable, readable);
        QCOMPARE(counts.writable, writable);
    }

    // A watch deleted or disabled by another's signal in the same turn gets
    // no signal of its own after that.
    void watchGoneInAnothersSignalStaysSilent()
    {
        Pair first;
        Pair second;
        Counts counts;
        std::unique_ptr<platform::SocketWatch> watches[2] = {watch(first.ends[0], counts),
                                                              watch(second.ends[0], counts)};
        for (auto &w : watches) {
            connect(w.get(), &platform::SocketWatch::readable, this, [&watches, &w]() {
                for (auto &other : watches)
                    if (&other != &w)
                        other.reset();
            });
            w->setReadEnabled(true);
        }
        QCOMPARE(::write(first.ends[1], "x", 1), ssize_t(1));
        QCOMPARE(::write(second.ends[1], "x", 1), ssize_t(1));
        QTRY_COMPARE(counts.readable, 1);
        QTest::qWait(30);
        QCOMPARE(counts.readable, 1);
    }
};

QTEST_GUILESS_MAIN(SocketWatchTest)
#include "tst_socket_watch.moc"
