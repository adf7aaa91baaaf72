// The spin edit rule shared by every window, the secondary windows (dump viewer,
// text viewer, search dialog) and the port lists over a simulated set of devices.

#include "AppTestSupport.h"

#include "app/PortCombo.h"
#include "app/SearchDialog.h"
#include "app/DumpViewer.h"
#include "app/TextViewer.h"
#include "app/SpinEdit.h"
#include "app/ZartApplication.h"
#include "flash/FlashOperations.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QTableWidget>
#include <QTextEdit>

namespace {

DeviceInfo dev(const QString &name, const QString &description = QString())
{
    return DeviceInfo {name, description, !description.isNull()};
}

void present(const QList<DeviceInfo> &devices)
{
    setPortInfoProvider([devices] { return devices; });
}

QStringList texts(const QComboBox &combo)
{
    QStringList out;
    for (int i = 0; i < combo.count(); ++i)
        out << combo.itemText(i);
    return out;
}

} // namespace

class TestWidgets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { setPortInfoProvider({}); }

    void spinEditText_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("byFocus"); // focus leaves, or Enter
        QTest::newRow("number in range") << 1 << 247 << "12" << 12 << true;
        QTest::newRow("above the range, Enter") << 1 << 247 << "300" << 247 << false;
        QTest::newRow("below the range") << 1 << 247 << "0" << 1 << true;
        QTest::newRow("negative") << 0 << 60000 << "-5" << 0 << true;
        QTest::newRow("empty reads as the minimum") << 10 << 10000 << "" << 10 << true;
        QTest::newRow("fraction is no whole number") << 1 << 60000 << "1.5" << 1 << true;
        QTest::newRow("plus sign") << 1 << 247 << "+7" << 7 << true;
        QTest::newRow("letters are refused") << 1 << 247 << "1a2" << 12 << false;
        QTest::newRow("sign alone") << 1 << 60000 << "-" << 1 << false;
    }
    void spinEditText()
    {
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(QString, typed);
        QFETCH(int, value);
        QFETCH(bool, byFocus);
        SpinEdit spin;
        spin.setRange(minimum, maximum);
        spin.setValue(maximum / 2);
        spin.selectAll();
        QTest::keyClick(&spin, Qt::Key_Delete);
        QTest::keyClicks(&spin, typed);
        // Before the field is left, the text already stands for its value.
        QCOMPARE(spin.textValue(), value);
        if (byFocus) {
            QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
            QApplication::sendEvent(&spin, &out);
        } else {
            QTest::keyClick(&spin, Qt::Key_Return);
        }
        QCOMPARE(spin.value(), value);
        QCOMPARE(spin.text(), QString::number(value));
    }

    void spinEditValueOfText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "17" << 17;
        QTest::newRow("blanks around") << " 17 " << 17;
        QTest::newRow("too large for an integer") << "99999999999999999999" << 1;
        QTest::newRow("huge but an integer") << "9999999999" << 247;
        QTest::newRow("hexadecimal is no number here") << "0x10" << 1;
    }
    void spinEditValueOfText()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(SpinEdit::valueOfText(text, 1, 247), value);
    }

    // Column 0 takes what the others leave, also after a resize made while the
    // picture's tab was shown.
    void dumpViewerColumnWidths_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("onPicture");
        QTest::newRow("wider") << 700 << false;
        QTest::newRow("minimum") << 300 << false;
        QTest::newRow("wider, on the picture's tab") << 700 << true;
        QTest::newRow("narrower, on the picture's tab") << 500 << true;
    }
    void dumpViewerColumnWidths()
    {
        QFETCH(int, width);
        QFETCH(bool, onPicture);
        DumpViewer form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.tabs()->setCurrentIndex(onPicture ? 1 : 0);
        form.resize(width, 400);
        QTRY_COMPARE(form.width(), width);
        form.tabs()->setCurrentIndex(0);
        QTableWidget *grid = form.grid();
        QTRY_COMPARE(grid->width(), width);
        const int value = form.valueColumnWidth();
        QVERIFY(value >= 80);
        QCOMPARE(grid->columnWidth(1), value);
        QCOMPARE(grid->columnWidth(2), 80);
        QCOMPARE(grid->columnWidth(0), width - value - 80 - 24);
    }

    // The viewers have the main window's font, and every value of a dump fits
    // its column whole: the serial number, and the widest "0.###" texts.
    void dumpViewerFontAndValuesFit()
    {
        const ZartWindows w = createWindows();
        QCOMPARE(w.dumpViewer->font(), w.mainWindow->font());
        QCOMPARE(w.textViewer->font(), w.mainWindow->font());

        FlashImage image{};
        image[WordSerial] = 0x0012AB7F;
        for (int k = 0; k < 441; ++k) {
            image[XTableIndex + k] = 0xFF7FFFFFu - quint32(k);       // -3.40282346638529E38 ...
            image[YTableIndex + k] = 0xDE5E0B6Bu - quint32(k * 977); // -3.99999e18 ... below 1e18
        }
        DumpViewer *view = w.dumpViewer;
        view->setRows(DumpViewRows(image), QStringLiteral("0012AB7F.dmp"));
        QTableWidget *grid = view->grid();
        QCOMPARE(grid->item(1, 1)->text(), QStringLiteral("0x0012AB7F"));
        // A cell elides a text wider than the cell less the grid line and the
        // style's text margin on both sides.
        const QFontMetricsF metrics(grid->font());
        const int margin = grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1;
        for (int r = 0; r < grid->rowCount(); ++r) {
            for (int c : {1, 2}) {
                const QString text = grid->item(r, c)->text();
                QVERIFY2(metrics.horizontalAdvance(text) <= grid->columnWidth(c) - 1 - 2 * margin,
                         qPrintable(text));
            }
        }
    }

    // Qt's own texts are Russian; the captions the windows give stay theirs.
    void qtTextsInRussian()
    {
        QVERIFY(ZartApplication::installQtTranslation());
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Внимание!"), QStringLiteral("?"),
                        QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("&Да"));
        QCOMPARE(box.button(QMessageBox::No)->text(), QStringLiteral("&Нет"));
        QLineEdit edit;
        const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        QVERIFY2(menu->actions().first()->text().startsWith(QStringLiteral("&Отменить")),
                 qPrintable(menu->actions().first()->text()));
        const ZartWindows w = createWindows();
        QCOMPARE(w.settingsDialog->findChild<QPushButton *>(QStringLiteral("CancelButton"))->text(),
                 QStringLiteral("Отмена"));
    }

    void textViewerShowsTheLines_data()
    {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("second");
        QTest::newRow("three lines, then one")
            << QStringList{"Версия прошивки: 0x0E (шаг сетки 2.05 мм, 5.05 мм)",
                           "Размерность прибора: 40", "Версия CPU: 0x02 (ADuC841)"}
            << QStringList{"VendorName: X"};
        QTest::newRow("markup shown as typed")
            << QStringList{"<b>bold</b> & <i>"} << QStringList{"a", "", "b"};
        QTest::newRow("nothing to show") << QStringList{"x"} << QStringList{};
        // A comparison list longer than the screen, then a short text.
        QStringList differences{QStringLiteral("Адрес\tФайл\tДатчик\tПоле")};
        for (int n = 0; n < 300; ++n)
            differences << QStringLiteral("0x%1\t0000002A\tFFFFFFFF\tПорог компарации Y "
                                          "(не восстанавливается)")
                               .arg(0x1000 + n, 0, 16);
        QTest::newRow("long comparison, then version")
            << differences << QStringList{"Версия прошивки: 0x0E (шаг сетки 2.05 мм, 5.05 мм)"};
    }
    // Each text opens at its start, in a window no smaller than designed that
    // shows the whole width of its lines.
    void textViewerShowsTheLines()
    {
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        TextViewer form;
        QStringList shown;
        struct View
        {
            QSize window;
            int widthHidden, left, top;
        };
        QList<View> views;
        ScopedModalRunner runner([&](QDialog &dialog) {
            dialog.show();
            if (QTest::qWaitForWindowExposed(&dialog)) {
                const QTextEdit *box = form.textBox();
                views.append({dialog.size(), box->horizontalScrollBar()->maximum(),
                              box->horizontalScrollBar()->value(),
                              box->verticalScrollBar()->value()});
            }
            shown << form.textBox()->toPlainText();
            QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("OkButton")),
                              Qt::LeftButton);
            return dialog.result();
        });
        QCOMPARE(form.showLines(first), int(QDialog::Accepted));
        QCOMPARE(form.showLines(second), int(QDialog::Accepted));
        QCOMPARE(shown, (QStringList{first.join(u'\n'), second.join(u'\n')}));
        QCOMPARE(views.size(), 2);
        for (const View &v : std::as_const(views)) {
            QCOMPARE(v.widthHidden, 0);
            QCOMPARE(v.left, 0);
            QCOMPARE(v.top, 0);
            QVERIFY(v.window.width() >= TextViewer::DesignSize.width());
            QVERIFY(v.window.height() >= TextViewer::DesignSize.height());
        }
        // A short text after a long one: the window is no bigger than it needs.
        if (second.size() <= 1)
            QCOMPARE(views[1].window.height(), TextViewer::DesignSize.height());
        QVERIFY(form.textBox()->isReadOnly());
        QVERIFY(!form.isVisible());
        QCOMPARE(runner.dialogs[0].title, QStringLiteral("Просмотр текста"));
    }

    void findDialog_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("Enter starts") << int(Qt::Key_Return) << int(QDialog::Accepted);
        QTest::newRow("Escape cancels") << int(Qt::Key_Escape) << int(QDialog::Rejected);
    }
    void findDialog()
    {
        QFETCH(int, key);
        QFETCH(int, result);
        SearchDialog form;
        SpinEdit *timeout = form.timeoutSpinEdit();
        auto *start = form.findChild<QPushButton *>(QStringLiteral("StartButton"));
        for (int round = 0; round < 2; ++round) {
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            // Each showing puts the focus on "Запуск".
            QCOMPARE(form.focusWidget(), start);
            if (round == 0) {
                timeout->setFocus();
                timeout->selectAll();
                QTest::keyClicks(timeout, QStringLiteral("250"));
                QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("CancelButton")),
                                  Qt::LeftButton);
                QCOMPARE(form.result(), int(QDialog::Rejected));
                QVERIFY(!form.isVisible());
                continue;
            }
            // The timeout entered before is offered again.
            QCOMPARE(form.timeoutMs(), 250);
            QTest::keyClick(&form, Qt::Key(key));
            QCOMPARE(form.result(), result);
            QVERIFY(!form.isVisible());
        }
    }

    void entries_data()
    {
        QTest::addColumn<QList<DeviceInfo>>("devices");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("names"); // of each entry once selected
        QTest::addColumn<QList<int>>("numbers");

        QTest::newRow("serial devices only, with numbers")
            << QList<DeviceInfo>{dev("ttyUSB0", "USB adapter"), dev("ttyS0"), dev("lp0", "Printer")}
            << QStringList() << QStringList{"COM1", "COM101 - USB adapter"}
            << QStringList{"COM1", "COM101"} << QList<int>{1, 101};
        QTest::newRow("description with blanks")
            << QList<DeviceInfo>{dev("ttyUSB4", "FT232R USB UART")} << QStringList()
            << QStringList{"COM105 - FT232R USB UART"} << QStringList{"COM105"} << QList<int>{105};
        const QStringList extra{"/dev/pts/5", "/dev/serial/by-id/usb-Zart-if00"};
        QTest::newRow("extra device paths")
            << QList<DeviceInfo>{dev("ttyS0", "Board")} << extra << QStringList{"COM1 - Board"} + extra
            << QStringList{"COM1"} + extra << QList<int>{1, 0, 0};
    }
    void entries()
    {
        QFETCH(QList<DeviceInfo>, devices);
        QFETCH(QStringList, extra);
        QFETCH(QStringList, texts);
        QFETCH(QStringList, names);
        QFETCH(QList<int>, numbers);

        present(devices);
        QComboBox combo;
        combo.addItem(QStringLiteral("old entry"), 99);
        FillPortCombo(&combo, extra);
        QCOMPARE(::texts(combo), texts);
        QCOMPARE(combo.currentIndex(), -1); // "old entry" has gone
        QCOMPARE(ComboPortName(&combo), QString());
        QCOMPARE(ComboPortNumber(&combo), 0);
        for (int i = 0; i < combo.count(); ++i) {
            combo.setCurrentIndex(i);
            QCOMPARE(ComboPortName(&combo), names[i]);
            QCOMPARE(ComboPortNumber(&combo), numbers[i]);
            if (numbers[i] > 0)
                QCOMPARE(combo.itemData(i, Qt::UserRole).toInt(), numbers[i]);
        }
        if (!extra.isEmpty()) { // an extra entry keeps its selection across a refill, too
            combo.setCurrentIndex(1);
            present(devices + QList<DeviceInfo>{dev("ttyS1", "Card")});
            FillPortCombo(&combo, extra);
            QCOMPARE(combo.currentText(), extra.first());
        }
        // An entry that carries 0, like "no power port".
        combo.insertItem(0, QStringLiteral("Отключен"), 0);
        combo.setCurrentIndex(0);
        QCOMPARE(ComboPortName(&combo), QStringLiteral("Отключен"));
        QCOMPARE(ComboPortNumber(&combo), 0);
    }

    void selectionAcrossRefill_data()
    {
        QTest::addColumn<QList<DeviceInfo>>("after");
        QTest::addColumn<QString>("selected"); // empty: nothing selected

        QTest::newRow("unchanged") << QList<DeviceInfo>{dev("ttyS0", "Board"), dev("ttyUSB0", "Adapter")}
                                   << "COM101 - Adapter";
        QTest::newRow("moved to another row")
            << QList<DeviceInfo>{dev("ttyS0", "Board"), dev("ttyS3", "Card"), dev("ttyUSB0", "Adapter")}
            << "COM101 - Adapter";
        QTest::newRow("port gone") << QList<DeviceInfo>{dev("ttyS0", "Board")} << "";
        QTest::newRow("description changed")
            << QList<DeviceInfo>{dev("ttyS0", "Board"), dev("ttyUSB0", "Other adapter")} << "";
    }
    void selectionAcrossRefill()
    {
        QFETCH(QList<DeviceInfo>, after);
        QFETCH(QString, selected);

        present({dev("ttyS0", "Board"), dev("ttyUSB0", "Adapter")});
        QComboBox combo;
        FillPortCombo(&combo);
        combo.setCurrentIndex(1);
        QCOMPARE(combo.currentText(), QStringLiteral("COM101 - Adapter"));

        present(after);
        FillPortCombo(&combo);
        if (selected.isEmpty()) {
            QCOMPARE(combo.currentIndex(), -1);
            QCOMPARE(ComboPortNumber(&combo), 0);
            QCOMPARE(ComboPortName(&combo), QString());
        } else {
            QCOMPARE(combo.currentText(), selected);
            QCOMPARE(ComboPortNumber(&combo), 101);
        }
    }

    void refillIsNoUserPick()
    {
        present({dev("ttyS0", "Board"), dev("ttyS1", "Card")});
        QComboBox combo;
        FillPortCombo(&combo);
        combo.setCurrentIndex(1);

        QSignalSpy changed(&combo, &QComboBox::currentIndexChanged);
        QSignalSpy textChanged(&combo, &QComboBox::currentTextChanged);
        QSignalSpy activated(&combo, &QComboBox::activated);

        present({dev("ttyS1", "Card")}); // the selected entry moves from row 1 to row 0
        FillPortCombo(&combo);
        QCOMPARE(combo.currentIndex(), 0);
        present({}); // and then goes
        FillPortCombo(&combo);
        QCOMPARE(combo.currentIndex(), -1);

        QCOMPARE(changed.count(), 0);
        QCOMPARE(textChanged.count(), 0);
        QCOMPARE(activated.count(), 0);
        QVERIFY(!combo.signalsBlocked());
    }

    void dropDownWidth_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("comboWidth");
        QTest::addColumn<bool>("widened");
        QTest::addColumn<bool>("scrollBar");

        QTest::newRow("8 long entries, narrow list") << 8 << 60 << true << false;
        QTest::newRow("9 long entries, narrow list") << 9 << 60 << true << true;
        QTest::newRow("9 long entries, wide list") << 9 << 3000 << false << false;
    }
    void dropDownWidth()
    {
        QFETCH(int, entries);
        QFETCH(int, comboWidth);
        QFETCH(bool, widened);
        QFETCH(bool, scrollBar);

        QList<DeviceInfo> devices;
        for (int i = 0; i < entries; ++i)
            devices << dev(QStringLiteral("ttyS%1").arg(i),
                           QStringLiteral("Serial port with a long description %1").arg(QString(i + 1, u'W')));
        present(devices);

        QComboBox combo;
        combo.setFixedWidth(comboWidth);
        const int before = combo.view()->minimumWidth();
        FillPortCombo(&combo);
        QCOMPARE(combo.count(), entries);

        const QFontMetrics metrics(combo.font());
        int widest = 0;
        for (int i = 0; i < combo.count(); ++i)
            widest = qMax(widest, metrics.horizontalAdvance(combo.itemText(i)));
        const int bar = combo.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &combo);
        QVERIFY(bar > 0);

        if (!widened)
            QCOMPARE(combo.view()->minimumWidth(), before);
        else
            QCOMPARE(combo.view()->minimumWidth(), widest + 8 + (scrollBar ? bar : 0));
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_Widgets.moc"
