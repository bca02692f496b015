#pragma once

#include <QListWidget>

#include <cstdint>

namespace raduvuz {

// A list with a check box per item; each item carries a number and can be disabled on its own.
class TCheckListBox : public QListWidget {
    Q_OBJECT

public:
    explicit TCheckListBox(QWidget* parent = nullptr);

    int AddItem(const QString& text, int32_t object);
    void Clear() { clear(); }
    int Count() const { return count(); }
    QString ItemText(int index) const;
    int32_t ItemObject(int index) const;
    bool Checked(int index) const;
    void SetChecked(int index, bool checked);
    bool ItemEnabled(int index) const;
    void SetItemEnabled(int index, bool enabled);
};

} // namespace raduvuz
