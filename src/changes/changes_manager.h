#pragma once

#include "changes/change_outcome.h"
#include "core/server_info.h"

#include <QByteArray>
#include <QDate>
#include <QObject>
#include <QString>
#include <QTime>
#include <QVector>

namespace rtu {

class HttpClient;
class PageNavigator;
class ServersSelectionModel;

// Time limits of the interface confirmation; tests shorten them, the tool
// uses the defaults.
struct ChangesManagerTiming
{
    // Least time between two interface checks of one server.
    qint64 checkSpacingMs = 2000;
    // Checks after which an unconfirmed interface change is reported.
    int maxCheckAttempts = 90;
    // Time after an accepted interface change within which it must be reported.
    qint64 confirmationLimitMs = 180000;
};

// Collects the operator's edits and applies them to every selected, logged-in
// server: one request after another, the interface changes all at once at the
// end, each interface change confirmed by reading the server again once
// discovery sees it. Results land in two result models.
class ChangesManager : public QObject
{
    Q_OBJECT

    Q_PROPERTY(int totalChangesCount READ totalChangesCount NOTIFY totalChangesCountChanged)
    Q_PROPERTY(int appliedChangesCount READ appliedChangesCount NOTIFY appliedChangesCountChanged)

public:
    ChangesManager(PageNavigator *context, HttpClient *client, ServersSelectionModel *selectionModel,
                   QObject *parent, const ChangesManagerTiming &timing = ChangesManagerTiming());
    ~ChangesManager() override;

signals:
    void totalChangesCountChanged();
    void appliedChangesCountChanged();
    // A server accepted new interface addresses; discovery may trust its
    // answers from them.
    void addressesExpected(const QUuid &id, const QStringList &addresses);
    // A run began (the queue is built and its first request is out) and
    // ended (every row is answered); outcomes() then holds its rows.
    void runStarted();
    void runFinished();

public slots:
    void addSystemChange(const QString &systemName);
    void addPasswordChange(const QString &password);
    void addPortChange(int port);
    void addDHCPChange(const QString &name, bool useDHCP);
    void addAddressChange(const QString &name, const QString &address);
    void addMaskChange(const QString &name, const QString &mask);
    void addDNSChange(const QString &name, const QString &dns);
    void addGatewayChange(const QString &name, const QString &gateway);
    void addDateTimeChange(const QDate &date, const QTime &time, const QByteArray &timeZoneId);
    // A clock reading (ms since the epoch) taken just now, not typed: each
    // request sends it advanced by the time elapsed since this call.
    void addCurrentDateTimeChange(qint64 utcDateTimeMs, const QByteArray &timeZoneId);
    void turnOnDhcp();

    void applyChanges();
    void clearChanges();
    // Ends the current run early: nothing more is sent, each change not sent
    // yet gets a failed row with notSentReason(), and the run ends once the
    // requests already sent are answered (a password's retry and an
    // interface change's confirmation included). No run: nothing happens.
    void stopSending();

    int totalChangesCount() const;
    int appliedChangesCount() const;

    QObject *successfulResultsModel() const;
    QObject *failedResultsModel() const;

    void serverDiscovered(const rtu::BaseServerInfo &info);

public:
    static QString notSentReason();

    // The rows of the latest run by server id, in the order they are sent;
    // while it runs, those not answered yet are pending.
    QVector<ChangeOutcome> outcomes() const;
    // Ends the current run at once, for a time limit: nothing more is sent,
    // each change not sent yet is "not sent" and each one under way fails as
    // unanswered (it may have been applied). No run: nothing happens.
    void abandonRun();

private:
    class Impl;
    Impl *const m_impl;
};

} // namespace rtu
