#include "core/json_object.h"

#include "core/ascii.h"

#include <QJsonDocument>
#include <QSet>

#include <vector>

namespace rtu {

namespace {

// One linear pass over the text that follows the JSON grammar just far enough
// to know every object's keys. Keys are compared as Qt will see them: escapes
// decoded, so "a" and "\u0061" are the same key. Anything it cannot follow is
// refused, so a text it lets through has no repeated key wherever Qt looks.
class KeyScanner
{
public:
    explicit KeyScanner(const QByteArray &text) : m_at(text.constData()), m_end(m_at + text.size()) {}

    bool keysUnique()
    {
        enum class Expect { Value, ValueOrClose, Key, KeyOrClose, CommaOrClose };
        skipSpace();
        if (m_at == m_end || *m_at != '{')
            return false;
        Expect expect = Expect::Value;
        for (;;) {
            skipSpace();
            if (expect == Expect::CommaOrClose && m_frames.empty())
                return m_at == m_end;
            if (m_at == m_end)
                return false;
            const char c = *m_at;
            switch (expect) {
            case Expect::ValueOrClose:
                if (c == ']') {
                    close();
                    expect = Expect::CommaOrClose;
                    break;
                }
                Q_FALLTHROUGH();
            case Expect::Value:
                if (c == '{' || c == '[') {
                    if (m_frames.size() >= size_t(kMaxJsonDepth))
                        return false;
                    m_frames.emplace_back(c == '{');
                    ++m_at;
                    expect = c == '{' ? Expect::KeyOrClose : Expect::ValueOrClose;
                    break;
                }
                if (!(c == '"' ? string(nullptr) : scalar()))
                    return false;
                expect = Expect::CommaOrClose;
                break;
            case Expect::KeyOrClose:
                if (c == '}') {
                    close();
                    expect = Expect::CommaOrClose;
                    break;
                }
                Q_FALLTHROUGH();
            case Expect::Key: {
                QByteArray key;
                if (c != '"' || !string(&key))
                    return false;
                QSet<QByteArray> &keys = m_frames.back().keys;
                if (keys.contains(key))
                    return false;
                keys.insert(key);
                skipSpace();
                if (m_at == m_end || *m_at != ':')
                    return false;
                ++m_at;
                expect = Expect::Value;
                break;
            }
            case Expect::CommaOrClose: {
                const bool object = m_frames.back().object;
                if (c == ',') {
                    ++m_at;
                    expect = object ? Expect::Key : Expect::Value;
                } else if (c == (object ? '}' : ']')) {
                    close();
                } else {
                    return false;
                }
                break;
            }
            }
        }
    }

private:
    struct Frame
    {
        explicit Frame(bool object) : object(object) {}
        bool object;
        QSet<QByteArray> keys;
    };

    void skipSpace()
    {
        while (m_at != m_end && (*m_at == ' ' || *m_at == '\t' || *m_at == '\n' || *m_at == '\r'))
            ++m_at;
    }

    void close()
    {
        m_frames.pop_back();
        ++m_at;
    }

    // Numbers and literals: their exact form is Qt's business.
    bool scalar()
    {
        const char *start = m_at;
        while (m_at != m_end
               && ((*m_at >= '0' && *m_at <= '9') || (*m_at >= 'a' && *m_at <= 'z') || (*m_at >= 'A' && *m_at <= 'Z')
                   || *m_at == '+' || *m_at == '-' || *m_at == '.'))
            ++m_at;
        return m_at != start;
    }

    // The code unit of the four hex digits at `at`; -1 when they are not there.
    static int codeUnit(const char *at, const char *end)
    {
        if (end - at < 4)
            return -1;
        int unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hexDigitValue(at[i]);
            if (digit < 0)
                return -1;
            unit = unit * 16 + digit;
        }
        return unit;
    }

    // UTF-8 of a code point; a lone surrogate gets the same three-byte form
    // as any other unit, so it stays distinct from every other key.
    static void appendUtf8(QByteArray &out, uint point)
    {
        if (point < 0x80) {
            out.append(char(point));
        } else if (point < 0x800) {
            out.append(char(0xC0 | (point >> 6)));
            out.append(char(0x80 | (point & 0x3F)));
        } else if (point < 0x10000) {
            out.append(char(0xE0 | (point >> 12)));
            out.append(char(0x80 | ((point >> 6) & 0x3F)));
            out.append(char(0x80 | (point & 0x3F)));
        } else {
            out.append(char(0xF0 | (point >> 18)));
            out.append(char(0x80 | ((point >> 12) & 0x3F)));
            out.append(char(0x80 | ((point >> 6) & 0x3F)));
            out.append(char(0x80 | (point & 0x3F)));
        }
    }

    // At the opening quote; decodes into *decoded when given. Raw bytes are
    // kept as they are: Qt refuses text that is not UTF-8, and valid UTF-8
    // has one form per character.
    bool string(QByteArray *decoded)
    {
        ++m_at;
        const char *start = m_at;
        bool escaped = false;
        while (m_at != m_end && *m_at != '"') {
            if (*m_at++ != '\\')
                continue;
            escaped = true;
            if (m_at == m_end)
                return false;
            const char kind = *m_at++;
            if (kind == 'u') {
                if (codeUnit(m_at, m_end) < 0)
                    return false;
                m_at += 4;
            } else if (!QByteArray::fromRawData("\"\\/bfnrt", 8).contains(kind)) {
                return false;
            }
        }
        if (m_at == m_end)
            return false;
        const char *stop = m_at++;
        if (decoded)
            *decoded = escaped ? decode(start, stop) : QByteArray::fromRawData(start, int(stop - start));
        return true;
    }

    // The escapes of a string that string() has checked.
    static QByteArray decode(const char *at, const char *stop)
    {
        QByteArray out;
        out.reserve(int(stop - at));
        while (at != stop) {
            if (*at != '\\') {
                out.append(*at++);
                continue;
            }
            const char kind = at[1];
            at += 2;
            switch (kind) {
            case 'b': out.append('\b'); break;
            case 'f': out.append('\f'); break;
            case 'n': out.append('\n'); break;
            case 'r': out.append('\r'); break;
            case 't': out.append('\t'); break;
            case 'u': {
                uint point = uint(codeUnit(at, stop));
                at += 4;
                // A surrogate pair written as two escapes is one character.
                if (point >= 0xD800 && point < 0xDC00 && stop - at >= 6 && at[0] == '\\' && at[1] == 'u') {
                    const int low = codeUnit(at + 2, stop);
                    if (low >= 0xDC00 && low < 0xE000) {
                        point = 0x10000 + ((point - 0xD800) << 10) + uint(low - 0xDC00);
                        at += 6;
                    }
                }
                appendUtf8(out, point);
                break;
            }
            default: out.append(kind); break;
            }
        }
        return out;
    }

    const char *m_at;
    const char *const m_end;
    std::vector<Frame> m_frames;
};

} // namespace

std::optional<QJsonObject> parseJsonObject(const QByteArray &text)
{
    if (!KeyScanner(text).keysUnique())
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

} // namespace rtu
