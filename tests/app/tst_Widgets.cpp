// The spin edit rule shared by every window, and the secondary windows: dump
// viewer, text viewer and search dialog.

#include "AppTestSupport.h"

#include "app/UFind.h"
#include "app/UViewDump.h"
#include "app/UViewText.h"
#include "app/ZSpinEdit.h"

#include <QFocusEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTextEdit>

class TestWidgets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
        ZSpinEdit spin;
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
        QCOMPARE(ZSpinEdit::valueOfText(text, 1, 247), value);
    }

    void dumpViewerColumnWidths_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("wider") << 700;
        QTest::newRow("minimum") << 300;
    }
    void dumpViewerColumnWidths()
    {
        QFETCH(int, width);
        TViewDumpForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.resize(width, 400);
        QTableWidget *grid = form.grid();
        QTRY_COMPARE(grid->width(), width);
        QCOMPARE(grid->columnWidth(1), 80);
        QCOMPARE(grid->columnWidth(2), 80);
        QCOMPARE(grid->columnWidth(0), width - 80 - 80 - 24);
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
    }
    void textViewerShowsTheLines()
    {
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        TViewTextForm form;
        QStringList shown;
        ScopedModalRunner runner([&](QDialog &dialog) {
            dialog.show();
            shown << form.textBox()->toPlainText();
            QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("BitBtn1")),
                              Qt::LeftButton);
            return dialog.result();
        });
        QCOMPARE(form.showLines(first), int(QDialog::Accepted));
        QCOMPARE(form.showLines(second), int(QDialog::Accepted));
        QCOMPARE(shown, (QStringList{first.join(u'\n'), second.join(u'\n')}));
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
        TFindForm form;
        ZSpinEdit *timeout = form.timeoutSpinEdit();
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
};

QTEST_MAIN(TestWidgets)
#include "tst_Widgets.moc"
