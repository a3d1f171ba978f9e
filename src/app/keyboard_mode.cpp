#include "app/keyboard_mode.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>

namespace rtu {

KeyboardMode::KeyboardMode(QObject *parent)
    : QObject(parent)
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
}

KeyboardMode::~KeyboardMode() = default;

bool KeyboardMode::active() const
{
    return m_active;
}

bool KeyboardMode::tabbing() const
{
    return m_tabbing;
}

bool KeyboardMode::backwards() const
{
    return m_backwards;
}

bool KeyboardMode::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyRelease:
        m_tabbing = m_backwards = false;
        break;
    case QEvent::KeyPress:
        m_backwards = static_cast<QKeyEvent *>(event)->key() == Qt::Key_Backtab;
        m_tabbing = m_backwards || static_cast<QKeyEvent *>(event)->key() == Qt::Key_Tab;
        // Keys that move between controls or rows; typing into a clicked
        // field is still mouse work.
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            setActive(true);
            break;
        default:
            break;
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::TouchBegin:
        setActive(false);
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void KeyboardMode::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    emit activeChanged();
}

} // namespace rtu
