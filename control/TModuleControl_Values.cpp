// Numbered module values (GetValue / SetValue). A value that cannot be converted to the type its
// number needs, or that lies outside what the setting means, raises before anything changes, so
// the field keeps its old value.

#include "common/CommaText.h"
#include "common/Language.h"
#include "common/Utils.h"
#include "control/IModuleView.h"
#include "control/SettingRules.h"
#include "control/TModuleControl.h"
#include "jobs/TDoc.h"
#include "jobs/TJobListModel.h"
#include "platform/FolderMove.h"
#include "platform/System.h"
#include "platform/Uninstall.h"
#include "platform/WholeFile.h"

#include <cerrno>
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
    // Without a job folder there is nothing to move, and the setting stays as it was.
    if (!DirectoryExists(JobDir))
        return;
    const bool wasPaused = Paused;
    Paused = true;
    struct TRestore {
        bool& Flag;
        bool Value;
        ~TRestore() { Flag = Value; }
    } restore{Paused, wasPaused};

    const std::string from = JobDir;
    const std::string target = folder + "/" + ConfigKey;
    // A move that cannot be made whole leaves every job where it was, and says why.
    const auto refuse = [&](const std::string& why) {
        const std::string line = "Cannot move the storage folder from " + StoreDir + " to " +
                                 folder + " (" + why + "); the jobs stay in " + from;
        LogFailure(line);
        throw TDispatchError(kUnexpectedError, line);
    };
    if (!ForceDirectories(folder))
        refuse("cannot make the folder: " + LastErrorText());
    std::string how = "renamed";
    bool copied = false;
    std::string why;
    if (std::rename(from.c_str(), target.c_str()) != 0) {
        if (errno != EXDEV)
            refuse("cannot rename " + from + " to " + target + ": " + LastErrorText());
        // Another file system: the files are copied and checked before the old ones go. A job
        // that writes or reads its spool file would go on with the old one.
        std::string busy;
        for (const TDoc* job : Jobs) {
            if (job->State() != TJobState::Waiting && job->HasSpoolFile())
                busy += (busy.empty() ? "" : ", ") + job->JobText();
        }
        if (!busy.empty())
            refuse("it is on another file system, and these jobs are being spooled or sent "
                   "from it: " +
                   busy + "; try again when they are done");
        if (!CopyFolderAcross(from, target, &why))
            refuse("the copy to another file system failed: " + why);
        how = "copied to another file system, flushed and checked";
        copied = true;
    } else if (!FlushFolder(folder, &why)) {
        LogFailure("The storage folder " + folder + " could not be flushed to the disk (" + why +
                   ")");
    }
    const std::string oldStore = StoreDir;
    RegisterForUninstall(Process.ProgramFolder, folder, 1);
    StoreDir = folder;
    JobDir = target;
    Log("The storage folder moved from " + oldStore + " to " + folder + ": the job folder " + from +
        " (spool files, the journal of waiting jobs and damaged/) was " + how + " to " + target);
    if (copied && !RemoveFolderTree(from, &why))
        LogFailure("The old job folder " + from + " could not be deleted after the move (" + why +
                   "); its jobs are in " + target + ", delete it by hand");
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
