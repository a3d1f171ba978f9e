#pragma once

#include <QAbstractListModel>

namespace rtu {

class ServersSelectionModel;

// The interfaces behind the network panel, taken once from the selection:
// the interfaces of a single server, or one blank row that stands for every
// interface of several servers and carries only the DHCP switch.
class IpSettingsModel : public QAbstractListModel
{
    Q_OBJECT

    Q_PROPERTY(bool isSingleSelection READ isSingleSelection NOTIFY isSingleSelectionChanged)

public:
    enum Roles {
        AdapterNameRole = Qt::UserRole + 2,
        AddressRole,
        SubnetMaskRole,
        UseDHCPRole,
        ReadableNameRole,
        DnsRole,
        GatewayRole,
        LastRole,
    };

    IpSettingsModel(ServersSelectionModel *selectionModel, QObject *parent);
    ~IpSettingsModel() override;

    bool isSingleSelection() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void isSingleSelectionChanged();

private:
    class Impl;
    Impl *const m_impl;
};

} // namespace rtu
