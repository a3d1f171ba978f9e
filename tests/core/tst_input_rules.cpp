#include "app/input_validator.h"
#include "core/input_rules.h"

#include <QtTest>

using namespace rtu;

// The rules behind both front ends' fields, where the shared table of
// field_inputs.json does not reach: byte-level UTF-8, lone surrogates, and
// what a field lets through while it is typed.
class TestInputRules : public QObject
{
    Q_OBJECT

private slots:
    void masks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("every bit") << "255.255.255.255" << true;
        QTest::newRow("one bit") << "128.0.0.0" << true;
        QTest::newRow("no bit") << "0.0.0.0" << true;
        QTest::newRow("across octets") << "255.255.254.0" << true;
        QTest::newRow("a hole in the last octet") << "255.255.255.253" << false;
        QTest::newRow("a lone low bit") << "0.0.0.1" << false;
        QTest::newRow("a gap across octets") << "255.254.255.0" << false;
        QTest::newRow("a leading zero") << "255.255.255.00" << false;
    }

    void masks()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QCOMPARE(rules::isAcceptableMask(text), accepted);
    }

    void utf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ASCII") << QByteArray("Depot") << true;
        QTest::newRow("two, three and four bytes") << QByteArray("\xc3\xa9\xe6\x9d\xb1\xf0\x9f\x9a\xa2") << true;
        QTest::newRow("highest code point") << QByteArray("\xf4\x8f\xbf\xbf") << true;
        QTest::newRow("a stray continuation byte") << QByteArray("a\x80") << false;
        QTest::newRow("bytes of Latin-1") << QByteArray("pw\xff\xfe") << false;
        QTest::newRow("cut short") << QByteArray("\xe6\x9d") << false;
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << false;
        QTest::newRow("overlong three bytes") << QByteArray("\xe0\x80\xaf") << false;
        QTest::newRow("a surrogate") << QByteArray("\xed\xa0\x80") << false;
        QTest::newRow("above U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
        QTest::newRow("five bytes") << QByteArray("\xf8\x88\x80\x80\x80") << false;
    }

    void utf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(rules::isValidUtf8(bytes), valid);
    }

    void plainText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("plain");
        QTest::newRow("letters and blanks") << QStringLiteral(" Depot 2 ") << true;
        QTest::newRow("a surrogate pair") << QString::fromUtf8("Ship \xf0\x9f\x9a\xa2") << true;
        QTest::newRow("a lone high surrogate") << QString(QChar(0xD800)) + QStringLiteral("x") << false;
        QTest::newRow("a lone low surrogate at the end") << QStringLiteral("x") + QString(QChar(0xDC00)) << false;
        QTest::newRow("NUL") << QString(QChar(0)) << false;
        QTest::newRow("a C1 control") << QString(QChar(0x85)) << false;
        QTest::newRow("no-break space") << QString(QChar(0xA0)) << true;
    }

    void plainText()
    {
        QFETCH(QString, text);
        QFETCH(bool, plain);
        QCOMPARE(rules::isPlainText(text), plain);
    }

    // As the field judges each text on the way to a value: a start of an
    // acceptable value may be typed, anything else is refused at once.
    void validatorWhileTyping_data()
    {
        QTest::addColumn<int>("rule");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("state");
        const int port = InputValidator::Port;
        const int octet = InputValidator::Octet;
        const int year = InputValidator::Year;
        QTest::newRow("port, empty") << port << "" << int(QValidator::Intermediate);
        QTest::newRow("port 6553") << port << "6553" << int(QValidator::Acceptable);
        QTest::newRow("port 65536") << port << "65536" << int(QValidator::Invalid);
        QTest::newRow("port 0") << port << "0" << int(QValidator::Invalid);
        QTest::newRow("octet 25") << octet << "25" << int(QValidator::Acceptable);
        QTest::newRow("octet 256") << octet << "256" << int(QValidator::Invalid);
        QTest::newRow("octet 01") << octet << "01" << int(QValidator::Invalid);
        QTest::newRow("year 2") << year << "2" << int(QValidator::Intermediate);
        QTest::newRow("year 210") << year << "210" << int(QValidator::Intermediate);
        QTest::newRow("year 2101") << year << "2101" << int(QValidator::Invalid);
        QTest::newRow("year 1999") << year << "1999" << int(QValidator::Invalid);
    }

    void validatorWhileTyping()
    {
        QFETCH(int, rule);
        QFETCH(QString, text);
        QFETCH(int, state);
        InputValidator validator;
        QSignalSpy changed(&validator, &QValidator::changed);
        validator.setRule(InputValidator::Rule(rule));
        QCOMPARE(changed.count(), rule == InputValidator::Port ? 0 : 1);
        int position = text.size();
        QCOMPARE(int(validator.validate(text, position)), state);
    }

    // The range a field steps through is what the rules take.
    void validatorRanges()
    {
        InputValidator validator;
        validator.setRule(InputValidator::Year);
        QVERIFY(rules::isAcceptableDate(QDate(validator.bottom(), 1, 1)));
        QVERIFY(!rules::isAcceptableDate(QDate(validator.bottom() - 1, 12, 31)));
        QVERIFY(rules::isAcceptableDate(QDate(validator.top(), 12, 31)));
        QVERIFY(!rules::isAcceptableDate(QDate(validator.top() + 1, 1, 1)));
        validator.setRule(InputValidator::Port);
        QCOMPARE(validator.bottom(), 1);
        QCOMPARE(validator.top(), 65535);
    }
};

QTEST_GUILESS_MAIN(TestInputRules)
#include "tst_input_rules.moc"
