#include "app/qml_registration.h"

#include "app/accessible_extras.h"
#include "app/accessible_item.h"
#include "app/input_validator.h"
#include "app/keyboard_mode.h"
#include "app/local_ipv4_addresses.h"
#include "changes/change_draft.h"
#include "models/buttons.h"
#include "core/constants.h"

#include <QCoreApplication>
#include <QQmlEngine>

namespace rtu {

void registerQmlTypes()
{
    static const char uri[] = "orvane.rtu";
    qmlRegisterUncreatableType<Constants>(uri, 1, 0, "Constants", QStringLiteral("Constants"));
    qmlRegisterType<Buttons>(uri, 1, 0, "Buttons");
    qmlRegisterType<LocalIPv4Addresses>(uri, 1, 0, "LocalIPv4Addresses");
    qmlRegisterType<InputValidator>(uri, 1, 0, "InputValidator");
    qmlRegisterType<ChangeDraft>(uri, 1, 0, "ChangeDraft");
    qmlRegisterUncreatableType<AccessibleExtras>(uri, 1, 0, "AccessibleExtras",
                                                 QStringLiteral("AccessibleExtras is attached to items"));
    // Made now, not when a document first reads it: it must see the first
    // Tab, which comes before any focus frame asks whether to show.
    static KeyboardMode *const keyboardMode = new KeyboardMode(QCoreApplication::instance());
    qmlRegisterSingletonInstance(uri, 1, 0, "KeyboardMode", keyboardMode);
    installAccessibleItems();
}

} // namespace rtu
