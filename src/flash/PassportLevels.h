#pragma once

#include "flash/Passport.h"

#include <QString>

class IBusHost;

// Which passport.ini the exposure and threshold levels of a passport text are
// taken from, the same for the window and zart-cli: the one beside the
// passport text when it holds that passport's section with a readable
// ExpLevel, else the one of the data folder. A passport kept in history/ then
// restores with the levels kept beside it.
struct PassportLevels
{
    QString iniPath;  // the passport.ini the values come from
    QString section;  // the passport's section
    QString text;     // the ExpLevel value as it stands there
    ExpLevelValues values;
};

// Finds the levels of the passport text at passportPath by the rule above.
// Logs a black line when the file beside the passport is passed over and why,
// then a black line naming the file, the section and the four values. When no
// file has them, logs the reading's failure in red ("Отсутствуют значения
// уровней и экспозиций в файле паспорта", ...) followed by a line naming the
// files looked in and the section, and throws EOperationFailed with the failure.
PassportLevels FindPassportLevels(IBusHost &log, const QString &passportPath,
                                  const QString &dataIniPath);
