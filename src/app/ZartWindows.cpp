#include "app/ZartWindows.h"

#include "app/SearchDialog.h"
#include "app/BusWindow.h"
#include "app/MainWindow.h"
#include "app/SettingsDialog.h"
#include "app/SpotViewWindow.h"
#include "app/DumpComparisonWindow.h"
#include "app/LineStatsWindow.h"
#include "app/DumpViewer.h"
#include "app/RecordWindow.h"
#include "app/TextViewer.h"

#include <QLocale>

ZartWindows createWindows(std::unique_ptr<SerialLink> dataPort,
                          std::unique_ptr<SerialLink> powerPort)
{
    // '.' and Latin digits in every number the tool shows or reads, whatever
    // the system's regional settings. A widget takes the default locale when
    // it is made, so the default is fixed before the first window exists.
    QLocale::setDefault(QLocale::c());

    ZartWindows w;
    w.mainWindow = std::make_unique<MainWindow>(std::move(dataPort), std::move(powerPort));
    MainWindow *main = w.mainWindow.get();
    w.dumpViewer = new DumpViewer(main);
    w.textViewer = new TextViewer(main);
    w.searchDialog = new SearchDialog(main);
    w.settingsDialog = new SettingsDialog(main);
    main->setSecondaryWindows(w.dumpViewer, w.textViewer, w.searchDialog, w.settingsDialog);
    w.dumpComparison = new DumpComparisonWindow(w.dumpViewer);
    main->setDumpComparisonWindow(w.dumpComparison);
    w.spotViewWindow = new SpotViewWindow(main);
    main->setSpotViewWindow(w.spotViewWindow);
    w.lineStatsWindow = new LineStatsWindow(main);
    main->setLineStatsWindow(w.lineStatsWindow);
    w.recordWindow = new RecordWindow(main);
    main->setRecordWindow(w.recordWindow);
    w.busWindow = new BusWindow(*main);
    main->setBusWindow(w.busWindow);
    return w;
}
