#pragma once

#include <QWidget>

#include <functional>

namespace raduvuz {

class TAlignPanel;

// A splitter between a control aligned to the top or the left of a TAlignPanel and the panel's
// client control. Dragging it proposes a new size of the control: it is kept within MinSize on
// both sides, then CanResize may refuse it (and act on it); Moved runs when the drag ends.
class TSplitterBar : public QWidget {
    Q_OBJECT

public:
    // vertical: the bar lies between controls stacked top to bottom, and moves up and down.
    TSplitterBar(Qt::Orientation orientation, int thickness, int minSize,
                 QWidget* parent = nullptr);

    void SetControl(QWidget* control) { Control = control; }
    int MinSize() const { return Minimum; }

    // Proposes a new size of the control, as a drag does; answers whether it was applied.
    bool ProposeSize(int size);

    std::function<bool(int& newSize)> CanResize;
    std::function<void()> Moved;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int SizeOf(const QWidget* widget) const;
    TAlignPanel* Panel() const;

    Qt::Orientation Orientation;
    int Minimum;
    QWidget* Control = nullptr;
    bool Dragging = false;
    bool Changed = false;
    int StartPosition = 0;
    int StartSize = 0;
};

} // namespace raduvuz
