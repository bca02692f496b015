#include "console/TfSClrEdit.h"

#include "common/Utils.h"
#include "console/TNotice.h"
#include "control/TSpotColorMap.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace raduvuz {

TfSClrEdit::TfSClrEdit(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("fSClrEdit"));
    setWindowTitle(QStringLiteral("Spot color editor"));
    const auto field = [this](const char* name, const char* caption, QLabel*& label) {
        label = new QLabel(QString::fromUtf8(caption), this);
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromUtf8(name));
        label->setBuddy(edit);
        return edit;
    };
    eName = field("eName", "Name:", lName);
    eCyan = field("eCyan", "Cyan:", lCyan);
    eMagenta = field("eMagenta", "Magenta", lMagenta);
    eYellow = field("eYellow", "Yellow:", lYellow);
    eBlack = field("eBlack", "Black:", lBlack);
    pClr = new QFrame(this);
    pClr->setObjectName(QStringLiteral("pClr"));
    pClr->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pClr->setAutoFillBackground(true);
    pClr->setMinimumSize(64, 64);
    bOk = new QPushButton(QStringLiteral("OK"), this);
    bOk->setDefault(true);
    bCancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(bOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(eName, &QLineEdit::textChanged, this, &TfSClrEdit::eNameChange);
    for (QLineEdit* percent : {eCyan, eMagenta, eYellow, eBlack}) {
        percent->setMaximumWidth(60);
        connect(percent, &QLineEdit::textChanged, this,
                [this, percent] { PercentChange(percent); });
    }

    auto* grid = new QGridLayout;
    grid->addWidget(lName, 0, 0);
    grid->addWidget(eName, 0, 1, 1, 2);
    int row = 1;
    for (auto [label, edit] : {std::pair{lCyan, eCyan}, std::pair{lMagenta, eMagenta},
                               std::pair{lYellow, eYellow}, std::pair{lBlack, eBlack}}) {
        grid->addWidget(label, row, 0);
        grid->addWidget(edit, row, 1);
        ++row;
    }
    grid->addWidget(pClr, 1, 2, 4, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOk);
    buttons->addWidget(bCancel);
    auto* whole = new QVBoxLayout(this);
    whole->setContentsMargins(8, 8, 8, 8);
    whole->addLayout(grid);
    whole->addLayout(buttons);
    whole->setSizeConstraint(QLayout::SetFixedSize);
    PercentChange(eCyan);
}

int TfSClrEdit::Percent(const QLineEdit* field) {
    if (field->text().isEmpty())
        return 0;
    return StrToIntDef(field->text().toStdString(), -1);
}

QColor TfSClrEdit::SwatchColour() const {
    return pClr->palette().color(QPalette::Window);
}

void TfSClrEdit::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    eNameChange();
}

void TfSClrEdit::eNameChange() {
    bOk->setEnabled(!IsProcessColourName(eName->text().toStdString()));
}

void TfSClrEdit::PercentChange(QLineEdit* changed) {
    const int cyan = Percent(eCyan);
    const int magenta = Percent(eMagenta);
    const int yellow = Percent(eYellow);
    const int black = Percent(eBlack);
    for (int value : {cyan, magenta, yellow, black}) {
        if (value < 0 || value > 100) {
            TNotice::Beep();
            // Emptying the field changes it again, and then every value is in range.
            changed->clear();
            return;
        }
    }
    const TSwatchColour colour = SwatchOf(cyan, magenta, yellow, black);
    QPalette palette = pClr->palette();
    palette.setColor(QPalette::Window, QColor(colour.Red, colour.Green, colour.Blue));
    pClr->setPalette(palette);
}

} // namespace raduvuz
