// Port lists of the user interface over a simulated set of serial devices.

#include "app/PortCombo.h"
#include "serial/UEnumComPorts.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QSignalSpy>
#include <QStyle>
#include <QtTest>

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

class TestPortCombo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { setPortInfoProvider({}); }

    void entries_data();
    void entries();
    void selectionAcrossRefill_data();
    void selectionAcrossRefill();
    void refillIsNoUserPick();
    void dropDownWidth_data();
    void dropDownWidth();
};

void TestPortCombo::entries_data()
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

void TestPortCombo::entries()
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

void TestPortCombo::selectionAcrossRefill_data()
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

void TestPortCombo::selectionAcrossRefill()
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

void TestPortCombo::refillIsNoUserPick()
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

void TestPortCombo::dropDownWidth_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("comboWidth");
    QTest::addColumn<bool>("widened");
    QTest::addColumn<bool>("scrollBar");

    QTest::newRow("8 long entries, narrow list") << 8 << 60 << true << false;
    QTest::newRow("9 long entries, narrow list") << 9 << 60 << true << true;
    QTest::newRow("9 long entries, wide list") << 9 << 3000 << false << false;
}

void TestPortCombo::dropDownWidth()
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

QTEST_MAIN(TestPortCombo)
#include "tst_portcombo.moc"
