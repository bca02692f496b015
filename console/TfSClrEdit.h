#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace raduvuz {

// Edits the CMYK recipe of one spot colour in whole percent; the swatch shows the colour. A
// percentage out of 0..100 beeps and empties its field; OK is off for a process colour name.
class TfSClrEdit : public QDialog {
    Q_OBJECT

public:
    explicit TfSClrEdit(QWidget* parent = nullptr);

    // A percentage field's value: 0 when empty, -1 when it is no decimal integer.
    static int Percent(const QLineEdit* field);
    QColor SwatchColour() const;

    QLabel* lName;
    QLineEdit* eName;
    QLabel* lCyan;
    QLineEdit* eCyan;
    QLabel* lMagenta;
    QLineEdit* eMagenta;
    QLabel* lYellow;
    QLineEdit* eYellow;
    QLabel* lBlack;
    QLineEdit* eBlack;
    QFrame* pClr;
    QPushButton* bOk;
    QPushButton* bCancel;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void eNameChange();
    void PercentChange(QLineEdit* changed);
};

} // namespace raduvuz
