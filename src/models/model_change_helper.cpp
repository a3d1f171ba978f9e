#include "models/model_change_helper.h"

namespace rtu {

ModelChangeHelper::ModelChangeHelper(const RangeAction &beginInsertRows, const Action &endInsertRows,
                                     const RangeAction &beginRemoveRows, const Action &endRemoveRows,
                                     const Action &beginResetModel, const Action &endResetModel,
                                     const RangeAction &dataChanged, const Action &layoutNotifier, QObject *parent)
    : QObject(parent), m_beginInsertRows(beginInsertRows), m_endInsertRows(endInsertRows),
      m_beginRemoveRows(beginRemoveRows), m_endRemoveRows(endRemoveRows), m_beginResetModel(beginResetModel),
      m_endResetModel(endResetModel), m_dataChanged(dataChanged), m_layoutNotifier(layoutNotifier)
{
}

ModelChangeHelper::~ModelChangeHelper() = default;

ModelChangeHelper::Guard ModelChangeHelper::insertRowsGuard(int first, int last)
{
    m_beginInsertRows(first, last);
    const Action end = m_endInsertRows;
    const Action layout = m_layoutNotifier;
    return Guard(nullptr, [end, layout](void *) {
        end();
        layout();
    });
}

ModelChangeHelper::Guard ModelChangeHelper::removeRowsGuard(int first, int last)
{
    m_beginRemoveRows(first, last);
    const Action end = m_endRemoveRows;
    const Action layout = m_layoutNotifier;
    return Guard(nullptr, [end, layout](void *) {
        end();
        layout();
    });
}

void ModelChangeHelper::setMoveActions(const MoveAction &beginMoveRows, const Action &endMoveRows)
{
    m_beginMoveRows = beginMoveRows;
    m_endMoveRows = endMoveRows;
}

void ModelChangeHelper::setRolesDataChanged(const RolesAction &dataChanged)
{
    m_rolesDataChanged = dataChanged;
}

ModelChangeHelper::Guard ModelChangeHelper::moveRowsGuard(int first, int last, int destination)
{
    m_beginMoveRows(first, last, destination);
    const Action end = m_endMoveRows;
    const Action layout = m_layoutNotifier;
    return Guard(nullptr, [end, layout](void *) {
        end();
        layout();
    });
}

ModelChangeHelper::Guard ModelChangeHelper::resetModelGuard()
{
    m_beginResetModel();
    const Action end = m_endResetModel;
    return Guard(nullptr, [end](void *) { end(); });
}

void ModelChangeHelper::dataChanged(int first, int last)
{
    m_dataChanged(first, last);
}

void ModelChangeHelper::dataChanged(int first, int last, const QVector<int> &roles)
{
    if (m_rolesDataChanged)
        m_rolesDataChanged(first, last, roles);
    else
        m_dataChanged(first, last);
}

} // namespace rtu
