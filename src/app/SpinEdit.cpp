#include "app/SpinEdit.h"

namespace {

// Characters that may be typed into a spin edit: digits, signs and the
// decimal point (a number with a fraction is no whole number and reads as
// the minimum, like any other text that is no whole number).
bool isSpinChar(QChar c)
{
    return c.isDigit() || c == u'+' || c == u'-' || c == u'.' || c == u' ';
}

} // namespace

SpinEdit::SpinEdit(QWidget *parent) : QSpinBox(parent)
{
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

int SpinEdit::valueOfText(const QString &text, int minimum, int maximum)
{
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok, 10);
    if (!ok)
        return minimum;
    if (v < minimum)
        return minimum;
    if (v > maximum)
        return maximum;
    return static_cast<int>(v);
}

int SpinEdit::textValue() const
{
    return valueOfText(cleanText(), minimum(), maximum());
}

QValidator::State SpinEdit::validate(QString &input, int &pos) const
{
    Q_UNUSED(pos);
    for (const QChar c : std::as_const(input)) {
        if (!isSpinChar(c))
            return QValidator::Invalid;
    }
    bool ok = false;
    const qlonglong v = input.trimmed().toLongLong(&ok, 10);
    if (ok && v >= minimum() && v <= maximum())
        return QValidator::Acceptable;
    return QValidator::Intermediate;
}

void SpinEdit::fixup(QString &input) const
{
    input = textFromValue(valueOfText(input, minimum(), maximum()));
}

int SpinEdit::valueFromText(const QString &text) const
{
    return valueOfText(text, minimum(), maximum());
}
