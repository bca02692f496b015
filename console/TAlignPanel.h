#pragma once

#include <QFrame>

#include <vector>

namespace raduvuz {

// A panel that places its controls by alignment, in the window system's classic way: controls
// aligned to the top, then the bottom, then the left, then the right take their own height or
// width from the remaining area in the order they were added; the client control takes what is
// left. A control keeps its size while it is hidden, and hidden controls take no room. Placing
// happens at once (Realign), also while the window is hidden, so sizes can be read back at any
// time. The panel's frame (a bevel) takes its room first.
class TAlignPanel : public QFrame {
    Q_OBJECT

public:
    enum class TAlign { None, Top, Bottom, Left, Right, Client };

    explicit TAlignPanel(QWidget* parent = nullptr);

    // Adds a control (made a child of the panel) with its alignment; the order counts.
    void AddControl(QWidget* control, TAlign align);
    void SetAlign(QWidget* control, TAlign align);
    TAlign Align(const QWidget* control) const;
    // The client control of this panel, or null.
    QWidget* ClientControl() const;

    // Places the controls now, and those of every panel inside.
    void Realign();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct TItem {
        QWidget* Control;
        TAlign Align;
    };
    std::vector<TItem> Items;
};

} // namespace raduvuz
