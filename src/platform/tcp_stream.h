#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>

class QHostAddress;

namespace rtu::platform {

class SocketWatch;

// One TCP connection on a non-blocking socket of the calling thread. It has
// QTcpSocket's signals and errors but no engine, buffer or proxy behind them:
// a fleet's refreshes open dozens of connections a second, and each
// QTcpSocket cost several extra objects and system calls.
class TcpStream : public QObject
{
    Q_OBJECT

public:
    explicit TcpStream(QObject *parent = nullptr);
    ~TcpStream() override;

    // An address text connects at once, a name after its lookup. Any failure
    // is signalled from the event loop, never from inside this call.
    void connectToHost(const QString &host, quint16 port);
    // Sends what the system takes now and the rest as it can, from the
    // moment the connection is made. A failure is signalled from the event
    // loop, never from inside this call.
    void write(const QByteArray &data);
    // Up to maxSize bytes; 0 when none have arrived yet; -1 at the end of the
    // stream or on a failure, then error() says which.
    qint64 read(char *data, qint64 maxSize);
    // Whether bytes, the end of the stream or a failure wait to be read,
    // looked at without taking anything. A connection between two responses
    // has none of these; one that has cannot carry another request.
    bool hasPendingInput() const;
    // Closes at once and drops what is unsent; no signal follows.
    void abort();
    QAbstractSocket::SocketError error() const { return m_error; }
    // Bytes the system has taken to send so far.
    quint64 bytesSent() const { return m_sent; }

signals:
    // Bytes or the end of the stream can be read.
    void readyRead();
    void errorOccurred(QAbstractSocket::SocketError error);

private:
    void connectToAddress(const QHostAddress &address, quint16 port);
    void onWritable();
    // The attempt has ended: 0 when connected, else its error.
    int endConnect();
    void onReadable();
    void flush();
    void fail(QAbstractSocket::SocketError error);
    void failLater(QAbstractSocket::SocketError error);
    void closeSocket();

    qintptr m_socket = -1;
    SocketWatch *m_watch = nullptr;
    QByteArray m_pending;
    quint64 m_sent = 0;
    int m_lookupId = -1;
    bool m_connecting = false;
    // Aborted, failed or never connected: nothing is sent or signalled.
    bool m_closed = true;
    QAbstractSocket::SocketError m_error = QAbstractSocket::UnknownSocketError;
};

} // namespace rtu::platform
