#include "app/RecordWindow.h"
#include "ui_RecordWindow.h"

#include "app/ModalRunner.h"
#include "common/AtomicFile.h"
#include "record/RecordKeeper.h"
#include "sensor/SensorRequests.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QUrl>

namespace {

constexpr int PathRole = Qt::UserRole;

} // namespace

RecordWindow::RecordWindow(QWidget *parent) : QDialog(parent), ui(new Ui::RecordWindow)
{
    ui->setupUi(this);
    setModal(false);
    const QDate today = QDate::currentDate();
    ui->FromDateEdit->setDate(today.addMonths(-1));
    ui->ToDateEdit->setDate(today);
    ui->OperationsTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui->RecordSplitter->setStretchFactor(0, 3);
    ui->RecordSplitter->setStretchFactor(1, 2);
    ui->RecordSplitter->setSizes({600, 300});

    connect(ui->SerialFilterEdit, &QLineEdit::textChanged, this, &RecordWindow::FilterChanged);
    connect(ui->PeriodCheckBox, &QCheckBox::toggled, this, &RecordWindow::FilterChanged);
    connect(ui->FromDateEdit, &QDateEdit::dateChanged, this, &RecordWindow::FilterChanged);
    connect(ui->ToDateEdit, &QDateEdit::dateChanged, this, &RecordWindow::FilterChanged);
    connect(ui->RefreshButton, &QPushButton::clicked, this, &RecordWindow::refresh);
    connect(ui->OperationsTable, &QTableWidget::itemSelectionChanged, this,
            &RecordWindow::RowSelected);
    connect(ui->FilesList, &QListWidget::itemDoubleClicked, this,
            &RecordWindow::FileDoubleClicked);
    connect(ui->ExportCsvButton, &QPushButton::clicked, this, &RecordWindow::ExportCsvButtonClick);
    connect(ui->ReportButton, &QPushButton::clicked, this, &RecordWindow::ReportButtonClick);
    connect(ui->CloseButton, &QPushButton::clicked, this, &QDialog::close);
}

RecordWindow::~RecordWindow()
{
    delete ui;
}

QTableWidget *RecordWindow::table() const
{
    return ui->OperationsTable;
}

QListWidget *RecordWindow::files() const
{
    return ui->FilesList;
}

void RecordWindow::setReportMaker(std::function<void(quint32)> make)
{
    m_makeReport = std::move(make);
    RowSelected();
}

void RecordWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    refresh();
}

void RecordWindow::FilterChanged()
{
    ui->FromDateEdit->setEnabled(ui->PeriodCheckBox->isChecked());
    ui->ToDateEdit->setEnabled(ui->PeriodCheckBox->isChecked());
    refresh();
}

void RecordWindow::showStatus(const QString &text, bool failure)
{
    ui->StatusLabel->setStyleSheet(failure ? QStringLiteral("color: red") : QString());
    ui->StatusLabel->setText(text);
}

void RecordWindow::refresh()
{
    const bool period = ui->PeriodCheckBox->isChecked();
    const std::optional<HistoryFilter> filter =
        HistoryFilterOf(ui->SerialFilterEdit->text(), period ? ui->FromDateEdit->date() : QDate(),
                        period ? ui->ToDateEdit->date() : QDate());
    m_entries.clear();
    QString status;
    bool failed = false;
    if (!m_record || m_record->location().isEmpty()) {
        status = QStringLiteral("Журнал обслуживания не ведётся");
    } else if (!filter) {
        status = QStringLiteral("Серийный номер - до восьми шестнадцатеричных цифр");
        failed = true;
    } else {
        try {
            m_entries = m_record->history(*filter, /*details=*/true);
            const QString where = QDir::toNativeSeparators(m_record->location());
            status = m_record->fileMissing()
                         ? QStringLiteral("Журнал обслуживания %1 ещё не создан").arg(where)
                         : QStringLiteral("Журнал обслуживания %1, операций: %2")
                               .arg(where)
                               .arg(m_entries.size());
        } catch (const ZartError &e) {
            status = e.text();
            failed = true;
        }
    }
    showStatus(status, failed);

    // The table's texts are those of zart-cli history, one column each.
    QStringList lines = HistoryLines(m_entries);
    lines.removeFirst();
    QTableWidget *table = ui->OperationsTable;
    table->clearContents();
    table->setRowCount(int(lines.size()));
    for (int row = 0; row < lines.size(); ++row) {
        const QStringList cells = lines.at(row).split(u'\t');
        for (int column = 0; column < cells.size(); ++column) {
            auto *item = new QTableWidgetItem(cells.at(column));
            if (m_entries.at(row).result != RecordedResult::Success)
                item->setForeground(Qt::red);
            table->setItem(row, column, item);
        }
    }
    // The newest operation in view.
    if (!lines.isEmpty())
        table->scrollToBottom();
    RowSelected();
}

const OperationEntry *RecordWindow::selectedEntry() const
{
    const QList<QTableWidgetItem *> selected = ui->OperationsTable->selectedItems();
    if (selected.isEmpty())
        return nullptr;
    const int row = selected.first()->row();
    return row >= 0 && row < m_entries.size() ? &m_entries.at(row) : nullptr;
}

void RecordWindow::RowSelected()
{
    const OperationEntry *e = selectedEntry();
    ui->FilesList->clear();
    ui->ReportButton->setEnabled(m_makeReport && e && e->serial);
    if (!e) {
        ui->DetailsLabel->clear();
        return;
    }
    QStringList details{
        QStringLiteral("Порт: %1, адрес %2").arg(e->port).arg(e->busAddress),
        QStringLiteral("Компьютер: %1, версия программы %2").arg(e->context.host, e->context.toolVersion),
        QStringLiteral("Записано слов: %1").arg(e->wordsWritten),
    };
    if (e->firmware)
        details.insert(1, QStringLiteral("Прошивка: %1").arg(WordText(*e->firmware)));
    if (!e->message.isEmpty())
        details << e->message;
    ui->DetailsLabel->setText(details.join(u'\n'));
    for (const RecordedFile &f : e->files) {
        auto *item = new QListWidgetItem(
            QStringLiteral("%1: %2").arg(FileUseTitle(f.use), QDir::toNativeSeparators(f.path)),
            ui->FilesList);
        item->setData(PathRole, f.path);
        item->setToolTip(QStringLiteral("SHA-256 %1").arg(QString::fromLatin1(f.sha256)));
    }
}

void RecordWindow::FileDoubleClicked(QListWidgetItem *item)
{
    const QString path = item->data(PathRole).toString();
    if (!QFileInfo::exists(path)) {
        showStatus(QStringLiteral("Файл %1 не найден").arg(QDir::toNativeSeparators(path)), true);
        return;
    }
    // A dump in the tool's own viewer; a passport or passport.ini in the
    // system's program for it.
    if (path.endsWith(QStringLiteral(".dmp"), Qt::CaseInsensitive) && m_openDump)
        m_openDump(path);
    else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        showStatus(QStringLiteral("Файл %1 не открыт").arg(QDir::toNativeSeparators(path)), true);
}

void RecordWindow::ExportCsvButtonClick()
{
    // The rows shown, as they are now.
    const QList<OperationEntry> rows = m_entries;
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("CsvSaveDialog"));
    dialog.setWindowTitle(QStringLiteral("Экспорт CSV"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("CSV (*.csv)"), QStringLiteral("Все файлы (*)")});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    if (!m_exportDir.isEmpty())
        dialog.setDirectory(m_exportDir);
    dialog.selectFile(QStringLiteral("records-%1.csv")
                          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    if (ModalRunner::exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    try {
        WriteFileAtomically(path, HistoryCsv(rows));
    } catch (const ZartError &e) {
        showStatus(QStringLiteral("CSV не сохранён (%1): %2").arg(QDir::toNativeSeparators(path), e.text()),
                   true);
        return;
    }
    showStatus(QStringLiteral("CSV сохранён: %1").arg(QDir::toNativeSeparators(path)), false);
}

void RecordWindow::ReportButtonClick()
{
    if (const OperationEntry *e = selectedEntry(); e && e->serial && m_makeReport)
        m_makeReport(*e->serial);
}
