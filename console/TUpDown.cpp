#include "console/TUpDown.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace raduvuz {

TUpDown::TUpDown(QLineEdit* buddy, int min, int max, QWidget* parent)
    : QWidget(parent), Buddy(buddy), Min(min), Max(max), Value(min), Up(new QToolButton(this)),
      Down(new QToolButton(this)) {
    Up->setArrowType(Qt::UpArrow);
    Down->setArrowType(Qt::DownArrow);
    for (QToolButton* button : {Up, Down}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(Up);
    column->addWidget(Down);
    connect(Up, &QToolButton::clicked, this, [this] { Step(1); });
    connect(Down, &QToolButton::clicked, this, [this] { Step(-1); });
}

void TUpDown::Step(int delta) {
    // The edit's number counts when it is one; otherwise the arrows go on from their own.
    bool ok = false;
    const int typed = Buddy->text().trimmed().toInt(&ok);
    if (ok)
        Value = std::clamp(typed, Min, Max);
    Value = std::clamp(Value + delta, Min, Max);
    Buddy->setText(QString::number(Value));
}

} // namespace raduvuz
