#pragma once

#include "console/TTWForm.h"

#include <QDialog>

#include <functional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace raduvuz {

class TRadioGroup;
struct TJobSearchCriteria;

// Collects the criteria of a job search. It is made once and keeps its fields between searches;
// the main window reads them for every search step.
class TfSearch : public QDialog, public TTWForm {
    Q_OBJECT

public:
    explicit TfSearch(QWidget* parent = nullptr);

    // A date was typed: a field without a digit is no date criterion.
    bool DateGiven() const;
    // The date field's mask follows the short date form of the C library locale, the form the
    // list's Date column is written in ("99.99.9999" in de_DE, "99/99/9999" in en_US,
    // "99/99/99" in en_GB); a form with names in it gets no mask. Run again after the locale
    // changed.
    void UseDateFormat();
    // The input mask of a strftime date form; empty when the form has more than digits.
    static QString DateMask(const std::string& format);

    // The checks of Find and Find Next, in order; the first refusal is shown and the dialog
    // stays open.
    bool CheckFields();
    // The criteria of the fields as they were left; false, with the message, when the date
    // field holds no date.
    bool ReadCriteria(TJobSearchCriteria& criteria, std::string& error) const;

    // Told when the next search starts from the first row: Find with good fields, or another
    // list chosen.
    std::function<void()> OnNewSearch;

    TRadioGroup* rgJobStatus;
    QLabel* lJobID;
    QLineEdit* eJobID;
    QLabel* lDocId;
    QLineEdit* eDocId;
    QLabel* lName;
    QComboBox* cbName;
    QLineEdit* eName;
    QLabel* lPage;
    QLineEdit* ePage;
    QLabel* lColor;
    QComboBox* cbColor;
    QLineEdit* eColor;
    QLabel* lDate;
    QComboBox* cbDate;
    QLineEdit* eDate;
    QLabel* lType;
    QLineEdit* eType;
    QLabel* lSize;
    QComboBox* cbSize;
    QLineEdit* eSize;
    QLabel* lKb;
    QLabel* lDest;
    QComboBox* cbDest;
    QLineEdit* eDest;
    QPushButton* bFind;
    QPushButton* bFindNext;
    QPushButton* bCancel;

private:
    void bFindClick();
    void bFindNextClick();
};

} // namespace raduvuz
