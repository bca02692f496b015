#include "console/TfDevices.h"

#include "common/WindowTexts.h"
#include "console/TCheckListBox.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace raduvuz {

TfDevices::TfDevices(QWidget* parent) : QDialog(parent), TTWForm(this) {
    setObjectName(QStringLiteral("fDevices"));
    setWindowTitle(QString::fromStdString(WindowTextDefault(wtDevicesCaption)));
    SetTag(this, wtDevicesCaption);
    HelpContext = 14;
    cblDevices = new TCheckListBox(this);
    cblDevices->setObjectName(QStringLiteral("cblDevices"));
    bOk = new QPushButton(QString::fromStdString(WindowTextDefault(wtOk)), this);
    bOk->setDefault(true);
    SetTag(bOk, wtOk);
    bCancel = new QPushButton(QString::fromStdString(WindowTextDefault(wtCancel)), this);
    SetTag(bCancel, wtCancel);
    connect(bOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);

    // The list grows with the window; the buttons stay at the top right.
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(bOk);
    buttons->addWidget(bCancel);
    buttons->addStretch();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 8, 8, 8);
    row->addWidget(cblDevices, 1);
    row->addLayout(buttons);
    resize(342, 321);
    TranslateForm();
}

} // namespace raduvuz
