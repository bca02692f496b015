#include "console/TRadioGroup.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

namespace raduvuz {

TRadioGroup::TRadioGroup(QWidget* parent)
    : QGroupBox(parent), Buttons(new QButtonGroup(this)), Column(new QVBoxLayout(this)) {
    Buttons->setExclusive(true);
    connect(Buttons, &QButtonGroup::idClicked, this, &TRadioGroup::ItemClicked);
}

void TRadioGroup::SetItems(const QStringList& items) {
    for (QAbstractButton* button : Buttons->buttons()) {
        Buttons->removeButton(button);
        delete button;
    }
    int id = 0;
    for (const QString& item : items) {
        auto* button = new QRadioButton(item, this);
        Column->addWidget(button);
        Buttons->addButton(button, id++);
    }
}

QStringList TRadioGroup::Items() const {
    QStringList items;
    for (int id = 0; QAbstractButton* button = Buttons->button(id); ++id)
        items << button->text();
    return items;
}

int TRadioGroup::ItemIndex() const {
    return Buttons->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* button = Buttons->button(index)) {
        button->setChecked(true);
        return;
    }
    // No item chosen: an exclusive group lets go of its checked button only while it is not
    // exclusive.
    if (QAbstractButton* checked = Buttons->checkedButton()) {
        Buttons->setExclusive(false);
        checked->setChecked(false);
        Buttons->setExclusive(true);
    }
}

} // namespace raduvuz
