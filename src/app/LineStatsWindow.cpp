#include "app/LineStatsWindow.h"
#include "ui_LineStatsWindow.h"

#include "modbus/LineStatistics.h"
#include "serial/AdapterFacts.h"

#include <QPainter>
#include <QTimer>
#include <algorithm>

namespace {

// The lower bound of a histogram bucket, as the axis shows it.
QString bucketMark(int bucket)
{
    return bucket == 0 ? QStringLiteral("0") : QString::number(LatencySeries::BucketBoundsMs[size_t(bucket - 1)]);
}

} // namespace

LineStatsWindow::LineStatsWindow(QWidget *parent)
    : QDialog(parent), ui(new Ui::LineStatsWindow), m_sysfsRoot(QString::fromLatin1(SystemSysfsRoot))
{
    ui->setupUi(this);
    setModal(false);
    ui->HistogramView->installEventFilter(this);
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setObjectName(QStringLiteral("RefreshTimer"));
    m_refreshTimer->setInterval(RefreshMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &LineStatsWindow::refresh);
    connect(ui->ResetButton, &QPushButton::clicked, this, &LineStatsWindow::resetButtonClicked);
}

LineStatsWindow::~LineStatsWindow()
{
    delete ui;
}

void LineStatsWindow::setSources(LineStatistics *statistics, SerialLink *dataPort)
{
    m_statistics = statistics;
    m_dataPort = dataPort;
    refresh();
}

void LineStatsWindow::refresh()
{
    if (!m_statistics || !m_dataPort)
        return;
    ui->StatsLabel->setText(
        LineStatisticsLines(*m_statistics, *m_dataPort, /*withHistogram=*/false, m_sysfsRoot).join(QLatin1Char('\n')));
    ui->HistogramView->update();
}

void LineStatsWindow::resetButtonClicked()
{
    if (m_statistics)
        m_statistics->reset();
    refresh();
}

void LineStatsWindow::showEvent(QShowEvent *event)
{
    refresh();
    m_refreshTimer->start();
    QDialog::showEvent(event);
}

void LineStatsWindow::hideEvent(QHideEvent *event)
{
    m_refreshTimer->stop();
    QDialog::hideEvent(event);
}

bool LineStatsWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->HistogramView && event->type() == QEvent::Paint) {
        paintHistogram();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// One bar per bucket, its count above it and the bucket's lower bound in
// milliseconds below it.
void LineStatsWindow::paintHistogram()
{
    QWidget *view = ui->HistogramView;
    QPainter p(view);
    p.fillRect(view->rect(), palette().color(QPalette::Base));
    if (!m_statistics)
        return;
    const auto &h = m_statistics->frame().histogram();
    const qint64 most = std::max<qint64>(1, *std::max_element(h.cbegin(), h.cend()));
    const QFontMetrics fm = p.fontMetrics();
    const int text = fm.height();
    const QRect area = view->rect().adjusted(4, text + 4, -4, -(text + 4));
    const double slot = double(area.width()) / LatencySeries::BucketCount;
    p.setPen(palette().color(QPalette::Text));
    p.drawLine(area.bottomLeft(), area.bottomRight());
    for (int i = 0; i < LatencySeries::BucketCount; ++i) {
        const int left = area.left() + int(i * slot);
        const int width = std::max(1, int(slot) - 4);
        p.drawText(QRect(left, area.bottom() + 2, int(slot), text), Qt::AlignLeft | Qt::AlignTop, bucketMark(i));
        if (h[size_t(i)] == 0)
            continue;
        const int height = std::max(1, int(double(area.height()) * double(h[size_t(i)]) / double(most)));
        const QRect bar(left + 2, area.bottom() - height, width, height);
        p.fillRect(bar, QColor(0, 0, 128));
        p.drawText(QRect(bar.left() - 8, bar.top() - text - 1, width + 16, text), Qt::AlignHCenter | Qt::AlignBottom,
                   QString::number(h[size_t(i)]));
    }
}
