#include "app/ZartPlaces.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString FolderName = QStringLiteral("zart-configurator");

bool isWritableDir(const QString &path)
{
    const QFileInfo dir(path);
    return dir.isDir() && dir.isWritable();
}

} // namespace

ZartPlaces ChoosePlaces(const QString &executablePath, bool exeDirWritable,
                        const QString &configHome, const QString &documentsDir)
{
    const QFileInfo exe(executablePath);
    const QString exeDir = exe.absolutePath();
    const QString beside = QDir(exeDir).filePath(exe.completeBaseName() + QStringLiteral(".ini"));

    ZartPlaces places;
    if (exeDirWritable || QFileInfo::exists(beside) || configHome.isEmpty())
        places.settingsFile = beside;
    else
        places.settingsFile = QDir(configHome).filePath(FolderName + u'/' + FolderName + QStringLiteral(".ini"));
    places.dataDir = exeDirWritable || documentsDir.isEmpty() ? exeDir
                                                              : QDir(documentsDir).filePath(FolderName);
    return places;
}

ZartPlaces SystemPlaces()
{
    return ChoosePlaces(QCoreApplication::applicationFilePath(),
                        isWritableDir(QCoreApplication::applicationDirPath()),
                        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}

QString PrepareSettingsPlace(const QString &settingsFile)
{
    const QFileInfo file(settingsFile);
    const QString dir = file.absolutePath();
    if (!QDir().mkpath(dir) || !isWritableDir(dir))
        return dir;
    // The file is replaced through a new file beside it, so its folder must be
    // writable too; an existing file must be writable itself.
    if (file.exists() && !file.isWritable())
        return settingsFile;
    return {};
}
