#pragma once

#include <memory>

class QWidget;

namespace raduvuz {

class TfAbout;
class TfDevices;
class TfPriority;

// The forms a process creates at start, after the main window and in this order, hidden; the
// job dialogs are reused from here for the life of the process.
class TConsoleForms {
public:
    explicit TConsoleForms(QWidget* mainWindow);
    ~TConsoleForms();
    TConsoleForms(const TConsoleForms&) = delete;
    TConsoleForms& operator=(const TConsoleForms&) = delete;

    std::unique_ptr<TfAbout> fAbout;
    std::unique_ptr<TfPriority> fPriority;
    std::unique_ptr<TfDevices> fDevices;
};

// The forms of the running process; null before they are created and after they are freed.
TConsoleForms* ConsoleForms();

} // namespace raduvuz
