#pragma once

#include <QObject>
#include <QVector>

#include <functional>
#include <memory>

namespace rtu {

// Brackets the structural changes of a list model: the returned guard ends
// the change when its last copy goes, and every insertion or removal then
// tells the views to relayout through the model's layout notifier.
class ModelChangeHelper : public QObject
{
    Q_OBJECT

public:
    using RangeAction = std::function<void(int first, int last)>;
    using Action = std::function<void()>;
    using Guard = std::shared_ptr<void>;
    // Moves the rows first..last to before the row destination (numbered as
    // before the move).
    using MoveAction = std::function<void(int first, int last, int destination)>;
    using RolesAction = std::function<void(int first, int last, const QVector<int> &roles)>;

    ModelChangeHelper(const RangeAction &beginInsertRows, const Action &endInsertRows,
                      const RangeAction &beginRemoveRows, const Action &endRemoveRows,
                      const Action &beginResetModel, const Action &endResetModel, const RangeAction &dataChanged,
                      const Action &layoutNotifier, QObject *parent);
    ~ModelChangeHelper() override;

    // Optional: models that move rows or name the changed roles supply these.
    void setMoveActions(const MoveAction &beginMoveRows, const Action &endMoveRows);
    void setRolesDataChanged(const RolesAction &dataChanged);

    [[nodiscard]] Guard insertRowsGuard(int first, int last);
    [[nodiscard]] Guard removeRowsGuard(int first, int last);
    [[nodiscard]] Guard moveRowsGuard(int first, int last, int destination);
    [[nodiscard]] Guard resetModelGuard();
    void dataChanged(int first, int last);
    void dataChanged(int first, int last, const QVector<int> &roles);

private:
    RangeAction m_beginInsertRows;
    Action m_endInsertRows;
    RangeAction m_beginRemoveRows;
    Action m_endRemoveRows;
    Action m_beginResetModel;
    Action m_endResetModel;
    RangeAction m_dataChanged;
    Action m_layoutNotifier;
    MoveAction m_beginMoveRows;
    Action m_endMoveRows;
    RolesAction m_rolesDataChanged;
};

} // namespace rtu
