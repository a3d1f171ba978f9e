#pragma once

#include <QString>

#include <optional>

class QDate;

namespace rtu::cli {

// The window's input rules, for values given on a command line: what its
// fields would accept is accepted, nothing else.

// A port as the port field takes it: 1..65535, digits only, no leading zero.
bool isAcceptablePort(const QString &text);
// An IPv4 address as the address field takes it: four octets 0..255 without
// leading zeros.
bool isAcceptableAddress(const QString &text);
// A system name or a password made of blanks only is refused.
bool isBlank(const QString &text);
// A subnet mask, dotted or as a prefix length ("24"), in the dotted form the
// servers report (the confirmation of a change compares texts); empty when
// it is neither.
std::optional<QString> dottedMask(const QString &text);
// A date the date field can hold (years 2000 to 2100).
bool isAcceptableDate(const QDate &date);

} // namespace rtu::cli
