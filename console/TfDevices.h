#pragma once

#include "console/TTWForm.h"

#include <QDialog>

class QPushButton;

namespace raduvuz {

class TCheckListBox;

// Offers destination devices: the caller fills cblDevices, enables items, shows the dialog and
// reads the checked items after OK.
class TfDevices : public QDialog, public TTWForm {
    Q_OBJECT

public:
    explicit TfDevices(QWidget* parent = nullptr);

    TCheckListBox* cblDevices;
    QPushButton* bOk;
    QPushButton* bCancel;
};

} // namespace raduvuz
