#pragma once

#include <QObject>

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

    ModelChangeHelper(const RangeAction &beginInsertRows, const Action &endInsertRows,
                      const RangeAction &beginRemoveRows, const Action &endRemoveRows,
                      const Action &beginResetModel, const Action &endResetModel, const RangeAction &dataChanged,
                      const Action &layoutNotifier, QObject *parent);
    ~ModelChangeHelper() override;

    [[nodiscard]] Guard insertRowsGuard(int first, int last);
    [[nodiscard]] Guard removeRowsGuard(int first, int last);
    [[nodiscard]] Guard resetModelGuard();
    void dataChanged(int first, int last);

private:
    RangeAction m_beginInsertRows;
    Action m_endInsertRows;
    RangeAction m_beginRemoveRows;
    Action m_endRemoveRows;
    Action m_beginResetModel;
    Action m_endResetModel;
    RangeAction m_dataChanged;
    Action m_layoutNotifier;
};

} // namespace rtu
