#include "console/ShowAbout.h"

#include "common/Utils.h"
#include "common/WindowTexts.h"
#include "console/TResourceFile.h"
#include "console/TVersion.h"
#include "console/TfAbout.h"
#include "platform/Registry.h"

#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>

#include <memory>

namespace raduvuz {

namespace {

bool ShowPicture(QLabel* image, const std::optional<std::string>& data, int left, int top) {
    QPixmap picture;
    if (!data || !picture.loadFromData(reinterpret_cast<const uchar*>(data->data()),
                                       static_cast<uint>(data->size())))
        return false;
    image->setPixmap(picture);
    image->adjustSize();
    image->move(left, top);
    return true;
}

} // namespace

void PrepareAbout(TfAbout& form, const std::string& fileName) {
    form.Label1->setText(QStringLiteral("Korvo PDF Server"));
    if (const auto productLine = RegistryString(kWorkflowKey, "ProductLine"))
        form.Label1->setText(QString::fromStdString(*productLine));

    // The running program's block is in memory already: its file, tens of megabytes, is not
    // read again; another file is read once for the version and the pictures.
    TResourceFile fromFile;
    if (!fileName.empty())
        fromFile = TResourceFile(fileName);
    const TResourceFile& resources = fileName.empty() ? TResourceFile::Own() : fromFile;
    TVersion version;
    if (const auto block = resources.Find("VERSION"))
        version.ParseBlock(*block);
    std::string build = FormatText(WindowText(wtBuild), {static_cast<int>(version.FileVersion[2]),
                                                         static_cast<int>(version.FileVersion[3])});
    if (version.FileVersion[2] == 0)
        build = WindowText(wtBeta) + build;
    form.lVersion->setText(QString::fromStdString(build));
    form.lModuleName->setText(QString::fromStdString(version.FileDescription));
    if (!version.Comments.empty())
        form.mComment->appendPlainText(QString::fromStdString(version.Comments));

    if (!ShowPicture(form.imgModule, resources.Find("ABOUTIMAGE"), 8, 8) &&
        !ShowPicture(form.imgModule, resources.Find("MAINICON"), 24, 24))
        form.imgModule->move(-100, -100);
}

void ShowAbout(const std::string& fileName) {
    auto form = std::make_unique<TfAbout>();
    PrepareAbout(*form, fileName);
    form->exec();
}

} // namespace raduvuz
