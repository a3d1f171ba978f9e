#include "app/accessible_item.h"

#include "app/accessible_extras.h"

#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QtQuick/private/qquickaccessibleattached_p.h>
#include <QtQuick/private/qquickitem_p.h>

#include <algorithm>

namespace rtu {

namespace {

void sendStateChange(QQuickItem *item, const QAccessible::State &changed)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleStateChangeEvent event(item, changed);
    QAccessible::updateAccessibility(&event);
}

QAccessibleInterface *createAccessibleItem(const QString &, QObject *object)
{
    auto *item = qobject_cast<QQuickItem *>(object);
    if (!item || !QQuickItemPrivate::get(item)->isAccessible)
        return nullptr;
    return new AccessibleItem(item);
}

} // namespace

AccessibleItem::AccessibleItem(QQuickItem *item)
    : QAccessibleQuickItem(item)
{
    QObject::connect(item, &QQuickItem::enabledChanged, item, [item] {
        QAccessible::State changed;
        changed.disabled = true;
        sendStateChange(item, changed);
    });

    // Qt reports mixed -> unchecked only as the end of "indeterminate", and
    // its AT-SPI bridge does not send even that: the box's checked state is
    // sent instead, once both bindings have settled (mixed -> checked passes
    // through "neither" on its way). Connected on the next turn: the
    // interface is first asked for while the item's "Accessible" is being
    // made.
    QMetaObject::invokeMethod(item, [item] {
        QQuickAccessibleAttached *attached = QQuickAccessibleAttached::attachedProperties(item);
        if (!attached)
            return;
        const QPointer<QQuickAccessibleAttached> guard(attached);
        QObject::connect(attached, &QQuickAccessibleAttached::checkStateMixedChanged, item, [item, guard](bool mixed) {
            if (mixed)
                return;
            QMetaObject::invokeMethod(item, [item, guard] {
                if (!guard || guard->checked() || guard->checkStateMixed())
                    return;
                QAccessible::State changed;
                changed.checked = true;
                sendStateChange(item, changed);
            }, Qt::QueuedConnection);
        });
    }, Qt::QueuedConnection);
}

QAccessible::State AccessibleItem::state() const
{
    QAccessible::State state = QAccessibleQuickItem::state();
    QQuickItem *const quickItem = item();
    if (!quickItem->isEnabled())
        state.disabled = true;
    // A closed dialog keeps its focus item; it is not focused for anyone.
    if (!quickItem->window() || !quickItem->window()->isVisible())
        state.focused = false;
    if (const AccessibleExtras *extras = AccessibleExtras::of(quickItem)) {
        if (extras->expandable()) {
            state.expandable = true;
            state.expanded = extras->expanded();
            state.collapsed = !extras->expanded();
        }
    }
    return state;
}

QString AccessibleItem::text(QAccessible::Text type) const
{
    const AccessibleExtras *extras = AccessibleExtras::of(item());
    if (extras && type == QAccessible::Value && extras->hasValueText())
        return extras->valueText();
    QString text = QAccessibleQuickItem::text(type);
    if (text.isEmpty() && extras && type == QAccessible::Name)
        return extras->name();
    return text;
}

QList<QQuickItem *> AccessibleItem::childrenInViewOrder() const
{
    QList<QQuickItem *> children = childItems();
    if (role() != QAccessible::List)
        return children;
    // A view reuses and adds delegates in any order; readers expect the
    // rows top to bottom.
    QVector<QPair<QPointF, QQuickItem *>> placed;
    placed.reserve(children.size());
    for (QQuickItem *child : qAsConst(children))
        placed.append({child->mapToScene(QPointF(0, 0)), child});
    std::stable_sort(placed.begin(), placed.end(), [](const auto &a, const auto &b) {
        return a.first.y() < b.first.y() || (a.first.y() == b.first.y() && a.first.x() < b.first.x());
    });
    for (int i = 0; i < placed.size(); ++i)
        children[i] = placed.at(i).second;
    return children;
}

QAccessibleInterface *AccessibleItem::child(int index) const
{
    if (role() != QAccessible::List)
        return QAccessibleQuickItem::child(index);
    const QList<QQuickItem *> children = childrenInViewOrder();
    if (index < 0 || index >= children.size())
        return nullptr;
    return QAccessible::queryAccessibleInterface(children.at(index));
}

int AccessibleItem::indexOfChild(const QAccessibleInterface *child) const
{
    if (role() != QAccessible::List)
        return QAccessibleQuickItem::indexOfChild(child);
    if (!child || !child->object())
        return -1;
    return childrenInViewOrder().indexOf(qobject_cast<QQuickItem *>(child->object()));
}

bool AccessibleItem::showsValueText() const
{
    const AccessibleExtras *extras = AccessibleExtras::of(item());
    return extras && extras->hasValueText();
}

QString AccessibleItem::text(int startOffset, int endOffset) const
{
    if (!showsValueText())
        return QAccessibleQuickItem::text(startOffset, endOffset);
    const QString value = AccessibleExtras::of(item())->valueText();
    if (endOffset < 0 || endOffset > value.size())
        endOffset = value.size();
    startOffset = qBound(0, startOffset, endOffset);
    return value.mid(startOffset, endOffset - startOffset);
}

int AccessibleItem::characterCount() const
{
    if (!showsValueText())
        return QAccessibleQuickItem::characterCount();
    return AccessibleExtras::of(item())->valueText().size();
}

int AccessibleItem::cursorPosition() const
{
    return showsValueText() ? 0 : QAccessibleQuickItem::cursorPosition();
}

// The value is the entry chosen, all of it: screen readers speak a new
// text that comes selected, as after a search completed an entry.
int AccessibleItem::selectionCount() const
{
    return showsValueText() ? 1 : QAccessibleQuickItem::selectionCount();
}

void AccessibleItem::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    if (!showsValueText()) {
        QAccessibleQuickItem::selection(selectionIndex, startOffset, endOffset);
        return;
    }
    *startOffset = 0;
    *endOffset = selectionIndex == 0 ? characterCount() : 0;
}

void *AccessibleItem::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface && showsValueText())
        return static_cast<QAccessibleTextInterface *>(this);
    // Qt Quick reads an item's "value", "minimumValue" and "maximumValue" and
    // sends each new value, but offers the interface to sliders and the like
    // only, not to a progress bar.
    if (type == QAccessible::ValueInterface && role() == QAccessible::ProgressBar)
        return static_cast<QAccessibleValueInterface *>(this);
    return QAccessibleQuickItem::interface_cast(type);
}

void installAccessibleItems()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    // Factories are asked newest first. Qt Quick installs its own when the
    // module is first imported; a plain Item, whose class is "QQuickItem"
    // itself, would go to it if it came after ours.
    {
        QQmlEngine engine;
        QQmlComponent module(&engine);
        module.setData("import QtQuick 2.0\nQtObject {}", QUrl());
    }
    QAccessible::installFactory(&createAccessibleItem);
}

} // namespace rtu
