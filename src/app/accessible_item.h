#pragma once

#include <QtQuick/private/qaccessiblequickitem_p.h>

namespace rtu {

// Qt Quick's accessible item with what Qt 5 leaves out: a disabled item is
// not enabled, a hidden window holds no focused item, a progress bar has a
// value, a tri-state box going from mixed to unchecked says so, a list's
// children come in the order they are seen, and what AccessibleExtras adds
// (expanded state, a password field's name, a combo box's value as text). Subclassed from Qt's private
// class: the public API offers no way to extend an item's interface, and
// writing the whole of it anew would copy most of Qt's.
class AccessibleItem : public QAccessibleQuickItem
{
public:
    explicit AccessibleItem(QQuickItem *item);

    QAccessible::State state() const override;
    QString text(QAccessible::Text type) const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;

    // The text interface, read-only, for an item with a value text.
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    int cursorPosition() const override;
    int selectionCount() const override;
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;

protected:
    void *interface_cast(QAccessible::InterfaceType type) override;

private:
    bool showsValueText() const;
    QList<QQuickItem *> childrenInViewOrder() const;
};

// Makes every accessible Qt Quick item an AccessibleItem. Call once, before
// the first window is shown.
void installAccessibleItems();

} // namespace rtu
