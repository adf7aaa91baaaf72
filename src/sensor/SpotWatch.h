#pragma once

#include "sensor/ReadingStats.h"
#include "sensor/SensorCommands.h"

#include <QByteArray>
#include <QPointF>
#include <QString>
#include <QtGlobal>
#include <cstddef>
#include <deque>

// The logic of the live spot view, without widgets: the readings of one
// series (since the start or since "Сбросить"), their statistics, the part the
// trail and the strip chart show, the CSV text, and where a spot lies in the
// sensor's field.

struct SpotReading
{
    qint64 time = 0;    // wall clock, ms since the epoch (the CSV's ISO time)
    qint64 elapsed = 0; // ms since the series began, on a steady clock
    double x = 0.0;
    double y = 0.0;
    quint8 xCode = 0;
    quint8 yCode = 0;
};

class SpotSeries
{
public:
    static constexpr std::size_t TrailLength = 200;
    static constexpr qint64 ChartSpanMs = 60000;
    // Three failed readings in a row stop the view.
    static constexpr int FailuresToStop = 3;
    // The readings kept for the CSV: at the fastest rate of a real line
    // (about 50 a second) more than five hours; beyond it the oldest go and
    // droppedReadings() counts them. The statistics count every reading.
    static constexpr std::size_t KeptReadings = 1000000;

    void clear() { *this = SpotSeries(); }

    void addReading(qint64 time, qint64 elapsed, const MeasurementTexts &m);
    // Counts a failed reading; true when it is the FailuresToStop-th in a row.
    bool addFailure();

    const std::deque<SpotReading> &readings() const { return m_readings; }
    qint64 droppedReadings() const { return m_dropped; }
    const ReadingStats &xStats() const { return m_x; }
    const ReadingStats &yStats() const { return m_y; }
    qint64 failures() const { return m_failures; }
    int failuresInRow() const { return m_failuresInRow; }
    // Successful readings per second of the series up to elapsedMs.
    double readingsPerSecond(qint64 elapsedMs) const;

    // The first reading of the trail (the last TrailLength readings).
    std::size_t trailBegin() const;
    // The first reading of the strip chart: those within ChartSpanMs of the last.
    std::size_t chartBegin() const;

    // A reading as the watch prints it (WatchLine).
    static QString csvLine(const SpotReading &r);
    // Every kept reading, one line each ending in '\n'.
    QByteArray csvText() const;

private:
    std::deque<SpotReading> m_readings;
    qint64 m_dropped = 0;
    ReadingStats m_x;
    ReadingStats m_y;
    qint64 m_failures = 0;
    int m_failuresInRow = 0;
};

// Writes the series' CSV text to path (replacing the file only when the whole
// text has been written). Throws ZartError with the system's reason.
void SaveSpotCsv(const QString &path, const SpotSeries &series);

// A rectangle of the sensor's plane: X to the right, Y upwards.
struct SpotField
{
    double left = -1.0;
    double right = 1.0;
    double bottom = -1.0;
    double top = 1.0;
    QPointF centre() const { return {(left + right) / 2.0, (bottom + top) / 2.0}; }
};

// The coordinate field: +-10 grid steps around 0 (the 21 x 21 calibration grid).
SpotField CoordinateField(long double step);
// Pixels have no fixed range: the field takes in the trail's finite readings
// with a margin, at least +-MinPixelHalfSpan around their middle; the
// integer range 0..65535 when there is none yet.
inline constexpr double MinPixelHalfSpan = 10.0;
SpotField PixelField(const SpotSeries &series);

// Where a reading is drawn. A spot inside the field is drawn where it is; one
// outside (an infinity included) at the point where the line from the field's
// centre towards it leaves the field, with `direction` (a unit vector) pointing
// on towards it. A reading with a NaN has no place.
struct SpotPlace
{
    bool placed = false;
    bool inside = false;
    QPointF point;
    QPointF direction;
};
SpotPlace PlaceSpot(const SpotField &field, double x, double y);

// The grid step of the sensor from its firmware version and dimension words
// (two flash word reads; as for the readings, only a failure is logged).
long double ReadGridStep(ModbusMaster &engine, qint32 timeoutMs);
