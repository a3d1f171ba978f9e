#pragma once

#include <QAbstractListModel>

namespace rtu {

class ServerInfo;

// The result rows of one apply run, for either the successful or the failed
// changes. Rows stay sorted by server so the summary can group them.
class ChangesSummaryModel : public QAbstractListModel
{
    Q_OBJECT

    Q_PROPERTY(int changesCount READ changesCount NOTIFY changesCountChanged)
    Q_PROPERTY(bool isSuccessChangesModel READ isSuccessChangesModel NOTIFY isSuccessChangesModelChanged)

public:
    enum Roles {
        IdRole = Qt::UserRole + 1,
        NameRole,
        ValueRole,
        ReasonRole,
        SuccessRole,
        LastRole,
    };

    ChangesSummaryModel(bool isSuccessChangesModel, QObject *parent);
    ~ChangesSummaryModel() override;

    // Only the base information of the server is read.
    void addRequestResult(const ServerInfo &server, const QString &name, const QString &value,
                          const QString &reason);

    int changesCount() const;
    bool isSuccessChangesModel() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void changesCountChanged();
    void isSuccessChangesModelChanged();

private:
    class Impl;
    Impl *const m_impl;
};

} // namespace rtu
