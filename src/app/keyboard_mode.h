#pragma once

#include <QObject>

namespace rtu {

// Whether the operator is moving through the window with the keyboard. Focus
// frames show only then: a click leaves the window looking as it always did.
class KeyboardMode : public QObject
{
    Q_OBJECT

    Q_PROPERTY(bool active READ active NOTIFY activeChanged)
    // While a Tab or Backtab (Shift+Tab) is delivered, and which: a control
    // the focus chain enters knows how it came in, wrapping round or not,
    // and that it was not a window getting the keyboard back.
    Q_PROPERTY(bool tabbing READ tabbing)
    Q_PROPERTY(bool backwards READ backwards)

public:
    // Watches the application's input events from construction on.
    explicit KeyboardMode(QObject *parent = nullptr);
    ~KeyboardMode() override;

    bool active() const;
    bool tabbing() const;
    bool backwards() const;

signals:
    void activeChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setActive(bool active);

    bool m_active = false;
    bool m_tabbing = false;
    bool m_backwards = false;
};

} // namespace rtu
