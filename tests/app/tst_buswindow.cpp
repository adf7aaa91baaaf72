// "Опрос шины": the window's table from the inventory's rows, the commissioning
// columns and the double-click that hands a sensor to the main window.

#include "AppTestUtil.h"
#include "app/BusWindow.h"

#include <QTableWidget>

class TestBusWindow : public QObject
{
    Q_OBJECT

private:
    testsim::SensorOnPty m_line;

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_line.start(), qPrintable(m_line.errorString())); }
    void cleanupTestCase() { m_line.stop(); }

    void tableAndDoubleClick()
    {
        SimWindow window(m_line.devicePath());
        QVERIFY(window.ready());
        window.click("BusButton");
        BusWindow *bus = window.form()->busWindow();
        QVERIFY(QTest::qWaitForWindowExposed(bus));

        BusSensor found{3, 0x00ABCDEF, QStringLiteral("14"), QStringLiteral("ZART"), QStringLiteral("OCS-1"),
                        QStringLiteral("2.1"), BusSensor::Mark::Found, QString::fromUtf16(FoundText)};
        BusSensor collision{1, {}, {}, {}, {}, {}, BusSensor::Mark::Conflict, QString::fromUtf16(ConflictText)};
        bus->setSensors({collision, found});
        auto *table = bus->findChild<QTableWidget *>("BusTable");
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(1, BusWindow::SerialColumn)->text(), QStringLiteral("00ABCDEF"));
        QCOMPARE(table->item(0, BusWindow::StatusColumn)->text(), QString::fromUtf16(ConflictText));
        // Only a collision's serial number may be typed; every new address may.
        QVERIFY(table->item(0, BusWindow::SerialColumn)->flags() & Qt::ItemIsEditable);
        QVERIFY(!(table->item(1, BusWindow::SerialColumn)->flags() & Qt::ItemIsEditable));
        QVERIFY(table->item(1, BusWindow::NewAddressColumn)->flags() & Qt::ItemIsEditable);

        // The serial number typed for the collision gets the lowest free address.
        table->item(0, BusWindow::SerialColumn)->setText(QStringLiteral("0012AB83"));
        QTest::mouseClick(bus->findChild<QPushButton *>("ProposeButton"), Qt::LeftButton);
        QCOMPARE(table->item(0, BusWindow::NewAddressColumn)->text(), QStringLiteral("2"));
        QCOMPARE(table->item(1, BusWindow::NewAddressColumn)->text(), QString());

        const auto doubleClick = [table](int row, int column) {
            const QRect cell = table->visualItemRect(table->item(row, column));
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
            QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        };
        doubleClick(1, BusWindow::AddressColumn);
        QCOMPARE(window.spin("AddrSpinEdit")->value(), 3);
        QCOMPARE(window.edit("SerialSetEdit")->text(), QStringLiteral("00ABCDEF"));
        // A collision's row gives its address and leaves the serial number field.
        doubleClick(0, BusWindow::StatusColumn);
        QCOMPARE(window.spin("AddrSpinEdit")->value(), 1);
        QCOMPARE(window.edit("SerialSetEdit")->text(), QStringLiteral("00ABCDEF"));
    }
};

QTEST_MAIN(TestBusWindow)
#include "tst_buswindow.moc"
