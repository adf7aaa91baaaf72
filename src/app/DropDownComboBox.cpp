#include "app/DropDownComboBox.h"

void DropDownComboBox::showPopup()
{
    Q_EMIT dropDown();
    QComboBox::showPopup();
}
