#include "console/TCheckListBox.h"

namespace raduvuz {

namespace {
constexpr int kObjectRole = Qt::UserRole + 1;
} // namespace

TCheckListBox::TCheckListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
}

int TCheckListBox::AddItem(const QString& text, int32_t object) {
    auto* entry = new QListWidgetItem(text, this);
    entry->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    entry->setCheckState(Qt::Unchecked);
    entry->setData(kObjectRole, object);
    return count() - 1;
}

QString TCheckListBox::ItemText(int index) const {
    const QListWidgetItem* entry = item(index);
    return entry ? entry->text() : QString();
}

int32_t TCheckListBox::ItemObject(int index) const {
    const QListWidgetItem* entry = item(index);
    return entry ? entry->data(kObjectRole).toInt() : 0;
}

bool TCheckListBox::Checked(int index) const {
    const QListWidgetItem* entry = item(index);
    return entry && entry->checkState() == Qt::Checked;
}

void TCheckListBox::SetChecked(int index, bool checked) {
    if (QListWidgetItem* entry = item(index))
        entry->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

bool TCheckListBox::ItemEnabled(int index) const {
    const QListWidgetItem* entry = item(index);
    return entry && (entry->flags() & Qt::ItemIsEnabled);
}

void TCheckListBox::SetItemEnabled(int index, bool enabled) {
    if (QListWidgetItem* entry = item(index))
        entry->setFlags(enabled ? entry->flags() | Qt::ItemIsEnabled
                                : entry->flags() & ~Qt::ItemIsEnabled);
}

} // namespace raduvuz
