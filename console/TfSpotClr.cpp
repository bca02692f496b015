#include "console/TfSpotClr.h"

#include "platform/System.h"

namespace raduvuz {

TfSpotClr::TfSpotClr(QWidget* parent, std::string folder)
    : QWidget(parent, Qt::Window), Folder(folder.empty() ? ProgramFolder() : std::move(folder)) {
    setObjectName(QStringLiteral("fSpotClr"));
    if (Folder.back() != '/')
        Folder += '/';
}

std::string TfSpotClr::MapPath() const {
    return Folder + TSpotColorMap::kFileName;
}

std::string TfSpotClr::BackupPath() const {
    return Folder + TSpotColorMap::kBackupName;
}

} // namespace raduvuz
