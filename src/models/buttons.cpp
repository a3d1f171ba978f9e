#include "models/buttons.h"

#include "models/model_change_helper.h"

#include <QVector>

namespace rtu {

namespace {

struct ButtonRow
{
    int id;
    QString caption;
    float aspect;
};

using ButtonRows = QVector<ButtonRow>;

// Ascending flag order: the bar lays rows out right to left, so the first
// row is the rightmost button.
const ButtonRows &buttonTable()
{
    static const ButtonRows table = {
        {Buttons::Yes, QStringLiteral("Yes"), 3.0f},
        {Buttons::ApplyChanges, QStringLiteral("Apply changes"), 5.0f},
        {Buttons::Ok, QStringLiteral("Ok"), 3.0f},
        {Buttons::Update, QStringLiteral("Update"), 3.0f},
        {Buttons::No, QStringLiteral("No"), 3.0f},
        {Buttons::DiscardChanges, QStringLiteral("Discard changes"), 5.0f},
        {Buttons::Cancel, QStringLiteral("Cancel"), 3.0f},
    };
    return table;
}

} // namespace

class Buttons::Impl : public QObject
{
public:
    explicit Impl(Buttons *owner)
        : QObject(owner),
          changeHelper(
              [owner](int first, int last) { owner->beginInsertRows(QModelIndex(), first, last); },
              [owner]() { owner->endInsertRows(); },
              [owner](int first, int last) { owner->beginRemoveRows(QModelIndex(), first, last); },
              [owner]() { owner->endRemoveRows(); }, [owner]() { owner->beginResetModel(); },
              [owner]() { owner->endResetModel(); },
              [owner](int first, int last) {
                  emit owner->dataChanged(owner->index(first), owner->index(last));
              },
              [owner]() { emit owner->layoutChanged(); }, this)
    {
    }

    ModelChangeHelper changeHelper;
    int buttons = 0;
    ButtonRows rows;
};

Buttons::Buttons(QObject *parent) : QAbstractListModel(parent), m_impl(new Impl(this)) {}

Buttons::~Buttons() = default;

int Buttons::buttons() const
{
    return m_impl->buttons;
}

void Buttons::setButtons(int buttons)
{
    // Rebuilt even for the same value: views rely on the reset to relayout.
    {
        const auto guard = m_impl->changeHelper.resetModelGuard();
        m_impl->buttons = buttons;
        m_impl->rows.clear();
        for (const ButtonRow &row : buttonTable()) {
            if (buttons & row.id)
                m_impl->rows.append(row);
        }
    }
    emit buttonsChanged();
}

int Buttons::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return m_impl->rows.size();
}

QVariant Buttons::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_impl->rows.size())
        return QVariant();

    const ButtonRow &row = m_impl->rows.at(index.row());
    switch (role) {
    case IdRole:
        return row.id;
    case CaptionRole:
        return row.caption;
    case AspectRole:
        return row.aspect;
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> Buttons::roleNames() const
{
    static const QHash<int, QByteArray> names = {
        {IdRole, "id"},
        {CaptionRole, "caption"},
        {AspectRole, "aspect"},
    };
    return names;
}

} // namespace rtu
