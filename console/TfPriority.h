#pragma once

#include "console/TTWForm.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace raduvuz {

class TUpDown;

// Asks a job priority. The caller writes the current priority into mePriority before showing
// the dialog and reads it back after OK.
class TfPriority : public QDialog, public TTWForm {
    Q_OBJECT

public:
    explicit TfPriority(QWidget* parent = nullptr);

    QLabel* StaticText1;
    QLineEdit* mePriority;
    TUpDown* UpDown1;
    QLabel* Label1;
    QPushButton* bOk;
    QPushButton* bCancel;
};

} // namespace raduvuz
