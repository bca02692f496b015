#include "console/TSplitterBar.h"

#include "console/TAlignPanel.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace raduvuz {

TSplitterBar::TSplitterBar(Qt::Orientation orientation, int thickness, int minSize, QWidget* parent)
    : QWidget(parent), Orientation(orientation), Minimum(minSize) {
    if (Orientation == Qt::Vertical) {
        resize(width(), thickness);
        setCursor(Qt::SplitVCursor);
    } else {
        resize(thickness, height());
        setCursor(Qt::SplitHCursor);
    }
}

int TSplitterBar::SizeOf(const QWidget* widget) const {
    if (widget == nullptr || widget->isHidden())
        return 0;
    return Orientation == Qt::Vertical ? widget->height() : widget->width();
}

TAlignPanel* TSplitterBar::Panel() const {
    return qobject_cast<TAlignPanel*>(parentWidget());
}

bool TSplitterBar::ProposeSize(int size) {
    if (Control == nullptr)
        return false;
    TAlignPanel* panel = Panel();
    // The control and the client control beside the bar both keep at least MinSize.
    const int room = SizeOf(Control) + SizeOf(panel ? panel->ClientControl() : nullptr);
    int newSize = std::clamp(size, Minimum, std::max(Minimum, room - Minimum));
    if (CanResize && !CanResize(newSize))
        return false;
    if (Orientation == Qt::Vertical)
        Control->resize(Control->width(), newSize);
    else
        Control->resize(newSize, Control->height());
    if (panel)
        panel->Realign();
    return true;
}

void TSplitterBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || Control == nullptr)
        return;
    Dragging = true;
    Changed = false;
    const QPoint global = event->globalPosition().toPoint();
    StartPosition = Orientation == Qt::Vertical ? global.y() : global.x();
    StartSize = SizeOf(Control);
}

void TSplitterBar::mouseMoveEvent(QMouseEvent* event) {
    if (!Dragging)
        return;
    const QPoint global = event->globalPosition().toPoint();
    const int position = Orientation == Qt::Vertical ? global.y() : global.x();
    const int proposed = StartSize + position - StartPosition;
    if (proposed != SizeOf(Control) && ProposeSize(proposed))
        Changed = true;
}

void TSplitterBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !Dragging)
        return;
    Dragging = false;
    if (Changed && Moved)
        Moved();
}

void TSplitterBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
}

} // namespace raduvuz
