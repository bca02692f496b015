#pragma once

#include <QString>

#include <functional>
#include <string>

class QWidget;

namespace raduvuz {

// The console's plain message boxes and its beep. The windows show them through here, so that a
// test can answer them in place of the operator.
class TNotice {
public:
    static void Message(QWidget* parent, const std::string& text);
    static void Beep();

    // What Message and Beep do: a message box with an OK button over parent, the system beep.
    static std::function<void(QWidget* parent, const QString& text)>& MessageBox();
    static std::function<void()>& BeepSound();
};

} // namespace raduvuz
