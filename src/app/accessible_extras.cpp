#include "app/accessible_extras.h"

#include <QAccessible>

namespace rtu {

AccessibleExtras::AccessibleExtras(QObject *parent)
    : QObject(parent)
{
}

AccessibleExtras::~AccessibleExtras() = default;

AccessibleExtras *AccessibleExtras::qmlAttachedProperties(QObject *object)
{
    return new AccessibleExtras(object);
}

AccessibleExtras *AccessibleExtras::of(const QObject *item)
{
    return qobject_cast<AccessibleExtras *>(qmlAttachedPropertiesObject<AccessibleExtras>(item, false));
}

bool AccessibleExtras::expandable() const
{
    return m_expandable;
}

void AccessibleExtras::setExpandable(bool expandable)
{
    if (m_expandable == expandable)
        return;
    m_expandable = expandable;
    emit expandableChanged();
}

bool AccessibleExtras::expanded() const
{
    return m_expanded;
}

void AccessibleExtras::setExpanded(bool expanded)
{
    if (m_expanded == expanded)
        return;
    m_expanded = expanded;
    emit expandedChanged();
}

QString AccessibleExtras::name() const
{
    return m_name;
}

void AccessibleExtras::setName(const QString &name)
{
    if (m_name == name)
        return;
    m_name = name;
    emit nameChanged();
}

QString AccessibleExtras::valueText() const
{
    return m_valueText;
}

bool AccessibleExtras::hasValueText() const
{
    return m_hasValueText;
}

void AccessibleExtras::setValueText(const QString &text)
{
    if (m_hasValueText && m_valueText == text)
        return;
    m_valueText = text;
    m_hasValueText = true;
    if (parent() && QAccessible::isActive()) {
        // Sent as an insertion alone: readers speak a removal of the old
        // text too ("selection deleted") before the new one.
        QAccessibleTextInsertEvent event(parent(), 0, text);
        QAccessible::updateAccessibility(&event);
    }
    emit valueTextChanged();
}

} // namespace rtu
