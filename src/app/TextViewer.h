#pragma once

#include <QDialog>
#include <QSize>
#include <QStringList>

namespace Ui {
class TextViewer;
}
class QTextEdit;

// The text viewer: a read-only box of lines and an OK button. It has no logic
// of its own; a command fills it and shows it modally.
class TextViewer : public QDialog
{
    Q_OBJECT

public:
    static constexpr QSize DesignSize{305, 216}; // the smallest the window opens at

    explicit TextViewer(QWidget *parent = nullptr);
    ~TextViewer() override;

    // Clears the box and appends the lines in order; the box shows the start
    // of the first line, and the window takes the size its text needs (at
    // least DesignSize, at most nine tenths of the screen).
    void setLines(const QStringList &lines);
    // setLines, then shows the window modally; returns when the user closes it.
    int showLines(const QStringList &lines);

    QTextEdit *textBox() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void fitToText();
    void scrollToStart();

    Ui::TextViewer *ui;
};
