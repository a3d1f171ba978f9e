// The one reader of JSON from peers: what it accepts nests no deeper than
// allowed, and what Qt writes from it, it accepts again. A repeated key that
// slipped through would show as a leak (LeakSanitizer checks every input).
#include "core/json_object.h"
#include "fuzz_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

using namespace rtu;

namespace {

int depthOf(const QJsonValue &value)
{
    int deepest = 0;
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            deepest = std::max(deepest, depthOf(it.value()));
        return deepest + 1;
    }
    if (value.isArray()) {
        for (const QJsonValue &item : value.toArray())
            deepest = std::max(deepest, depthOf(item));
        return deepest + 1;
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const std::optional<QJsonObject> object = parseJsonObject(text);
    if (!object)
        return 0;

    FUZZ_CHECK(depthOf(*object) <= kMaxJsonDepth);

    const QByteArray written = QJsonDocument(*object).toJson(QJsonDocument::Compact);
    const std::optional<QJsonObject> again = parseJsonObject(written);
    FUZZ_CHECK(again);
    // Qt orders keys holding a zero character differently on each pass, so
    // only the members are compared, not the text.
    const QStringList keys = object->keys();
    const QStringList keysAgain = again->keys();
    FUZZ_CHECK(QSet<QString>(keysAgain.begin(), keysAgain.end()) == QSet<QString>(keys.begin(), keys.end()));
    return 0;
}
