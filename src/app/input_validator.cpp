#include "app/input_validator.h"

#include "core/input_rules.h"

namespace rtu {

namespace {

QString patternOf(InputValidator::Rule rule)
{
    switch (rule) {
    case InputValidator::Port:
        return rules::portPattern();
    case InputValidator::Octet:
        return rules::octetPattern();
    case InputValidator::Year:
        break;
    }
    return rules::yearPattern();
}

} // namespace

InputValidator::InputValidator(QObject *parent)
    : QValidator(parent), m_pattern(QRegularExpression::anchoredPattern(patternOf(m_rule)))
{
}

InputValidator::Rule InputValidator::rule() const
{
    return m_rule;
}

void InputValidator::setRule(Rule rule)
{
    if (rule == m_rule)
        return;
    m_rule = rule;
    m_pattern.setPattern(QRegularExpression::anchoredPattern(patternOf(rule)));
    emit ruleChanged();
    emit changed();
}

int InputValidator::bottom() const
{
    switch (m_rule) {
    case Port:
        return rules::kMinPort;
    case Octet:
        return 0;
    case Year:
        break;
    }
    return rules::kMinYear;
}

int InputValidator::top() const
{
    switch (m_rule) {
    case Port:
        return rules::kMaxPort;
    case Octet:
        return 255;
    case Year:
        break;
    }
    return rules::kMaxYear;
}

QValidator::State InputValidator::validate(QString &input, int &) const
{
    // As a regular-expression validator judges: the whole text matches, or
    // it is the start of a text that would.
    const QRegularExpressionMatch match =
        m_pattern.match(input, 0, QRegularExpression::PartialPreferCompleteMatch);
    if (match.hasMatch())
        return Acceptable;
    return match.hasPartialMatch() || input.isEmpty() ? Intermediate : Invalid;
}

} // namespace rtu
