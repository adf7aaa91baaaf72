#pragma once

#include <QString>

// Where the configurator keeps its files, decided once at start-up and handed
// to the main window.
//
// A copy that can write beside its executable (the build tree, a portable
// copy) keeps everything there: the settings "<executable name>.ini", the
// dumps, the passports and "passport.ini". A settings file that already lies
// beside the executable is used even when that directory is read-only. An
// installed copy (a directory the user may not write, such as /usr/bin) keeps
// its settings in the user's configuration folder and its files in a folder
// of the user's documents.
struct ZartPlaces
{
    QString settingsFile;
    QString dataDir; // dumps, passports and passport.ini; made when first needed
};

// The places for an executable at executablePath, whose directory the user
// may write or not; configHome is the user's configuration folder
// ($XDG_CONFIG_HOME, ~/.config) and documentsDir the user's documents folder.
// An empty folder leaves that part beside the executable.
ZartPlaces ChoosePlaces(const QString &executablePath, bool executableDirWritable,
                        const QString &configHome, const QString &documentsDir);

// The places of the running program, from the system's standard folders.
ZartPlaces SystemPlaces();

// Makes the folder of the settings file when it is missing. Returns the path
// that cannot be written (the settings file or its folder), or an empty string
// when the settings can be saved there.
QString PrepareSettingsPlace(const QString &settingsFile);
