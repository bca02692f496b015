#pragma once

#include "control/TSpotColorMap.h"

#include <QWidget>

#include <string>
#include <string_view>

namespace raduvuz {

// Holds the spot colour map of the process; its window is never shown. The map lives in the
// file ColorsCMYK.map of its folder, the program folder unless a test gives another.
class TfSpotClr : public QWidget {
    Q_OBJECT

public:
    explicit TfSpotClr(QWidget* parent = nullptr, std::string folder = {});

    std::string MapPath() const;
    std::string BackupPath() const;
    int FindColor(std::string_view name) const { return SpotMap.FindColor(name); }
    void FreeSpotMap() { SpotMap.Clear(); }

    TSpotColorMap SpotMap;

private:
    std::string Folder;
};

} // namespace raduvuz
