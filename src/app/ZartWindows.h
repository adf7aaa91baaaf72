#pragma once

#include <memory>

class SearchDialog;
class BusWindow;
class MainWindow;
class SettingsDialog;
class SpotViewWindow;
class LineStatsWindow;
class DumpViewer;
class DumpComparisonWindow;
class RecordWindow;
class TextViewer;
class SerialLink;

// The windows of the tool, created once at start in this order: the main
// window, the dump viewer, the text viewer, the search dialog, the settings
// dialog, the comparison of two dumps (over the dump viewer), the spot view and
// "Журнал обслуживания". The secondary windows belong to the main window, stay hidden and
// are shown modally when a command needs them.
struct ZartWindows
{
    std::unique_ptr<MainWindow> mainWindow;
    DumpViewer *dumpViewer = nullptr;
    DumpComparisonWindow *dumpComparison = nullptr; // over the dump viewer: "Сравнить с файлом…"
    TextViewer *textViewer = nullptr;
    SearchDialog *searchDialog = nullptr;
    SettingsDialog *settingsDialog = nullptr;
    SpotViewWindow *spotViewWindow = nullptr; // not modal: shown by "Наблюдение…"
    LineStatsWindow *lineStatsWindow = nullptr; // not modal: shown by "Статистика линии"
    RecordWindow *recordWindow = nullptr;     // not modal: "Журнал обслуживания"
    BusWindow *busWindow = nullptr;           // not modal: shown by "Опрос шины"
};

// Fixes the process's number locale (QLocale::c()) first. Without links the
// main window makes its own on the real serial devices.
ZartWindows createWindows(std::unique_ptr<SerialLink> dataPort = nullptr,
                          std::unique_ptr<SerialLink> powerPort = nullptr);
