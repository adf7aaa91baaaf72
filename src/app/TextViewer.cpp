#include "app/TextViewer.h"
#include "ui_TextViewer.h"

#include "app/ModalRunner.h"

#include <QFontMetricsF>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QtMath>

TextViewer::TextViewer(QWidget *parent) : QDialog(parent), ui(new Ui::TextViewer)
{
    ui->setupUi(this);
    // Read-only text on the button-face colour, as the rest of the window.
    QPalette pal = ui->TextRichEdit->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    ui->TextRichEdit->setPalette(pal);
    // TAB-separated columns (the comparison list: address, two words of eight
    // hexadecimal digits, a name) stay aligned in any font size.
    const QFontMetricsF metrics(ui->TextRichEdit->font());
    ui->TextRichEdit->setTabStopDistance(
        qMax(ui->TextRichEdit->tabStopDistance(), metrics.horizontalAdvance(QStringLiteral("0000000000"))));
    connect(ui->OkButton, &QPushButton::clicked, this, &QDialog::accept);
}

TextViewer::~TextViewer()
{
    delete ui;
}

QTextEdit *TextViewer::textBox() const
{
    return ui->TextRichEdit;
}

void TextViewer::setLines(const QStringList &lines)
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
    // The box's own cursor went along with the text to its end; the reader
    // starts at the first line's beginning.
    ui->TextRichEdit->moveCursor(QTextCursor::Start);
    fitToText();
    scrollToStart();
}

int TextViewer::showLines(const QStringList &lines)
{
    setLines(lines);
    return ModalRunner::exec(*this);
}

void TextViewer::fitToText()
{
    QTextEdit *box = ui->TextRichEdit;
    // Without wrapping the document is as wide as its widest line (the
    // document's margins included) and as high as all its lines.
    const QSizeF text = box->document()->size();
    // What the window has around the text: around the box, the panel with the
    // button (taken from the size hints: a window not shown yet has not laid
    // out its panels); in the box, its frame and its two scroll bars (always
    // shown).
    const QSize around = (layout()->sizeHint() - box->sizeHint()) +
                         (box->size() - box->maximumViewportSize());
    QSize wanted = (QSize(qCeil(text.width()), qCeil(text.height())) + around).expandedTo(DesignSize);
    if (const QScreen *s = screen())
        wanted = wanted.boundedTo(s->availableGeometry().size() * 9 / 10).expandedTo(DesignSize);
    resize(wanted);
}

void TextViewer::scrollToStart()
{
    ui->TextRichEdit->horizontalScrollBar()->setValue(0);
    ui->TextRichEdit->verticalScrollBar()->setValue(0);
}

void TextViewer::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The box scrolls to its cursor when it is first shown; the window opens
    // at the start of the text all the same.
    scrollToStart();
}
