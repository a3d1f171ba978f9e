#pragma once

#include <QByteArray>
#include <QJsonObject>

#include <optional>

namespace rtu {

// Deepest nesting of objects and arrays accepted in a peer's JSON text; real
// replies nest three levels.
constexpr int kMaxJsonDepth = 32;

// Reads a JSON text that a peer sent as an object. Empty when the text is not
// JSON, its top level is not an object, it nests deeper than kMaxJsonDepth, or
// any object in it names a key twice: Qt 5.15 leaks the earlier value of a
// repeated key, so such a text never reaches Qt's parser.
std::optional<QJsonObject> parseJsonObject(const QByteArray &text);

} // namespace rtu
