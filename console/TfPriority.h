#pragma once

#include "console/TTWForm.h"

#include <QDialog>

#include <cstdint>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace raduvuz {

class TUpDown;

// Asks a job priority. The caller writes the current priority into mePriority before showing
// the dialog and reads it back after OK. The field takes digits only, and OK closes the dialog
// only on a priority of the range (0 to 10); else it beeps and the field keeps the focus.
class TfPriority : public QDialog, public TTWForm {
    Q_OBJECT

public:
    static constexpr int kLowest = 0;
    static constexpr int kHighest = 10;

    explicit TfPriority(QWidget* parent = nullptr);

    // The priority in the field, when it is one of the range.
    std::optional<int32_t> Priority() const;
    void accept() override;

    QLabel* StaticText1;
    QLineEdit* mePriority;
    TUpDown* UpDown1;
    QLabel* Label1;
    QPushButton* bOk;
    QPushButton* bCancel;
};

} // namespace raduvuz
