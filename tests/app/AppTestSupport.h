#pragma once

// Helpers of the window tests: serial devices that record what the links do
// with them, a settings file beside the test executable, a replaceable list
// of present ports, and a runner that answers modal dialogs.

#include "app/ModalRunner.h"
#include "app/MainWindow.h"
#include "app/SettingsDialog.h"
#include "app/ZartWindows.h"
#include "common/FakeSerialDevice.h"
#include "common/LogLine.h"
#include "serial/SerialLink.h"
#include "serial/PortEnumeration.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>

#include <cerrno>
#include <functional>
#include <memory>

// A link on a fake device whose state the test keeps reading.
inline std::unique_ptr<SerialLink> fakeLink(const std::shared_ptr<FakeSerialDevice::State> &line)
{
    return std::make_unique<SerialLink>(std::make_unique<FakeSerialDevice>(line));
}

// The ports the enumeration reports while the object lives. ttyS<n> is COM<n+1>.
class ScopedPorts
{
public:
    explicit ScopedPorts(QList<DeviceInfo> devices = {}) { set(std::move(devices)); }
    ~ScopedPorts() { setPortInfoProvider({}); }
    void set(QList<DeviceInfo> devices)
    {
        setPortInfoProvider([devices] { return devices; });
    }
    // COM<number> with a description, "COM<number> - Port <number>" in the lists.
    static DeviceInfo com(int number)
    {
        return {QStringLiteral("ttyS%1").arg(number - 1), QStringLiteral("Port %1").arg(number),
                true};
    }
    static QString text(int number) { return QStringLiteral("COM%1 - Port %1").arg(number); }
};

// The settings file of the test executable: written before the windows are
// made, removed (file or directory) when the object goes.
class ScopedSettingsFile
{
public:
    ScopedSettingsFile() { remove(); }
    explicit ScopedSettingsFile(const QByteArray &content)
    {
        remove();
        write(content);
    }
    ~ScopedSettingsFile() { remove(); }

    static QString path() { return MainWindow::settingsFilePath(); }
    static void write(const QByteArray &content)
    {
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    static QByteArray read()
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // "key=value" lines in file order, "[Section]" lines included, blanks dropped.
    static QStringList lines()
    {
        QStringList out;
        for (const QString &line : QString::fromUtf8(read()).split(u'\n')) {
            if (!line.trimmed().isEmpty())
                out << line.trimmed();
        }
        return out;
    }
    static void remove()
    {
        QDir dir(path());
        if (dir.exists())
            dir.removeRecursively();
        else
            QFile::remove(path());
    }
};

// A dialog as the runner saw it.
struct SeenDialog
{
    QString objectName;
    QString title;
    QString text; // message boxes only
    int icon = -1;
    int buttons = 0;
};

// Answers every modal dialog with act (or with a fixed result) and records it.
class ScopedModalRunner
{
public:
    using Act = std::function<int(QDialog &)>;

    explicit ScopedModalRunner(int result = QDialog::Rejected)
        : ScopedModalRunner([result](QDialog &) { return result; })
    {
    }
    explicit ScopedModalRunner(Act act) : m_act(std::move(act))
    {
        ModalRunner::setRunner([this](QDialog &dialog) {
            SeenDialog seen{dialog.objectName(), dialog.windowTitle(), {}, -1, 0};
            if (auto *box = qobject_cast<QMessageBox *>(&dialog)) {
                seen.text = box->text();
                seen.icon = box->icon();
                seen.buttons = int(box->standardButtons());
            }
            dialogs.append(seen);
            return m_act(dialog);
        });
    }
    ~ScopedModalRunner() { ModalRunner::setRunner({}); }

    QList<SeenDialog> dialogs;

private:
    Act m_act;
};

// The open dialog as a handler set it up.
struct SeenFileDialog
{
    QString title;
    QStringList filters;
    QString suffix;
    QString directory;
    bool mustExist = false;
    bool save = false;
};

// Answers modal dialogs by script: a file dialog with the next of files
// (cancelled when none or an empty one is left), a message box other than the
// error report with the next of answers (No when none is left), any other
// dialog with Rejected; records each file dialog as it was set up.
struct DialogScript
{
    int answer(QDialog &dialog)
    {
        if (auto *box = qobject_cast<QFileDialog *>(&dialog)) {
            fileDialogs.append({box->windowTitle(), box->nameFilters(), box->defaultSuffix(),
                                box->directory().absolutePath(),
                                box->fileMode() == QFileDialog::ExistingFile,
                                box->acceptMode() == QFileDialog::AcceptSave});
            const QString file = files.isEmpty() ? QString() : files.takeFirst();
            if (file.isEmpty())
                return QDialog::Rejected;
            box->selectFile(file);
            return QDialog::Accepted;
        }
        if (qobject_cast<QMessageBox *>(&dialog) && dialog.objectName() != u"ErrorReport")
            return !answers.isEmpty() && answers.takeFirst() ? QMessageBox::Yes : QMessageBox::No;
        return QDialog::Rejected;
    }

    QStringList files;
    QList<bool> answers;
    QList<SeenFileDialog> fileDialogs;
};

// One console line: text and colour.
inline QString markText(const QColor &colour)
{
    return colour.name();
}
using LogLine = testlog::Line<QColor>;

inline QList<LogLine> logLines(MainWindow *form)
{
    auto *list = form->findChild<QListWidget *>(QStringLiteral("ConsoleListBox"));
    QList<LogLine> out;
    for (int i = 0; list && i < list->count(); ++i)
        out.append({list->item(i)->text(), list->item(i)->data(Qt::ForegroundRole).value<QColor>()});
    return out;
}

const QColor Black(0, 0, 0);
const QColor Blue(0, 0, 255);
const QColor Green(0, 128, 0);
const QColor Red(255, 0, 0);

// The window set on two recording fake links, with its own settings file and
// list of present ports. Call setUpLinks() from init() and tearDown() from cleanup().
class FakeLinkWindows
{
protected:
    std::shared_ptr<FakeSerialDevice::State> m_data, m_power;
    std::unique_ptr<ScopedPorts> m_ports;
    std::unique_ptr<ScopedSettingsFile> m_settings;
    ZartWindows m_w;

    MainWindow *form() const { return m_w.mainWindow.get(); }
    SettingsDialog *setup() const { return m_w.settingsDialog; }
    template <typename T> T *child(const char *name) const
    {
        T *w = form()->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }

    void setUpLinks()
    {
        m_data = std::make_shared<FakeSerialDevice::State>();
        m_power = std::make_shared<FakeSerialDevice::State>();
        m_ports = std::make_unique<ScopedPorts>();
        m_settings = std::make_unique<ScopedSettingsFile>();
    }
    void tearDown()
    {
        m_w = {};
        m_settings.reset(); // after the window has written it at its close
        m_ports.reset();
    }
    // COM<n> present for each n.
    void setPorts(const QList<int> &comPorts)
    {
        QList<DeviceInfo> devices;
        for (int n : comPorts)
            devices << ScopedPorts::com(n);
        m_ports->set(devices);
    }
    // The settings file (none for a null array), the ports, new windows.
    void makeWindows(const QByteArray &settings, const QList<int> &comPorts = {})
    {
        m_w = {};
        m_settings.reset();
        m_settings = std::make_unique<ScopedSettingsFile>();
        if (!settings.isNull())
            ScopedSettingsFile::write(settings);
        setPorts(comPorts);
        m_w = createWindows(fakeLink(m_data), fakeLink(m_power));
    }
    QList<LogLine> newLines(qsizetype from) const { return logLines(form()).mid(from); }
};
