#include "cli/input_rules.h"

#include <QDate>
#include <QRegularExpression>
#include <QStringList>

namespace rtu::cli {

namespace {

// The patterns of the window's port and address octet validators.
const QRegularExpression &portPattern()
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(QStringLiteral(
        "[1-9][0-9]{0,3}|[1-5][0-9]{4}|6[0-4][0-9]{3}|65[0-4][0-9]{2}|655[0-2][0-9]|6553[0-5]")));
    return pattern;
}

const QRegularExpression &octetPattern()
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9]")));
    return pattern;
}

} // namespace

bool isAcceptablePort(const QString &text)
{
    return portPattern().match(text).hasMatch();
}

bool isAcceptableAddress(const QString &text)
{
    const QStringList octets = text.split(QLatin1Char('.'));
    if (octets.size() != 4)
        return false;
    for (const QString &octet : octets) {
        if (!octetPattern().match(octet).hasMatch())
            return false;
    }
    return true;
}

bool isBlank(const QString &text)
{
    return text.trimmed().isEmpty();
}

std::optional<QString> dottedMask(const QString &text)
{
    if (isAcceptableAddress(text))
        return text;
    static const QRegularExpression prefixPattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]|[12][0-9]|3[0-2]")));
    if (!prefixPattern.match(text).hasMatch())
        return std::nullopt;
    const int length = text.toInt();
    const quint32 bits = length == 0 ? 0 : ~quint32(0) << (32 - length);
    return QStringLiteral("%1.%2.%3.%4")
        .arg(bits >> 24)
        .arg((bits >> 16) & 0xff)
        .arg((bits >> 8) & 0xff)
        .arg(bits & 0xff);
}

bool isAcceptableDate(const QDate &date)
{
    return date.isValid() && date.year() >= 2000 && date.year() <= 2100;
}

} // namespace rtu::cli
