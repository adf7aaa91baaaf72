// The console log's context menu: copying lines and saving the whole log.

#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "app/ModalRunner.h"
#include "common/AtomicFile.h"
#include "common/LogText.h"
#include "common/ZartError.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QListWidget>

namespace {

// The lines of the log, all or only the selected ones, top to bottom.
QList<LogEntry> logEntries(const QListWidget *list, bool selectedOnly)
{
    QList<LogEntry> out;
    for (int row = 0; row < list->count(); ++row) {
        const QListWidgetItem *item = list->item(row);
        if (!selectedOnly || item->isSelected())
            out.append({item->data(MainWindow::LogTimeRole).toDateTime(), item->text()});
    }
    return out;
}

QAction *logAction(QListWidget *list, const char *name, const QString &text, QKeySequence keys)
{
    auto *action = new QAction(text, list);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(keys);
    // Only while the log has the focus: Ctrl+C elsewhere stays the field's own.
    action->setShortcutContext(Qt::WidgetShortcut);
    list->addAction(action);
    return action;
}

} // namespace

void MainWindow::buildLogActions()
{
    QListWidget *list = ui->ConsoleListBox;
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(logAction(list, "LogCopyAction", QStringLiteral("Копировать"), QKeySequence::Copy),
            &QAction::triggered, this, &MainWindow::copyLogSelection);
    connect(logAction(list, "LogSelectAllAction", QStringLiteral("Выделить всё"), QKeySequence::SelectAll),
            &QAction::triggered, list, &QListWidget::selectAll);
    auto *separator = new QAction(list);
    separator->setSeparator(true);
    list->addAction(separator);
    auto *save = new QAction(QStringLiteral("Сохранить журнал…"), list);
    save->setObjectName(QStringLiteral("LogSaveAction"));
    list->addAction(save);
    connect(save, &QAction::triggered, this, &MainWindow::saveLog);
}

void MainWindow::copyLogSelection()
{
    const QList<LogEntry> lines = logEntries(ui->ConsoleListBox, true);
    if (!lines.isEmpty())
        QApplication::clipboard()->setText(LogClipboardText(lines));
}

void MainWindow::saveLog()
{
    // Taken now: lines logged while the dialog is open are not asked for.
    const QList<LogEntry> lines = logEntries(ui->ConsoleListBox, false);
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("LogSaveDialog"));
    dialog.setWindowTitle(QStringLiteral("Сохранить журнал"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("Текст (*.txt)"), QStringLiteral("Все файлы (*)")});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.setDirectory(filesDir());
    dialog.selectFile(QStringLiteral("zart-log-%1.txt")
                          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    if (ModalRunner::exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    try {
        WriteFileAtomically(path, LogFileContent(lines));
    } catch (const ZartError &e) {
        Log(QStringLiteral("Журнал не сохранён (%1): %2").arg(QDir::toNativeSeparators(path), e.text()),
            LogError);
        return;
    }
    Log(QStringLiteral("Журнал сохранён: %1").arg(QDir::toNativeSeparators(path)), LogInfo);
}
