#include "flash/PassportLevels.h"

#include "common/IniFile.h"
#include "flash/FlashPasses.h"
#include "modbus/ModbusMaster.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

bool sameFile(const QString &a, const QString &b)
{
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

// The levels of `section` in the file at iniPath; the reading's failure text
// when they cannot be had there.
struct Attempt
{
    PassportLevels levels;
    QString failure;
};

Attempt attempt(const QString &iniPath, const QString &section)
{
    Attempt a;
    a.levels.iniPath = iniPath;
    a.levels.section = section;
    a.levels.text = IniFile(iniPath).readString(section, QString::fromUtf16(ExpLevelKey)).trimmed();
    try {
        a.levels.values = ParseExpLevel(a.levels.text);
    } catch (const ZartError &e) {
        a.failure = e.text();
    }
    return a;
}

} // namespace

PassportLevels FindPassportLevels(IBusHost &log, const QString &passportPath,
                                  const QString &dataIniPath)
{
    const QString section = PassportSection(passportPath);
    const QString besideIni =
        QFileInfo(passportPath).dir().filePath(QString::fromUtf16(PassportIniName));
    QStringList lookedIn;
    Attempt found;
    if (!sameFile(besideIni, dataIniPath)) {
        lookedIn << shown(besideIni);
        if (QFileInfo::exists(besideIni)) {
            found = attempt(besideIni, section);
            if (found.failure.isEmpty() && !found.levels.text.isEmpty()) {
                log.Log(QStringLiteral("Уровни и экспозиции из файла %1 [%2]: %3")
                            .arg(shown(besideIni), section, found.levels.text),
                        LogInfo);
                return found.levels;
            }
            log.Log(QStringLiteral("В файле %1 %2, уровни берутся из %3")
                        .arg(shown(besideIni),
                             found.levels.text.isEmpty()
                                 ? QStringLiteral("нет уровней раздела [%1]").arg(section)
                                 : QStringLiteral("уровни раздела [%1] неверны").arg(section),
                             shown(dataIniPath)),
                    LogInfo);
        }
    }
    lookedIn << shown(dataIniPath);
    found = attempt(dataIniPath, section);
    if (!found.failure.isEmpty()) {
        log.Log(found.failure, LogError);
        log.Log(QStringLiteral("Уровни раздела [%1] искались в файлах: %2")
                    .arg(section, lookedIn.join(QStringLiteral(", "))),
                LogInfo);
        throw EOperationFailed(found.failure);
    }
    log.Log(QStringLiteral("Уровни и экспозиции из файла %1 [%2]: %3")
                .arg(shown(dataIniPath), section, found.levels.text),
            LogInfo);
    return found.levels;
}
