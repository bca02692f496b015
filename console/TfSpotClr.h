#pragma once

#include "control/TSpotColorMap.h"

#include <QWidget>

#include <string>
#include <string_view>

namespace raduvuz {

// Holds the spot colour map of the process; its window is never shown. The map lives in the
// file ColorsCMYK.map of its folder: unless a test gives one, the program folder when the
// program may write there, else the user's own folder (UserProgramFolder), whose map starts as
// a copy of the one shipped in the program folder.
class TfSpotClr : public QWidget {
    Q_OBJECT

public:
    explicit TfSpotClr(QWidget* parent = nullptr, std::string folder = {});

    // Where the map is saved, and its previous version.
    std::string MapPath() const;
    std::string BackupPath() const;
    // Where the map is read from: MapPath once it exists, else the shipped map.
    std::string LoadPath() const;
    // Makes the folder of MapPath when it is missing; false when it cannot.
    bool MakeFolder() const;
    int FindColor(std::string_view name) const { return SpotMap.FindColor(name); }
    void FreeSpotMap() { SpotMap.Clear(); }

    TSpotColorMap SpotMap;

private:
    std::string Folder;
    std::string ShippedFolder;
};

} // namespace raduvuz
