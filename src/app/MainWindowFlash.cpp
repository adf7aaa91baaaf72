#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "app/ModalRunner.h"
#include "app/SettingsDialog.h"
#include "app/DumpComparisonWindow.h"
#include "app/DumpViewer.h"
#include "app/RecordWindow.h"
#include "app/TextViewer.h"
#include "flash/CalibrationGrid.h"
#include "flash/DumpFile.h"
#include "flash/FlashOperations.h"
#include "report/ServiceReport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>

namespace {

const QString PassportFilter = QStringLiteral("Паспорт (*.ini)|*.ini|Все файлы (*.*)|*.*");
const QString PassportDefaultExt = QStringLiteral("ini");

} // namespace

// The window's side of a long operation: the gauge, the pending events, a
// pause that keeps the window painted, the questions as modal message boxes,
// "Стоп" and the retries of the settings dialog.
class WindowOperationHost final : public IOperationHost
{
public:
    WindowOperationHost(MainWindow &form, QProgressBar *gauge, int retries)
        : m_form(form), m_gauge(gauge), m_retries(retries)
    {
    }

    void progress(int percent) override { m_gauge->setValue(percent); }

    void processEvents() override { QCoreApplication::processEvents(); }

    // Waits the whole time while the window's events run. It does not rest on
    // a nested event loop, which would return at once once the application is
    // quitting: the events are handled until the deadline has passed, woken by
    // a timer at the deadline.
    void pause(int ms) override { wait(ms, false); }
    // A stop comes through the window's events ("Стоп", a close, a signal),
    // so it is seen as soon as it is handled.
    void pauseUnlessStopped(int ms) override { wait(ms, true); }

    bool ask(const QString &question) override
    {
        if (m_form.stopRequested())
            return false;
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Внимание!"), question,
                        QMessageBox::Yes | QMessageBox::No, &m_form);
        m_form.setOperationQuestion(&box);
        const int answer = ModalRunner::exec(box);
        m_form.setOperationQuestion(nullptr);
        return answer == QMessageBox::Yes && !m_form.stopRequested();
    }

    bool stopRequested() override { return m_form.stopRequested(); }

    int retries() const override { return m_retries; }

    QString asFoundDir() const override { return m_form.asFoundDir(); }
    int blockWords() const override { return m_form.settingsDialog()->blockRead(); }

    IOperationRecorder *recorder() override { return m_recorder; }
    void setRecorder(IOperationRecorder *recorder) { m_recorder = recorder; }

private:
    void wait(int ms, bool untilStop)
    {
        const QDeadlineTimer deadline(ms, Qt::PreciseTimer);
        QTimer wake;
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        wake.start(ms);
        while (!deadline.hasExpired() && !(untilStop && m_form.stopRequested())) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (!wake.isActive() && !deadline.hasExpired())
                wake.start(int(std::max<qint64>(1, deadline.remainingTime())));
        }
    }

    MainWindow &m_form;
    QProgressBar *m_gauge;
    int m_retries;
    IOperationRecorder *m_recorder = nullptr;
};

QString MainWindow::filesDir() const
{
    QDir().mkpath(m_places.dataDir);
    return m_places.dataDir;
}

QString MainWindow::asFoundDir() const
{
    return m_setup->asFound() ? filesDir() : QString();
}

void MainWindow::syncRecordLocation()
{
    m_records.setLocation(RecordLocationOr(m_recordDatabase, m_places.dataDir));
}

BusRecord MainWindow::busRecord()
{
    if (m_recordDatabase.trimmed().isEmpty())
        filesDir(); // the default record's folder, made when missing
    syncRecordLocation();
    return {m_records.open(*this), m_records.context(), RecordPortName(*DataPort)};
}

RecordedOperation MainWindow::recorded(RecordedKind kind)
{
    if (m_recordDatabase.trimmed().isEmpty())
        filesDir(); // the default record's folder, made when missing
    syncRecordLocation();
    return m_records.operation(*this, kind, *DataPort, busAddress());
}

void MainWindow::setRecordWindow(RecordWindow *window)
{
    m_recordWindow = window;
    if (!window)
        return;
    window->setRecord(&m_records);
    window->setDumpOpener([this](const QString &path) { runGuarded([&] { showDumpFile(path); }); });
    window->setReportMaker([this](quint32 serial) { runGuarded([&] { makeReport(serial); }); });
}

// "Протокол…" of the record window: the report of one sensor from the start of
// today (or from its last report, when that was made later today), written
// where the user says, with its JSON beside it.
void MainWindow::makeReport(quint32 serial)
{
    syncRecordLocation();
    ServiceRecord *record = m_records.open(*this);
    if (!record)
        return; // the red line says why
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime since = DefaultReportSince(record->lastReport(serial), now);

    QFileDialog dialog(m_recordWindow ? static_cast<QWidget *>(m_recordWindow) : this);
    dialog.setObjectName(QStringLiteral("ReportSaveDialog"));
    dialog.setWindowTitle(QStringLiteral("Протокол обслуживания"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDirectory(filesDir());
    dialog.setNameFilters({QStringLiteral("Протокол PDF (*.pdf)")});
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    dialog.selectFile(QString::asprintf("%.8X-", unsigned(serial))
                      + now.toLocalTime().toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".pdf"));
    if (ModalRunner::exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    try {
        const ServiceReportFiles files = MakeServiceReport(*record, serial, since, dialog.selectedFiles().first(),
                                                           m_records.context(), now);
        Log(QStringLiteral("Протокол обслуживания № %1 составлен: %2")
                .arg(files.number, QDir::toNativeSeparators(files.pdf)),
            LogInfo);
    } catch (const ZartError &e) {
        Log(e.text(), LogError);
    }
}

void MainWindow::RecordMenuClick()
{
    if (!m_recordWindow)
        return;
    syncRecordLocation();
    m_recordWindow->setExportDir(filesDir());
    if (m_recordWindow->isVisible())
        m_recordWindow->refresh();
    m_recordWindow->show();
    m_recordWindow->raise();
    m_recordWindow->activateWindow();
}

void MainWindow::showDumpFile(const QString &path)
{
    FlashImage image;
    try {
        image = ReadDumpFile(path);
    } catch (const ZartError &e) {
        Log(e.text(), LogError);
        return;
    }
    if (!m_viewDump)
        return;
    m_viewDump->setDump(image, path);
    ModalRunner::exec(*m_viewDump);
}

void MainWindow::connectFlashHandlers()
{
    connectHandler(ui->SaveFlashFileButton, &QPushButton::clicked, &MainWindow::SaveFlashFileButtonClick);
    connectHandler(ui->LoadFlashFileButton, &QPushButton::clicked, &MainWindow::LoadFlashFileButtonClick);
    connectHandler(ui->ViewFlashFileButton, &QPushButton::clicked, &MainWindow::ViewFlashFileButtonClick);
    connectHandler(ui->LoadFromPassportFlashFileButton, &QPushButton::clicked,
                   &MainWindow::LoadFromPassportFlashFileButtonClick);
    connectHandler(ui->CompareFlashFileButton, &QPushButton::clicked,
                   &MainWindow::CompareFlashFileButtonClick);
    connectHandler(ui->CalibrationRestoreButton, &QPushButton::clicked,
                   &MainWindow::CalibrationRestoreButtonClick);
    connectHandler(ui->RecordMenu, &QAction::triggered, &MainWindow::RecordMenuClick);
}

void MainWindow::SaveFlashFileButtonClick()
{
    WindowOperationHost host(*this, ui->FlashProcessGauge, m_setup->retries());
    const LongOperation operation(*this, OperationKind::Read);
    RecordedOperation record = recorded(RecordedKind::Dump);
    host.setRecorder(&record);
    try {
        record.run([&] {
            CreateDump(m_engine, host, filesDir(), m_setup->timeoutShortMs(),
                       m_setup->pauseGroupMs());
        });
    } catch (const EOperationFailed &) {
        // Already in the log.
    }
}

void MainWindow::LoadFlashFileButtonClick()
{
    const QString path = runFlashOpenDialog(QStringLiteral("Восстановить флеш из файла..."));
    if (path.isEmpty())
        return;
    WindowOperationHost host(*this, ui->FlashProcessGauge, m_setup->retries());
    const LongOperation operation(*this, OperationKind::Write);
    const CommandTimeouts timeouts = commandTimeouts();
    RecordedOperation record = recorded(RecordedKind::Restore);
    host.setRecorder(&record);
    try {
        record.run([&] {
            RestoreDump(m_engine, host, path, timeouts, m_setup->pauseGroupMs(),
                        [this](int address) { ui->AddrSpinEdit->setValue(address); });
        });
    } catch (const EOperationFailed &) {
        // Already in the log.
    }
}

void MainWindow::CalibrationRestoreButtonClick()
{
    const QString path = runFlashOpenDialog(QStringLiteral("Перенести калибровку из дампа..."));
    if (path.isEmpty())
        return;
    WindowOperationHost host(*this, ui->FlashProcessGauge, m_setup->retries());
    const LongOperation operation(*this, OperationKind::Write);
    RecordedOperation record = recorded(RecordedKind::CalibrationRestore);
    host.setRecorder(&record);
    try {
        record.run([&] {
            RestoreCalibration(m_engine, host, path, commandTimeouts(), m_setup->pauseGroupMs());
        });
    } catch (const EOperationFailed &) {
        // Already in the log.
    }
}

bool MainWindow::openDumpImage(const QString &title, QString &path, FlashImage &image)
{
    path = runFlashOpenDialog(title);
    if (path.isEmpty())
        return false;
    try {
        image = ReadDumpFile(path);
    } catch (const ZartError &e) {
        Log(e.text(), LogError);
        return false;
    }
    return true;
}

void MainWindow::ViewFlashFileButtonClick()
{
    const QString path = runFlashOpenDialog(QStringLiteral("Просмотр дампа флеш из файла..."));
    if (!path.isEmpty())
        showDumpFile(path);
}

void MainWindow::CompareDumpFileClick()
{
    if (!m_viewDump || !m_dumpComparison)
        return;
    QString path;
    FlashImage image;
    if (!openDumpImage(QStringLiteral("Сравнить дамп с файлом..."), path, image))
        return;
    m_dumpComparison->setDumps(m_viewDump->image(), m_viewDump->path(), image, path);
    ModalRunner::exec(*m_dumpComparison);
}

void MainWindow::LoadFromPassportFlashFileButtonClick()
{
    QString path;
    {
        QFileDialog dialog(this);
        dialog.setObjectName(QStringLiteral("FlashOpenDialog"));
        setupFlashOpenDialog(dialog, QStringLiteral("Восстановить паспорт из файла..."));
        dialog.setNameFilters(qtNameFilter(PassportFilter).split(QStringLiteral(";;")));
        dialog.setDefaultSuffix(PassportDefaultExt);
        if (ModalRunner::exec(dialog) != QDialog::Accepted)
            return;
        const QStringList files = dialog.selectedFiles();
        if (files.isEmpty())
            return;
        path = files.first();
    }
    WindowOperationHost host(*this, ui->FlashProcessGauge, m_setup->retries());
    const LongOperation operation(*this, OperationKind::Write);
    const CommandTimeouts timeouts = commandTimeouts();
    RecordedOperation record = recorded(RecordedKind::PassportRestore);
    host.setRecorder(&record);
    try {
        record.run([&] {
            RestorePassport(m_engine, host, path,
                            QDir(filesDir()).filePath(QString::fromUtf16(PassportIniName)),
                            timeouts, m_setup->pauseGroupMs());
        });
    } catch (const EOperationFailed &) {
        // Already in the log.
    }
}

void MainWindow::CompareFlashFileButtonClick()
{
    QString path;
    FlashImage image;
    if (!openDumpImage(QStringLiteral("Сравнить флеш с файлом..."), path, image))
        return;
    WindowOperationHost host(*this, ui->FlashProcessGauge, m_setup->retries());
    FlashComparison result;
    {
        const LongOperation operation(*this, OperationKind::Read);
        RecordedOperation record = recorded(RecordedKind::Compare);
        host.setRecorder(&record);
        try {
            result = record.run([&] {
                const FlashComparison compared = CompareFlash(
                    m_engine, host, image, m_setup->timeoutShortMs(), m_setup->pauseGroupMs());
                TellComparison(record, path, compared);
                return compared;
            });
        } catch (const EOperationFailed &) {
            return; // already in the log
        }
        host.setRecorder(nullptr);
    }
    if (!result.differences.isEmpty() && m_viewText) {
        QStringList lines{DifferenceHeaderLine()};
        for (const WordDifference &d : result.differences)
            lines << DifferenceLine(d);
        m_viewText->showLines(lines);
    }
    writeDifferences(host, path, image, result);
}

// The end of a comparison that found differences: the offer to write them,
// from the comparison made (no second read).
void MainWindow::writeDifferences(WindowOperationHost &host, const QString &path,
                                  const FlashImage &image, const FlashComparison &comparison)
{
    // Without differences that count nothing is asked or written: nothing to record.
    if (comparison.counted() == 0)
        return;
    const LongOperation operation(*this, OperationKind::Write);
    const CommandTimeouts timeouts = commandTimeouts();
    RecordedOperation record = recorded(RecordedKind::RestoreDifferences);
    record.fileUsed(path, FileUse::Read);
    host.setRecorder(&record);
    try {
        record.run([&] {
            WriteDifferences(m_engine, host, image, comparison, timeouts, m_setup->pauseGroupMs(),
                             [this](int address) { ui->AddrSpinEdit->setValue(address); });
        });
    } catch (const EOperationFailed &) {
        // Already in the log.
    }
}
