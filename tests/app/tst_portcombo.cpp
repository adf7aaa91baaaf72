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

    void entriesCarryNumbers();
    void selectionAcrossRefill_data();
    void selectionAcrossRefill();
    void refillIsNoUserPick();
    void nameAndNumberOfSelection_data();
    void nameAndNumberOfSelection();
    void extraDevicePaths();
    void dropDownWidth_data();
    void dropDownWidth();
};

void TestPortCombo::entriesCarryNumbers()
{
    present({dev("ttyUSB0", "USB adapter"), dev("ttyS0"), dev("lp0", "Printer")});
    QComboBox combo;
    combo.addItem(QStringLiteral("old entry"), 99);
    FillPortCombo(&combo);
    QCOMPARE(texts(combo), QStringList({"COM1", "COM101 - USB adapter"}));
    QCOMPARE(combo.itemData(0, Qt::UserRole).toInt(), 1);
    QCOMPARE(combo.itemData(1, Qt::UserRole).toInt(), 101);
    QCOMPARE(combo.currentIndex(), -1); // "old entry" has gone
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

void TestPortCombo::nameAndNumberOfSelection_data()
{
    QTest::addColumn<DeviceInfo>("device");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");

    QTest::newRow("without description") << dev("ttyACM1") << "COM202" << 202;
    QTest::newRow("description with blanks") << dev("ttyUSB4", "FT232R USB UART") << "COM105" << 105;
}

void TestPortCombo::nameAndNumberOfSelection()
{
    QFETCH(DeviceInfo, device);
    QFETCH(QString, name);
    QFETCH(int, number);

    present({device});
    QComboBox combo;
    FillPortCombo(&combo);
    QCOMPARE(combo.currentIndex(), -1);
    QCOMPARE(ComboPortName(&combo), QString());
    QCOMPARE(ComboPortNumber(&combo), 0);

    combo.setCurrentIndex(0);
    QCOMPARE(ComboPortName(&combo), name);
    QCOMPARE(ComboPortNumber(&combo), number);

    // An entry that carries 0, like "no power port".
    combo.insertItem(0, QStringLiteral("Отключен"), 0);
    combo.setCurrentIndex(0);
    QCOMPARE(ComboPortName(&combo), QStringLiteral("Отключен"));
    QCOMPARE(ComboPortNumber(&combo), 0);
}

void TestPortCombo::extraDevicePaths()
{
    present({dev("ttyS0", "Board")});
    QComboBox combo;
    const QStringList extra {QStringLiteral("/dev/pts/5"), QStringLiteral("/dev/serial/by-id/usb-Zart-if00")};
    FillPortCombo(&combo, extra);
    QCOMPARE(texts(combo), QStringList({"COM1 - Board", "/dev/pts/5", "/dev/serial/by-id/usb-Zart-if00"}));

    combo.setCurrentIndex(1);
    QCOMPARE(ComboPortName(&combo), QStringLiteral("/dev/pts/5"));
    QCOMPARE(ComboPortNumber(&combo), 0);

    // The extra entry keeps its selection across a refill, too.
    present({dev("ttyS0", "Board"), dev("ttyS1", "Card")});
    FillPortCombo(&combo, extra);
    QCOMPARE(combo.currentText(), QStringLiteral("/dev/pts/5"));
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
