#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace raduvuz {

// Up and down arrows bound to a one-line edit: each click reads the edit's number, steps it by
// one within Min..Max (no wrapping) and writes it back. The edit itself accepts any text.
class TUpDown : public QWidget {
    Q_OBJECT

public:
    TUpDown(QLineEdit* buddy, int min, int max, QWidget* parent = nullptr);

    int Position() const { return Value; }
    void Step(int delta);

private:
    QLineEdit* Buddy;
    int Min;
    int Max;
    int Value;
    QToolButton* Up;
    QToolButton* Down;
};

} // namespace raduvuz
