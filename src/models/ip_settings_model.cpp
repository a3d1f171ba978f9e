#include "models/ip_settings_model.h"

#include "core/server_info.h"
#include "models/servers_selection_model.h"

#include <algorithm>

namespace rtu {

namespace {

bool allInterfacesUse(const ServerInfo &server, int useDHCP)
{
    if (!server.hasExtraInfo())
        return true;
    const InterfaceInfoList &interfaces = server.extraInfo().interfaces;
    return std::all_of(interfaces.cbegin(), interfaces.cend(),
                       [useDHCP](const InterfaceInfo &info) { return info.useDHCP == useDHCP; });
}

InterfaceInfoList interfacesOf(const ServerInfoPtrContainer &servers)
{
    if (servers.isEmpty() || !servers.first()->hasExtraInfo())
        return InterfaceInfoList();
    const InterfaceInfoList &first = servers.first()->extraInfo().interfaces;
    if (servers.size() == 1)
        return first;
    if (first.isEmpty())
        return InterfaceInfoList();

    // Several servers share one blank row; only the DHCP switch says something.
    const int firstDhcp = first.first().useDHCP;
    const bool anyUniform = std::any_of(servers.cbegin(), servers.cend(), [firstDhcp](const ServerInfo *server) {
        return allInterfacesUse(*server, firstDhcp);
    });
    InterfaceInfo blank;
    blank.useDHCP = (firstDhcp != Qt::Unchecked || !anyUniform) ? Qt::Checked : Qt::Unchecked;
    return InterfaceInfoList{blank};
}

} // namespace

class IpSettingsModel::Impl : public QObject
{
public:
    Impl(IpSettingsModel *owner, ServersSelectionModel *selectionModel)
        : QObject(owner), isSingleSelection(selectionModel->selectedCount() < 2),
          interfaces(interfacesOf(selectionModel->selectedServers()))
    {
    }

    const bool isSingleSelection;
    const InterfaceInfoList interfaces;
};

IpSettingsModel::IpSettingsModel(ServersSelectionModel *selectionModel, QObject *parent)
    : QAbstractListModel(parent), m_impl(new Impl(this, selectionModel))
{
}

IpSettingsModel::~IpSettingsModel() = default;

bool IpSettingsModel::isSingleSelection() const
{
    return m_impl->isSingleSelection;
}

int IpSettingsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_impl->interfaces.size();
}

QVariant IpSettingsModel::data(const QModelIndex &index, int role) const
{
    const int row = index.row();
    if (!index.isValid() || row < 0 || row >= m_impl->interfaces.size())
        return QVariant();

    const InterfaceInfo &info = m_impl->interfaces.at(row);
    switch (role) {
    case AdapterNameRole:
        return info.name;
    case AddressRole:
        return info.ip;
    case SubnetMaskRole:
        return info.mask;
    case UseDHCPRole:
        return info.useDHCP;
    case ReadableNameRole:
        return tr("Interface #%1").arg(row + 1);
    case DnsRole:
        return info.dns;
    case GatewayRole:
        return info.gateway;
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> IpSettingsModel::roleNames() const
{
    static const QHash<int, QByteArray> names = {
        {AdapterNameRole, "adapterName"}, {AddressRole, "address"}, {SubnetMaskRole, "subnetMask"},
        {UseDHCPRole, "useDHCP"},         {ReadableNameRole, "readableName"}, {DnsRole, "dns"},
        {GatewayRole, "gateway"},
    };
    return names;
}

} // namespace rtu
