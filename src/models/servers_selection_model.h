#pragma once

#include "core/server_info.h"
#include "models/server_state.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QSet>
#include <QStringList>
#include <QVector>

namespace rtu {

class HttpClient;

// Time limits and bounds that tests shorten; the tool uses the defaults.
struct ServersSelectionTiming
{
    qint64 refreshThrottleMs = 20000;
    // Far above any real fleet; ids beyond it (a flood of fake answers) are
    // not listed, and the list says so.
    int maxServers = 10000;
    // New servers are logged in once no other new server came for
    // loginQuietMs, or loginHoldMaxMs after the first of them: each login
    // opens a connection, and its replies would hold up the listing of the
    // rest of a fleet that answers at once.
    int loginQuietMs = 20;
    int loginHoldMaxMs = 250;
    // After a confirmed port change, answers that announce another port are
    // taken as the server's word only after this long: those sent before
    // the move may still arrive for a moment.
    qint64 announcedPortSettleMs = 4020;
    // An address a server answered from counts as one of its own this long.
    qint64 answeringAddressMs = 12000;
};

// The flat list behind the server list: every system row followed by its
// server rows, then the "Other discovered servers" group and its addresses.
// It owns the server records, logs new servers in, and keeps the selection.
class ServersSelectionModel : public QAbstractListModel
{
    Q_OBJECT

    Q_PROPERTY(int selectedCount READ selectedCount NOTIFY selectionChanged)
    Q_PROPERTY(int serversCount READ serversCount NOTIFY serversCountChanged)
    Q_PROPERTY(bool selectionOutdated READ selectionOutdated NOTIFY selectionOutdatedChanged)
    Q_PROPERTY(bool serversLimitReached READ serversLimitReached NOTIFY serversCountChanged)

public:
    enum Roles {
        ItemTypeRole = Qt::UserRole + 1,
        NameRole,
        SelectedStateRole,
        SelectedServersCountRole,
        ServersCountRole,
        LoggedStateRole,
        IdRole,
        SystemNameRole,
        MacAddressRole,
        IpAddressRole,
        PortRole,
        LoggedInRole,
        DefaultPasswordRole,
        // Why the server cannot be selected while two hosts answer with its
        // id, naming both; empty otherwise.
        ConflictRole,
        LastRole,
    };

    // loginClient: what the logins go over, taken over by the model; tests
    // and fuzzing pass one that answers without sockets, the tool none.
    explicit ServersSelectionModel(QObject *parent,
                                   const ServersSelectionTiming &timing = ServersSelectionTiming(),
                                   HttpClient *loginClient = nullptr);
    ~ServersSelectionModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // True while the list holds as many servers as it may.
    bool serversLimitReached() const;

    // The servers by id, for front ends that do not show the list: every
    // system in list order with its servers, their records and logins.
    QVector<SystemState> systems() const;
    QStringList unknownHosts() const;
    // The same counted, without copying any record.
    LoginTally loginTally() const;
    // Selects exactly the selectable servers among ids and deselects the
    // rest; returns how many are selected. Unlike a click in the list it asks
    // for no refresh: the records are as fresh as their logins.
    int selectServers(const QSet<QUuid> &ids);

signals:
    // Follows the structural changes, once per turn of the event loop; the
    // list view relayouts.
    void layoutChanged();
    void selectionOutdatedChanged();
    void selectionChanged();
    void serversCountChanged();
    void serverLogged(const rtu::ServerInfo &info);
    // Where a logged-in server is known to be: the address it was logged in
    // at and those of its own interfaces.
    void addressesTrusted(const QUuid &id, const QStringList &addresses);

public slots:
    void changeItemSelectedState(int rowIndex);
    void setItemSelected(int rowIndex);
    void setAllItemSelected(bool selected);
    // failed: no server of the system took the password; succeeded: the
    // first one that did (once).
    void tryLoginWith(const QString &primarySystem, const QString &password, const rtu::Callback &failed,
                      const rtu::Callback &succeeded = rtu::Callback());

    bool selectionOutdated() const;
    int selectedCount() const;
    rtu::ServerInfoPtrContainer selectedServers();
    int serversCount() const;

    void serverDiscovered(const rtu::BaseServerInfo &baseInfo);
    void addServer(const rtu::BaseServerInfo &baseInfo);
    void changeServer(const rtu::BaseServerInfo &baseInfo);
    void removeServers(const rtu::IDsVector &removed);
    void unknownAdded(const QString &address);
    void unknownRemoved(const QString &address);
    // A second host answers with the server's id (addresses: where the
    // server is known first, then the others); empty when that is over.
    void setServerConflict(const QUuid &id, const QStringList &addresses);

    void updateTimeDateInfo(const QUuid &id, qlonglong utcDateTimeMs, const QByteArray &timeZoneId,
                            qlonglong timestampMs);
    void updateInterfacesInfo(const QUuid &id, const QString &host, const rtu::InterfaceInfoList &interfaces);
    void updateSystemNameInfo(const QUuid &id, const QString &systemName);
    void updatePortInfo(const QUuid &id, int port);
    void updatePasswordInfo(const QUuid &id, const QString &password);

private:
    class Impl;
    Impl *m_impl;
};

} // namespace rtu
