#include "report/ServiceReport.h"

#include "flash/FlashOperations.h"
#include "picture/CalibrationPainter.h"
#include "picture/ShiftPainter.h"
#include "sensor/SensorRequests.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>

#include <functional>

// The PDF is laid out twice by one flow: first without a painter, to count the
// pages, then on the pages with "Страница N из M" known. Every text is drawn
// with QPainter::drawText, so it stays text in the PDF.

namespace {

constexpr int Dpi = 300;
constexpr double PageWidthMm = 210;
constexpr double PageHeightMm = 297;
constexpr double LeftMm = 20;
constexpr double RightMm = 15;
constexpr double TopMm = 22;
constexpr double BottomMm = 20;
// The pictures are drawn as on a screen of this width, then scaled to the page.
constexpr double PictureLogicalWidth = 1200;
const QColor ProblemColour{170, 0, 0};
const QColor RuleColour{120, 120, 120};
// The words listed under an operation; all of them are in the JSON file.
constexpr int WordsShown = 24;

double mm(double v)
{
    return v * Dpi / 25.4;
}

QString localTime(const QDateTime &t)
{
    return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString hexWord(quint32 v)
{
    return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')).toUpper();
}

QString addressText(int index)
{
    return QStringLiteral("0x") + QString::number(FlashWordAddress(index), 16).toUpper();
}

QFont fontOf(double points, bool bold = false)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    // Any letter spacing turns the ligatures off, so that "ff" or "fi" in a
    // hash, a path or a name is copied from the PDF as the letters it is.
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.05);
    return f;
}

struct Column
{
    QString title;
    double share; // of the body's width
};

class PageFlow
{
public:
    PageFlow(QPaintDevice &device, QPdfWriter *writer, QPainter *painter, const ServiceReport &r,
             int totalPages)
        : m_device(device), m_writer(writer), m_p(painter), m_report(r), m_total(totalPages)
    {
        m_left = mm(LeftMm);
        m_width = mm(PageWidthMm - LeftMm - RightMm);
        m_bottom = mm(PageHeightMm - BottomMm);
        startPage();
    }

    int pages() const { return m_page; }
    double width() const { return m_width; }

    void space(double millimetres) { m_y += mm(millimetres); }

    void paragraph(const QString &text, const QFont &font, const QColor &colour = Qt::black,
                   int flags = Qt::TextWordWrap, double indent = 0)
    {
        const double h = height(font, m_width - indent, flags, text);
        need(h);
        draw(QRectF(m_left + indent, m_y, m_width - indent, h), font, flags, text, colour);
        m_y += h;
    }

    // keepMm: what must follow the heading on its page.
    void section(const QString &title, double keepMm = 25) { heading(title, 12, keepMm); }
    void heading(const QString &title, double points, double keepMm)
    {
        const QFont f = fontOf(points, true);
        // A heading never stands alone at the foot of a page.
        need(height(f, m_width, 0, title) + mm(keepMm + 4));
        space(3);
        paragraph(title, f);
        space(1);
    }

    // Label and value side by side; the value wraps anywhere (paths, hashes).
    void field(const QString &label, const QString &value, const QColor &colour = Qt::black)
    {
        const QFont f = fontOf(9.5);
        const double labelWidth = mm(56);
        const int flags = Qt::TextWordWrap;
        const double h = std::max(height(f, labelWidth, Qt::TextWordWrap, label),
                                  height(f, m_width - labelWidth, flags, value));
        need(h);
        draw(QRectF(m_left, m_y, labelWidth, h), f, Qt::TextWordWrap, label, Qt::black);
        draw(QRectF(m_left + labelWidth, m_y, m_width - labelWidth, h), f, flags, value, colour);
        m_y += h + mm(0.6);
    }

    // A table with its header repeated on every page it runs onto; each row may
    // carry lines of detail below it, across the whole width.
    struct Row
    {
        QStringList cells;
        QStringList details;
    };
    void table(const QList<Column> &columns, const QList<Row> &rows)
    {
        const QFont head = fontOf(8.5, true);
        const QFont cell = fontOf(8.5);
        const QFont detail = fontOf(7.5);
        const double pad = mm(1);
        const auto rowHeight = [&](const QStringList &cells, const QFont &f) {
            double h = 0;
            for (int i = 0; i < columns.size(); ++i)
                h = std::max(h, height(f, columns[i].share * m_width - 2 * pad,
                                       Qt::TextWordWrap, cells.value(i)));
            return h + 2 * pad;
        };
        QStringList titles;
        for (const Column &c : columns)
            titles << c.title;
        const double headHeight = rowHeight(titles, head);
        const auto drawRow = [&](const QStringList &cells, const QFont &f, double h, bool shaded) {
            if (m_p) {
                if (shaded)
                    m_p->fillRect(QRectF(m_left, m_y, m_width, h), QColor(232, 232, 232));
                m_p->setPen(QPen(RuleColour, mm(0.15)));
                m_p->drawLine(QPointF(m_left, m_y + h), QPointF(m_left + m_width, m_y + h));
            }
            double x = m_left;
            for (int i = 0; i < columns.size(); ++i) {
                const double w = columns[i].share * m_width;
                draw(QRectF(x + pad, m_y + pad, w - 2 * pad, h - 2 * pad), f,
                     Qt::TextWordWrap, cells.value(i), Qt::black);
                x += w;
            }
            m_y += h;
        };
        const auto header = [&] { drawRow(titles, head, headHeight, true); };

        need(headHeight + (rows.isEmpty() ? 0 : rowHeight(rows.first().cells, cell)));
        header();
        for (const Row &row : rows) {
            const double h = rowHeight(row.cells, cell);
            double details = 0;
            for (const QString &d : row.details)
                details += height(detail, m_width - mm(6), Qt::TextWordWrap, d);
            // A row stays with its details when they fit on one page.
            const double together = h + details + pad;
            if (m_y + (together < m_bottom - mm(TopMm + 5) ? together : h) > m_bottom) {
                newPage();
                header();
            }
            drawRow(row.cells, cell, h, false);
            for (const QString &d : row.details) {
                const double dh =
                    height(detail, m_width - mm(6), Qt::TextWordWrap, d);
                if (m_y + dh > m_bottom) {
                    newPage();
                    header();
                }
                draw(QRectF(m_left + mm(6), m_y, m_width - mm(6), dh), detail,
                     Qt::TextWordWrap, d, QColor(60, 60, 60));
                m_y += dh;
            }
            if (!row.details.isEmpty())
                m_y += pad;
        }
    }

    // A picture of the given logical height (at PictureLogicalWidth) across the body.
    void picture(double logicalHeight, const std::function<void(QPainter &, const QRectF &)> &paint)
    {
        const double scale = m_width / PictureLogicalWidth;
        const double h = logicalHeight * scale;
        need(h);
        if (m_p) {
            m_p->save();
            m_p->translate(m_left, m_y);
            m_p->scale(scale, scale);
            m_p->setFont(fontOf(10));
            paint(*m_p, QRectF(0, 0, PictureLogicalWidth, logicalHeight));
            m_p->restore();
        }
        m_y += h;
    }

    // A blank line to sign on, with what goes on it below.
    void signature(const QString &label)
    {
        const QFont f = fontOf(10);
        const QFont small = fontOf(7);
        const double h = mm(14);
        need(h);
        const double lineY = m_y + mm(8);
        draw(QRectF(m_left, m_y + mm(3), mm(30), mm(6)), f, 0, label, Qt::black);
        const QList<std::pair<double, QString>> blanks{
            {mm(50), QStringLiteral("подпись")},
            {mm(58), QStringLiteral("фамилия, инициалы")},
            {mm(35), QStringLiteral("дата")}};
        double x = m_left + mm(32);
        for (const auto &[w, caption] : blanks) {
            if (m_p) {
                m_p->setPen(QPen(Qt::black, mm(0.2)));
                m_p->drawLine(QPointF(x, lineY), QPointF(x + w - mm(4), lineY));
            }
            draw(QRectF(x, lineY + mm(0.5), w - mm(4), mm(4)), small, Qt::AlignHCenter, caption,
                 QColor(90, 90, 90));
            x += w;
        }
        m_y += h;
    }

private:
    // Wrapped text is laid out at word boundaries, and anywhere within a word
    // too long for the line (a path, a hash); the same layout measures and draws.
    static double layOut(QTextLayout &layout, double width)
    {
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        double y = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, y));
            y += line.height();
        }
        layout.endLayout();
        return y;
    }

    static QString layoutText(const QString &text)
    {
        QString t = text;
        return t.replace(u'\n', QChar::LineSeparator);
    }

    double height(const QFont &font, double width, int flags, const QString &text) const
    {
        if (text.isEmpty() || !(flags & Qt::TextWordWrap))
            return QFontMetricsF(font, &m_device).height();
        QTextLayout layout(layoutText(text), font, &m_device);
        return layOut(layout, width);
    }

    void draw(const QRectF &rect, const QFont &font, int flags, const QString &text,
              const QColor &colour)
    {
        if (!m_p || text.isEmpty())
            return;
        m_p->setPen(colour);
        if (flags & Qt::TextWordWrap) {
            QTextLayout layout(layoutText(text), font, &m_device);
            layOut(layout, rect.width());
            layout.draw(m_p, rect.topLeft());
            return;
        }
        m_p->setFont(font);
        m_p->drawText(rect, flags, text);
    }

    void need(double h)
    {
        if (m_y + h > m_bottom && m_y > m_top)
            newPage();
    }

    void newPage()
    {
        if (m_writer && m_p)
            m_writer->newPage();
        startPage();
    }

    // The number in the header of every page, the page's number below.
    void startPage()
    {
        ++m_page;
        m_top = mm(TopMm);
        m_y = m_top;
        const QFont f = fontOf(8);
        const double headerY = mm(10);
        const QString left = QStringLiteral("Протокол обслуживания № %1")
                                 .arg(m_report.number.isEmpty() ? QStringLiteral("—")
                                                                : m_report.number);
        draw(QRectF(m_left, headerY, m_width, mm(5)), f, Qt::AlignLeft | Qt::AlignVCenter, left,
             QColor(60, 60, 60));
        draw(QRectF(m_left, headerY, m_width, mm(5)), f, Qt::AlignRight | Qt::AlignVCenter,
             QStringLiteral("Датчик %1").arg(SerialText(m_report.serial)), QColor(60, 60, 60));
        if (m_p) {
            m_p->setPen(QPen(RuleColour, mm(0.2)));
            m_p->drawLine(QPointF(m_left, headerY + mm(6)), QPointF(m_left + m_width, headerY + mm(6)));
        }
        draw(QRectF(m_left, m_bottom + mm(6), m_width, mm(5)), f, Qt::AlignHCenter | Qt::AlignVCenter,
             QStringLiteral("Страница %1 из %2").arg(m_page).arg(m_total > 0 ? m_total : m_page),
             QColor(60, 60, 60));
    }

    QPaintDevice &m_device;
    QPdfWriter *m_writer;
    QPainter *m_p;
    const ServiceReport &m_report;
    int m_total;
    int m_page = 0;
    double m_left = 0;
    double m_width = 0;
    double m_top = 0;
    double m_bottom = 0;
    double m_y = 0;
};

// The height of a picture across the page's body.
double pictureHeightMm()
{
    return (PageWidthMm - LeftMm - RightMm) * 900 / PictureLogicalWidth;
}

QStringList operationDetails(const OperationEntry &e)
{
    QStringList lines;
    if (!e.message.isEmpty())
        lines << QStringLiteral("Сообщение: %1").arg(e.message);
    for (const RecordedFile &f : e.files)
        lines << QStringLiteral("Файл (%1): %2, SHA-256 %3")
                     .arg(FileUseTitle(f.use), QDir::toNativeSeparators(f.path),
                          f.sha256.isEmpty() ? QStringLiteral("—") : QString::fromLatin1(f.sha256));
    if (!e.words.isEmpty()) {
        QStringList words;
        for (qsizetype i = 0; i < e.words.size() && i < WordsShown; ++i) {
            const RecordedWord &w = e.words[i];
            words << QStringLiteral("0x%1 = %2%3")
                         .arg(QString::number(w.address, 16).toUpper(), hexWord(w.value),
                              w.previous ? QStringLiteral(" (было %1)").arg(hexWord(*w.previous))
                                         : QString());
        }
        QString line = QStringLiteral("Записанные слова: ") + words.join(QStringLiteral("; "));
        if (e.words.size() > WordsShown)
            line += QStringLiteral("; ещё %1 — в файле JSON").arg(e.words.size() - WordsShown);
        lines << line;
    }
    return lines;
}

// The firmware word as the dump viewer shows its field.
QString firmwareText(quint32 word)
{
    for (const FlashField &f : FlashList)
        if (f.Index == WordFirmware)
            return FieldValueText(f, word);
    return hexWord(word);
}

// "+03:00": the local time's offset from UTC at t.
QString offsetText(const QDateTime &t)
{
    const int minutes = t.toLocalTime().offsetFromUtc() / 60;
    return QStringLiteral("%1%2:%3")
        .arg(QChar(minutes < 0 ? u'-' : u'+'))
        .arg(std::abs(minutes) / 60, 2, 10, QLatin1Char('0'))
        .arg(std::abs(minutes) % 60, 2, 10, QLatin1Char('0'));
}

QString periodText(const ServiceReport &r)
{
    return r.since.isValid()
               ? QStringLiteral("с %1 по %2").arg(localTime(r.since), localTime(r.until))
               : QStringLiteral("все операции по %1").arg(localTime(r.until));
}

void identity(PageFlow &flow, const ServiceReport &r)
{
    flow.section(QStringLiteral("1. Датчик"));
    flow.field(QStringLiteral("Заводской номер"), SerialText(r.serial));
    // The record does not keep the device identification.
    flow.field(QStringLiteral("Идентификация устройства"), QStringLiteral("не прочитана"));
    flow.field(QStringLiteral("Версия прошивки"),
               r.firmware ? firmwareText(*r.firmware) : QStringLiteral("не прочитана"));
    flow.field(QStringLiteral("Адрес на шине"),
               r.busAddress ? QString::number(*r.busAddress) : QStringLiteral("—"));
    flow.field(QStringLiteral("Порт"), r.port.isEmpty() ? QStringLiteral("—") : r.port);
    flow.field(QStringLiteral("Пользователь"),
               r.lastContext.user.isEmpty() ? QStringLiteral("—") : r.lastContext.user);
    flow.field(QStringLiteral("Компьютер"),
               r.lastContext.host.isEmpty() ? QStringLiteral("—") : r.lastContext.host);
    flow.field(QStringLiteral("Версия программы"), r.lastContext.toolVersion.isEmpty()
                                                       ? QStringLiteral("—")
                                                       : r.lastContext.toolVersion);
    flow.paragraph(QStringLiteral("Порт, адрес, пользователь, компьютер и версия программы — "
                                  "последней операции периода, в которой они известны."),
                   fontOf(7.5), QColor(90, 90, 90));
}

void operations(PageFlow &flow, const ServiceReport &r)
{
    flow.section(QStringLiteral("2. Операции"));
    if (r.operations.isEmpty()) {
        flow.paragraph(QStringLiteral("В периоде нет операций"), fontOf(10));
        return;
    }
    QList<PageFlow::Row> rows;
    int n = 0;
    for (const OperationEntry &e : r.operations)
        rows.append({{QString::number(++n), localTime(e.started), KindTitle(e.kind),
                      ResultTitle(e.result), QString::number(e.wordsWritten), e.context.user},
                     operationDetails(e)});
    flow.table({{QStringLiteral("№"), 0.06},
                {QStringLiteral("Время"), 0.2},
                {QStringLiteral("Операция"), 0.28},
                {QStringLiteral("Результат"), 0.13},
                {QStringLiteral("Записано слов"), 0.12},
                {QStringLiteral("Пользователь"), 0.21}},
               rows);
}

void dumpFields(PageFlow &flow, const QString &title, const ReportDump &d)
{
    flow.paragraph(title, fontOf(10, true));
    flow.field(QStringLiteral("Файл"), QDir::toNativeSeparators(d.path));
    flow.field(QStringLiteral("SHA-256 в журнале"), d.recordedSha256.isEmpty()
                                                        ? QStringLiteral("не записан")
                                                        : QString::fromLatin1(d.recordedSha256));
    if (!d.problem.isEmpty()) {
        if (!d.sha256.isEmpty())
            flow.field(QStringLiteral("SHA-256 файла"), QString::fromLatin1(d.sha256));
        flow.field(QStringLiteral("Файл не использован"), d.problem, ProblemColour);
        return;
    }
    QString state;
    if (d.readFrom != d.path)
        state = QStringLiteral("файл заменён; прочитана его копия %1 с тем же SHA-256")
                    .arg(QDir::toNativeSeparators(d.readFrom));
    else if (d.recordedSha256.isEmpty())
        state = QStringLiteral("прочитан; сверить SHA-256 не с чем (SHA-256 файла %1)")
                    .arg(QString::fromLatin1(d.sha256));
    else
        state = QStringLiteral("на месте, SHA-256 совпадает");
    flow.field(QStringLiteral("Состояние файла"), state);
}

void dumps(PageFlow &flow, const ServiceReport &r)
{
    flow.section(QStringLiteral("3. Состояние как найдено и как оставлено"));
    if (!r.asFound) {
        flow.paragraph(NoDumpsText(), fontOf(10, true));
        return;
    }
    flow.paragraph(r.dumpChoice, fontOf(9.5));
    flow.space(2);
    dumpFields(flow, QStringLiteral("Как найдено"), *r.asFound);
    if (r.asLeft) {
        flow.space(2);
        dumpFields(flow, QStringLiteral("Как оставлено"), *r.asLeft);
    }
    if (!r.writesAfterAsLeft.isEmpty()) {
        QStringList ops;
        for (const OperationEntry &e : r.writesAfterAsLeft)
            ops << QStringLiteral("«%1» %2").arg(KindTitle(e.kind), localTime(e.started));
        flow.space(1);
        flow.paragraph(QStringLiteral("После дампа «как оставлено» в датчик ещё записывали: %1. "
                                      "Дамп может не совпадать с датчиком.")
                           .arg(ops.join(QStringLiteral(", "))),
                       fontOf(9.5), ProblemColour);
    }
    flow.space(2);
    flow.heading(QStringLiteral("Отличающиеся слова"), 10, 15);
    if (!r.comparison) {
        flow.paragraph(r.asLeft ? QStringLiteral("Сравнение невозможно: дамп не прочитан")
                                : QStringLiteral("Сравнивать не с чем: нет дампа «как оставлено»"),
                       fontOf(9.5));
        return;
    }
    if (r.comparison->differences.isEmpty()) {
        flow.paragraph(QStringLiteral("Отличий нет"), fontOf(9.5));
    } else {
        QList<PageFlow::Row> rows;
        for (const DumpWordDifference &d : r.comparison->differences)
            rows.append({{addressText(d.index), hexWord(d.first), hexWord(d.second),
                          FlashWordName(d.index)},
                         {}});
        flow.table({{QStringLiteral("Адрес"), 0.18},
                    {QStringLiteral("Как найдено"), 0.25},
                    {QStringLiteral("Как оставлено"), 0.25},
                    {QStringLiteral("Поле"), 0.32}},
                   rows);
        flow.paragraph(QStringLiteral("Отличается слов: %1").arg(r.comparison->differences.size()),
                       fontOf(9.5));
    }
    if (r.asFound->image && r.asLeft->image) {
        flow.heading(QStringLiteral("Смещение калибровочной сетки"), 10, pictureHeightMm());
        const ShiftPainter shift(*r.asFound->image, QFileInfo(r.asFound->readFrom).fileName(),
                                 *r.asLeft->image, QFileInfo(r.asLeft->readFrom).fileName());
        flow.picture(900, [&shift](QPainter &p, const QRectF &area) { shift.paint(p, area); });
    }
}

void calibration(PageFlow &flow, const ServiceReport &r)
{
    flow.section(QStringLiteral("4. Проверка калибровки (как оставлено)"), pictureHeightMm());
    if (!r.check || !r.asLeftGrid) {
        flow.paragraph(QStringLiteral("Нет прочитанного дампа «как оставлено»"), fontOf(10));
        return;
    }
    const CalibrationPainter painter(*r.asLeftGrid);
    flow.picture(900, [&painter](QPainter &p, const QRectF &area) { painter.paint(p, area); });
    flow.space(2);
    if (!r.check->runsKnown())
        flow.paragraph(OrientationUnknownText(), fontOf(9.5), ProblemColour);
    flow.paragraph(QStringLiteral("Отмеченные точки: %1").arg(r.markedPoints.size()),
                   fontOf(10, true));
    for (const ReportMarkedPoint &p : r.markedPoints)
        flow.paragraph(p.text, fontOf(8), ProblemColour, Qt::TextWordWrap, mm(4));
}

void content(PageFlow &flow, const ServiceReport &r)
{
    flow.paragraph(QStringLiteral("Протокол обслуживания датчика %1").arg(SerialText(r.serial)),
                   fontOf(16, true));
    flow.space(1);
    flow.paragraph(QStringLiteral("№ %1 от %2").arg(r.number, localTime(r.made)), fontOf(11));
    flow.paragraph(QStringLiteral("Период: %1 (время местное, UTC%2)")
                       .arg(periodText(r), offsetText(r.made)),
                   fontOf(9.5));
    flow.paragraph(QStringLiteral("Составил: %1 на %2, программа версии %3")
                       .arg(r.maker.user.isEmpty() ? QStringLiteral("—") : r.maker.user,
                            r.maker.host.isEmpty() ? QStringLiteral("—") : r.maker.host,
                            r.maker.toolVersion.isEmpty() ? QStringLiteral("—")
                                                          : r.maker.toolVersion),
                   fontOf(9.5));
    identity(flow, r);
    operations(flow, r);
    dumps(flow, r);
    calibration(flow, r);
    flow.section(QStringLiteral("Подписи"));
    flow.space(3);
    flow.signature(QStringLiteral("Выполнил"));
    flow.space(4);
    flow.signature(QStringLiteral("Проверил"));
}

void setUp(QPdfWriter &writer, const ServiceReport &r)
{
    writer.setResolution(Dpi);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    writer.setTitle(QStringLiteral("Протокол обслуживания № %1, датчик %2")
                        .arg(r.number, SerialText(r.serial)));
    writer.setCreator(QStringLiteral("ЗАРТ-конфигуратор %1").arg(r.maker.toolVersion).trimmed());
}

} // namespace

QByteArray ServiceReportPdf(const ServiceReport &report)
{
    int pages = 0;
    {
        QBuffer scratch;
        scratch.open(QIODevice::WriteOnly);
        QPdfWriter measure(&scratch);
        setUp(measure, report);
        PageFlow flow(measure, nullptr, nullptr, report, 0);
        content(flow, report);
        pages = flow.pages();
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        setUp(writer, report);
        QPainter painter(&writer);
        PageFlow flow(writer, &writer, &painter, report, pages);
        content(flow, report);
        painter.end();
    }
    return bytes;
}
