// Shows the main window with sample rows in both job lists (two of them moving, one held and
// selected, the passed jobs sorted by size) and the counts in its status bar, or one of its
// dialogs, and saves a picture of it as the display shows it (run it under a display, e.g.
// xvfb-run, with a window manager for the title bars):
//   raduvuz-console-shot [main|search|spot-editor|redirect|tray] OUTPUT.png
// The windows speak the language the registry (or the session) names, as the program's do.
// "redirect" is the main window with the device dialog of the redirect action open over it,
// filled as the action fills it for the selected job. "tray" is the tray icon of a running module
// with its menu open, on a desktop with a tray (an XEmbed tray such as trayer).

#include "common/DateTime.h"
#include "common/Language.h"
#include "common/Utils.h"
#include "common/WindowTexts.h"
#include "console/ConsoleForms.h"
#include "console/TAlignPanel.h"
#include "console/TCheckListBox.h"
#include "console/TJobListView.h"
#include "console/TJobTableModel.h"
#include "console/TfDevices.h"
#include "console/TfMain.h"
#include "console/TfSClrEdit.h"
#include "console/TfSearch.h"
#include "control/IEventLoop.h"
#include "control/TModuleControl.h"
#include "jobs/TJobListModel.h"
#include "services/Dispatch.h"

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>

using namespace raduvuz;

namespace {

// A sample row; its size is the job's data in bytes (-1: the size text stands).
TListRow Row(const char* job, const char* doc, const char* name, const char* pages,
             const char* colour, const char* time, const char* type, int64_t bytes,
             const char* destination, int image, int32_t priority = 10) {
    TListRow row;
    row.Caption = job;
    std::tm day{};
    day.tm_year = 126;
    day.tm_mon = 11;
    day.tm_mday = 5;
    day.tm_hour = 13;
    row.Created = DateTimeFromTm(day);
    row.SubItems = {doc,  name, pages, colour,      ShortDateText(row.Created),
                    time, type, "",    destination, ""};
    row.ImageIndex = image;
    row.Bytes = bytes;
    row.Priority = priority;
    return row;
}

constexpr int64_t kMb = 1024 * 1024;

void FillSamples(TfMain& window) {
    TJobListModel& process = window.ProcessJobs();
    // The two jobs that move, as far as they have got: the bar fills their Size cells.
    TListRow catalogue = Row("1042", "311", "Catalogue spring", "48", "CMYK", "14:02:11", "RST",
                             180 * kMb, "Proofer A3", 1, 20);
    catalogue.Done = 112 * kMb;
    const uint32_t catalogueId = process.Add(std::move(catalogue))->Id;
    TListRow flyer = Row("1041", "310", "Flyer A5 front", "1", "PANTONE 185 C", "14:01:37", "RST",
                         32 * kMb, "Platesetter 1", 2, 10);
    flyer.Done = 8 * kMb;
    const uint32_t flyerId = process.Add(std::move(flyer))->Id;
    const uint32_t heldId = process
                                .Add(Row("1040", "309", "Business cards", "2", "Black", "13:58:05",
                                         "RSTBND", 3366000, "Proofer A3", 0, 5))
                                ->Id;
    const uint32_t waitingId = process
                                   .Add(Row("1039", "308", "Newsletter, May", "12", "CMYK",
                                            "13:57:40", "RST", 19293798, "Platesetter 1", -1, 10))
                                   ->Id;
    TJobListModel& passed = window.CompletedJobs();
    const struct {
        const char *Job, *Doc, *Name, *Pages, *Colour, *Time, *Type;
        int64_t Bytes;
        const char* Dest;
        int Image;
    } done[] = {
        {"1038", "307", "Annual report cover", "4", "CMYK", "13:41:12", "RST", 44826214,
         "Platesetter 1", -1},
        {"1037", "306", "Poster B1", "1", "Cyan", "13:30:55", "RST", 100768563, "Proofer A3", -1},
        {"1036", "305", "Menu card", "2", "Black", "13:12:08", "RSTBND", 1593835, "Platesetter 2",
         -1},
        {"1035", "304", "Letterhead", "1", "Magenta", "12:59:47", "RST", 763085, "Platesetter 1",
         3},
        {"1034", "303", "Brochure inner pages", "16", "CMYK", "12:44:30", "RST", 64047431,
         "Platesetter 1, Proofer A3", -1},
        {"1033", "302", "Price list", "6", "Black", "12:20:19", "RST", 9395240, "Platesetter 2",
         -1},
    };
    TRowFactsById facts;
    const auto state = [](const char* name, int order) {
        return TRowFacts{TfMain::StateText(name), order, 0};
    };
    for (const auto& job : done) {
        const uint32_t id = passed
                                .Add(Row(job.Job, job.Doc, job.Name, job.Pages, job.Colour,
                                         job.Time, job.Type, job.Bytes, job.Dest, job.Image))
                                ->Id;
        TRowFacts passedFacts = state(job.Image == 3 ? "failed" : "passed", 6);
        passedFacts.Priority = 10;
        facts[id] = passedFacts;
    }
    // The states the module would tell of its jobs in process.
    facts[catalogueId] = state("transferring", 1);
    facts[catalogueId].Priority = 20;
    facts[flyerId] = state("spooling", 2);
    facts[flyerId].Priority = 10;
    facts[heldId] = state("held", 4);
    facts[heldId].Priority = 5;
    facts[waitingId] = state("waiting", 3);
    facts[waitingId].Priority = 10;
    window.lvProcessJobs->Rows()->SetFacts(facts);
    window.lvCompletedJobs->Rows()->SetFacts(facts);
    // Lines as the module writes them: its description, then the numbered text at the time.
    const std::string day = ShortDateText(passed.At(0)->Created);
    const auto At = [](const std::string& text, const std::string& time) {
        return LanguageFormat(2419, {text, time}, "%s at %s");
    };
    const std::string lines[] = {
        At(LanguageFormat(1758, {"1038_307"}, "File %s transferred"), day + " 13:41:58"),
        At(LanguageFormat(1745, {"1039_308"}, "File %s spooling"), day + " 13:57:40"),
        At(LanguageFormat(1757, {"1040_309"}, "File %s spooled"), day + " 13:58:20"),
        At(LanguageFormat(1745, {"1041_310"}, "File %s spooling"), day + " 14:01:37"),
        At(LanguageFormat(1746, {"1042_311"}, "File %s transferring"), day + " 14:02:11"),
    };
    for (const std::string& line : lines)
        window.LogWriteLine("Prepress queue: " + line);
}

// Fills the search dialog as an operator looking for a large catalogue job would.
void FillSearch(TfSearch& search) {
    search.eName->setText(QStringLiteral("catalogue"));
    search.cbSize->setCurrentIndex(3);
    search.eSize->setText(QStringLiteral("1000"));
    search.eDest->setText(QStringLiteral("platesetter"));
}

void FillSpotEditor(TfSClrEdit& editor) {
    editor.eName->setText(QStringLiteral("Reflex Blue 072"));
    editor.eName->setEnabled(false);
    editor.eCyan->setText(QStringLiteral("100"));
    editor.eMagenta->setText(QStringLiteral("76"));
    editor.eYellow->setText(QStringLiteral("0"));
    editor.eBlack->setText(QStringLiteral("6"));
}

// The terminators of the sample module; a flow entry of the selected job names the first two.
void FillDevices(TfDevices& dialog) {
    const struct {
        const char* Name;
        int Terminator;
        bool Enabled;
        bool Held;
    } devices[] = {{"Platesetter 1", 4, true, false},
                   {"Platesetter 2", 6, true, false},
                   {"Proofer A3", 3, true, true},
                   {"Press B", 2, false, false}};
    for (const auto& device : devices) {
        const std::string name = device.Held ? FormatText(WindowText(wtHeldDevice), {device.Name})
                                             : std::string(device.Name);
        const int item =
            dialog.cblDevices->AddItem(QString::fromStdString(name), device.Terminator);
        dialog.cblDevices->SetItemEnabled(item, device.Enabled);
    }
    dialog.cblDevices->SetChecked(1, true);
}

// The picture needs the module only as the tray shows it: no ticks run.
class TStillLoop : public IEventLoop {
public:
    void StopTimer() override {}
    void ProcessPendingMessages() override { QCoreApplication::processEvents(); }
    void ScheduleTick() override {}
};

// The tray icon of a running module and its menu, cut from the screen.
int ShootTray(TfMain& window, const QString& output) {
    window.StartMessage();
    if (!window.TrayIconAdded()) {
        std::fprintf(stderr, "raduvuz-console-shot: no tray on this display\n");
        return 1;
    }
    // The module keeps its folders in a place of its own for the picture.
    QTemporaryDir folder;
    TModuleProcess process;
    process.ProgramFolder = folder.path().toStdString() + "/";
    auto server = std::make_shared<TInProcessObject>();
    for (const char* method : {"ChangeStatus", "WriteLog", "ShowLabel", "GetValue"})
        server->Define(method, [](const std::vector<TVariant>&) { return TCallResult{}; });
    TStillLoop loop;
    TModuleControl module(process, loop, &window);
    window.SetModule(&module);
    module.Init(3, "Prepress queue", server);
    module.Resume();
    int result = 1;
    // The icon is docked a moment after it was shown; its menu opens beside it.
    QTimer::singleShot(1500, &window, [&] {
        const QRect icon = window.TrayGeometry();
        QScreen* screen = QGuiApplication::primaryScreen();
        // The menu opens beside the icon, as a right click on it opens it, leaving it in sight.
        const QSize menu = window.PopupMenu->sizeHint();
        const bool below = icon.top() < screen->geometry().height() / 2;
        window.PopupMenu->popup(
            icon.isValid() ? QPoint(icon.left() - menu.width() / 2,
                                    below ? icon.bottom() + 4 : icon.top() - menu.height() - 4)
                           : QPoint(100, 100));
        QTimer::singleShot(700, &window, [&, screen, icon] {
            const QRect menu = window.PopupMenu->geometry();
            const QRect area =
                menu.united(icon).adjusted(-24, -24, 24, 24).intersected(screen->geometry());
            const QPixmap shot =
                screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
            result = shot.save(output) ? 0 : 1;
            window.PopupMenu->close();
            module.Close();
            window.SetModule(nullptr);
            QCoreApplication::exit(0);
        });
    });
    QCoreApplication::exec();
    return result;
}

} // namespace

int main(int argc, char* argv[]) {
    const bool named = argc == 3;
    const char* what = named ? argv[1] : "main";
    if (argc < 2 || argc > 3 ||
        (std::strcmp(what, "main") != 0 && std::strcmp(what, "search") != 0 &&
         std::strcmp(what, "spot-editor") != 0 && std::strcmp(what, "redirect") != 0 &&
         std::strcmp(what, "tray") != 0)) {
        std::fprintf(
            stderr,
            "usage: raduvuz-console-shot [main|search|spot-editor|redirect|tray] OUTPUT.png\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[named ? 2 : 1]);
    QApplication app(argc, argv);
    TJobRows rows;
    TfMain window(rows);
    TConsoleForms forms(&window);
    window.SetCaption("Prepress queue");
    window.SetPauseAction(WindowText(wtStop), WindowText(wtStopHint), 2);
    if (std::strcmp(what, "tray") == 0)
        return ShootTray(window, output);
    FillSamples(window);
    window.setGeometry(40, 40, 1000, 580);
    // As an operator would size it: more room for the lists than for the log.
    window.Panel1->resize(window.Panel1->width(), 350);
    window.lvProcessJobs->resize(window.lvProcessJobs->width(), 112);
    window.RealignAll();
    window.ShowAndActivate();
    // The passed jobs sorted by size, largest first; the held job selected, with the actions a
    // module would enable for it (there is none behind the pictures).
    window.lvCompletedJobs->SortBy(TJobTableModel::kSizeColumn, Qt::DescendingOrder);
    if (std::strcmp(what, "redirect") == 0) {
        window.lvCompletedJobs->SelectRow(1);
        window.lvCompletedJobs->setFocus();
    } else {
        window.lvProcessJobs->SelectRow(2);
        window.lvProcessJobs->setFocus();
        // Once the list has the focus, whose rules know of no module.
        QTimer::singleShot(1000, &window, [&window] {
            window.AUnHold->setEnabled(true);
            window.AChangeName->setEnabled(true);
        });
    }

    QWidget* shown = &window;
    if (std::strcmp(what, "search") == 0) {
        FillSearch(*forms.fSearch);
        shown = forms.fSearch.get();
    } else if (std::strcmp(what, "spot-editor") == 0) {
        FillSpotEditor(*forms.fSClrEdit);
        shown = forms.fSClrEdit.get();
    }
    if (std::strcmp(what, "redirect") == 0) {
        TfDevices& devices = *forms.fDevices;
        FillDevices(devices);
        // Wide enough for the whole caption, which the window manager puts in the title bar.
        devices.resize(460, devices.height());
        devices.move(window.frameGeometry().center() - devices.rect().center());
        devices.show();
    } else if (shown != &window) {
        shown->move(120, 90);
        shown->show();
        shown->activateWindow();
    }
    int result = 1;
    QTimer::singleShot(1500, &app, [&] {
        QScreen* screen = shown->screen();
        const QRect frame = shown->frameGeometry();
        const QPixmap shot =
            screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        result = shot.save(output) ? 0 : 1;
        QCoreApplication::exit(0);
    });
    app.exec();
    return result;
}
