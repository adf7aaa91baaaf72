#include "app/UMain.h"
#include "ui_UMain.h"

// Connections of the dump and passport operations of the service tab, each
// button to its handler through connectHandler.
void TForm1::connectFlashHandlers()
{
}
