#include "console/TNotice.h"

#include <QApplication>
#include <QMessageBox>

namespace raduvuz {

void TNotice::Message(QWidget* parent, const std::string& text) {
    MessageBox()(parent, QString::fromStdString(text));
}

void TNotice::Beep() {
    BeepSound()();
}

std::function<void(QWidget*, const QString&)>& TNotice::MessageBox() {
    static std::function<void(QWidget*, const QString&)> show = [](QWidget* parent,
                                                                   const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                        QMessageBox::Ok, parent);
        box.exec();
    };
    return show;
}

std::function<void()>& TNotice::BeepSound() {
    static std::function<void()> beep = [] { QApplication::beep(); };
    return beep;
}

} // namespace raduvuz
