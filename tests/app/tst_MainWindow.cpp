// The main window: console log, address keys, service tab, caption, error
// report, file-name filters and the busy cursor.

#include "AppTestSupport.h"

#include "ZartVersion.h"
#include "app/SearchDialog.h"
#include "app/SpinEdit.h"
#include "common/LogText.h"
#include "common/NumberFormat.h"
#include "sensor/StatusText.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QScopeGuard>

#include <algorithm>

// Records the keys that reach a control.
class KeyRecorder : public QObject
{
public:
    QStringList keys;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress)
            keys << static_cast<QKeyEvent *>(event)->text();
        return false;
    }
};

class TestMainWindow : public QObject, public FakeLinkWindows
{
    Q_OBJECT

private:
    SpinEdit *addr() const { return child<SpinEdit>("AddrSpinEdit"); }
    QListWidget *console() const { return child<QListWidget>("ConsoleListBox"); }

private Q_SLOTS:
    void init()
    {
        setUpLinks();
        makeWindows(QByteArray());
    }
    void cleanup() { tearDown(); }

    void logKeepsAtMost1001Lines_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::addColumn<int>("firstLine"); // number of the oldest line kept
        QTest::newRow("empty") << 0 << 1 << 0;
        QTest::newRow("1000 grows to 1001") << 1000 << 1001 << 0;
        QTest::newRow("1001 drops 100") << 1001 << 902 << 100;
    }
    void logKeepsAtMost1001Lines()
    {
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(int, firstLine);
        for (int i = 0; i < before; ++i)
            form()->Log(QString::number(i), LogInfo);
        form()->Log(QStringLiteral("last"), LogInfo);
        QCOMPARE(console()->count(), after);
        QCOMPARE(console()->item(0)->text(), before == 0 ? QStringLiteral("last")
                                                         : QString::number(firstLine));
        QCOMPARE(console()->item(after - 1)->text(), QStringLiteral("last"));
    }

    void logNeverHoldsMoreThan1001()
    {
        int most = 0;
        for (int i = 0; i < 2500; ++i) {
            form()->Log(QString::number(i), LogInfo);
            most = qMax(most, console()->count());
        }
        QCOMPARE(most, 1001);
        QCOMPARE(console()->item(console()->count() - 1)->text(), QStringLiteral("2499"));
    }

    void logColours_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("0 information") << 0 << Black;
        QTest::newRow("1 sent") << 1 << Blue;
        QTest::newRow("2 received") << 2 << Green;
        QTest::newRow("3 failure") << 3 << Red;
        QTest::newRow("4") << 4 << Black;
        QTest::newRow("255") << 255 << Black;
    }
    void logColours()
    {
        QFETCH(int, kind);
        QFETCH(QColor, colour);
        form()->Log(QStringLiteral("line"), quint8(kind));
        QCOMPARE(logLines(form()).last(), (LogLine{QStringLiteral("line"), colour}));
    }

    void logClearsSelectionAndShowsTheLastLine()
    {
        form()->show();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        for (int i = 0; i < 200; ++i)
            form()->Log(QString::number(i), LogInfo);
        console()->setCurrentRow(3);
        console()->verticalScrollBar()->setValue(0);
        form()->Log(QStringLiteral("new"), LogError);
        QVERIFY(console()->selectedItems().isEmpty());
        const QRect last = console()->visualItemRect(console()->item(console()->count() - 1));
        QVERIFY(console()->viewport()->rect().contains(last));
        QCOMPARE(last.height(), MainWindow::LogItemHeight);
    }

    // A selected line is drawn in its own colour on the list's normal background,
    // which stays light under a dark desktop palette (also one that comes while
    // the window is open), so that every line colour reads well.
    void selectedLineKeepsItsColours_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QColor>("colour");
        for (const bool dark : {false, true}) {
            const char *palette = dark ? "dark palette" : "light palette";
            QTest::addRow("%s, failure", palette) << dark << int(LogError) << Red;
            QTest::addRow("%s, sent", palette) << dark << int(LogSent) << Blue;
            QTest::addRow("%s, information", palette) << dark << int(LogInfo) << Black;
        }
    }
    void selectedLineKeepsItsColours()
    {
        QFETCH(bool, dark);
        QFETCH(int, kind);
        QFETCH(QColor, colour);
        const QPalette saved = QApplication::palette();
        const auto restore = qScopeGuard([&] { QApplication::setPalette(saved); });
        if (dark) {
            QPalette night = saved;
            for (const auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
                night.setColor(role, QColor(0x2b, 0x2b, 0x2b));
            for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
                night.setColor(role, QColor(0xee, 0xee, 0xee));
            night.setColor(QPalette::Highlight, QColor(0x30, 0x60, 0xa0));
            QApplication::setPalette(night);
        }
        form()->show();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        form()->Log(QStringLiteral("WWWWWWWW line"), quint8(kind));
        QListWidgetItem *line = console()->item(console()->count() - 1);
        console()->setCurrentItem(line);
        QVERIFY(line->isSelected());
        const QImage image = console()->viewport()->grab(console()->visualItemRect(line)).toImage();
        const QColor highlight = console()->palette().color(QPalette::Highlight);
        auto near = [](const QColor &a, const QColor &b) {
            return qAbs(a.red() - b.red()) < 40 && qAbs(a.green() - b.green()) < 40 &&
                   qAbs(a.blue() - b.blue()) < 40;
        };
        auto light = [](const QColor &c) { return c.lightness() > 200; };
        int lightPixels = 0, textPixels = 0, highlightPixels = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (light(c))
                    ++lightPixels;
                else if (near(c, colour))
                    ++textPixels;
                if (near(c, highlight))
                    ++highlightPixels;
            }
        }
        QVERIFY2(textPixels > 0, "the text is drawn in its own colour");
        QVERIFY2(lightPixels > image.width() * image.height() / 2, "on a light background");
        QCOMPARE(highlightPixels, 0);
        // Below the last line too.
        const QImage empty = console()->viewport()->grab().toImage();
        QVERIFY(light(empty.pixelColor(empty.width() / 2, empty.height() - 2)));
    }

    // The log's context menu.
    void logMenu()
    {
        QStringList items;
        for (const QAction *action : console()->actions())
            items << (action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(items, (QStringList{"Копировать", "Выделить всё", "-", "Сохранить журнал…"}));
        QCOMPARE(console()->contextMenuPolicy(), Qt::ActionsContextMenu);
        // A line longer than the log is wide can be scrolled to.
        form()->show();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        form()->Log(QStringLiteral("short"), LogInfo);
        QCoreApplication::processEvents();
        QCOMPARE(console()->horizontalScrollBar()->maximum(), 0);
        form()->Log(QString(400, u'W'), LogInfo);
        QCoreApplication::processEvents();
        QVERIFY(console()->horizontalScrollBar()->maximum() > 0);
    }

    // Copying puts the selected lines on the clipboard, by the menu and by the keys.
    void logCopy_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QList<int>>("rows"); // selected; empty: Ctrl+A
        QTest::addColumn<QStringList>("copied");
        QTest::newRow("menu") << "menu" << QList<int>{0, 2} << QStringList{"первая", "третья"};
        QTest::newRow("Ctrl+C") << "keys" << QList<int>{1} << QStringList{"вторая"};
        QTest::newRow("Ctrl+A, Ctrl+C") << "keys" << QList<int>{}
                                        << QStringList{"первая", "вторая", "третья"};
        QTest::newRow("select all by the menu") << "menu" << QList<int>{}
                                                << QStringList{"первая", "вторая", "третья"};
    }
    void logCopy()
    {
        QFETCH(QString, how);
        QFETCH(QList<int>, rows);
        QFETCH(QStringList, copied);
        form()->show();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        console()->clear();
        for (const char *text : {"первая", "вторая", "третья"})
            form()->Log(QString::fromUtf8(text), LogInfo);
        QApplication::clipboard()->clear();
        console()->setFocus();
        const auto action = [this](const char *name) {
            return console()->findChild<QAction *>(QLatin1String(name));
        };
        if (rows.isEmpty()) {
            if (how == QLatin1String("keys"))
                QTest::keyClick(console(), Qt::Key_A, Qt::ControlModifier);
            else
                action("LogSelectAllAction")->trigger();
        }
        for (const int row : rows)
            console()->item(row)->setSelected(true);
        if (how == QLatin1String("keys"))
            QTest::keyClick(console(), Qt::Key_C, Qt::ControlModifier);
        else
            action("LogCopyAction")->trigger();
        QList<LogEntry> lines;
        for (const QString &text : copied)
            lines.append({{}, text});
        QCOMPARE(QApplication::clipboard()->text(), LogClipboardText(lines));
    }

    // "Сохранить журнал…" writes where the save dialog says; a failure is
    // reported in red with the reason, a cancelled dialog writes nothing.
    void logSave_data()
    {
        QTest::addColumn<QString>("name"); // in a temporary directory; empty: cancelled
        QTest::addColumn<bool>("saved");
        QTest::newRow("saved") << "log.txt" << true;
        QTest::newRow("no such directory") << "missing/log.txt" << false;
        QTest::newRow("cancelled") << "" << false;
    }
    void logSave()
    {
        QFETCH(QString, name);
        QFETCH(bool, saved);
        QTemporaryDir dir;
        const QString path = name.isEmpty() ? QString() : dir.filePath(name);
        console()->clear();
        form()->Log(QStringLiteral("первая"), LogInfo);
        form()->Log(QStringLiteral("вторая"), LogError);
        DialogScript script;
        script.files = {path};
        ScopedModalRunner runner([&](QDialog &dialog) { return script.answer(dialog); });
        console()->findChild<QAction *>(QStringLiteral("LogSaveAction"))->trigger();
        QVERIFY(script.fileDialogs.value(0).save);
        QCOMPARE(QFileInfo::exists(path), saved);
        const QList<LogLine> lines = logLines(form());
        if (name.isEmpty()) {
            QCOMPARE(lines.size(), 2);
            return;
        }
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.last().mark, saved ? Black : Red);
        QVERIFY(lines.last().text.contains(path));
        if (!saved)
            return;
        // The two lines logged before, each with its time.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList written = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(written.size(), 2);
        for (int n = 0; n < 2; ++n) {
            QCOMPARE(written[n].section(u'\t', 1), lines[n].text);
            QVERIFY(QDateTime::fromString(written[n].section(u'\t', 0, 0), Qt::ISODateWithMs).isValid());
        }
    }

    void addressKeys_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("start");
        QTest::addColumn<char>("key");
        QTest::addColumn<int>("expected");
        QTest::newRow("m in the address") << "AddrSpinEdit" << 5 << 'm' << 6;
        QTest::newRow("N in the address") << "AddrSpinEdit" << 5 << 'N' << 4;
        QTest::newRow("M at 247") << "AddrSpinEdit" << 247 << 'M' << 247;
        QTest::newRow("N at 1") << "AddrSpinEdit" << 1 << 'N' << 1;
        QTest::newRow("n in the serial field") << "SerialSetEdit" << 10 << 'n' << 9;
        QTest::newRow("m in the flash address") << "AddrFlashEdit" << 246 << 'm' << 247;
        QTest::newRow("other letter") << "SerialSetEdit" << 10 << 'k' << 10;
    }
    void addressKeys()
    {
        QFETCH(QString, field);
        QFETCH(int, start);
        QFETCH(char, key);
        QFETCH(int, expected);
        addr()->setValue(start);
        QWidget *target = child<QWidget>(qPrintable(field));
        auto *edit = qobject_cast<QLineEdit *>(target);
        const QString before = edit ? edit->text() : QString();
        if (edit)
            edit->setCursorPosition(edit->text().size());
        KeyRecorder reached;
        target->installEventFilter(&reached);
        QTest::keyClick(target, key);
        QCOMPARE(addr()->value(), expected);
        const bool addressKey = QChar(key).toLower() == u'm' || QChar(key).toLower() == u'n';
        // M and N never reach the field; other keys do.
        QCOMPARE(reached.keys.isEmpty(), addressKey);
        if (edit && addressKey)
            QCOMPARE(edit->text(), before);
    }

    void addressKeysOffWhileCommandsAre()
    {
        addr()->setValue(10);
        form()->setCommandsEnabled(false);
        QVERIFY(!addr()->isEnabled());
        QVERIFY(!child<QPushButton>("ReadIDButton")->isEnabled());
        QTest::keyClick(child<QLineEdit>("SerialSetEdit"), 'm');
        QCOMPARE(addr()->value(), 10);
        form()->setCommandsEnabled(true);
        QVERIFY(child<QPushButton>("ReadIDButton")->isEnabled());
        QTest::keyClick(child<QLineEdit>("SerialSetEdit"), 'm');
        QCOMPARE(addr()->value(), 11);
    }

    void addressKeysLeaveDialogsAlone()
    {
        addr()->setValue(10);
        QTest::keyClick(m_w.searchDialog->timeoutSpinEdit(), 'm');
        QCOMPARE(addr()->value(), 10);
    }

    void captionCarriesTheVersion()
    {
        QCOMPARE(form()->windowTitle(), QStringLiteral("ЗАРТ-конфигуратор v%1.%2.%3.%4")
                                            .arg(ZART_VERSION_MAJOR)
                                            .arg(ZART_VERSION_MINOR)
                                            .arg(ZART_VERSION_PATCH)
                                            .arg(ZART_VERSION_TWEAK));
    }

    void errorReportText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Таймаут" << "Таймаут.";
        QTest::newRow("full stop") << "Done." << "Done.";
        QTest::newRow("closing bracket") << "Unable to open com port (Error: 2)"
                                         << "Unable to open com port (Error: 2)";
        QTest::newRow("minus below the stop") << "a-" << "a-";
        QTest::newRow("slash above the stop") << "a/" << "a/.";
        QTest::newRow("empty") << "" << "";
    }
    void errorReportText()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        ScopedModalRunner runner(QMessageBox::Ok);
        form()->showErrorReport(text);
        QCOMPARE(runner.dialogs.size(), 1);
        QCOMPARE(runner.dialogs[0].text, shown);
        QCOMPARE(runner.dialogs[0].icon, int(QMessageBox::Critical));
        QCOMPARE(runner.dialogs[0].buttons, int(QMessageBox::Ok));
        // The executable is tst_MainWindow: the title lowers every letter after the first.
        QCOMPARE(runner.dialogs[0].title, QStringLiteral("tst_mainwindow"));
    }

    void failureEscapingAHandlerIsReported()
    {
        ScopedModalRunner runner(QMessageBox::Ok);
        form()->runGuarded([] { throw ZartError(QStringLiteral("Сбой")); });
        QCOMPARE(runner.dialogs.size(), 1);
        QCOMPARE(runner.dialogs[0].text, QStringLiteral("Сбой."));
    }

    void serviceMode_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<bool>("demo");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("menu");
        QTest::addColumn<bool>("tabShown");
        QTest::newRow("no setting") << QByteArray() << false << 0 << false << false;
        QTest::newRow("1") << QByteArray("[Options]\nServiceMode=1\n") << false << 1 << true << false;
        QTest::newRow("2") << QByteArray("[Options]\nServiceMode=2\n") << false << 2 << true << true;
        QTest::newRow("5 reads as 2") << QByteArray("[Options]\nServiceMode=5\n") << false << 2 << true << true;
        QTest::newRow("-1 reads as 0") << QByteArray("[Options]\nServiceMode=-1\n") << false << 0 << false
                                       << false;
        // The demo shows the tab; what the file says stays in the file.
        QTest::newRow("demo, 0") << QByteArray("[Options]\nServiceMode=0\n") << true << 2 << true << true;
        QTest::newRow("demo, no setting") << QByteArray() << true << 2 << true << true;
        QTest::newRow("demo, 2") << QByteArray("[Options]\nServiceMode=2\n") << true << 2 << true << true;
    }
    void serviceMode()
    {
        QFETCH(QByteArray, settings);
        QFETCH(bool, demo);
        QFETCH(int, mode);
        QFETCH(bool, menu);
        QFETCH(bool, tabShown);
        makeWindows(settings);
        if (demo)
            form()->offerServiceTab();
        form()->show();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        form()->FormActivate();
        QCOMPARE(form()->ServiceMode, mode);
        form()->SaveSettings();
        const QStringList stored = ScopedSettingsFile::lines().filter(QStringLiteral("ServiceMode"));
        QCOMPARE(stored, QString::fromUtf8(settings).split(u'\n').filter(QStringLiteral("ServiceMode")));

        auto *pages = child<QTabWidget>("CommandTabs");
        const int service = pages->indexOf(child<QWidget>("ServiceTab"));
        QCOMPARE(pages->isTabVisible(service), tabShown);

        // A right click on the tabs offers the popup menu, or nothing.
        auto *popup = child<QMenu>("ServicePopupMenu");
        const QPoint pos = pages->tabBar()->geometry().center();
        QContextMenuEvent click(QContextMenuEvent::Mouse, pos, pages->mapToGlobal(pos));
        QApplication::sendEvent(pages, &click);
        QCOMPARE(popup->isVisible(), menu);
        if (!menu)
            return;
        QAction *item = popup->actions().value(0);
        QVERIFY(item);
        QCOMPARE(item->text(), QStringLiteral("Сервисный режим"));
        QCOMPARE(item->isChecked(), tabShown);
        popup->hide();
        item->trigger(); // the user picks the item: the check mark and the tab follow
        QCOMPARE(item->isChecked(), !tabShown);
        QCOMPARE(pages->isTabVisible(service), !tabShown);
        item->trigger();
        QCOMPARE(pages->isTabVisible(service), tabShown);
    }

    void nameFilter_data()
    {
        QTest::addColumn<QString>("pipe");
        QTest::addColumn<QString>("qt");
        QTest::newRow("pattern not in the text") << "Text|*.txt" << "Text (*.txt)";
        QTest::newRow("two patterns") << "Logs|*.txt;*.log" << "Logs (*.txt *.log)";
    }
    void nameFilter()
    {
        QFETCH(QString, pipe);
        QFETCH(QString, qt);
        QCOMPARE(MainWindow::qtNameFilter(pipe), qt);
    }

    // Under a locale with other digits every number still shows and reads in
    // Latin digits, in the main window and in the dialogs made after it.
    void numbersUseLatinDigits()
    {
        const QLocale arabic(QStringLiteral("ar_EG"));
        QCOMPARE_NE(arabic.toString(123), QStringLiteral("123")); // the locale can show the fault
        QLocale::setDefault(arabic);
        makeWindows("[Main]\nAddr=123\n");
        form()->FormActivate();
        QCOMPARE(addr()->text(), QStringLiteral("123"));
        QCOMPARE(form()->busAddress(), 123);
        const QList<SpinEdit *> spins = form()->findChildren<SpinEdit *>();
        QVERIFY(spins.size() >= 6); // address fields, settings and search dialogs
        for (const SpinEdit *spin : spins)
            QCOMPARE(spin->text(), QString::number(spin->value()));
        QCOMPARE(QLocale().toString(1.5), QStringLiteral("1.5")); // dialogs made later
        form()->close();
        QVERIFY(ScopedSettingsFile::lines().contains(QStringLiteral("Addr=123")));
    }

    // A result longer than its field shows its start, and the whole text as tooltip.
    // The error-code fields otherwise show the legend of the codes' texts.
    void resultFieldShowsItsStart_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("fits");
        QTest::addColumn<QString>("standing"); // the tooltip while the text fits
        QTest::newRow("largest negative single")
            << "XEdit" << "-3.40282346638529E38" << false << QString();
        QTest::newRow("short coordinate") << "YEdit" << "-1.5" << true << QString();
        QTest::newRow("long text in the version field")
            << "SerialEdit" << QString(40, u'8') << false << QString();
        QTest::newRow("error code") << "XerEdit" << "?%" << true << StatusLegend();
        QTest::newRow("no error code") << "YerEdit" << "" << true << StatusLegend();
        QTest::newRow("error field too narrow") << "YerEdit" << QString(20, u'%') << false
                                                << StatusLegend();
    }
    void resultFieldShowsItsStart()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(bool, fits);
        QFETCH(QString, standing);
        form()->show();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        auto *edit = child<QLineEdit>(qPrintable(field));
        edit->setText(QStringLiteral("1"));
        edit->setText(text);
        QCOMPARE(edit->cursorPosition(), 0);
        QCOMPARE(edit->toolTip(), fits ? standing : text);
    }

    // Controls whose caption does not say it all carry a tooltip.
    void toolTips_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("expected"); // empty: any text
        QTest::newRow("search button") << "FindAddrButton" << "Поиск адреса датчика";
        QTest::newRow("error label X") << "XerLabel" << StatusLegend();
        QTest::newRow("error label Y") << "YerLabel" << StatusLegend();
        QTest::newRow("short timeout") << "TimeoutShortSpinEdit" << "";
        QTest::newRow("short timeout label") << "TimeoutShortLabel" << "";
        QTest::newRow("group pause") << "PauseGroupSpinEdit" << "Пауза между групповыми запросами ";
        QTest::newRow("group pause label") << "PauseGroupLabel"
                                           << "Пауза между групповыми запросами ";
    }
    void toolTips()
    {
        QFETCH(QString, control);
        QFETCH(QString, expected);
        QWidget *w = form()->findChild<QWidget *>(control);
        if (!w)
            w = setup()->findChild<QWidget *>(control);
        QVERIFY2(w, qPrintable(control));
        if (expected.isEmpty())
            QVERIFY(!w->toolTip().trimmed().isEmpty());
        else
            QCOMPARE(w->toolTip(), expected);
    }

    // The buttons of the service tab keep at least the layout's spacing between
    // them in the window's designed size.
    void serviceButtonsDoNotTouch()
    {
        form()->show();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        auto *tabs = child<QTabWidget>("CommandTabs");
        auto *service = child<QWidget>("ServiceTab");
        tabs->setTabVisible(tabs->indexOf(service), true);
        tabs->setCurrentWidget(service);
        QTRY_VERIFY(service->isVisible());
        QCoreApplication::processEvents();
        const int spacing = child<QGridLayout>("dumpLayout")->verticalSpacing();
        QVERIFY(spacing > 0);
        const QList<QPushButton *> buttons = service->findChildren<QPushButton *>();
        QVERIFY(buttons.size() >= 9);
        for (qsizetype i = 0; i < buttons.size(); ++i) {
            const QRect a(buttons[i]->mapTo(service, QPoint()), buttons[i]->size());
            for (qsizetype j = i + 1; j < buttons.size(); ++j) {
                const QRect b(buttons[j]->mapTo(service, QPoint()), buttons[j]->size());
                const int gap = std::max({b.top() - a.bottom(), a.top() - b.bottom(),
                                          b.left() - a.right(), a.left() - b.right()}) - 1;
                QVERIFY2(gap >= spacing, qPrintable(QStringLiteral("%1 and %2: %3 px apart")
                                                         .arg(buttons[i]->text(), buttons[j]->text())
                                                         .arg(gap)));
            }
        }
    }

    // Switching between the coordinate and the pixel labels moves no control.
    void measurementLabelsKeepTheLayout()
    {
        setup()->timeoutSpinEdit()->setValue(1);
        form()->show();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        const QList<QWidget *> fields{child<QWidget>("XEdit"), child<QWidget>("XerEdit"),
                                      child<QWidget>("YEdit"), child<QWidget>("YerEdit"),
                                      child<QWidget>("XerLabel")};
        QList<QRect> before;
        for (const QWidget *w : fields)
            before << w->geometry();
        ScopedModalRunner runner;
        form()->ReadPixButtonClick();
        QCOMPARE(child<QLabel>("XerLabel")->text(), QStringLiteral("Ошибка nx"));
        QCoreApplication::processEvents();
        for (qsizetype i = 0; i < fields.size(); ++i)
            QCOMPARE(fields[i]->geometry(), before[i]);
    }

    void busyCursor()
    {
        form()->setBusy(true);
        QVERIFY(QApplication::overrideCursor());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        form()->setBusy(true);
        form()->setBusy(false);
        QVERIFY(!QApplication::overrideCursor());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
