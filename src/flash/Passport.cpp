#include "Passport.h"

#include "DumpFile.h"
#include "common/IniFile.h"
#include "common/AtomicFile.h"
#include "common/IntegerText.h"
#include "common/NumberFormat.h"
#include "sensor/SensorRequests.h"
#include "common/ZartError.h"

#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <bit>
#include <cmath>
#include <optional>
#include <string>

namespace {

// Longest number token of the passport text.
constexpr int MaxTokenLength = 64;

[[noreturn]] void badNumber(const std::string &token, int line)
{
    throw ZartError(QStringLiteral("Ошибка чтения паспорта: \"%1\" не является числом (строка %2)")
                        .arg(QString::fromLatin1(token.c_str()))
                        .arg(line));
}

[[noreturn]] void outOfRange(const std::string &token, int line)
{
    throw ZartError(QStringLiteral("Ошибка чтения паспорта: значение %1 вне допустимого диапазона (строка %2)")
                        .arg(QString::fromLatin1(token.c_str()))
                        .arg(line));
}

class PassportReader
{
public:
    explicit PassportReader(const QByteArray &text) : m_text(text) {}

    bool atEnd() const { return m_pos >= m_text.size(); }

    // One number: blanks and control characters (line ends included) skipped, then
    // the run of characters above 0x20; 0 at the end of the text.
    long double number(bool singleRange)
    {
        while (!atEnd() && quint8(m_text[m_pos]) <= 0x20)
            advance();
        if (atEnd())
            return 0;
        const int line = m_line;
        std::string token;
        while (!atEnd() && quint8(m_text[m_pos]) > 0x20) {
            if (int(token.size()) == MaxTokenLength) {
                token += "...";
                badNumber(token, line); // never split an over-long number in two
            }
            token += m_text[m_pos];
            advance();
        }
        const std::optional<long double> v = ReadDecimal(token);
        if (!v) {
            // X and Y take the texts the writer gives a word that is not a finite single.
            if (const std::optional<quint32> bits = ReadNonFiniteSingle(token); bits && singleRange)
                return static_cast<long double>(std::bit_cast<float>(*bits));
            badNumber(token, line);
        }
        if (std::isinf(*v))
            outOfRange(token, line);
        if (singleRange && std::isinf(static_cast<float>(*v)))
            outOfRange(token, line);
        return *v;
    }

    // The rest of the line, its line end (CR LF, LF or CR) included.
    void skipLine()
    {
        while (!atEnd()) {
            const char c = m_text[m_pos];
            advance();
            if (c == '\n')
                return;
            if (c == '\r') {
                if (!atEnd() && m_text[m_pos] == '\n')
                    advance();
                return;
            }
        }
    }

private:
    void advance()
    {
        const char c = m_text[m_pos];
        ++m_pos;
        // Count lines for the messages: LF, or a CR not followed by LF.
        if (c == '\n' || (c == '\r' && (atEnd() || m_text[m_pos] != '\n')))
            ++m_line;
    }

    const QByteArray &m_text;
    qsizetype m_pos = 0;
    int m_line = 1;
};

QString trimControls(const QString &s)
{
    int b = 0;
    int e = int(s.size());
    while (b < e && s[b].unicode() <= 0x20)
        ++b;
    while (e > b && s[e - 1].unicode() <= 0x20)
        --e;
    return s.mid(b, e - b);
}

// The text before the next ';' (empty when there is none), and the text up to and
// including that ';' removed from s.
QString takeField(QString &s)
{
    const qsizetype p = s.indexOf(u';');
    if (p < 0)
        return QString();
    const QString field = s.left(p);
    s.remove(0, p + 1);
    return field;
}

qint32 requireInt(const QString &field, const char16_t *failureText)
{
    const std::optional<qint32> v = ParsePassportInt(field);
    if (!v)
        throw ZartError(QString::fromUtf16(failureText));
    return *v;
}

} // namespace

QByteArray PassportText(const FlashImage &image)
{
    const long double step = GridStepOf(image);
    const long double x0 = -(step * 10);
    QByteArray out;
    out.reserve(GridPoints * 40);
    for (int k = 0; k < GridPoints; ++k) {
        const int i = k / GridSide;
        const int j = k % GridSide;
        out += CalibrationValueText(image[std::size_t(XTableIndex + k)]).toLatin1();
        out += '\t';
        out += CalibrationValueText(image[std::size_t(YTableIndex + k)]).toLatin1();
        out += '\t';
        out += FormatFloat(i * step + x0).toLatin1();
        out += '\t';
        out += FormatFloat(j * step + x0).toLatin1();
        out += "\r\n";
    }
    return out;
}

void WritePassportFile(const QString &path, const FlashImage &image)
{
    WriteFileAtomically(path, PassportText(image));
}

QString ExpLevelText(const FlashImage &image)
{
    return QString::asprintf("%d;%d;%d;%d", int(image[WordExposureX] & 0xFF),
                             int(image[WordThresholdX] & 0xFF), int(image[WordExposureY] & 0xFF),
                             int(image[WordThresholdY] & 0xFF));
}

void WriteExpLevel(const QString &iniPath, const FlashImage &image, int lockWaitMs)
{
    WriteExpLevelText(iniPath, SerialText(image[WordSerial]), ExpLevelText(image), lockWaitMs);
}

void WriteExpLevelText(const QString &iniPath, const QString &section, const QString &text,
                       int lockWaitMs)
{
    const QString lockPath = iniPath + QStringLiteral(".lock");
    QLockFile lock(lockPath);
    if (!lock.tryLock(qMax(0, lockWaitMs))) {
        const QString shownLock = QDir::toNativeSeparators(QFileInfo(lockPath).absoluteFilePath());
        if (lock.error() == QLockFile::LockFailedError)
            throw ZartError(QStringLiteral("Файл %1 занят другой программой (блокировка %2)")
                                .arg(QFileInfo(iniPath).fileName(), shownLock));
        throw ZartError(QStringLiteral("Не удалось создать файл блокировки %1").arg(shownLock));
    }
    IniFile(iniPath).writeString(section, QString::fromUtf16(ExpLevelKey), text);
}

QList<PassportPoint> ParsePassportText(const QByteArray &text)
{
    QList<PassportPoint> points;
    PassportReader reader(text);
    while (!reader.atEnd()) {
        PassportPoint p;
        p.X = reader.number(true);
        p.Y = reader.number(true);
        p.Coord1 = reader.number(false);
        p.Coord2 = reader.number(false);
        reader.skipLine();
        points.append(p);
    }
    return points;
}

QList<PassportPoint> ReadPassportFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ZartError(file.errorString());
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ZartError(file.errorString());
    return ParsePassportText(text);
}

quint32 PassportWord(long double value)
{
    // The text of a NaN keeps only its sign: the NaN written is the one that text
    // reads back as (quiet, or all bits set with the sign).
    if (std::isnan(value))
        return *ReadNonFiniteSingle(std::signbit(value) ? "-NAN" : "NAN");
    return std::bit_cast<quint32>(static_cast<float>(value));
}

QString PassportSection(const QString &passportPath)
{
    const QString name = QFileInfo(passportPath).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

std::optional<quint32> PassportSerial(const QString &name)
{
    // A passport kept in history/ is named after its sensor and its time:
    // 0012AB7F-20261209T112233Z, 0012AB7F-20240305-070809-2.
    static const QRegularExpression kept(
        QStringLiteral("^([0-9A-Fa-f]{1,8})-(?:\\d{8}T\\d{6}Z|\\d{8}-\\d{6})(?:-\\d+)?$"));
    const QRegularExpressionMatch match = kept.match(name);
    const QString section = match.hasMatch() ? match.captured(1) : name;
    if (section.isEmpty() || section.size() > 8)
        return std::nullopt;
    quint32 value = 0;
    for (const QChar c : section) {
        const char16_t u = c.unicode();
        int digit = -1;
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (u >= u'A' && u <= u'F')
            digit = u - u'A' + 10;
        else if (u >= u'a' && u <= u'f')
            digit = u - u'a' + 10;
        if (digit < 0)
            return std::nullopt;
        value = (value << 4) | quint32(digit);
    }
    return value;
}

ExpLevelValues ParseExpLevel(const QString &value)
{
    QString s = trimControls(value);
    if (s.isEmpty())
        throw ZartError(QStringLiteral("Отсутствуют значения уровней и экспозиций в файле паспорта"));
    const QString f1 = takeField(s);
    const QString f2 = takeField(s);
    const QString f3 = takeField(s);
    const QString f4 = s;
    ExpLevelValues v;
    v.ExposureX = requireInt(f1, u"Отсутствуют значение экспозиции X в файле паспорта");
    v.ThresholdX = requireInt(f2, u"Отсутствуют значение уровня X в файле паспорта");
    v.ExposureY = requireInt(f3, u"Отсутствуют значение экспозиции Y в файле паспорта");
    v.ThresholdY = requireInt(f4, u"Отсутствуют значение уровня Y в файле паспорта");
    return v;
}

ExpLevelValues ReadExpLevel(const QString &iniPath, const QString &section)
{
    return ParseExpLevel(IniFile(iniPath).readString(section, QString::fromUtf16(ExpLevelKey)));
}

void ApplyExpLevel(PassportData &psp, const ExpLevelValues &values)
{
    psp.ExposureX = values.ExposureX;
    psp.ExposureY = values.ExposureY;
    psp.ThresholdX = values.ThresholdX;
    psp.ThresholdY = values.ThresholdY;
}

std::optional<qint32> ParsePassportInt(const QString &text)
{
    return ReadInteger(text, PassportIntegers);
}

std::array<ExpLevelWord, 4> ExpLevelWords(const PassportData &psp)
{
    return {{{FlashWordAddress(WordExposureX), psp.ExposureX},
             {FlashWordAddress(WordExposureY), psp.ExposureY},
             {FlashWordAddress(WordThresholdX), psp.ThresholdX},
             {FlashWordAddress(WordThresholdY), psp.ThresholdY}}};
}
