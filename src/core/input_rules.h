#pragma once

#include <QString>

class QByteArray;
class QDate;

namespace rtu {

// What the operator may give the tool, decided in one place: the window's
// fields are bound to these rules (through InputValidator and ChangeDraft)
// and the command checks its arguments with the same functions.
namespace rules {

constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;
constexpr int kMinYear = 2000;
constexpr int kMaxYear = 2100;
// Real servers refuse longer request lines (Apache's and nginx's default is
// about 8 KiB); a change that would go out on one is refused beforehand.
constexpr int kMaxRequestLineBytes = 8000;

// Anchored when used; a part of them (while typing) is "intermediate".
QString portPattern();
QString octetPattern();
QString yearPattern();

// 1..65535, digits only, no leading zero.
bool isAcceptablePort(const QString &text);
// 0..255 without leading zeros, so that no server reads it as octal.
bool isAcceptableOctet(const QString &text);
// Four acceptable octets joined by dots.
bool isAcceptableAddress(const QString &text);
// Every part blank ("..." from an emptied address field, or nothing at all).
bool isEmptyAddress(const QString &text);
// A dotted mask whose ones come before its zeros (255.255.240.0). A prefix
// length is not a mask here: the window's mask field has four octets.
bool isAcceptableMask(const QString &text);
bool isAcceptableDate(const QDate &date);
// Nothing but blanks: refused as a system name or password.
bool isBlank(const QString &text);
// Text a server may be sent as a name or password: no control characters
// (line ends, tabs, escapes) and no half of a surrogate pair, which would go
// out as a replacement character the operator never chose.
bool isPlainText(const QString &text);
// Bytes that decode as UTF-8 without a replacement: no stray or missing
// continuation bytes, no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const QByteArray &bytes);

} // namespace rules
} // namespace rtu
