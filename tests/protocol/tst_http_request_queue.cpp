#include "protocol/http_request_queue.h"

#include <QtTest>

using namespace rtu;
using Queue = HttpRequest::Queue;

namespace {

// Ends each request as its deadline passes, as the client does.
struct Expiries : HttpRequestQueue::Listener
{
    HttpRequestQueue queue{this};
    QList<quint64> ids;
    QList<qint64> afterMs;

    bool requestExpired(HttpRequest *request) override
    {
        ids.append(request->id);
        afterMs.append(queue.elapsedMs(*request));
        queue.take(request);
        return true;
    }

    HttpRequest *add(qint64 timeoutMs, const QString &server = QString())
    {
        auto request = std::make_unique<HttpRequest>();
        request->server = server;
        return queue.add(std::move(request), timeoutMs);
    }
};

} // namespace

class TestHttpRequestQueue : public QObject
{
    Q_OBJECT

private slots:
    // Requests expire in the order of their deadlines, each on time, whatever
    // the order they were sent in; an ended one never does.
    void expiresByDeadline_data()
    {
        QTest::addColumn<QList<int>>("timeouts"); // -1: none
        QTest::addColumn<QList<int>>("ended");    // ended at once
        QTest::addColumn<QList<int>>("order");
        QTest::newRow("by deadline, not by sending") << QList<int>{120, 40, 80} << QList<int>{} << QList<int>{1, 2, 0};
        QTest::newRow("equal deadlines") << QList<int>{60, 60, 60} << QList<int>{} << QList<int>{0, 1, 2};
        QTest::newRow("a nearer deadline re-arms the timer")
            << QList<int>{1000, 30} << QList<int>{} << QList<int>{1, 0};
        QTest::newRow("zero: on the next turn") << QList<int>{0} << QList<int>{} << QList<int>{0};
        QTest::newRow("none") << QList<int>{-1} << QList<int>{} << QList<int>{};
        QTest::newRow("ended before its deadline") << QList<int>{40, 80} << QList<int>{0} << QList<int>{1};
    }

    void expiresByDeadline()
    {
        QFETCH(QList<int>, timeouts);
        QFETCH(QList<int>, ended);
        QFETCH(QList<int>, order);
        Expiries expiries;
        QList<quint64> ids;
        for (const int timeoutMs : timeouts)
            ids.append(expiries.add(timeoutMs)->id);
        for (const int index : ended)
            expiries.queue.take(expiries.queue.find(ids.at(index)));

        QTRY_COMPARE_WITH_TIMEOUT(expiries.ids.size(), order.size(), 3000);
        QTest::qWait(150);
        QCOMPARE(expiries.ids.size(), order.size());
        for (int i = 0; i < order.size(); ++i) {
            QCOMPARE(expiries.ids.at(i), ids.at(order.at(i)));
            const int timeoutMs = timeouts.at(order.at(i));
            QVERIFY2(expiries.afterMs.at(i) >= timeoutMs && expiries.afterMs.at(i) < timeoutMs + 500,
                     qPrintable(QString::number(expiries.afterMs.at(i))));
        }
    }

    // Waiting requests go oldest first, an urgent one before them; one that
    // ended while it waited is skipped.
    void waitingQueues()
    {
        Expiries expiries;
        HttpRequest *a = expiries.add(-1, QStringLiteral("a"));
        HttpRequest *ended = expiries.add(-1, QStringLiteral("a"));
        HttpRequest *b = expiries.add(-1, QStringLiteral("b"));
        HttpRequest *urgent = expiries.add(-1, QStringLiteral("c"));
        for (HttpRequest *r : {a, ended, b})
            expiries.queue.wait(r, Queue::Global, false);
        expiries.queue.wait(urgent, Queue::Global, true);
        expiries.queue.take(ended);
        QList<HttpRequest *> global;
        for (HttpRequest *r; (r = expiries.queue.firstWaiting()); expiries.queue.removeFirstWaiting()) {
            global.append(r);
            QCOMPARE(r->queue, Queue::Global);
        }
        QCOMPARE(global, (QList<HttpRequest *>{urgent, a, b}));
        QCOMPARE(a->queue, Queue::None);

        HttpRequest *s1 = expiries.add(-1, QStringLiteral("s"));
        HttpRequest *s2 = expiries.add(-1, QStringLiteral("s"));
        HttpRequest *s3 = expiries.add(-1, QStringLiteral("s"));
        HttpRequest *t = expiries.add(-1, QStringLiteral("t"));
        for (HttpRequest *r : {s1, s2, t})
            expiries.queue.wait(r, Queue::Server, false);
        expiries.queue.wait(s3, Queue::Server, true);
        expiries.queue.take(s2);
        QCOMPARE(expiries.queue.takeWaiting(QStringLiteral("s")), s3);
        QCOMPARE(expiries.queue.takeWaiting(QStringLiteral("s")), s1);
        QCOMPARE(expiries.queue.takeWaiting(QStringLiteral("s")), nullptr);
        QCOMPARE(s1->queue, Queue::None);
        QCOMPARE(expiries.queue.takeWaiting(QStringLiteral("t")), t);
    }
};

QTEST_GUILESS_MAIN(TestHttpRequestQueue)
#include "tst_http_request_queue.moc"
