#include "app/UViewText.h"
#include "ui_UViewText.h"

#include "app/ModalRunner.h"

#include <QTextCursor>

TViewTextForm::TViewTextForm(QWidget *parent) : QDialog(parent), ui(new Ui::TViewTextForm)
{
    ui->setupUi(this);
    // Read-only text on the button-face colour, as the rest of the window.
    QPalette pal = ui->TextRichEdit->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    ui->TextRichEdit->setPalette(pal);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

TViewTextForm::~TViewTextForm()
{
    delete ui;
}

QTextEdit *TViewTextForm::textBox() const
{
    return ui->TextRichEdit;
}

void TViewTextForm::setLines(const QStringList &lines)
{
    // Plain text, one paragraph per line: a line is shown as it is, whatever
    // characters it holds.
    ui->TextRichEdit->clear();
    QTextCursor cursor(ui->TextRichEdit->document());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            cursor.insertBlock();
        cursor.insertText(lines[i]);
    }
}

int TViewTextForm::showLines(const QStringList &lines)
{
    setLines(lines);
    return ModalRunner::exec(*this);
}
