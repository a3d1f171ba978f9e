#pragma once

#include "changes/change_outcome.h"

#include <QByteArray>
#include <QDate>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QVariantMap>
#include <QVector>

#include <optional>

namespace rtu {

class ChangesManager;

// One interface as its line in the network panel holds it.
struct InterfaceEdit
{
    QString name;
    bool useDhcp = false;
    bool dhcpChanged = false;
    // Sent whenever DHCP is off, changed or not: the server needs both.
    QString address;
    QString mask;
    // Set when the field was edited; an emptied address clears the setting.
    std::optional<QString> dns;
    std::optional<QString> gateway;
};

// The date, time and zone as the date/time panel holds them.
struct DateTimeEdit
{
    // Empty when no zone is chosen.
    QByteArray zoneId;
    // "Set current date/time": the workstation's clock when applied.
    bool useCurrent = false;
    // Invalid when the fields hold no acceptable value.
    QDate date;
    QTime time;
    // The operator typed a date or time; otherwise the fields show the
    // servers' clock, which runs on until each request goes out.
    bool typed = false;
    // The selected servers' common clock (ms since the epoch), 0 if none.
    qint64 serversClockMs = 0;
};

// The operator's edits before they reach the changes manager: validate()
// applies the tool's input rules to them, submit() hands them over through
// the manager's add...Change slots. The settings panels and the command both
// go through it, so that they accept and send the same things.
class ChangeDraft : public QObject
{
    Q_OBJECT

public:
    // The field a refusal is about.
    enum Field {
        NoField,
        PortField,
        SystemNameField,
        PasswordField,
        AddressField,
        MaskField,
        DnsField,
        GatewayField,
        TimeZoneField,
        DateField,
        TimeField,
    };
    Q_ENUM(Field)

    struct Problem
    {
        Field field = NoField;
        // For the interface fields.
        QString interfaceName;
        // The value refused, as given.
        QString value;

        bool ok() const { return field == NoField; }
        // The window's message for it.
        QString message() const;
    };

    explicit ChangeDraft(QObject *parent = nullptr);
    ~ChangeDraft() override;

    // From the window: each panel fills in its edits, asks for problem() and
    // submits when there is none.
    Q_INVOKABLE void clear();
    // The port field's text.
    Q_INVOKABLE void setPort(const QString &text);
    Q_INVOKABLE void setSystemName(const QString &name);
    Q_INVOKABLE void setPassword(const QString &password);
    // With several servers: DHCP on every interface that has it off.
    Q_INVOKABLE void turnOnDhcp();
    // An interface line: "name", "useDhcp", "dhcpChanged", "address",
    // "mask", and "dns" / "gateway" when their fields changed.
    Q_INVOKABLE void addInterface(const QVariantMap &line);
    // zoneId: the picker's identifier, empty when it shows no valid zone.
    Q_INVOKABLE void setDateTime(const QVariant &zoneId, bool useCurrent, const QDate &date, const QTime &time,
                                 bool typed, qint64 serversClockMs);
    // {"field": Field, "interfaceName", "message"}; field NoField when the
    // draft may be submitted.
    Q_INVOKABLE QVariantMap problem() const;
    Q_INVOKABLE bool submit(QObject *manager) const;

    void addInterface(const InterfaceEdit &edit);
    void setDateTime(const DateTimeEdit &edit);
    // A password the servers may currently have beside the tool's known
    // ones: every change authenticates with the current password in its line.
    void addCurrentPassword(const QString &password);

    // The first refusal, in the order the window checks its fields.
    Problem validate() const;
    // Hands the edits to the manager; false (and nothing handed) when
    // validate() refuses them.
    bool submit(ChangesManager &manager) const;

    // The rows a run of this draft makes on a server, interfaces aside
    // (their rows depend on the server; DHCP on is one "dhcp" row), each
    // with its value as ChangeOutcome gives it.
    QVector<QPair<ChangeSetting, QString>> settings() const;

private:
    class Impl;
    Impl *const m_impl;
};

} // namespace rtu
