#pragma once

#include "console/TTWForm.h"

#include <QDialog>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace raduvuz {

// The about box: product line, module name, build, a line of legal text and the module's
// description. ShowAbout fills and shows it.
class TfAbout : public QDialog, public TTWForm {
    Q_OBJECT

public:
    explicit TfAbout(QWidget* parent = nullptr);

    QLabel* imgModule;
    QLabel* Label1;
    QLabel* lModuleName;
    QLabel* lVersion;
    QLabel* lLegal;
    QLabel* Label2;
    QFrame* Panel1;
    QPlainTextEdit* mComment;
    QPushButton* bOk;

    // OK is also the cancel button: Esc ends the box with OK.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace raduvuz
