#pragma once

#include <QPointer>

#include <memory>
#include <string>

namespace raduvuz {

class TfAbout;
class TfDevices;
class TfMain;
class TfPriority;
class TfSClrEdit;
class TfSearch;
class TfSpotClr;

// The forms a process creates at start, after the main window and in this order, hidden; the
// dialogs are reused from here for the life of the process. The main window is given them while
// they exist. The spot colour map is held by
// fSpotClr, which comes after the main window: the main window reads the map once that form
// exists and writes it back before the form goes.
class TConsoleForms {
public:
    // programFolder: where the spot colour map lives (empty: the program's own folder).
    explicit TConsoleForms(TfMain* mainWindow, const std::string& programFolder = {});
    ~TConsoleForms();
    TConsoleForms(const TConsoleForms&) = delete;
    TConsoleForms& operator=(const TConsoleForms&) = delete;

    // In order of creation.
    std::unique_ptr<TfAbout> fAbout;
    std::unique_ptr<TfPriority> fPriority;
    std::unique_ptr<TfSearch> fSearch;
    std::unique_ptr<TfDevices> fDevices;
    std::unique_ptr<TfSpotClr> fSpotClr;
    std::unique_ptr<TfSClrEdit> fSClrEdit;

private:
    QPointer<TfMain> MainWindow;
};

} // namespace raduvuz
