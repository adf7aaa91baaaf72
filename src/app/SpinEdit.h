#pragma once

#include <QSpinBox>

// The spin edit of every window of the tool. Its value is read from its text:
// a text that is no whole number stands for the minimum, and a number outside
// the range for the nearest bound. Such a text may stay in the field while it
// is being typed; it is brought into the range when the field loses the focus
// or Enter is pressed. Values set by the program are clamped as QSpinBox does.
class SpinEdit : public QSpinBox
{
    Q_OBJECT

public:
    explicit SpinEdit(QWidget *parent = nullptr);

    // The value the text in the field stands for at this moment.
    int textValue() const;
    // The same rule for any text and range.
    static int valueOfText(const QString &text, int minimum, int maximum);

protected:
    QValidator::State validate(QString &input, int &pos) const override;
    void fixup(QString &input) const override;
    int valueFromText(const QString &text) const override;
};
