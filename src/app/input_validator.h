#pragma once

#include <QRegularExpression>
#include <QValidator>

namespace rtu {

// The tool's input rules for the window's fields: one of them, chosen by
// `rule`, judges what is typed (a part of an acceptable value is
// intermediate, anything else cannot be typed). The rules themselves live in
// core/input_rules, where the command reads them too.
class InputValidator : public QValidator
{
    Q_OBJECT

    Q_PROPERTY(Rule rule READ rule WRITE setRule NOTIFY ruleChanged)
    // The range of the rule's numbers, for fields that step through them.
    Q_PROPERTY(int bottom READ bottom NOTIFY ruleChanged)
    Q_PROPERTY(int top READ top NOTIFY ruleChanged)

public:
    enum Rule { Port, Octet, Year };
    Q_ENUM(Rule)

    explicit InputValidator(QObject *parent = nullptr);

    Rule rule() const;
    void setRule(Rule rule);
    int bottom() const;
    int top() const;

    State validate(QString &input, int &position) const override;

signals:
    void ruleChanged();

private:
    Rule m_rule = Port;
    QRegularExpression m_pattern;
};

} // namespace rtu
