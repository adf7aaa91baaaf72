#pragma once

#include <QDialog>
#include <QStringList>

namespace Ui {
class TViewTextForm;
}
class QTextEdit;

// The text viewer: a read-only box of lines and an OK button. It has no logic
// of its own; a command fills it and shows it modally.
class TViewTextForm : public QDialog
{
    Q_OBJECT

public:
    explicit TViewTextForm(QWidget *parent = nullptr);
    ~TViewTextForm() override;

    // Clears the box and appends the lines in order.
    void setLines(const QStringList &lines);
    // setLines, then shows the window modally; returns when the user closes it.
    int showLines(const QStringList &lines);

    QTextEdit *textBox() const;

private:
    Ui::TViewTextForm *ui;
};
