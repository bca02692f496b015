#include "console/TfSpotClr.h"

#include "common/TTwfPaths.h"
#include "platform/System.h"

namespace raduvuz {

namespace {

std::string WithSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

} // namespace

TfSpotClr::TfSpotClr(QWidget* parent, std::string folder)
    : QWidget(parent, Qt::Window),
      Folder(WithSeparator(folder.empty() ? ProgramDataFolder(ProgramFolder()) : folder)),
      ShippedFolder(WithSeparator(folder.empty() ? ProgramFolder() : folder)) {
    setObjectName(QStringLiteral("fSpotClr"));
}

std::string TfSpotClr::MapPath() const {
    return Folder + TSpotColorMap::kFileName;
}

std::string TfSpotClr::BackupPath() const {
    return Folder + TSpotColorMap::kBackupName;
}

std::string TfSpotClr::LoadPath() const {
    return FileExists(MapPath()) ? MapPath() : ShippedFolder + TSpotColorMap::kFileName;
}

bool TfSpotClr::MakeFolder() const {
    return ForceDirectories(Folder);
}

} // namespace raduvuz
