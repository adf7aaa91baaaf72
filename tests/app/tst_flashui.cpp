// The dump group of the service tab through the real window on the simulated
// sensor: the file dialog, the questions and the dump viewer are answered
// through the modal runner; the sensor answers on a pseudo-terminal.

#include "AppTestUtil.h"

#include "app/CalibrationView.h"
#include "app/SpotViewWindow.h"
#include "app/DumpComparisonWindow.h"
#include "app/DumpViewer.h"
#include "app/RecordWindow.h"
#include "app/ShiftView.h"
#include "common/TestFiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QListWidget>
#include <QMap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <bit>

namespace {

using testfiles::dumpBytesOf;
using testfiles::readBytes;
using testfiles::writeBytes;

QString exeDirPath(const QString &name)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

// Files beside the test executable that the dump writes and the passport
// restore reads: out of the way during a test, put back afterwards.
class ScopedExeDirFiles
{
public:
    explicit ScopedExeDirFiles(const QStringList &names) : m_names(names)
    {
        for (const QString &name : m_names) {
            if (QFile::exists(exeDirPath(name)))
                m_saved.insert(name, readBytes(exeDirPath(name)));
            QFile::remove(exeDirPath(name));
        }
    }
    ~ScopedExeDirFiles()
    {
        for (const QString &name : m_names) {
            QFile::remove(exeDirPath(name));
            if (m_saved.contains(name))
                writeBytes(exeDirPath(name), m_saved.value(name));
        }
    }

private:
    QStringList m_names;
    QMap<QString, QByteArray> m_saved;
};

// Checks one open dialog as a handler set it up: title, filters, default
// suffix, the executable's directory, and an existing file required.
void verifyFileDialog(const SeenFileDialog &seen, const QString &title,
                      const QStringList &filters, const QString &suffix)
{
    QCOMPARE(seen.title, title);
    QCOMPARE(seen.filters, filters);
    QCOMPARE(seen.suffix, suffix);
    QCOMPARE(seen.directory, QDir(QCoreApplication::applicationDirPath()).absolutePath());
    QVERIFY(seen.mustExist);
}

// The viewer as it was shown.
struct SeenViewer
{
    QString caption;
    QStringList header;
    QList<QStringList> rows;
    QStringList tabs;
    QString picture; // the caption of the calibration picture
    bool steadyOnTabs = false; // the same size on both tabs
};

const QStringList DumpFilters{"Дамп (*.dmp)", "Все файлы (*.*)"};
const QStringList PassportFilters{"Паспорт (*.ini)", "Все файлы (*.*)"};

} // namespace

class TestFlashUi : public QObject
{
    Q_OBJECT

private:
    ScopedModalRunner::Act script()
    {
        return [this](QDialog &dialog) -> int {
            m_commandsAtDialog << commandsOn();
            if (auto *viewer = qobject_cast<DumpViewer *>(&dialog)) {
                QTableWidget *grid = viewer->grid();
                SeenViewer seen{viewer->windowTitle(), {}, {}, {}, {}};
                for (int t = 0; t < viewer->tabs()->count(); ++t)
                    seen.tabs << viewer->tabs()->tabText(t);
                if (const CalibrationPainter *picture = viewer->calibrationView()->painter())
                    seen.picture = picture->caption();
                const QSize before = viewer->size();
                viewer->tabs()->setCurrentIndex(1);
                QCoreApplication::processEvents();
                seen.steadyOnTabs = viewer->size() == before;
                viewer->tabs()->setCurrentIndex(0);
                QCoreApplication::processEvents();
                seen.steadyOnTabs = seen.steadyOnTabs && viewer->size() == before;
                for (int c = 0; c < grid->columnCount(); ++c)
                    seen.header << grid->horizontalHeaderItem(c)->text();
                for (int r = 0; r < grid->rowCount(); ++r) {
                    QStringList row;
                    for (int c = 0; c < grid->columnCount(); ++c)
                        row << (grid->item(r, c) ? grid->item(r, c)->text() : QString());
                    seen.rows << row;
                }
                m_viewers << seen;
                if (m_compareInViewer)
                    viewer->compareButton()->click();
                return QDialog::Accepted;
            }
            if (auto *comparison = qobject_cast<DumpComparisonWindow *>(&dialog)) {
                m_comparisons << QStringList{comparison->windowTitle(), comparison->lines()->toPlainText(),
                                             comparison->picture()->painter()->captionLines().value(0)};
                return QDialog::Accepted;
            }
            return m_dialogs.answer(dialog);
        };
    }
    QPushButton *button(const char *name) const { return m_window->child<QPushButton>(name); }
    bool commandsOn() const
    {
        return m_window->form()->commandsEnabled() && button("SaveFlashFileButton")->isEnabled() &&
               button("LoadFromPassportFlashFileButton")->isEnabled() &&
               m_window->spin("AddrSpinEdit")->isEnabled();
    }
    QStringList logTexts() const
    {
        QStringList out;
        for (const LogLine &l : m_window->log())
            out << l.text;
        return out;
    }

    testsim::SensorOnPty m_line;
    std::unique_ptr<SimWindow> m_window;
    QTemporaryDir m_dir;

    DialogScript m_dialogs;
    QList<SeenViewer> m_viewers;
    bool m_compareInViewer = false; // the viewer's "Сравнить с файлом…" is clicked
    QList<QStringList> m_comparisons; // caption, lines, the picture's first line
    QList<bool> m_commandsAtDialog;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(m_line.start(), qPrintable(m_line.errorString()));
    }

    void init()
    {
        m_line.reset();
        m_window = std::make_unique<SimWindow>(m_line.devicePath());
        QVERIFY(m_window->ready());
        // The service tab, as a service engineer sees it.
        m_window->child<QAction>("ServiceModeMenu")->setChecked(true);
        m_window->form()->ServiceModeMenuClick();
        m_window->child<QTabWidget>("CommandTabs")->setCurrentWidget(m_window->child("ServiceTab"));
        m_window->setTimeouts(3000, 300);
        m_dialogs = {};
        m_viewers.clear();
        m_compareInViewer = false;
        m_comparisons.clear();
        m_commandsAtDialog.clear();
    }

    void cleanup() { m_window.reset(); }

    void cleanupTestCase() { m_line.stop(); }

    // Into the data folder handed to the window, made on this first use.
    void saveDump()
    {
        const QDir data(m_dir.filePath(QStringLiteral("dumps")));
        m_window->form()->setPlaces({MainWindow::settingsFilePath(), data.path()});
        ScopedModalRunner runner(script());
        auto *gauge = m_window->child<QProgressBar>("FlashProcessGauge");
        gauge->setValue(37);
        QList<int> values;
        QList<bool> commandsDuringRun;
        // A power port in use: its button, and the spot view's CSV save, are
        // off while the dump runs.
        QPushButton *power = button("PowerButton");
        power->setEnabled(true);
        auto *saveCsv = m_window->form()->spotViewWindow()->findChild<QPushButton *>("SaveCsvButton");
        QVERIFY(saveCsv && saveCsv->isEnabled());
        QList<bool> powerOrSaveDuringRun;
        connect(gauge, &QProgressBar::valueChanged, this, [&](int v) {
            values << v;
            commandsDuringRun << commandsOn();
            powerOrSaveDuringRun << (power->isEnabled() || saveCsv->isEnabled());
        });

        m_window->click("SaveFlashFileButton");

        QVERIFY(runner.dialogs.isEmpty()); // no question, no error report
        QCOMPARE(values.first(), 0);
        QCOMPARE(values.last(), 100);
        QCOMPARE(gauge->value(), 100);
        QVERIFY(!commandsDuringRun.contains(true));
        QVERIFY(!powerOrSaveDuringRun.isEmpty() && !powerOrSaveDuringRun.contains(true));
        QVERIFY(commandsOn());
        QVERIFY(power->isEnabled() && saveCsv->isEnabled());

        QCOMPARE(readBytes(data.filePath("0012AB7F.dmp")), dumpBytesOf(SimSensor::defaultFlash()));
        QVERIFY(readBytes(data.filePath("0012AB7F.ini")).count("\r\n") == 441);
        QVERIFY(readBytes(data.filePath("passport.ini")).contains("ExpLevel=120;40;118;42"));
        const QList<LogLine> expected{{"Чтение флеш...", Black},
                                      {"Дамп сохранён в файле 0012AB7F.dmp...", Black},
                                      {"Паспорт сохранён в файле 0012AB7F.ini...", Black},
                                      {"Данные паспорта сохранены в файле passport.ini...", Black}};
        QCOMPARE(m_window->log(), expected);
        QCOMPARE(m_line.sensor.requestCount(), 1024);

        // The dump is a row of the record in the data folder: "Журнал
        // обслуживания" lists it with its files, and its serial filter keeps
        // it or not.
        QVERIFY(QFileInfo::exists(data.filePath("records.sqlite")));
        m_window->child<QAction>("RecordMenu")->trigger();
        RecordWindow *records = m_window->form()->recordWindow();
        QVERIFY(records->isVisible());
        QTableWidget *table = records->table();
        const auto shown = [table] {
            QStringList rows;
            for (int r = 0; r < table->rowCount(); ++r)
                rows << QStringList{table->item(r, 1)->text(), table->item(r, 2)->text(),
                                    table->item(r, 3)->text()}.join(u' ');
            return rows;
        };
        QCOMPARE(shown(), QStringList{"0012AB7F Дамп успешно"});
        table->selectRow(0);
        QCOMPARE(records->files()->count(), 3);
        // "Протокол…" writes the report of the selected sensor where the save
        // dialog says, in the data folder by default.
        m_dialogs.files = {data.filePath("r.pdf")};
        m_window->child<QPushButton>("ReportButton")->click();
        QCOMPARE(m_dialogs.fileDialogs.last().directory, data.absolutePath());
        QVERIFY(m_dialogs.fileDialogs.last().save);
        QVERIFY(readBytes(data.filePath("r.pdf")).startsWith("%PDF"));
        QVERIFY(QFileInfo::exists(data.filePath("r.json")));
        auto *serial = m_window->edit("SerialFilterEdit");
        serial->setText("00ABCDEF");
        QCOMPARE(shown(), QStringList{});
        serial->setText("12ab7f");
        QCOMPARE(shown(), QStringList{"0012AB7F Дамп успешно"});
        records->close();
    }

    // "Перенести калибровку из дампа…" runs the calibration transfer on the
    // chosen dump, asked once, with the commands off.
    void calibrationRestore()
    {
        SimSensor::Flash file = SimSensor::defaultFlash();
        file[SimSensor::WordSerial] = 0x00C0FFEE;
        file[SimSensor::WordTableX + 7] = std::bit_cast<quint32>(7.25f);
        const QString path = m_dir.filePath("calibration.dmp");
        QVERIFY(writeBytes(path, dumpBytesOf(file)));
        m_dialogs.files = {path};
        m_dialogs.answers = {true};
        ScopedModalRunner runner(script());

        m_window->click("CalibrationRestoreButton");

        QCOMPARE(m_dialogs.fileDialogs.size(), 1);
        QCOMPARE(m_dialogs.fileDialogs[0].title, QStringLiteral("Перенести калибровку из дампа..."));
        QCOMPARE(runner.dialogs.size(), 2);
        QCOMPARE(m_commandsAtDialog, QList<bool>({true, false}));
        QCOMPARE(m_line.sensor.word(SimSensor::WordTableX + 7), file[SimSensor::WordTableX + 7]);
        QCOMPARE(m_line.sensor.serial(), 0x0012AB7Fu);
        QVERIFY(m_window->child<QPushButton>("CalibrationRestoreButton")->isEnabled());
    }

    void restoreDump()
    {
        // A dump of another sensor at address 9; the connected one answers at 1.
        SimSensor::Flash file = SimSensor::defaultFlash();
        file[SimSensor::WordAddress] = 9;
        file[SimSensor::WordSerial] = 0x00C0FFEE;
        for (int k = 0; k < SimSensor::GridPoints; ++k)
            file[std::size_t(SimSensor::WordTableY + k)] = std::bit_cast<quint32>(float(k));
        const QString path = m_dir.filePath("other.dmp");
        QVERIFY(writeBytes(path, dumpBytesOf(file)));
        m_dialogs.files = {path};
        m_dialogs.answers = {true, true, true};
        ScopedModalRunner runner(script());
        auto *gauge = m_window->child<QProgressBar>("FlashProcessGauge");
        int hundreds = 0;
        connect(gauge, &QProgressBar::valueChanged, this, [&](int v) { hundreds += v == 100; });

        m_window->click("LoadFlashFileButton");

        QCOMPARE(m_dialogs.fileDialogs.size(), 1);
        verifyFileDialog(m_dialogs.fileDialogs[0], QStringLiteral("Восстановить флеш из файла..."),
                         DumpFilters, QStringLiteral("dmp"));
        if (QTest::currentTestFailed())
            return;

        // Three questions, all as warnings with Yes and No, asked with the commands off.
        QCOMPARE(runner.dialogs.size(), 4);
        for (int i = 1; i < 4; ++i) {
            QCOMPARE(runner.dialogs[i].title, QStringLiteral("Внимание!"));
            QCOMPARE(runner.dialogs[i].icon, int(QMessageBox::Warning));
            QCOMPARE(runner.dialogs[i].buttons, int(QMessageBox::Yes | QMessageBox::No));
        }
        QCOMPARE(runner.dialogs[1].text,
                 QStringLiteral("Серийный номер из файла - 00C0FFEE. Записать дамп во флеш?"));
        QCOMPARE(runner.dialogs[2].text,
                 QStringLiteral("Серийный номер датчика - 0012AB7F, в файле - 00C0FFEE. Датчик получит "
                                "серийный номер из файла. Всё равно записать?"));
        QCOMPARE(runner.dialogs[3].text, QStringLiteral("Новый адрес - $09. Записать?"));
        QCOMPARE(m_commandsAtDialog, QList<bool>({true, false, false, false}));

        // The sensor and the address field moved to the dump's address.
        QCOMPARE(int(m_line.sensor.address()), 9);
        QCOMPARE(m_window->spin("AddrSpinEdit")->value(), 9);
        QCOMPARE(m_line.sensor.word(SimSensor::WordSerial), 0x00C0FFEEu);
        QCOMPARE(m_line.sensor.word(SimSensor::WordTableY + 440), std::bit_cast<quint32>(440.0f));
        QCOMPARE(hundreds, 2); // both passes reach the end
        QCOMPARE(gauge->value(), 100);
        QCOMPARE(m_window->log().last(), (LogLine{"Восстановление успешно", Black}));
        QVERIFY(commandsOn());
    }

    void restoreStopped_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<int>("requests");

        QTest::addColumn<QString>("action"); // at the request count: "Стоп", the window's close, a signal
        QTest::addColumn<QString>("last");   // the line after the red one
        QTest::addColumn<int>("closeAnswer"); // to the question of a close during the write; -1 not asked

        QTest::newRow("declined") << false << "Запись отменена пользователем" << 0 << QString()
                                  << QString() << -1;
        // The serial number, then words 1..3 go out with the group pause between
        // them, the fourth is not answered.
        QTest::newRow("no reply in the write pass") << true << "Таймаут" << 4 << QString() << QString() << -1;
        // Asked for during the pause after word 2 (the serial number read before
        // it): no request after it.
        QTest::newRow("Стоп") << true << "Остановлено пользователем" << 3 << "stop"
                              << "Записано слов: 2 из 1022" << -1;
        // The close asks first; Yes stops the restore the same way, then closes
        // with the settings saved.
        QTest::newRow("window closed") << true << "Остановлено пользователем" << 3 << "close"
                                       << "Записано слов: 2 из 1022" << int(QMessageBox::Yes);
        // No: the close is forgotten, the write goes on (to the word not answered).
        QTest::newRow("window closed, No") << true << "Таймаут" << 4 << "close" << QString()
                                           << int(QMessageBox::No);
        // A signal asks nothing: it stops and closes.
        QTest::newRow("signal") << true << "Остановлено пользователем" << 3 << "signal"
                                << "Записано слов: 2 из 1022" << -1;
        // A signal while the close question is up answers it No, and still closes.
        QTest::newRow("signal during the close question")
            << true << "Остановлено пользователем" << 3 << "close, signal in the question"
            << "Записано слов: 2 из 1022" << int(QMessageBox::No);
    }

    // A restore that stops: one red line, the commands back; while it runs, the
    // window's events are handled and the group pause lies between the requests.
    void restoreStopped()
    {
        QFETCH(bool, answer);
        QFETCH(QString, failure);
        QFETCH(int, requests);
        QFETCH(QString, action);
        QFETCH(QString, last);
        QFETCH(int, closeAnswer);
        const bool closes = action == u"signal" || action.contains(u"signal in the question")
                            || (action == u"close" && closeAnswer == QMessageBox::Yes);

        constexpr int pauseMs = 60;
        m_window->setup()->pauseGroupSpinEdit()->setValue(pauseMs);
        const QString path = m_dir.filePath("stopped.dmp");
        QVERIFY(writeBytes(path, dumpBytesOf(SimSensor::defaultFlash())));
        m_line.sensor.addFault(SimFault::noReply().onFunction(16).onAddress(0x1003));
        m_dialogs.files = {path};
        m_dialogs.answers = {answer, closeAnswer == QMessageBox::Yes};
        int requestsWhenRun = -1;
        QObject caseScope; // a timer still pending when the case ends goes with it
        ScopedModalRunner runner([&, act = script()](QDialog &dialog) {
            if (dialog.objectName() == u"CloseDuringWriteQuestion"
                && action.contains(u"signal in the question")) {
                m_window->form()->closeOnSignal();
                return dialog.result();
            }
            if (qobject_cast<QMessageBox *>(&dialog))
                QTimer::singleShot(0, &caseScope,
                                   [&] { requestsWhenRun = m_line.sensor.requestCount(); });
            return act(dialog);
        });

        const QString settingsFile = m_dir.filePath(QStringLiteral("closed.ini"));
        QFile::remove(settingsFile);
        m_window->form()->setPlaces({settingsFile, m_dir.filePath(QStringLiteral("data"))});
        QPushButton *stop = button("StopButton");
        QVERIFY(!stop->isEnabled());
        bool stopUsable = false;
        QTimer trigger(&caseScope);
        connect(&trigger, &QTimer::timeout, &caseScope, [&] {
            // Before the word that is not answered, for a write that goes on.
            if (action.isEmpty() || m_line.sensor.requestCount() < std::min(requests, 3))
                return;
            trigger.stop();
            stopUsable = stop->isEnabled() && stop->isVisible();
            if (action == u"stop")
                QTest::mouseClick(stop, Qt::LeftButton);
            else if (action == u"signal")
                m_window->form()->closeOnSignal();
            else
                m_window->form()->close();
        });
        trigger.start(1);

        m_window->click("LoadFlashFileButton");

        // The file, the question, the close's question if asked; no error report.
        QCOMPARE(runner.dialogs.size(), closeAnswer < 0 ? 2 : 3);
        if (closeAnswer >= 0) {
            const SeenDialog &asked = runner.dialogs[2];
            QCOMPARE(asked.text, QStringLiteral("Прервать запись во флеш? Датчик останется записанным частично."));
            QCOMPARE(asked.title, QStringLiteral("Внимание!"));
            QCOMPARE(asked.icon, int(QMessageBox::Warning));
            QCOMPARE(asked.buttons, int(QMessageBox::Yes | QMessageBox::No));
        }
        if (closeAnswer < 0)
            QCOMPARE(m_commandsAtDialog, QList<bool>({true, false}));
        QList<LogLine> log = m_window->log();
        if (!last.isEmpty())
            QVERIFY(log.contains(LogLine{last, Black}));
        QVERIFY(log.contains(LogLine{failure, Red}));
        QCOMPARE(logTexts().count(failure), 1);
        QCOMPARE(m_line.sensor.requestCount(), requests);
        QVERIFY(!stop->isEnabled());
        if (!action.isEmpty())
            QVERIFY(stopUsable);
        if (closes) {
            QTRY_VERIFY_WITH_TIMEOUT(!m_window->form()->isVisible(), 5000);
            QVERIFY2(readBytes(settingsFile).contains("PauseGroup=60"), readBytes(settingsFile).constData());
            QCOMPARE(m_line.sensor.requestCount(), requests);
            return;
        }
        QVERIFY(m_window->form()->isVisible());
        QVERIFY(commandsOn());
        QCOMPARE(m_window->spin("AddrSpinEdit")->value(), 1);
        if (requests == 0)
            return;
        QVERIFY2(requestsWhenRun >= 0 && requestsWhenRun < requests,
                 qPrintable(QString::number(requestsWhenRun)));
        // The pause lies between the requests (after the skipped word 0 as well).
        const QList<SimRequestRecord> seen = m_line.sensor.requestLog();
        for (int i = 1; i < requests; ++i) {
            const qint64 gapUs = seen[i].receivedAtUs - seen[i - 1].receivedAtUs;
            QVERIFY2(gapUs >= pauseMs * 1000, qPrintable(QString::number(gapUs)));
        }
    }

    // A close during a read (the dump) asks nothing: the dump stops after the
    // request in flight and the window closes.
    void closeDuringDump()
    {
        m_window->form()->setPlaces({m_dir.filePath(QStringLiteral("closed-dump.ini")),
                                     m_dir.filePath(QStringLiteral("dump-data"))});
        ScopedModalRunner runner(script());
        QObject caseScope;
        QTimer trigger(&caseScope);
        connect(&trigger, &QTimer::timeout, &caseScope, [&] {
            if (m_line.sensor.requestCount() < 3)
                return;
            trigger.stop();
            m_window->form()->close();
        });
        trigger.start(1);

        m_window->click("SaveFlashFileButton");

        QVERIFY(runner.dialogs.isEmpty());
        QCOMPARE(m_window->log().last(), (LogLine{"Остановлено пользователем", Red}));
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->form()->isVisible(), 5000);
        QVERIFY(m_line.sensor.requestCount() < 10);
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("dump-data/0012AB7F.dmp"))));
    }

    void restorePassport_data()
    {
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<int>("requests");

        const QStringList declined{"Запись отменена пользователем"};
        QTest::newRow("declined") << QList<bool>{false} << declined << 0;
        // The connected sensor is not the passport's: only its serial number is read.
        QTest::newRow("another sensor, declined") << QList<bool>{true, false} << declined << 1;
        // The serial number, points 0..4 written (X and Y), the X word of point 5
        // is not answered.
        QTest::newRow("no reply in the write pass")
            << QList<bool>{true, true} << QStringList{"Запись паспорта во флеш...", "Таймаут"} << 12;
    }
    void restorePassport()
    {
        QFETCH(QList<bool>, answers);
        QFETCH(QStringList, log);
        QFETCH(int, requests);

        // The passport is read from anywhere; its ExpLevel from passport.ini beside
        // the executable.
        ScopedExeDirFiles files({"passport.ini"});
        QVERIFY(writeBytes(exeDirPath("passport.ini"), "[0BADCAFE]\r\nExpLevel=120;40;118;42\r\n"));
        QByteArray text;
        for (int k = 0; k < 441; ++k)
            text += QByteArray::number(k) + ".5\t-" + QByteArray::number(k) + "\t0\t0\r\n";
        const QString path = m_dir.filePath("0BADCAFE.ini");
        QVERIFY(writeBytes(path, text));
        m_line.sensor.addFault(SimFault::noReply().onFunction(16).onAddress(0x1085));
        m_dialogs.files = {path};
        m_dialogs.answers = answers;
        ScopedModalRunner runner(script());

        m_window->click("LoadFromPassportFlashFileButton");

        QCOMPARE(m_dialogs.fileDialogs.size(), 1);
        verifyFileDialog(m_dialogs.fileDialogs[0], QStringLiteral("Восстановить паспорт из файла..."),
                         PassportFilters, QStringLiteral("ini"));
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(runner.dialogs.size(), 1 + answers.size());
        for (int i = 1; i < runner.dialogs.size(); ++i) {
            QCOMPARE(runner.dialogs[i].title, QStringLiteral("Внимание!"));
            QCOMPARE(runner.dialogs[i].icon, int(QMessageBox::Warning));
            QCOMPARE(runner.dialogs[i].buttons, int(QMessageBox::Yes | QMessageBox::No));
        }
        QCOMPARE(runner.dialogs[1].text,
                 QStringLiteral("Серийный номер - 0BADCAFE. Записать паспорт во флеш?"));
        if (answers.size() > 1)
            QCOMPARE(runner.dialogs[2].text,
                     QStringLiteral("Серийный номер датчика - 0012AB7F, в файле - 0BADCAFE. "
                                    "Всё равно записать?"));
        QCOMPARE(m_commandsAtDialog, QList<bool>({true, false, false}).mid(0, 1 + answers.size()));

        QStringList notTraffic;
        for (const QString &t : logTexts())
            if (!t.startsWith(QStringLiteral("Послано")) &&
                !t.startsWith(QStringLiteral("Принято")) && !t.startsWith(QStringLiteral("Уровни и экспозиции")))
                notTraffic << t;
        // The core's lines come in order; what the core adds after the failure
        // (where the sensor stands) is its own test's business.
        QCOMPARE(notTraffic.mid(0, log.size()), log);
        QVERIFY(m_window->log().contains(LogLine{log.last(), Red}));
        QCOMPARE(m_line.sensor.requestCount(), requests);
        if (requests > 1)
            QCOMPARE(m_line.sensor.word(SimSensor::WordTableX + 4), std::bit_cast<quint32>(4.5f));
        else
            QCOMPARE(m_line.sensor.flash(), SimSensor::defaultFlash());
        QVERIFY(commandsOn());
    }

    // Two dumps viewed in turn: the second replaces every row of the first.
    void viewDump()
    {
        SimSensor::Flash a = SimSensor::defaultFlash();
        a[SimSensor::WordAddress] = 5;
        a[SimSensor::WordTableX] = std::bit_cast<quint32>(1.5f);
        SimSensor::Flash b = SimSensor::defaultFlash();
        b[SimSensor::WordAddress] = 0x21;
        b[SimSensor::WordSerial] = 0x0A0B0C0D;
        b[SimSensor::WordTableY + 440] = 0xFFFFFFFF;
        QVERIFY(writeBytes(m_dir.filePath("a.dmp"), dumpBytesOf(a)));
        QVERIFY(writeBytes(m_dir.filePath("b.dmp"), dumpBytesOf(b)));
        m_dialogs.files = {m_dir.filePath("a.dmp"), m_dir.filePath("b.dmp")};
        ScopedModalRunner runner(script());

        m_window->click("ViewFlashFileButton");
        m_window->click("ViewFlashFileButton");

        QCOMPARE(m_dialogs.fileDialogs.size(), 2);
        QCOMPARE(m_dialogs.fileDialogs[0].title, QStringLiteral("Просмотр дампа флеш из файла..."));
        QCOMPARE(m_dialogs.fileDialogs[0].filters, DumpFilters);
        QCOMPARE(m_viewers.size(), 2);
        const SeenViewer &first = m_viewers[0];
        QCOMPARE(first.caption, QStringLiteral("Просмотр дампа - a.dmp"));
        QCOMPARE(first.header, QStringList({"Имя", "Значение", "Raw (hex)"}));
        QCOMPARE(first.rows.size(), 894);
        QCOMPARE(first.rows[0], QStringList({"Адрес", "0x05", "00000005"}));
        QCOMPARE(first.rows[12], QStringList({"X1", "1.5", "3FC00000"}));
        QCOMPARE(first.tabs, QStringList({"Таблица", "Калибровка"}));
        QVERIFY(first.steadyOnTabs);
        QCOMPARE(first.picture, QStringLiteral("Калибровка: зав. № 0012AB7F, шаг 2.05 мм, файл a.dmp"));

        // The second load replaces every row.
        const SeenViewer &second = m_viewers[1];
        QCOMPARE(second.caption, QStringLiteral("Просмотр дампа - b.dmp"));
        QCOMPARE(second.rows.size(), 894);
        QCOMPARE(second.rows[0], QStringList({"Адрес", "0x21", "00000021"}));
        QCOMPARE(second.rows[1], QStringList({"Серийный номер", "0x0A0B0C0D", "0A0B0C0D"}));
        QCOMPARE(second.rows[12][0], QStringLiteral("X1"));
        QVERIFY(second.rows[12][1] != QStringLiteral("1.5"));
        QCOMPARE(second.rows[893], QStringList({"Y441", "-NAN", "FFFFFFFF"}));
        QCOMPARE(second.picture, QStringLiteral("Калибровка: зав. № 0A0B0C0D, шаг 2.05 мм, файл b.dmp"));
        QVERIFY(m_window->log().isEmpty());
        QCOMPARE(m_line.sensor.requestCount(), 0);

        // A file of the wrong size, then one that vanished after the dialog: red lines only.
        QVERIFY(writeBytes(m_dir.filePath("short.dmp"), QByteArray(4095, '\0')));
        m_dialogs.files = {m_dir.filePath("short.dmp"), m_dir.filePath("missing.dmp")};
        m_window->click("ViewFlashFileButton");
        QCOMPARE(m_window->log(), QList<LogLine>({{"Размер файла неверен", Red}}));
        m_window->click("ViewFlashFileButton");
        QCOMPARE(m_window->log().size(), 2);
        QCOMPARE(m_window->log().last().mark, Red);
        QVERIFY(!m_window->log().last().text.isEmpty());
        QCOMPARE(m_viewers.size(), 2);
    }

    // The viewer's "Сравнить с файлом…": the open dialog with the dump filter,
    // then the viewed dump (first) compared with the chosen one; nothing on cancel.
    void compareViewedDump_data()
    {
        QTest::addColumn<bool>("chosen");
        QTest::newRow("chosen") << true;
        QTest::newRow("cancelled") << false;
    }
    void compareViewedDump()
    {
        QFETCH(bool, chosen);
        const SimSensor::Flash a = SimSensor::defaultFlash();
        SimSensor::Flash b = a;
        b[SimSensor::WordSerial] = 0x0A0B0C0D;
        b[SimSensor::WordTableX + 7] = std::bit_cast<quint32>(std::bit_cast<float>(a[SimSensor::WordTableX + 7]) + 0.25f);
        QVERIFY(writeBytes(m_dir.filePath("a.dmp"), dumpBytesOf(a)));
        QVERIFY(writeBytes(m_dir.filePath("b.dmp"), dumpBytesOf(b)));
        m_dialogs.files = {m_dir.filePath("a.dmp"), chosen ? m_dir.filePath("b.dmp") : QString()};
        m_compareInViewer = true;
        ScopedModalRunner runner(script());

        m_window->click("ViewFlashFileButton");

        QCOMPARE(m_dialogs.fileDialogs.size(), 2);
        QCOMPARE(m_dialogs.fileDialogs[1].title, QStringLiteral("Сравнить дамп с файлом..."));
        QCOMPARE(m_dialogs.fileDialogs[1].filters, DumpFilters);
        QVERIFY(m_dialogs.fileDialogs[1].mustExist);
        if (!chosen) {
            QVERIFY(m_comparisons.isEmpty());
            return;
        }
        QCOMPARE(m_comparisons.size(), 1);
        QCOMPARE(m_comparisons[0][0], QStringLiteral("Сравнение дампов - a.dmp и b.dmp"));
        FlashImage first, second;
        std::copy(a.begin(), a.end(), first.begin());
        std::copy(b.begin(), b.end(), second.begin());
        QCOMPARE(m_comparisons[0][1], DumpComparisonLines(CompareDumps(first, second)).join(u'\n'));
        QVERIFY(m_comparisons[0][2].startsWith(QStringLiteral("Смещение сетки от a.dmp (зав. № 0012AB7F) к b.dmp")));
        QVERIFY(m_window->log().isEmpty());
    }

    // "Сравнить с дампом": every word read with the commands off; the differing
    // word in the text viewer, the count in red; then the offer to write the
    // differences, which writes that word alone, without reading again.
    void compareWithDump_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QList<LogLine>>("after"); // the log after the comparison, no traffic

        QTest::newRow("declined") << false
                                  << QList<LogLine>{{"Запись отменена пользователем", Red}};
        QTest::newRow("written") << true
                                 << QList<LogLine>{{"Запись отличающихся слов во флеш...", Black},
                                                   {"Проверка записи...", Black},
                                                   {"Коррекция CRC...", Black},
                                                   {"Восстановление успешно", Black}};
    }
    void compareWithDump()
    {
        QFETCH(bool, answer);
        QFETCH(QList<LogLine>, after);

        const SimSensor::Flash flash = SimSensor::defaultFlash();
        const QString path = m_dir.filePath("compare.dmp");
        QVERIFY(writeBytes(path, dumpBytesOf(flash)));
        m_line.sensor.setWord(SimSensor::WordTableY + 2, 0x3F800000);
        m_dialogs.files = {path};
        m_dialogs.answers = {answer};
        QStringList listed;
        ScopedModalRunner runner([&, act = script()](QDialog &dialog) {
            if (auto *text = qobject_cast<TextViewer *>(&dialog)) {
                m_commandsAtDialog << commandsOn();
                listed = text->textBox()->toPlainText().split(u'\n');
                return int(QDialog::Accepted);
            }
            return act(dialog);
        });
        auto *gauge = m_window->child<QProgressBar>("FlashProcessGauge");
        QList<bool> commandsDuringRun;
        connect(gauge, &QProgressBar::valueChanged, this, [&] { commandsDuringRun << commandsOn(); });

        m_window->click("CompareFlashFileButton");

        QCOMPARE(m_dialogs.fileDialogs.size(), 1);
        verifyFileDialog(m_dialogs.fileDialogs[0], QStringLiteral("Сравнить флеш с файлом..."), DumpFilters,
                         QStringLiteral("dmp"));
        const QString fileWord =
            QStringLiteral("%1").arg(flash[SimSensor::WordTableY + 2], 8, 16, QLatin1Char('0')).toUpper();
        // A header line names the columns, one name per column of the lines below it.
        QCOMPARE(listed, (QStringList{QStringLiteral("Адрес\tФайл\tДатчик\tПоле"),
                                      QStringLiteral("0x123C\t%1\t3F800000\tY3").arg(fileWord)}));
        for (const QString &line : std::as_const(listed))
            QCOMPARE(line.count(u'\t'), listed.first().count(u'\t'));
        QCOMPARE(runner.dialogs.last().text, QStringLiteral("Записать отличающиеся слова (1) во флеш?"));
        QCOMPARE(runner.dialogs.last().icon, int(QMessageBox::Warning));
        QList<LogLine> notTraffic;
        for (const LogLine &l : m_window->log())
            if (!l.text.startsWith(QStringLiteral("Послано")) && !l.text.startsWith(QStringLiteral("Принято")))
                notTraffic << l;
        QCOMPARE(notTraffic, (QList<LogLine>{{"Сравнение с дампом...", Black}, {"Отличается слов: 1", Red}}
                              + after));
        QCOMPARE(gauge->value(), 100);
        QVERIFY(!commandsDuringRun.isEmpty() && !commandsDuringRun.contains(true));
        // The file, the viewer, the question.
        QCOMPARE(m_commandsAtDialog, QList<bool>({true, true, false}));
        QVERIFY(commandsOn());

        const QList<SimRequestRecord> requests = m_line.sensor.requestLog();
        for (int i = 0; i < 1024; ++i)
            QCOMPARE(quint8(requests.at(i).request.at(1)), quint8(0x03));
        if (!answer) {
            QCOMPARE(requests.size(), 1024);
            QCOMPARE(m_line.sensor.word(SimSensor::WordTableY + 2), 0x3F800000u);
            return;
        }
        // The serial number, the one word written and read back, the correction.
        QCOMPARE(requests.size(), 1024 + 1 + 2 + 3);
        QCOMPARE(requests.at(1024).request.mid(1, 3), QByteArray::fromHex("040005"));
        QCOMPARE(requests.at(1025).request.mid(1, 3), QByteArray::fromHex("10123C"));
        QCOMPARE(requests.at(1026).request.mid(1, 3), QByteArray::fromHex("03123C"));
        QCOMPARE(m_line.sensor.word(SimSensor::WordTableY + 2), flash[SimSensor::WordTableY + 2]);
    }

    void cancelledDialog_data()
    {
        QTest::addColumn<QString>("buttonName");
        QTest::newRow("restore") << "LoadFlashFileButton";
        QTest::newRow("view") << "ViewFlashFileButton";
        QTest::newRow("passport") << "LoadFromPassportFlashFileButton";
        QTest::newRow("compare") << "CompareFlashFileButton";
    }
    void cancelledDialog()
    {
        QFETCH(QString, buttonName);
        // The dialog opens in the data folder handed to the window, made for it.
        const QString data = m_dir.filePath(QStringLiteral("files-") + buttonName);
        m_window->form()->setPlaces({MainWindow::settingsFilePath(), data});
        m_dialogs.files = {QString()};
        ScopedModalRunner runner(script());

        m_window->click(buttonName);

        QCOMPARE(runner.dialogs.size(), 1);
        QCOMPARE(m_dialogs.fileDialogs[0].directory, data);
        QVERIFY(m_window->log().isEmpty());
        QCOMPARE(m_line.sensor.requestCount(), 0);
        QVERIFY(commandsOn());
    }
};

QTEST_MAIN(TestFlashUi)
#include "tst_flashui.moc"
