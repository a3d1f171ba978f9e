#include "core/input_rules.h"

#include <QByteArray>
#include <QDate>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace rtu::rules {

QString portPattern()
{
    return QStringLiteral("[1-9][0-9]{0,3}|[1-5][0-9]{4}|6[0-4][0-9]{3}|65[0-4][0-9]{2}|655[0-2][0-9]|6553[0-5]");
}

QString octetPattern()
{
    return QStringLiteral("25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9]");
}

QString yearPattern()
{
    return QStringLiteral("20[0-9][0-9]|2100");
}

bool isAcceptablePort(const QString &text)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(portPattern()));
    return pattern.match(text).hasMatch();
}

bool isAcceptableOctet(const QString &text)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(octetPattern()));
    return pattern.match(text).hasMatch();
}

bool isAcceptableAddress(const QString &text)
{
    const QStringList octets = text.split(QLatin1Char('.'));
    return octets.size() == 4 && std::all_of(octets.cbegin(), octets.cend(), isAcceptableOctet);
}

bool isEmptyAddress(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    return std::all_of(parts.cbegin(), parts.cend(), isBlank);
}

bool isAcceptableMask(const QString &text)
{
    if (!isAcceptableAddress(text))
        return false;
    quint32 bits = 0;
    for (const QString &octet : text.split(QLatin1Char('.')))
        bits = (bits << 8) | quint32(octet.toUInt());
    // Ones then zeros: the complement plus one is a power of two (or zero).
    const quint32 hostBits = ~bits;
    return (hostBits & (hostBits + 1)) == 0;
}

bool isAcceptableDate(const QDate &date)
{
    return date.isValid() && date.year() >= kMinYear && date.year() <= kMaxYear;
}

bool isBlank(const QString &text)
{
    return text.trimmed().isEmpty();
}

bool isPlainText(const QString &text)
{
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.category() == QChar::Other_Control)
            return false;
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.isSurrogate())
            return false;
    }
    return true;
}

bool isValidUtf8(const QByteArray &bytes)
{
    const auto *at = reinterpret_cast<const unsigned char *>(bytes.constData());
    const auto *end = at + bytes.size();
    while (at < end) {
        const unsigned char lead = *at++;
        if (lead < 0x80)
            continue;
        int more = 0;
        quint32 code = 0;
        quint32 least = 0;
        if ((lead & 0xE0) == 0xC0) {
            more = 1;
            code = lead & 0x1F;
            least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            more = 2;
            code = lead & 0x0F;
            least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            more = 3;
            code = lead & 0x07;
            least = 0x10000;
        } else {
            return false;
        }
        if (end - at < more)
            return false;
        for (int i = 0; i < more; ++i) {
            if ((at[i] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (at[i] & 0x3F);
        }
        at += more;
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
    }
    return true;
}

} // namespace rtu::rules
