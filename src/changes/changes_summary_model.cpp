#include "changes/changes_summary_model.h"

#include "core/server_info.h"
#include "models/model_change_helper.h"

#include <QVector>

#include <algorithm>

namespace rtu {

namespace {

struct ChangeResult
{
    QString id;
    QString name;
    QString value;
    QString reason;
};

} // namespace

class ChangesSummaryModel::Impl : public QObject
{
public:
    Impl(bool isSuccessChangesModel, ChangesSummaryModel *model, ModelChangeHelper *changeHelper)
        : QObject(model), isSuccessChangesModel(isSuccessChangesModel), model(model), changeHelper(changeHelper)
    {
        changeHelper->setParent(this);
    }

    const bool isSuccessChangesModel;
    ChangesSummaryModel *const model;
    ModelChangeHelper *const changeHelper;
    QVector<ChangeResult> rows;
};

ChangesSummaryModel::ChangesSummaryModel(bool isSuccessChangesModel, QObject *parent)
    : QAbstractListModel(parent),
      m_impl(new Impl(isSuccessChangesModel, this,
                      new ModelChangeHelper(
                          [this](int first, int last) { beginInsertRows(QModelIndex(), first, last); },
                          [this]() { endInsertRows(); },
                          [this](int first, int last) { beginRemoveRows(QModelIndex(), first, last); },
                          [this]() { endRemoveRows(); }, [this]() { beginResetModel(); },
                          [this]() { endResetModel(); },
                          [this](int first, int last) { emit dataChanged(index(first), index(last)); },
                          // Rows are only ever appended or inserted; the views need nothing more.
                          []() {}, nullptr)))
{
}

ChangesSummaryModel::~ChangesSummaryModel() = default;

void ChangesSummaryModel::addRequestResult(const ServerInfo &server, const QString &name, const QString &value,
                                           const QString &reason)
{
    const BaseServerInfo &base = server.baseInfo();
    ChangeResult row{QStringLiteral("%1%2 (%3)").arg(base.id.toString(), base.name, base.displayAddress), name,
                     value, reason};

    // The upper bound keeps the rows of one server in the order the answers came.
    QVector<ChangeResult> &rows = m_impl->rows;
    const auto position = std::upper_bound(rows.begin(), rows.end(), row.id,
                                           [](const QString &id, const ChangeResult &other) { return id < other.id; });
    const int rowIndex = int(position - rows.begin());
    {
        const auto guard = m_impl->changeHelper->insertRowsGuard(rowIndex, rowIndex);
        rows.insert(rowIndex, row);
    }
    emit changesCountChanged();
}

int ChangesSummaryModel::changesCount() const
{
    return m_impl->rows.size();
}

bool ChangesSummaryModel::isSuccessChangesModel() const
{
    return m_impl->isSuccessChangesModel;
}

int ChangesSummaryModel::rowCount(const QModelIndex &parent) const
{
    // A flat list: rows have no children, or item views would recurse.
    return parent.isValid() ? 0 : m_impl->rows.size();
}

QVariant ChangesSummaryModel::data(const QModelIndex &index, int role) const
{
    const int row = index.row();
    if (!index.isValid() || row < 0 || row >= m_impl->rows.size())
        return QVariant();

    const ChangeResult &result = m_impl->rows.at(row);
    switch (role) {
    case IdRole:
        return result.id;
    case NameRole:
        return result.name;
    case ValueRole:
        return result.value;
    case ReasonRole:
        return result.reason;
    case SuccessRole:
        return m_impl->isSuccessChangesModel;
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> ChangesSummaryModel::roleNames() const
{
    static const QHash<int, QByteArray> names = {
        {IdRole, "id"}, {NameRole, "name"}, {ValueRole, "value"}, {ReasonRole, "reason"}, {SuccessRole, "success"},
    };
    return names;
}

} // namespace rtu
