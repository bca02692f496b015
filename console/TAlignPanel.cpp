#include "console/TAlignPanel.h"

#include <QResizeEvent>

#include <algorithm>

namespace raduvuz {

TAlignPanel::TAlignPanel(QWidget* parent) : QFrame(parent) {}

void TAlignPanel::AddControl(QWidget* control, TAlign align) {
    control->setParent(this);
    Items.push_back({control, align});
    Realign();
}

void TAlignPanel::SetAlign(QWidget* control, TAlign align) {
    for (TItem& item : Items) {
        if (item.Control == control)
            item.Align = align;
    }
    Realign();
}

TAlignPanel::TAlign TAlignPanel::Align(const QWidget* control) const {
    for (const TItem& item : Items) {
        if (item.Control == control)
            return item.Align;
    }
    return TAlign::None;
}

QWidget* TAlignPanel::ClientControl() const {
    for (const TItem& item : Items) {
        if (item.Align == TAlign::Client)
            return item.Control;
    }
    return nullptr;
}

void TAlignPanel::Realign() {
    const QRect area = contentsRect();
    int left = area.left();
    int top = area.top();
    int right = area.left() + area.width();
    int bottom = area.top() + area.height();
    for (TAlign pass : {TAlign::Top, TAlign::Bottom, TAlign::Left, TAlign::Right, TAlign::Client}) {
        for (const TItem& item : Items) {
            QWidget* control = item.Control;
            if (item.Align != pass || control->isHidden())
                continue;
            const int spanX = std::max(0, right - left);
            const int spanY = std::max(0, bottom - top);
            switch (pass) {
            case TAlign::Top:
                control->setGeometry(left, top, spanX, control->height());
                top += control->height();
                break;
            case TAlign::Bottom:
                control->setGeometry(left, bottom - control->height(), spanX, control->height());
                bottom -= control->height();
                break;
            case TAlign::Left:
                control->setGeometry(left, top, control->width(), spanY);
                left += control->width();
                break;
            case TAlign::Right:
                control->setGeometry(right - control->width(), top, control->width(), spanY);
                right -= control->width();
                break;
            case TAlign::Client:
                control->setGeometry(left, top, spanX, spanY);
                break;
            case TAlign::None:
                break;
            }
        }
    }
    // A hidden window delivers no resize events, so the panels inside are placed from here.
    for (const TItem& item : Items) {
        if (auto* panel = qobject_cast<TAlignPanel*>(item.Control))
            panel->Realign();
    }
}

void TAlignPanel::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    Realign();
}

} // namespace raduvuz
