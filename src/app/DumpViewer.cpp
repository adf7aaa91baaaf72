#include "app/DumpViewer.h"
#include "ui_DumpViewer.h"

#include "app/CalibrationView.h"
#include "common/NumberFormat.h"
#include "flash/CalibrationGrid.h"
#include "flash/FlashOperations.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QEvent>
#include <QHeaderView>
#include <QScreen>
#include <QStyle>
#include <QTableWidgetItem>
#include <QtMath>

#include <algorithm>

DumpViewer::DumpViewer(QWidget *parent) : QDialog(parent), ui(new Ui::DumpViewer)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    FormCreate();
    ui->ViewDumpStringGrid->installEventFilter(this);
    // The button sits beside the tabs, taking no height from the grid.
    ui->ViewDumpTabs->setCornerWidget(ui->CompareFileButton, Qt::TopRightCorner);
    connect(ui->CompareFileButton, &QPushButton::clicked, this, &DumpViewer::compareRequested);
    QSize size = DefaultSize;
    if (const QScreen *s = screen())
        size = size.boundedTo(s->availableGeometry().size() * 9 / 10);
    resize(size.expandedTo(minimumSize()));
}

DumpViewer::~DumpViewer()
{
    delete ui;
}

QTableWidget *DumpViewer::grid() const
{
    return ui->ViewDumpStringGrid;
}

int DumpViewer::cellWidthFor(const QString &text) const
{
    // An item view keeps a margin on both sides of a cell's text and elides a
    // text whose exact (fractional) width exceeds the rest; the grid line
    // takes a pixel of the cell.
    const QTableWidget *g = ui->ViewDumpStringGrid;
    const int margin = g->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, g) + 1;
    return qCeil(QFontMetricsF(g->font()).horizontalAdvance(text)) + 2 * margin + 1;
}

int DumpViewer::valueColumnWidth() const
{
    int width = ValueColumnWidth;
    for (const QChar digit : QStringLiteral("0123456789ABCDEF"))
        width = qMax(width, cellWidthFor(QStringLiteral("0x") + QString(8, digit)));
    // Negative singles of every binary exponent: the longest "0.###" texts
    // (fifteen digits and an exponent, or eighteen integer digits).
    for (quint32 exponent = 0; exponent < 256; ++exponent) {
        for (const quint32 mantissa : {0x7FFFFFu, 0x7FFFFEu, 0x4CCCCDu, 0x19999Au, 1u}) {
            const quint32 bits = 0x80000000u | (exponent << 23) | mantissa;
            width = qMax(width, cellWidthFor(FormatSingleBits(bits)));
        }
    }
    return width;
}

int DumpViewer::rawColumnWidth() const
{
    int width = ValueColumnWidth;
    for (const QChar digit : QStringLiteral("0123456789ABCDEF"))
        width = qMax(width, cellWidthFor(QString(8, digit)));
    return width;
}

QTabWidget *DumpViewer::tabs() const
{
    return ui->ViewDumpTabs;
}

CalibrationView *DumpViewer::calibrationView() const
{
    return ui->CalibrationPicture;
}

void DumpViewer::setCalibration(const CalibrationGrid &grid)
{
    ui->CalibrationPicture->setGrid(grid);
}

QPushButton *DumpViewer::compareButton() const
{
    return ui->CompareFileButton;
}

void DumpViewer::setDump(const FlashImage &image, const QString &path)
{
    setRows(DumpViewRows(image), path);
    setCalibration(GridOfImage(image, path));
    m_image = image;
    m_path = path;
}

void DumpViewer::FormCreate()
{
    QTableWidget *g = ui->ViewDumpStringGrid;
    g->setColumnCount(3);
    g->setHorizontalHeaderLabels({QStringLiteral("Имя"), QStringLiteral("Значение"),
                                  QStringLiteral("Raw (hex)")});
    g->verticalHeader()->setVisible(false);
    g->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    g->verticalHeader()->setMinimumSectionSize(1);
    g->verticalHeader()->setDefaultSectionSize(16);
    g->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    g->horizontalHeader()->setStretchLastSection(false);
    m_valueColumnWidth = valueColumnWidth();
    m_rawColumnWidth = rawColumnWidth();
    FormResize();
}

void DumpViewer::FormResize()
{
    QTableWidget *g = ui->ViewDumpStringGrid;
    g->setColumnWidth(1, m_valueColumnWidth);
    g->setColumnWidth(2, m_rawColumnWidth);
    g->setColumnWidth(0, qMax(0, g->width() - g->columnWidth(1) - g->columnWidth(2) -
                                     NameColumnSpare));
}

void DumpViewer::setRows(const QList<QStringList> &rows, const QString &fileName)
{
    QTableWidget *g = ui->ViewDumpStringGrid;
    g->clearContents();
    g->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < 3; ++c) {
            const QString text = c < rows[r].size() ? rows[r][c] : QString();
            g->setItem(r, c, new QTableWidgetItem(text));
        }
    }
    if (g->rowCount() > 0)
        g->scrollToTop();
    setWindowTitle(QStringLiteral("Просмотр дампа - ") + QFileInfo(fileName).fileName());
}

void DumpViewer::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    FormResize();
}

bool DumpViewer::eventFilter(QObject *watched, QEvent *event)
{
    // The grid of a tab that is not shown gets its new size only when the tab
    // is chosen again, after the window's own resize event.
    if (watched == ui->ViewDumpStringGrid && event->type() == QEvent::Resize)
        FormResize();
    return QDialog::eventFilter(watched, event);
}

void DumpViewer::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormResize();
}
