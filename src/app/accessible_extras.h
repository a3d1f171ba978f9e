#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqml.h>

namespace rtu {

// What a screen reader needs to hear of an item that Qt 5's "Accessible"
// cannot say, attached from QML ("TessRtu.AccessibleExtras.expanded: ...").
// The items' accessible interfaces (AccessibleItem) read it. Of its changes
// only the value text's is sent: Qt 5's AT-SPI bridge passes on no change of
// the expanded state, and a name here is one that does not change.
class AccessibleExtras : public QObject
{
    Q_OBJECT

    // A control that shows or hides something, and whether it is shown.
    Q_PROPERTY(bool expandable READ expandable WRITE setExpandable NOTIFY expandableChanged)
    Q_PROPERTY(bool expanded READ expanded WRITE setExpanded NOTIFY expandedChanged)
    // A name where Qt gives none: Qt withholds every password field's name.
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    // What the control shows as its value (a combo box's chosen entry),
    // offered as its text and announced on change.
    Q_PROPERTY(QString valueText READ valueText WRITE setValueText NOTIFY valueTextChanged)

public:
    explicit AccessibleExtras(QObject *parent = nullptr);
    ~AccessibleExtras() override;

    static AccessibleExtras *qmlAttachedProperties(QObject *object);
    // The item's extras, or null when it has none.
    static AccessibleExtras *of(const QObject *item);

    bool expandable() const;
    void setExpandable(bool expandable);
    bool expanded() const;
    void setExpanded(bool expanded);
    QString name() const;
    void setName(const QString &name);
    QString valueText() const;
    bool hasValueText() const;
    void setValueText(const QString &text);

signals:
    void expandableChanged();
    void expandedChanged();
    void nameChanged();
    void valueTextChanged();

private:
    bool m_expandable = false;
    bool m_expanded = false;
    QString m_name;
    QString m_valueText;
    bool m_hasValueText = false;
};

} // namespace rtu

QML_DECLARE_TYPEINFO(rtu::AccessibleExtras, QML_HAS_ATTACHED_PROPERTIES)
