#include "console/TfPriority.h"

#include "common/WindowTexts.h"
#include "console/TUpDown.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace raduvuz {

namespace {

QString Default(int number) {
    return QString::fromStdString(WindowTextDefault(number));
}

} // namespace

TfPriority::TfPriority(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      TTWForm(this) {
    setObjectName(QStringLiteral("fPriority"));
    setWindowTitle(Default(wtPriorityCaption));
    SetTag(this, wtPriorityCaption);
    StaticText1 = new QLabel(Default(wtPriorityLabel), this);
    SetTag(StaticText1, wtPriorityLabel);
    mePriority = new QLineEdit(QStringLiteral("0"), this);
    mePriority->setObjectName(QStringLiteral("mePriority"));
    mePriority->setFixedWidth(40);
    UpDown1 = new TUpDown(mePriority, 0, 10, this);
    UpDown1->setFixedSize(16, mePriority->sizeHint().height());
    Label1 = new QLabel(Default(wtPriorityRange), this);
    SetTag(Label1, wtPriorityRange);
    bOk = new QPushButton(Default(wtOk), this);
    bOk->setDefault(true);
    SetTag(bOk, wtOk);
    bCancel = new QPushButton(Default(wtCancel), this);
    SetTag(bCancel, wtCancel);
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
    TranslateForm();
    setFixedSize(sizeHint().expandedTo(QSize(295, 75)));
}

} // namespace raduvuz
