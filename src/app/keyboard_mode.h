#pragma once

#include <QObject>

namespace rtu {

// Whether the operator is moving through the window with the keyboard. Focus
// frames show only then: a click leaves the window looking as it always did.
class KeyboardMode : public QObject
{
    Q_OBJECT

    Q_PROPERTY(bool active READ active NOTIFY activeChanged)

public:
    // Watches the application's input events from construction on.
    explicit KeyboardMode(QObject *parent = nullptr);
    ~KeyboardMode() override;

    bool active() const;

signals:
    void activeChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setActive(bool active);

    bool m_active = false;
};

} // namespace rtu
