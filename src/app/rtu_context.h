#pragma once

#include "core/page_navigator.h"
#include "discovery/servers_finder.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QTime>

namespace rtu {

// The root of the tool's logic and the one object the QML documents reach by
// name ("rtuContext"): creates and wires the long-lived objects, keeps the
// page state and exposes the tool's identity.
class RtuContext : public QObject, public PageNavigator
{
    Q_OBJECT

    Q_PROPERTY(int currentPage READ currentPage WRITE setCurrentPage NOTIFY currentPageChanged)
    Q_PROPERTY(QObject *selection READ selection NOTIFY selectionChanged)
    Q_PROPERTY(QString toolDisplayName READ toolDisplayName NOTIFY toolInfoChanged)
    Q_PROPERTY(bool isBeta READ isBeta NOTIFY toolInfoChanged)
    Q_PROPERTY(QString toolVersion READ toolVersion NOTIFY toolInfoChanged)
    Q_PROPERTY(QString toolRevision READ toolRevision NOTIFY toolInfoChanged)
    Q_PROPERTY(QString toolSupportMail READ toolSupportMail NOTIFY toolInfoChanged)
    Q_PROPERTY(QString toolCompanyUrl READ toolCompanyUrl NOTIFY toolInfoChanged)

public:
    // Tests shorten the discovery times; the tool uses the defaults.
    explicit RtuContext(QObject *parent, const ServersFinderParameters &discovery = ServersFinderParameters());
    ~RtuContext() override;

    int currentPage() const;
    void setCurrentPage(int page) override;

    // The summary of the current selection; null until the selection first changes.
    QObject *selection() const;

    QString toolDisplayName() const;
    bool isBeta() const;
    QString toolVersion() const;
    QString toolRevision() const;
    QString toolSupportMail() const;
    QString toolCompanyUrl() const;

signals:
    void toolInfoChanged();
    void currentPageChanged();
    void selectionChanged();
    void loginOperationFailed(const QString &primarySystem);
    // Every discovery answer that is followed: what the server announces
    // (its port among it) and the address it came from.
    void serverAnswered(const rtu::BaseServerInfo &info);
    // Discovery asks for servers again; the answers of the last cycle are in.
    void discoveryCycleStarted();
    // The first server of the system took the typed password.
    void loginOperationSucceeded(const QString &primarySystem);

public slots:
    QObject *selectionModel();
    // New snapshot models on every call, for the QML item that asks.
    QObject *ipSettingsModel();
    QObject *timeZonesModel(QObject *parent);
    QObject *changesManager();
    QDateTime applyTimeZone(const QDate &date, const QTime &time, const QByteArray &prevTimeZoneId,
                            const QByteArray &newTimeZoneId);
    void tryLoginWith(const QString &primarySystem, const QString &password);

private:
    class Impl;
    Impl *const m_impl;
};

} // namespace rtu
