#include "app/UMain.h"
#include "ui_UMain.h"

// Connections of the sensor commands of both tabs and of the bus search:
// each button to its handler through connectHandler, each key-filtered field
// through watchField.
void TForm1::connectCommandHandlers()
{
}
