// The module's settings: the configuration string in the .set compound file of each
// configuration key, and its portable hexadecimal form for export and import.

#include "common/CommaText.h"
#include "common/Language.h"
#include "common/TParams.h"
#include "common/TTwfPaths.h"
#include "common/Utils.h"
#include "control/IModuleWindow.h"
#include "control/TModuleControl.h"
#include "platform/System.h"
#include "platform/TCompoundFile.h"
#include "platform/Uninstall.h"

#include <array>
#include <charconv>
#include <exception>

namespace raduvuz {

namespace {

// Two digits after the point and "." whatever the locale.
std::string FixedTwoDigits(double value) {
    std::array<char, 64> buffer{};
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

// The settings up to and including Event, shared by the saved and the exported form.
std::string SettingsText(const TModuleControl& module, const std::string& storeDir,
                         int32_t lastPrvDpi) {
    std::string text = "StoreDir=\"" + storeDir + "\";";
    text += "DeletePolicy=" + std::to_string(module.DeletePolicy) + ";";
    text += "KeepTime=" + std::to_string(module.KeepTime) + ";";
    text += "WorkMode=" + std::to_string(module.WorkMode) + ";";
    text += "Copies=" + std::to_string(module.Copies) + ";";
    text += "LastPrvDpi=" + std::to_string(lastPrvDpi) + ";";
    text += "MaxFiles=" + std::to_string(module.MaxFiles) + ";";
    text += "FreeSpace=" + FixedTwoDigits(module.FreeSpace);
    text += ";LastInTop=" + Flag(module.LastInTop);
    text += ";Multiplex=" + Flag(module.Multiplex);
    text += ";GenPreview=" + Flag(module.GenPreview);
    text += ";Event=" + Flag(module.Event);
    return text;
}

void ReadInteger(const TParams& params, const char* key, int32_t def, int32_t& field) {
    const std::string value = params.GetItem(key, 0);
    if (!value.empty())
        field = StrToIntDef(value, def);
}

} // namespace

std::string TModuleControl::ConfigString() const {
    return SettingsText(*this, StoreDir, Process.LastPrvDpi) +
           ";HoldJobs=" + WriteCommaText(HoldJobs) + ";HoldList=" + WriteCommaText(Texts(HoldList));
}

void TModuleControl::ApplyConfig(TParams& params, bool withHeldJobs) {
    ReadInteger(params, "DeletePolicy", 1, DeletePolicy);
    ReadInteger(params, "KeepTime", 1440, KeepTime);
    ReadInteger(params, "WorkMode", 0, WorkMode);
    ReadInteger(params, "Copies", 0, Copies);
    ReadInteger(params, "LastPrvDpi", 0, Process.LastPrvDpi);

    const std::string freeSpace = params.GetItem("FreeSpace", 0);
    if (!freeSpace.empty())
        FreeSpace = ReadRealPoint(freeSpace, 0.0);

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
    if (const TParams::TValueList* held = params.GetList("HoldList")) {
        for (const std::string& key : *held)
            HoldList.push_back({key, 0});
    }
    if (withHeldJobs) {
        HoldJobs.clear();
        if (const TParams::TValueList* held = params.GetList("HoldJobs"))
            HoldJobs = *held;
    }

    if (Multiplex) {
        try {
            Process.ServerObject.SetValue(ModuleNumber, 1010, true);
        } catch (const std::exception&) {
        }
    }
}

void TModuleControl::SetJobDir() {
    JobDir = StoreDir + "/" + ConfigKey;
    if (!DirectoryExists(JobDir)) {
        ForceDirectories(JobDir);
        RegisterForUninstall(Process.ProgramFolder, JobDir, 1);
    }
}

void TModuleControl::LoadConfig(const std::string& Key) {
    ConfigKey = Key;
    MainWindow.SetLayoutFile(ConfigFilePath());
    {
        TCompoundFile storage;
        if (storage.OpenRead(ConfigFilePath())) {
            MainWindow.LoadLayout(storage);
            if (std::optional<std::string> text = storage.ReadCountedText(Key)) {
                TParams params(*text);
                const std::string storeDir = params.GetItem("StoreDir", 0);
                if (!storeDir.empty())
                    StoreDir = storeDir;
                ApplyConfig(params, true);
            }
        }
    }
    SetJobDir();
}

void TModuleControl::SaveConfig(const std::string& Key) {
    if (Key.empty()) {
        ConfigKey = Process.ServerObject.GetConfigKey(ModuleNumber);
        MainWindow.SetLayoutFile(ConfigFilePath());
        return;
    }
    ConfigKey = Key;
    MainWindow.SetLayoutFile(ConfigFilePath());
    const std::string path = ConfigFilePath();
    ForceDirectories(path.substr(0, path.rfind('/')));
    TCompoundFile storage;
    if (!storage.OpenOrCreate(path))
        return;
    if (!storage.WriteCountedText(Key, ConfigString())) {
        Paused = true;
        Status = -1;
        ErrorMessage = LanguageText(1738, "Can not save module configuration");
        try {
            Process.ServerObject.ChangeStatus(ModuleNumber, Paused, Status);
        } catch (const std::exception&) {
        }
    }
}

std::string TModuleControl::ExportConfig() {
    const TTwfPaths paths(Process.ProgramFolder, DataPath());
    std::string text = SettingsText(*this, paths.CollapseToMacros(StoreDir), Process.LastPrvDpi);
    if (!HoldList.empty())
        text += ";HoldList=" + WriteCommaText(Texts(HoldList));
    std::string hex = HexEncode(text);
    if (hex.size() > 65500)
        return std::string();
    return hex;
}

int32_t TModuleControl::ImportConfig(const std::string& Key, const std::string& ConfigStr,
                                     int32_t) {
    ConfigKey = Key;
    MainWindow.SetLayoutFile(ConfigFilePath());
    TParams params(HexDecode(ConfigStr));
    const std::string storeDir = params.GetItem("StoreDir", 0);
    if (!storeDir.empty()) {
        const TTwfPaths paths(Process.ProgramFolder, DataPath());
        bool hadMacro = false;
        StoreDir = paths.ExpandMacros(storeDir, &hadMacro);
        if (!hadMacro && !DirectoryExists(StoreDir)) {
            Log("Import warning: Can not find folder " + StoreDir +
                ". Set queuer storage folder to default");
            StoreDir = Process.ProgramFolder + "Storage";
        }
    }
    ApplyConfig(params, false);
    SetJobDir();
    return 0;
}

} // namespace raduvuz
