#include "app/ZartWindows.h"

#include "app/UFind.h"
#include "app/UMain.h"
#include "app/USetup.h"
#include "app/USpotView.h"
#include "app/UViewDump.h"
#include "app/UViewText.h"

#include <QLocale>

ZartWindows createWindows(std::unique_ptr<TWinComPort> dataPort,
                          std::unique_ptr<TWinComPort> powerPort)
{
    // '.' and Latin digits in every number the tool shows or reads, whatever
    // the system's regional settings. A widget takes the default locale when
    // it is made, so the default is fixed before the first window exists.
    QLocale::setDefault(QLocale::c());

    ZartWindows w;
    w.mainForm = std::make_unique<TForm1>(std::move(dataPort), std::move(powerPort));
    TForm1 *main = w.mainForm.get();
    w.viewDumpForm = new TViewDumpForm(main);
    w.viewTextForm = new TViewTextForm(main);
    w.findForm = new TFindForm(main);
    w.setupForm = new TSetupForm(main);
    main->setSecondaryWindows(w.viewDumpForm, w.viewTextForm, w.findForm, w.setupForm);
    w.spotViewForm = new TSpotViewForm(main);
    main->setSpotViewForm(w.spotViewForm);
    return w;
}
