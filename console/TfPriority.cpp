#include "console/TfPriority.h"

#include "console/TUpDown.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace raduvuz {

TfPriority::TfPriority(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      TTWForm(this) {
    setObjectName(QStringLiteral("fPriority"));
    setWindowTitle(QStringLiteral("Change priority"));
    StaticText1 = new QLabel(QStringLiteral("Priority:"), this);
    mePriority = new QLineEdit(QStringLiteral("0"), this);
    mePriority->setObjectName(QStringLiteral("mePriority"));
    mePriority->setFixedWidth(40);
    UpDown1 = new TUpDown(mePriority, 0, 10, this);
    UpDown1->setFixedSize(16, mePriority->sizeHint().height());
    Label1 = new QLabel(QStringLiteral("( 0 - minimal priority, 10 - maximum )"), this);
    bOk = new QPushButton(QStringLiteral("OK"), this);
    bOk->setDefault(true);
    bCancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(bOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* value = new QHBoxLayout;
    value->setSpacing(0);
    value->addWidget(mePriority);
    value->addWidget(UpDown1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOk);
    buttons->addWidget(bCancel);
    buttons->addStretch();
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->addWidget(StaticText1, 0, 0);
    grid->addLayout(value, 0, 1);
    grid->addWidget(Label1, 0, 2);
    grid->addLayout(buttons, 1, 0, 1, 3);
    resize(295, 75);
    setFixedSize(sizeHint().expandedTo(QSize(295, 75)));
    TranslateForm();
}

} // namespace raduvuz
