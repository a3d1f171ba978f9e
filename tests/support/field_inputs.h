#pragma once

#include <QString>
#include <QVariantList>
#include <QVector>

namespace rtu::test {

// One value as an operator gives it to a field of the window or to an
// option of the command, and whether the tool must take it. Both front ends
// run the same table (field_inputs.json), so that they cannot drift apart.
struct FieldInput
{
    // "port", "address", "mask", "gateway", "dns", "systemName", "password"
    QString field;
    QString text;
    bool accepted = false;
    QString why;
};

QVector<FieldInput> fieldInputs();
// The same for QML: maps with the keys above.
QVariantList fieldInputsForQml();

} // namespace rtu::test
