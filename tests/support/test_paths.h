#pragma once

#include <QString>

namespace rtu::test {

// The source tree, for the simulator and test data.
inline QString sourceDir() { return QStringLiteral(TESSALY_SOURCE_DIR); }

} // namespace rtu::test
