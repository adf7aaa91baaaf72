#include "app/UMain.h"
#include "ui_UMain.h"

#include "app/ModalRunner.h"
#include "app/USetup.h"
#include "app/UViewDump.h"
#include "app/UViewText.h"
#include "flash/CalibrationGrid.h"
#include "flash/DumpFile.h"
#include "flash/FlashOperations.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

namespace {

const QString PassportFilter = QStringLiteral("Паспорт (*.ini)|*.ini|Все файлы (*.*)|*.*");
const QString PassportDefaultExt = QStringLiteral("ini");

// The window's side of a long operation: the gauge, the pending events, a
// pause that keeps the window painted, and the questions as modal message boxes.
class WindowOperationHost final : public IOperationHost
{
public:
    WindowOperationHost(QWidget *owner, QProgressBar *gauge) : m_owner(owner), m_gauge(gauge) {}

    void progress(int percent) override { m_gauge->setValue(percent); }

    void processEvents() override { QCoreApplication::processEvents(); }

    void pause(int ms) override
    {
        QEventLoop loop;
        QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }

    bool ask(const QString &question) override
    {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Внимание!"), question,
                        QMessageBox::Yes | QMessageBox::No, m_owner);
        return ModalRunner::exec(box) == QMessageBox::Yes;
    }

private:
    QWidget *m_owner;
    QProgressBar *m_gauge;
};

// The commands, the address field and its keys stay off while a long operation
// pumps events, so that no second operation starts and no request goes to
// another address; they come back however the operation ends.
class CommandsOff
{
public:
    explicit CommandsOff(TForm1 &form) : m_form(form), m_before(form.commandsEnabled())
    {
        m_form.setCommandsEnabled(false);
    }
    ~CommandsOff() { m_form.setCommandsEnabled(m_before); }
    CommandsOff(const CommandsOff &) = delete;
    CommandsOff &operator=(const CommandsOff &) = delete;

private:
    TForm1 &m_form;
    bool m_before;
};

} // namespace

QString TForm1::filesDir() const
{
    QDir().mkpath(m_places.dataDir);
    return m_places.dataDir;
}

void TForm1::connectFlashHandlers()
{
    connectHandler(ui->SaveFlashFileButton, &QPushButton::clicked, &TForm1::SaveFlashFileButtonClick);
    connectHandler(ui->LoadFlashFileButton, &QPushButton::clicked, &TForm1::LoadFlashFileButtonClick);
    connectHandler(ui->ViewFlashFileButton, &QPushButton::clicked, &TForm1::ViewFlashFileButtonClick);
    connectHandler(ui->LoadFromPassportFlashFileButton, &QPushButton::clicked,
                   &TForm1::LoadFromPassportFlashFileButtonClick);
    connectHandler(ui->CompareFlashFileButton, &QPushButton::clicked,
                   &TForm1::CompareFlashFileButtonClick);
}

void TForm1::SaveFlashFileButtonClick()
{
    WindowOperationHost host(this, ui->FlashProcessGauge);
    CommandsOff off(*this);
    try {
        CreateDump(m_engine, host, filesDir(), m_setup->timeoutShortMs(),
                   m_setup->pauseGroupMs());
    } catch (const EOperationFailed &) {
        // Already in the log.
    }
}

void TForm1::LoadFlashFileButtonClick()
{
    const QString path = runFlashOpenDialog(QStringLiteral("Восстановить флеш из файла..."));
    if (path.isEmpty())
        return;
    WindowOperationHost host(this, ui->FlashProcessGauge);
    CommandsOff off(*this);
    const CommandTimeouts timeouts{m_setup->timeoutMs(), m_setup->timeoutShortMs()};
    try {
        RestoreDump(m_engine, host, path, timeouts, m_setup->pauseGroupMs(),
                    [this](int address) { ui->AddrSpinEdit->setValue(address); });
    } catch (const EOperationFailed &) {
        // Already in the log.
    }
}

bool TForm1::openDumpImage(const QString &title, QString &path, FlashImage &image)
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

void TForm1::ViewFlashFileButtonClick()
{
    QString path;
    FlashImage image;
    if (!openDumpImage(QStringLiteral("Просмотр дампа флеш из файла..."), path, image))
        return;
    m_viewDump->setRows(DumpViewRows(image), path);
    m_viewDump->setCalibration(GridOfImage(image, path));
    ModalRunner::exec(*m_viewDump);
}

void TForm1::LoadFromPassportFlashFileButtonClick()
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
    WindowOperationHost host(this, ui->FlashProcessGauge);
    CommandsOff off(*this);
    const CommandTimeouts timeouts{m_setup->timeoutMs(), m_setup->timeoutShortMs()};
    try {
        RestorePassport(m_engine, host, path,
                        QDir(filesDir()).filePath(QString::fromUtf16(PassportIniName)),
                        timeouts, m_setup->pauseGroupMs());
    } catch (const EOperationFailed &) {
        // Already in the log.
    }
}

void TForm1::CompareFlashFileButtonClick()
{
    QString path;
    FlashImage image;
    if (!openDumpImage(QStringLiteral("Сравнить флеш с файлом..."), path, image))
        return;
    WindowOperationHost host(this, ui->FlashProcessGauge);
    FlashComparison result;
    {
        CommandsOff off(*this);
        try {
            result = CompareFlash(m_engine, host, image, m_setup->timeoutShortMs(),
                                  m_setup->pauseGroupMs());
        } catch (const EOperationFailed &) {
            return; // already in the log
        }
    }
    if (result.differences.isEmpty() || !m_viewText)
        return;
    QStringList lines{DifferenceHeaderLine()};
    for (const WordDifference &d : result.differences)
        lines << DifferenceLine(d);
    m_viewText->showLines(lines);
}
