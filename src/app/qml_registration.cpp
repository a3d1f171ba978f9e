#include "app/qml_registration.h"

#include "models/buttons.h"
#include "core/constants.h"

#include <QQmlEngine>

namespace rtu {

void registerQmlTypes()
{
    static const char uri[] = "orvane.rtu";
    qmlRegisterUncreatableType<Constants>(uri, 1, 0, "Constants", QStringLiteral("Constants"));
    qmlRegisterType<Buttons>(uri, 1, 0, "Buttons");
}

} // namespace rtu
