#include "app/DumpComparisonWindow.h"
#include "ui_DumpComparisonWindow.h"

#include "app/ShiftView.h"
#include "picture/ShiftPainter.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QScreen>

DumpComparisonWindow::DumpComparisonWindow(QWidget *parent)
    : QDialog(parent), ui(new Ui::DumpComparisonWindow)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // The columns of the word lines line up in a fixed-pitch font.
    ui->ComparisonLines->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ui->ComparisonSplitter->setStretchFactor(0, 3);
    ui->ComparisonSplitter->setStretchFactor(1, 1);
    QSize size = DefaultSize;
    if (const QScreen *s = screen())
        size = size.boundedTo(s->availableGeometry().size() * 9 / 10);
    resize(size.expandedTo(minimumSize()));
}

DumpComparisonWindow::~DumpComparisonWindow()
{
    delete ui;
}

ShiftView *DumpComparisonWindow::picture() const
{
    return ui->ShiftPicture;
}

QPlainTextEdit *DumpComparisonWindow::lines() const
{
    return ui->ComparisonLines;
}

void DumpComparisonWindow::setDumps(const FlashImage &first, const QString &firstPath,
                                    const FlashImage &second, const QString &secondPath)
{
    ShiftPainter painter(first, firstPath, second, secondPath);
    ui->ComparisonLines->setPlainText(DumpComparisonLines(painter.comparison()).join(QLatin1Char('\n')));
    ui->ShiftPicture->setPainter(std::move(painter));
    setWindowTitle(QStringLiteral("Сравнение дампов - %1 и %2")
                       .arg(QFileInfo(firstPath).fileName(), QFileInfo(secondPath).fileName()));
}
