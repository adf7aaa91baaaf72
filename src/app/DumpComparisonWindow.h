#pragma once

#include "flash/FlashImage.h"

#include <QDialog>
#include <QSize>

namespace Ui {
class DumpComparisonWindow;
}
class QPlainTextEdit;
class ShiftView;

// Two dumps compared: above, the picture of how far the calibration grid
// moved from the first to the second; below, the lines zart-cli compare
// prints (whose dumps, the differing words, the shift). Created once, shown
// modally over the dump viewer.
class DumpComparisonWindow : public QDialog
{
    Q_OBJECT

public:
    static constexpr QSize DefaultSize{900, 760};

    explicit DumpComparisonWindow(QWidget *parent = nullptr);
    ~DumpComparisonWindow() override;

    // Shows the pair, and the caption "Сравнение дампов - A и B" (file names
    // without their directory).
    void setDumps(const FlashImage &first, const QString &firstPath, const FlashImage &second,
                  const QString &secondPath);

    ShiftView *picture() const;
    QPlainTextEdit *lines() const;

private:
    Ui::DumpComparisonWindow *ui;
};
