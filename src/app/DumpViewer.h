#pragma once

#include "flash/FlashImage.h"

#include <QDialog>
#include <QList>
#include <QSize>
#include <QStringList>

namespace Ui {
class DumpViewer;
}
class CalibrationView;
class QPushButton;
class QTabWidget;
class QTableWidget;
struct CalibrationGrid;

// The dump viewer: on the tab "Таблица" a three-column table (name, value, raw
// word) of one dump file, on the tab "Калибровка" the picture of its
// calibration grid. The window is created once and shown modally for each dump.
// The button "Сравнить с файлом…" beside the tabs asks for the comparison of
// the dump shown with another (compareRequested); the main window answers.
class DumpViewer : public QDialog
{
    Q_OBJECT

public:
    static constexpr int ValueColumnWidth = 80; // columns 1 and 2 at least
    static constexpr int NameColumnSpare = 24;  // left for the scroll bar

    explicit DumpViewer(QWidget *parent = nullptr);
    ~DumpViewer() override;

    // Replaces the whole table: one row per entry of rows (name, value, raw
    // text; missing cells are left empty), and sets the caption to
    // "Просмотр дампа - " followed by the file name without its directory.
    void setRows(const QList<QStringList> &rows, const QString &fileName);

    // The picture of the "Калибровка" tab.
    void setCalibration(const CalibrationGrid &grid);

    // Shows a dump read from path: its rows (setRows), its calibration
    // (setCalibration), and keeps it for a comparison.
    void setDump(const FlashImage &image, const QString &path);
    const FlashImage &image() const { return m_image; }
    const QString &path() const { return m_path; }

    QTableWidget *grid() const;
    QTabWidget *tabs() const;
    CalibrationView *calibrationView() const;
    QPushButton *compareButton() const;

    // Width of column 1: ValueColumnWidth, or more when the widest value text
    // of the window's font would not fit ("0x" and eight hexadecimal digits,
    // and the "0.###" text of a single of any magnitude).
    int valueColumnWidth() const;
    // Width of column 2 (eight hexadecimal digits): ValueColumnWidth, or more.
    int rawColumnWidth() const;

    void FormCreate();
    // Gives column 0 what the grid's width leaves; runs whenever the grid
    // changes its size, on whichever tab the window was resized.
    void FormResize();
    // The window keeps one size for both tabs: DefaultSize, within nine
    // tenths of the screen, when it is made (room for the picture), then
    // whatever size the user gives it for the rest of the run.
    static constexpr QSize DefaultSize{900, 700};

Q_SIGNALS:
    // "Сравнить с файлом…" was clicked.
    void compareRequested();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Width a cell needs to show text whole in this window's grid.
    int cellWidthFor(const QString &text) const;

    Ui::DumpViewer *ui;
    int m_valueColumnWidth = ValueColumnWidth;
    int m_rawColumnWidth = ValueColumnWidth;
    FlashImage m_image{};
    QString m_path;
};
