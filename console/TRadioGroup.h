#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QVBoxLayout;

namespace raduvuz {

// A framed group of radio buttons made from a list of item texts; one of them is chosen.
class TRadioGroup : public QGroupBox {
    Q_OBJECT

public:
    explicit TRadioGroup(QWidget* parent = nullptr);

    void SetItems(const QStringList& items);
    QStringList Items() const;
    // The chosen item, -1 for none.
    int ItemIndex() const;
    void SetItemIndex(int index);

signals:
    // The operator clicked an item.
    void ItemClicked(int index);

private:
    QButtonGroup* Buttons;
    QVBoxLayout* Column;
};

} // namespace raduvuz
