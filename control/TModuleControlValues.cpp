// Numbered module values (GetValue / SetValue). A value that cannot be converted to the type its
// number needs, or that lies outside what the setting means, raises before anything changes, so
// the field keeps its old value.

#include "common/CommaText.h"
#include "common/Language.h"
#include "common/Utils.h"
#include "control/IModuleView.h"
#include "control/SettingRules.h"
#include "control/TModuleControl.h"
#include "jobs/TJobListModel.h"
#include "platform/System.h"
#include "platform/Uninstall.h"

#include <cstdio>

namespace raduvuz {

TVariant TModuleControl::GetValue(int32_t Num) {
    switch (Num) {
    case 0:
        return Status;
    case 1:
        return ParkedValue;
    case 2:
        return Description;
    case 3:
        return Started;
    case 4:
        return GetInParams();
    case 5:
        return GetOutParams();
    case 6:
        return Paused;
    case 20:
        return int32_t{1};
    case 51:
        return StoreDir;
    case 52:
        return WorkMode;
    case 53:
        return DeletePolicy;
    case 54:
        return KeepTime;
    case 55: {
        std::vector<std::string> names;
        for (const TTaggedString& term : TermNames)
            names.push_back(term.Text);
        return WriteCommaText(names);
    }
    case 56:
        return HeldTerminatorPositions();
    case 57:
        return LastInTop;
    case 58:
        return Multiplex;
    case 59:
        return WriteRealPoint(FreeSpace);
    case 60:
        return Copies;
    case 61:
        return GenPreview;
    case 62:
        return Event;
    case 63:
        return MaxFiles;
    case 1000:
    case 1001:
        return int32_t{-1};
    case 1002:
        return false;
    case 1003:
        return true;
    case 1004:
        return Process.ServerValue1004;
    default:
        return TNull{};
    }
}

void TModuleControl::SetValue(int32_t Num, const TVariant& Value) {
    switch (Num) {
    case 0:
        Status = VariantToInt(Value);
        break;
    case 1:
        ParkedValue = VariantToInt(Value);
        break;
    case 2:
        Rename(VariantToText(Value));
        break;
    case 3:
        Started = VariantToInt(Value);
        break;
    case 4:
        InParams = VariantToText(Value);
        break;
    case 5:
        OutParams = VariantToText(Value);
        break;
    case 6:
        if (VariantToBool(Value))
            Pause();
        else
            Resume();
        break;
    case 51: {
        const std::string folder = VariantToText(Value);
        RequireStorageFolder("Value", folder);
        MoveStoreDir(folder);
        break;
    }
    case 52:
        WorkMode = RequireInRange("Value", kWorkModeRange, VariantToInt(Value));
        break;
    case 53:
        DeletePolicy = RequireInRange("Value", kDeletePolicyRange, VariantToInt(Value));
        break;
    case 54:
        KeepTime = RequireInRange("Value", kKeepTimeRange, VariantToInt(Value));
        break;
    case 56:
        SetHeldTerminatorPositions(VariantToText(Value));
        break;
    case 57:
        SetLastInTop(VariantToBool(Value));
        break;
    case 58:
        Multiplex = VariantToBool(Value);
        Process.ServerObject.SetValue(ModuleNumber, 1010, Multiplex);
        break;
    case 59:
        FreeSpace = RequireFreeSpace("Value", VariantToText(Value));
        break;
    case 60:
        Copies = RequireInRange("Value", kCopiesRange, VariantToInt(Value));
        break;
    case 61:
        GenPreview = VariantToBool(Value);
        break;
    case 62:
        Event = VariantToBool(Value);
        break;
    case 63:
        MaxFiles = RequireInRange("Value", kMaxFilesRange, VariantToInt(Value));
        break;
    case 1004:
        Process.ServerValue1004 = VariantToInt(Value);
        break;
    default:
        break;
    }
}

void TModuleControl::Rename(const std::string& description) {
    Description = description;
    View().SetCaption(Description);
    View().SetToolbarCaption(Description + " " + LanguageText(1737, "toolbar"));
    View().SetTrayTip(Description);
}

void TModuleControl::MoveStoreDir(const std::string& folder) {
    if (folder == StoreDir)
        return;
    const bool wasPaused = Paused;
    Paused = true;
    if (DirectoryExists(JobDir)) {
        const std::string target = folder + "/" + ConfigKey;
        // A move that fails leaves the old folder where it was and starts an empty one.
        if (std::rename(JobDir.c_str(), target.c_str()) != 0)
            ForceDirectories(target);
        RegisterForUninstall(Process.ProgramFolder, folder, 1);
        StoreDir = folder;
        JobDir = StoreDir + "/" + ConfigKey;
    }
    Paused = wasPaused;
}

// Hold-list entries loaded from a configuration string carry no terminator number (0); they are
// matched by number like the others, as the server gives positions of numbered terminators.
std::string TModuleControl::HeldTerminatorPositions() const {
    std::string text;
    for (const TTaggedString& held : HoldList) {
        for (size_t i = 0; i < TermNames.size(); ++i) {
            if (TermNames[i].Tag == held.Tag) {
                if (!text.empty())
                    text += ",";
                text += std::to_string(i);
                break;
            }
        }
    }
    return text;
}

void TModuleControl::SetHeldTerminatorPositions(const std::string& positions) {
    HoldList.clear();
    for (const std::string& item : ReadCommaText(positions)) {
        const int32_t p = StrToIntDef(item, -1);
        if (p >= 0 && static_cast<size_t>(p) < TermKeys.size())
            HoldList.push_back(TermKeys[static_cast<size_t>(p)]);
    }
}

void TModuleControl::SetLastInTop(bool value) {
    if (value == LastInTop)
        return;
    LastInTop = value;
    const bool descending = LastInTop;
    JobRows.Passed().Sort([descending](const TListRow& a, const TListRow& b) {
        const int32_t jobA = StrToIntDef(a.Caption, 0);
        const int32_t jobB = StrToIntDef(b.Caption, 0);
        const auto docOf = [](const TListRow& row) {
            return row.SubItems.size() > siDocID ? StrToIntDef(row.SubItems[siDocID], 0) : 0;
        };
        const int32_t docA = docOf(a);
        const int32_t docB = docOf(b);
        if (jobA != jobB)
            return descending ? jobA > jobB : jobA < jobB;
        return descending ? docA > docB : docA < docB;
    });
}

} // namespace raduvuz
