// Shows the main window with sample rows in both job lists (two of them moving) and the counts in
// its status bar, or one of its dialogs, and saves a
// picture of it as the display shows it (run it under a display, e.g. xvfb-run, with a window
// manager for the title bars):
//   raduvuz-console-shot [main|search|spot-editor|redirect] OUTPUT.png
// The windows speak the language the registry names, as the program's do. "redirect" is the main
// window with the device dialog of the redirect action open over it, filled as the action fills
// it for the selected job.

#include "common/Language.h"
#include "common/WindowTexts.h"
#include "console/ConsoleForms.h"
#include "console/TAlignPanel.h"
#include "console/TCheckListBox.h"
#include "console/TJobListView.h"
#include "console/TfDevices.h"
#include "console/TfMain.h"
#include "console/TfSClrEdit.h"
#include "console/TfSearch.h"
#include "jobs/TJobListModel.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <utility>

using namespace raduvuz;

namespace {

TListRow Row(const char* job, const char* doc, const char* name, const char* pages,
             const char* colour, const char* time, const char* type, const char* size,
             const char* destination, int image) {
    TListRow row;
    row.Caption = job;
    row.SubItems = {doc, name, pages, colour, "05/12/26", time, type, size, destination, ""};
    row.ImageIndex = image;
    return row;
}

void FillSamples(TfMain& window) {
    TJobListModel& process = window.ProcessJobs();
    const std::string transferring = WindowText(wtTransferring);
    const std::string spooling = WindowText(wtSpooling);
    // The two jobs that move, as far as they have got: the bar fills their Size cells.
    TListRow catalogue = Row("1042", "311", "Catalogue spring", "48", "CMYK", "14:02:11", "RST",
                             transferring.c_str(), "Proofer A3", 1);
    catalogue.Bytes = 188743680;
    catalogue.Done = 117440512;
    process.Add(std::move(catalogue));
    TListRow flyer = Row("1041", "310", "Flyer A5 front", "1", "CMYK", "14:01:37", "RST",
                         spooling.c_str(), "Platesetter 1", 2);
    flyer.Bytes = 33554432;
    flyer.Done = 8388608;
    process.Add(std::move(flyer));
    process.Add(Row("1040", "309", "Business cards", "2", "Black", "13:58:05", "RSTBND", "3.21 Mb",
                    "Platesetter 2", 0));
    process.Add(Row("1039", "308", "Newsletter May", "12", "CMYK", "13:57:40", "RST", "18.40 Mb",
                    "Platesetter 1", -1));
    TJobListModel& passed = window.CompletedJobs();
    const struct {
        const char *Job, *Doc, *Name, *Pages, *Colour, *Time, *Type, *Size, *Dest;
        int Image;
    } done[] = {
        {"1038", "307", "Annual report cover", "4", "CMYK", "13:41:12", "RST", "42.75 Mb",
         "Platesetter 1", -1},
        {"1037", "306", "Poster B1", "1", "Cyan", "13:30:55", "RST", "96.10 Mb", "Proofer A3", -1},
        {"1036", "305", "Menu card", "2", "Black", "13:12:08", "RSTBND", "1.52 Mb", "Platesetter 2",
         -1},
        {"1035", "304", "Letterhead", "1", "Magenta", "12:59:47", "RST", "745.20 Kb",
         "Platesetter 1", 3},
        {"1034", "303", "Brochure inner pages", "16", "CMYK", "12:44:30", "RST", "61.08 Mb",
         "Platesetter 1, Proofer A3", -1},
        {"1033", "302", "Price list", "6", "Black", "12:20:19", "RST", "8.96 Mb", "Platesetter 2",
         -1},
    };
    for (const auto& job : done)
        passed.Add(Row(job.Job, job.Doc, job.Name, job.Pages, job.Colour, job.Time, job.Type,
                       job.Size, job.Dest, job.Image));
    // Lines as the module writes them: its description, the numbered text, " at " and the time.
    const std::string lines[] = {
        LanguageFormat(1758, {"1038_307"}, "File %s transferred") + " at 05/12/26 13:41:58",
        LanguageFormat(1745, {"1039_308"}, "File %s spooling") + " at 05/12/26 13:57:40",
        LanguageFormat(1757, {"1040_309"}, "File %s spooled") + " at 05/12/26 13:58:20",
        LanguageFormat(1745, {"1041_310"}, "File %s spooling") + " at 05/12/26 14:01:37",
        LanguageFormat(1746, {"1042_311"}, "File %s transferring") + " at 05/12/26 14:02:11",
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
    } devices[] = {{"Platesetter 1", 4, true},
                   {"Platesetter 2", 6, true},
                   {"Proofer A3", 3, false},
                   {"Press B", 2, false}};
    for (const auto& device : devices) {
        const int item =
            dialog.cblDevices->AddItem(QString::fromLatin1(device.Name), device.Terminator);
        dialog.cblDevices->SetItemEnabled(item, device.Enabled);
    }
    dialog.cblDevices->SetChecked(1, true);
}

} // namespace

int main(int argc, char* argv[]) {
    const bool named = argc == 3;
    const char* what = named ? argv[1] : "main";
    if (argc < 2 || argc > 3 ||
        (std::strcmp(what, "main") != 0 && std::strcmp(what, "search") != 0 &&
         std::strcmp(what, "spot-editor") != 0 && std::strcmp(what, "redirect") != 0)) {
        std::fprintf(stderr,
                     "usage: raduvuz-console-shot [main|search|spot-editor|redirect] OUTPUT.png\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[named ? 2 : 1]);
    QApplication app(argc, argv);
    TJobRows rows;
    TfMain window(rows);
    TConsoleForms forms(&window);
    window.SetCaption("Prepress queue");
    window.SetPauseAction(WindowText(wtStop), WindowText(wtStopHint), 2);
    FillSamples(window);
    window.setGeometry(40, 40, 900, 560);
    // As an operator would size it: more room for the lists than for the log.
    window.Panel1->resize(window.Panel1->width(), 330);
    window.lvProcessJobs->resize(window.lvProcessJobs->width(), 112);
    window.RealignAll();
    window.ShowAndActivate();
    window.lvCompletedJobs->SelectRow(1);
    window.lvCompletedJobs->setFocus();

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
        app.quit();
    });
    app.exec();
    return result;
}
