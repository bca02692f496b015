// The module's settings: the configuration string in the .set compound file of each
// configuration key, and its portable hexadecimal form for export and import.

#include "common/CommaText.h"
#include "common/Language.h"
#include "common/TParams.h"
#include "common/TTwfPaths.h"
#include "common/Utils.h"
#include "control/IModuleView.h"
#include "control/SettingRules.h"
#include "control/TModuleControl.h"
#include "platform/System.h"
#include "platform/TCompoundFile.h"
#include "platform/Uninstall.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <exception>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz {

namespace {

// Two digits after the point and "." whatever the locale.
std::string FixedTwoDigits(double value) {
    // Room for the largest double written out in full: 309 digits, a sign, the point and two.
    std::array<char, 320> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, 2);
    if (result.ec != std::errc())
        return "0.00";
    return std::string(buffer.data(), result.ptr);
}

std::string Flag(bool value) {
    return value ? "1" : "0";
}

std::vector<std::string> Texts(const TTaggedList& list) {
    std::vector<std::string> texts;
    texts.reserve(list.size());
    for (const TTaggedString& entry : list)
        texts.push_back(entry.Text);
    return texts;
}

void ReadInteger(const TParams& params, const char* key, int32_t def, int32_t& field) {
    const std::string value = params.GetItem(key, 0);
    if (!value.empty())
        field = StrToIntDef(value, def);
}

// The first free name beside path for a damaged copy: path.damaged, then path.damaged.2, ...
std::string DamagedName(const std::string& path) {
    std::string name = path + ".damaged";
    for (int n = 2; FileExists(name) || DirectoryExists(name); ++n)
        name = path + ".damaged." + std::to_string(n);
    return name;
}

// Moves a damaged file aside so that no later save overwrites it; its new name, or empty when it
// could not be moved.
std::string KeepDamaged(const std::string& path) {
    const std::string kept = DamagedName(path);
    return std::rename(path.c_str(), kept.c_str()) == 0 ? kept : std::string();
}

// The damaged copy of the .set at path that was set aside last; empty when there is none.
std::string NewestDamagedCopy(const std::string& path) {
    std::string newest;
    int64_t newestTime = -1;
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    const std::string set = path.substr(folder.size());
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            struct stat info {};
            if (name.rfind(set + ".damaged", 0) != 0 ||
                ::stat((folder + name).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
                continue;
            const int64_t time =
                static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
            if (time > newestTime) {
                newestTime = time;
                newest = folder + name;
            }
        }
        ::closedir(dir);
    }
    return newest;
}

// Damaged copies of a .set kept for the operator; older ones go.
constexpr size_t kKeptDamagedConfigs = 3;

// Whether name is "<base>.tmp<pid>_<n>", a temporary file of a save, by a process that has
// ended (a living one may be writing it now).
bool StaleTemporary(const std::string& name, const std::string& base) {
    const std::string prefix = base + ".tmp";
    if (name.rfind(prefix, 0) != 0)
        return false;
    const std::string rest = name.substr(prefix.size());
    const size_t underscore = rest.find('_');
    const std::string digits = rest.substr(0, underscore);
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const pid_t pid = static_cast<pid_t>(std::stol(digits));
    return pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH;
}

bool IsDamagedCopy(const std::string& name, const std::string& set) {
    return name == set + ".damaged" || name.rfind(set + ".damaged.", 0) == 0;
}

} // namespace

std::string TModuleControl::SettingsText(const std::string& storeDir, int32_t lastPrvDpi) const {
    std::string text = "StoreDir=\"" + storeDir + "\";";
    text += "DeletePolicy=" + std::to_string(DeletePolicy) + ";";
    text += "KeepTime=" + std::to_string(KeepTime) + ";";
    text += "WorkMode=" + std::to_string(WorkMode) + ";";
    text += "Copies=" + std::to_string(Copies) + ";";
    text += "LastPrvDpi=" + std::to_string(lastPrvDpi) + ";";
    text += "MaxFiles=" + std::to_string(MaxFiles) + ";";
    text += "FreeSpace=" + FixedTwoDigits(FreeSpace);
    text += ";LastInTop=" + Flag(LastInTop);
    text += ";Multiplex=" + Flag(Multiplex);
    text += ";GenPreview=" + Flag(GenPreview);
    text += ";Event=" + Flag(Event);
    return text;
}

void TModuleControl::CleanConfigLeftovers() {
    const std::string path = ConfigFilePath();
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    const std::string set = ConfigKey + ".set";
    const std::string hold = ConfigKey + ".hld";
    std::vector<std::string> temporaries;
    std::vector<std::pair<int64_t, std::string>> damaged;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (StaleTemporary(name, set) || StaleTemporary(name, hold)) {
                temporaries.push_back(name);
            } else if (IsDamagedCopy(name, set)) {
                struct stat info {};
                if (::stat((folder + name).c_str(), &info) == 0 && S_ISREG(info.st_mode))
                    damaged.emplace_back(static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                                             info.st_mtim.tv_nsec,
                                         name);
            }
        }
        ::closedir(dir);
    }
    std::vector<std::string> removed;
    for (const std::string& name : temporaries)
        if (::unlink((folder + name).c_str()) == 0)
            removed.push_back(name);
    if (!removed.empty())
        Log("Configuration " + ConfigKey + ": removed the temporary files of saves that did not " +
            "end (" + WriteCommaText(removed) + " in " + folder + ")");
    if (damaged.size() <= kKeptDamagedConfigs)
        return;
    // Newest first; the same time orders by name, so that .damaged.10 counts as newer than .9.
    std::sort(damaged.begin(), damaged.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first)
            return a.first > b.first;
        return a.second.size() != b.second.size() ? a.second.size() > b.second.size()
                                                  : a.second > b.second;
    });
    removed.clear();
    for (size_t i = kKeptDamagedConfigs; i < damaged.size(); ++i)
        if (::unlink((folder + damaged[i].second).c_str()) == 0)
            removed.push_back(damaged[i].second);
    if (!removed.empty())
        Log("Configuration " + ConfigKey + ": removed the older damaged copies " +
            WriteCommaText(removed) + " in " + folder + "; the newest " +
            std::to_string(kKeptDamagedConfigs) + " are kept");
}

std::string TModuleControl::ConfigString() const {
    return SettingsText(StoreDir, Process.LastPrvDpi) + ";HoldJobs=" + WriteCommaText(HoldJobs) +
           ";HoldList=" + WriteCommaText(Texts(HoldList));
}

void TModuleControl::LogRefusedSetting(const std::string& problem, const std::string& kept) {
    LogFailure("Configuration " + ConfigKey + ": " + problem + "; " + kept);
}

void TModuleControl::ApplyInteger(const TParams& params, const TSettingRange& range, int32_t def,
                                  int32_t& field) {
    const std::string text = params.GetItem(range.Name, 0);
    if (text.empty())
        return;
    const int32_t value = StrToIntDef(text, def);
    const std::string problem = RangeProblem(range, value);
    if (problem.empty())
        field = value;
    else
        LogRefusedSetting(problem, std::string(range.Name) + " stays " + std::to_string(field));
}

void TModuleControl::ApplyConfig(TParams& params, bool withHeldJobs) {
    ApplyInteger(params, kDeletePolicyRange, 1, DeletePolicy);
    ApplyInteger(params, kKeepTimeRange, 1440, KeepTime);
    ApplyInteger(params, kWorkModeRange, 0, WorkMode);
    ApplyInteger(params, kCopiesRange, 0, Copies);
    ReadInteger(params, "LastPrvDpi", 0, Process.LastPrvDpi);

    const std::string freeSpace = params.GetItem("FreeSpace", 0);
    if (!freeSpace.empty()) {
        const double value = ReadRealPoint(freeSpace, 0.0);
        const std::string problem = FreeSpaceProblem(value);
        if (problem.empty())
            FreeSpace = value;
        else
            LogRefusedSetting(problem, "FreeSpace stays " + WriteRealPoint(FreeSpace));
    }

    // Only the numbered value re-sorts the passed jobs; a loaded or imported flag orders the rows
    // that come from now on.
    const std::string lastInTop = params.GetItem("LastInTop", 0);
    if (!lastInTop.empty())
        LastInTop = StrToIntDef(lastInTop, 1) == 1;
    const std::string multiplex = params.GetItem("Multiplex", 0);
    if (!multiplex.empty())
        Multiplex = StrToIntDef(multiplex, 1) == 1;

    // A limit in force once is not carried into the next start.
    MaxFiles = 0;

    GenPreview = params.GetItem("GenPreview", 0) != "0";
    Event = params.GetItem("Event", 0) != "0";

    HoldList.clear();
    for (const std::string& key : ListWithinLimit(params, "HoldList"))
        HoldList.push_back({key, 0});
    if (withHeldJobs)
        HoldJobs = ListWithinLimit(params, "HoldJobs");

    if (Multiplex)
        TellServer("that the module multiplexes",
                   [&] { Process.ServerObject.SetValue(ModuleNumber, 1010, true); });
}

std::vector<std::string> TModuleControl::ListWithinLimit(TParams& params, const char* key) {
    std::vector<std::string> items;
    const TParams::TValueList* list = params.GetList(key);
    if (!list)
        return items;
    for (const std::string& item : *list) {
        if (item.size() <= kMaxTextBytes)
            items.push_back(item);
        else
            LogRefusedSetting("an item of " + std::string(key) + " is " +
                                  std::to_string(item.size()) + " bytes long",
                              "it is left out");
    }
    return items;
}

void TModuleControl::ApplyStoreDir(const std::string& folder) {
    const std::string problem = folder.size() > kMaxTextBytes
                                    ? std::to_string(folder.size()) + " bytes long"
                                    : StorageFolderProblem(folder);
    if (problem.empty())
        StoreDir = folder;
    else
        LogRefusedSetting("StoreDir " + problem, "StoreDir stays " + StoreDir);
}

void TModuleControl::ConfigLoadFailed(const std::string& path, const std::string& why,
                                      bool damaged) {
    std::string text = "Can not load module configuration (" + why + "; file " + path + ")";
    ConfigNotLoaded = "its configuration " + path + " was not loaded (" + why + ")";
    if (damaged) {
        const std::string kept = KeepDamaged(path);
        text += kept.empty()
                    ? "; the damaged file could not be moved aside (" + LastErrorText() + ")"
                    : "; the file is kept as " + kept;
        CleanConfigLeftovers();
    }
    StopForConfiguration(text + "; the settings stay as they were");
}

void TModuleControl::ConfigSaveFailed(const std::string& path, const std::string& why) {
    StopForConfiguration(LanguageText(1738, "Can not save module configuration") + " (" + why +
                         "; file " + path + ")");
    throw TDispatchError(kUnexpectedError, ErrorMessage);
}

void TModuleControl::StopForConfiguration(const std::string& text) {
    Paused = true;
    Status = -1;
    ErrorMessage = text;
    LogFailure(text);
    TellServer("the status -1 of the configuration",
               [&] { Process.ServerObject.ChangeStatus(ModuleNumber, Paused, Status); });
}

void TModuleControl::SetJobDir() {
    JobDir = StoreDir + "/" + ConfigKey;
    if (!DirectoryExists(JobDir)) {
        if (!ForceDirectories(JobDir))
            LogFailure("Cannot make the job folder (" + LastErrorText() + "; folder " + JobDir +
                       ")");
        RegisterForUninstall(Process.ProgramFolder, JobDir, 1);
    }
}

void TModuleControl::LoadConfig(const std::string& Key) {
    RequirePlainName("Key", Key);
    ConfigKey = Key;
    const std::string path = ConfigFilePath();
    View().SetLayoutFile(path);
    CleanConfigLeftovers();
    ConfigNotLoaded.clear();
    bool loaded = false;
    {
        TCompoundFile storage;
        if (storage.OpenRead(path)) {
            View().LoadLayout(storage);
            if (std::optional<std::string> text = storage.ReadCountedText(Key)) {
                loaded = true;
                TParams params(*text);
                const std::string storeDir = params.GetItem("StoreDir", 0);
                if (!storeDir.empty())
                    ApplyStoreDir(storeDir);
                ApplyConfig(params, true);
            } else if (storage.HasStream(Key)) {
                storage.Close();
                ConfigLoadFailed(path, "the stream " + Key + " is shorter than its count says",
                                 true);
            }
        } else if (storage.Status() != TCompoundFile::TStatus::Missing) {
            // A file in use or without read permission is not damaged; it stays where it is.
            ConfigLoadFailed(path, storage.ErrorText(),
                             storage.Status() == TCompoundFile::TStatus::NotCompound);
        }
    }
    // A file set aside as damaged at an earlier start, and no settings saved since (no file, or
    // one with only the window layout): the defaults are not what the workflow gave this module.
    if (!loaded && ConfigNotLoaded.empty()) {
        if (const std::string kept = NewestDamagedCopy(path); !kept.empty()) {
            ConfigNotLoaded = "its configuration " + path + " holds no settings and the damaged " +
                              "copy " + kept + " is kept in its place";
            StopForConfiguration("Can not load module configuration (no settings since the "
                                 "damaged copy " +
                                 kept + " was set aside; file " + path + ")");
        }
    }
    SetJobDir();
}

void TModuleControl::SaveConfig(const std::string& Key) {
    if (Key.empty()) {
        const std::string key = Process.ServerObject.GetConfigKey(ModuleNumber);
        if (!IsPlainName(key))
            throw TDispatchError(kUnexpectedError, "The server's configuration key \"" + key +
                                                       "\" is not a plain name; the key stays \"" +
                                                       ConfigKey + "\"");
        ConfigKey = key;
        View().SetLayoutFile(ConfigFilePath());
        return;
    }
    RequirePlainName("Key", Key);
    ConfigKey = Key;
    const std::string path = ConfigFilePath();
    View().SetLayoutFile(path);
    if (!ForceDirectories(path.substr(0, path.rfind('/'))))
        ConfigSaveFailed(path, "the Config folder cannot be made: " + LastErrorText());
    TCompoundFile storage;
    bool open = storage.OpenOrCreate(path);
    if (!open && storage.Status() == TCompoundFile::TStatus::NotCompound) {
        // A damaged file is kept for the operator, and a new one takes its place.
        const std::string kept = KeepDamaged(path);
        if (kept.empty())
            ConfigSaveFailed(path, "the damaged file in the way cannot be moved aside: " +
                                       LastErrorText());
        LogFailure("Damaged module configuration (" + storage.ErrorText() + "; file " + path +
                   ") kept as " + kept);
        open = storage.Create(path);
    }
    if (!open)
        ConfigSaveFailed(path, storage.ErrorText());
    if (!storage.WriteCountedText(Key, ConfigString()))
        ConfigSaveFailed(path, storage.ErrorText());
    // The settings saved are the module's configuration from now on.
    ConfigNotLoaded.clear();
}

std::string TModuleControl::ExportConfig() {
    // $MAINTWFDIR$ names the folder of the default storage: the program folder, or for an
    // installed program the user's folder, so that a default storage stays one when imported.
    const TTwfPaths paths(Process.DefaultsFolder(), DataPath());
    std::string text = SettingsText(paths.CollapseToMacros(StoreDir), Process.LastPrvDpi);
    if (!HoldList.empty())
        text += ";HoldList=" + WriteCommaText(Texts(HoldList));
    std::string hex = HexEncode(text);
    if (hex.size() > 65500)
        return std::string();
    return hex;
}

int32_t TModuleControl::ImportConfig(const std::string& Key, const std::string& ConfigStr,
                                     int32_t) {
    RequirePlainName("Key", Key);
    ConfigKey = Key;
    View().SetLayoutFile(ConfigFilePath());
    TParams params(HexDecode(ConfigStr));
    const std::string storeDir = params.GetItem("StoreDir", 0);
    if (!storeDir.empty()) {
        const TTwfPaths paths(Process.DefaultsFolder(), DataPath());
        bool hadMacro = false;
        const std::string folder = paths.ExpandMacros(storeDir, &hadMacro);
        if (IsAbsoluteFolder(folder) && !hadMacro && !DirectoryExists(folder)) {
            Log("Import warning: Can not find folder " + folder +
                ". Set queuer storage folder to default");
            StoreDir = Process.DefaultsFolder() + "Storage";
        } else {
            ApplyStoreDir(folder);
        }
    }
    ApplyConfig(params, false);
    ConfigNotLoaded.clear();
    SetJobDir();
    return 0;
}

} // namespace raduvuz
