#pragma once

#include <memory>

class TFindForm;
class TForm1;
class TSetupForm;
class TSpotViewForm;
class TViewDumpForm;
class TViewTextForm;
class TWinComPort;

// The windows of the tool, created once at start in this order: the main
// window, the dump viewer, the text viewer, the search dialog, the settings
// dialog. The secondary windows belong to the main window, stay hidden and
// are shown modally when a command needs them.
struct ZartWindows
{
    std::unique_ptr<TForm1> mainForm;
    TViewDumpForm *viewDumpForm = nullptr;
    TViewTextForm *viewTextForm = nullptr;
    TFindForm *findForm = nullptr;
    TSetupForm *setupForm = nullptr;
    TSpotViewForm *spotViewForm = nullptr; // not modal: shown by "Наблюдение…"
};

// Fixes the process's number locale (QLocale::c()) first. Without links the
// main window makes its own on the real serial devices.
ZartWindows createWindows(std::unique_ptr<TWinComPort> dataPort = nullptr,
                          std::unique_ptr<TWinComPort> powerPort = nullptr);
