#pragma once

#include <QComboBox>

// A drop-down list that tells, each time the user opens it, that it is about
// to show its entries, so that the owner can refill them first.
class DropDownComboBox : public QComboBox
{
    Q_OBJECT

public:
    using QComboBox::QComboBox;

    void showPopup() override;

Q_SIGNALS:
    void dropDown();
};
