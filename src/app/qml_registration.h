#pragma once

class QQmlEngine;

namespace rtu {

// Registers the module "orvane.rtu" 1.0 that the documents import, and the
// accessible interface of their items.
void registerQmlTypes();

} // namespace rtu
