#include "field_inputs.h"

#include "test_paths.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVariantMap>

namespace rtu::test {

QVector<FieldInput> fieldInputs()
{
    QFile file(sourceDir() + QStringLiteral("/tests/support/field_inputs.json"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(file.fileName()));
    QVector<FieldInput> inputs;
    for (const QJsonValue &value : QJsonDocument::fromJson(file.readAll()).array()) {
        const QJsonObject row = value.toObject();
        // A long value is a character repeated.
        const int times = row.value(QStringLiteral("times")).toInt(1);
        inputs.append({row.value(QStringLiteral("field")).toString(),
                       row.value(QStringLiteral("text")).toString().repeated(times),
                       row.value(QStringLiteral("accepted")).toBool(), row.value(QStringLiteral("why")).toString()});
    }
    if (inputs.isEmpty())
        qFatal("no rows in %s", qPrintable(file.fileName()));
    return inputs;
}

QVariantList fieldInputsForQml()
{
    QVariantList rows;
    for (const FieldInput &input : fieldInputs()) {
        rows.append(QVariantMap{{QStringLiteral("field"), input.field},
                                {QStringLiteral("text"), input.text},
                                {QStringLiteral("accepted"), input.accepted},
                                {QStringLiteral("why"), input.why}});
    }
    return rows;
}

} // namespace rtu::test
