#include "app/UViewDump.h"
#include "ui_UViewDump.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QTableWidgetItem>

TViewDumpForm::TViewDumpForm(QWidget *parent) : QDialog(parent), ui(new Ui::TViewDumpForm)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    FormCreate();
}

TViewDumpForm::~TViewDumpForm()
{
    delete ui;
}

QTableWidget *TViewDumpForm::grid() const
{
    return ui->ViewDumpStringGrid;
}

void TViewDumpForm::FormCreate()
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
    FormResize();
}

void TViewDumpForm::FormResize()
{
    QTableWidget *g = ui->ViewDumpStringGrid;
    g->setColumnWidth(1, ValueColumnWidth);
    g->setColumnWidth(2, ValueColumnWidth);
    g->setColumnWidth(0, qMax(0, g->width() - g->columnWidth(1) - g->columnWidth(2) -
                                     NameColumnSpare));
}

void TViewDumpForm::setRows(const QList<QStringList> &rows, const QString &fileName)
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

void TViewDumpForm::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    FormResize();
}

void TViewDumpForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormResize();
}
