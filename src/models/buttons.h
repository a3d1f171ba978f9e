#pragma once

#include <QAbstractListModel>

namespace rtu {

// The rows of a button bar (identifier, caption, width-to-height ratio) for a
// set of button flags; the QML documents create it to lay out their buttons.
class Buttons : public QAbstractListModel
{
    Q_OBJECT

    Q_PROPERTY(int buttons READ buttons WRITE setButtons NOTIFY buttonsChanged)

public:
    enum ButtonType {
        Yes = 0x01,
        ApplyChanges = 0x02,
        Ok = 0x04,
        Update = 0x08,
        No = 0x10,
        DiscardChanges = 0x20,
        Cancel = 0x40,
    };
    Q_ENUM(ButtonType)

    enum Roles {
        IdRole = Qt::UserRole + 1,
        CaptionRole,
        AspectRole,
    };

    explicit Buttons(QObject *parent = nullptr);
    ~Buttons() override;

    int buttons() const;
    void setButtons(int buttons);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void buttonsChanged();

private:
    class Impl;
    Impl *const m_impl;
};

} // namespace rtu
