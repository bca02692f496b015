// Shows the main window with sample rows in both job lists and saves a picture of it, as the
// display shows it: raduvuz-console-shot OUTPUT.png (run it under a display, e.g. xvfb-run).

#include "console/TAlignPanel.h"
#include "console/TJobListView.h"
#include "console/TfMain.h"
#include "jobs/TJobListModel.h"

#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>

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
    process.Add(Row("1042", "311", "Catalogue spring", "48", "CMYK", "14:02:11", "RST",
                    "Transfering", "Proofer A3", 1));
    process.Add(Row("1041", "310", "Flyer A5 front", "1", "CMYK", "14:01:37", "RST", "Spooling",
                    "Platesetter 1", 2));
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
    const char* lines[] = {
        "Prepress queue: Connected at 05/12/26 12:00:02",
        "Prepress queue: Started at 05/12/26 12:00:03",
        "Prepress queue: Job 1038 (307) passed to Platesetter 1 at 05/12/26 13:41:58",
        "Prepress queue: Job 1040 (309) held at 05/12/26 13:58:20",
        "Prepress queue: Job 1041 (310) spooling at 05/12/26 14:01:37",
    };
    for (const char* line : lines)
        window.LogWriteLine(line);
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: raduvuz-console-shot OUTPUT.png\n");
        return 2;
    }
    QApplication app(argc, argv);
    TfMain window;
    window.SetCaption("Prepress queue");
    window.SetPauseAction("&Stop", "Stop", 2);
    FillSamples(window);
    window.setGeometry(40, 40, 900, 560);
    // As an operator would size it: more room for the lists than for the log.
    window.Panel1->resize(window.Panel1->width(), 330);
    window.lvProcessJobs->resize(window.lvProcessJobs->width(), 112);
    window.RealignAll();
    window.ShowAndActivate();
    window.lvCompletedJobs->SelectRow(1);
    window.lvCompletedJobs->setFocus();
    int result = 1;
    QTimer::singleShot(1500, &app, [&] {
        QScreen* screen = window.screen();
        const QRect frame = window.frameGeometry();
        const QPixmap shot =
            screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        result = shot.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
        app.quit();
    });
    app.exec();
    return result;
}
