#include "common/TParams.h"
#include "common/TTwfPaths.h"
#include "common/Utils.h"
#include "control/SettingRules.h"
#include "control/TModuleControl.h"
#include "platform/System.h"
#include "platform/TCompoundFile.h"
#include "platform/WholeFile.h"
#include "tests/fuzz_common/FuzzCheck.h"
#include "tests/support/FakeWindow.h"
#include "tests/support/ModuleInside.h"

#include <glib.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <unistd.h>

using namespace raduvuz;

namespace {

// Everything the module makes stays in a folder of its own in memory (/dev/shm when there).
struct TSandbox {
    std::string Root;
    std::string Program;
    std::string ConfigFolder;
    TSandbox() {
        // libgsf warns about every damaged file it reads; a fuzz run reads little else.
        g_log_set_default_handler([](const gchar*, GLogLevelFlags, const gchar*, gpointer) {},
                                  nullptr);
        const std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string pattern = base + "/raduvuz-fuzz-config-XXXXXX";
        Check(::mkdtemp(pattern.data()) != nullptr);
        Root = pattern;
        Program = Root + "/prog/";
        ::setenv("XDG_DATA_HOME", (Root + "/xdg").c_str(), 1);
        ::setenv("RADUVUZ_REGISTRY", (Root + "/registry.ini").c_str(), 1);
        ConfigFolder = Root + "/xdg/TWF_Data/Config";
        std::filesystem::create_directories(ConfigFolder);
        std::filesystem::create_directories(Program);
    }
    ~TSandbox() {
        std::error_code ignored;
        std::filesystem::remove_all(Root, ignored);
    }
    // A folder the module may make: below the sandbox, without a way up.
    bool Inside(const std::string& folder) const {
        return folder.empty() ||
               (folder.rfind(Root + "/", 0) == 0 && folder.find("..") == std::string::npos);
    }
    void Clear() const {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(Root, ignored)) {
            if (entry.path().filename() != "xdg" && entry.path().filename() != "prog")
                std::filesystem::remove_all(entry.path(), ignored);
        }
        std::filesystem::remove_all(ConfigFolder, ignored);
        std::filesystem::create_directories(ConfigFolder, ignored);
    }
};

TSandbox& Sandbox() {
    static TSandbox sandbox;
    return sandbox;
}

// The module's settings that a configuration carries; equal after a save and a load, all but
// FreeSpace, of which the file keeps two digits after the point.
auto Settings(const TModuleControl& m) {
    const auto in = Inside(m);
    std::vector<std::string> holdList;
    for (const TTaggedString& entry : m.GetHoldList())
        holdList.push_back(entry.Text);
    return std::tuple(in.StoreDir, in.DeletePolicy, in.KeepTime, in.WorkMode, in.Copies,
                      in.LastInTop, in.Multiplex, in.GenPreview, in.Event, in.HoldJobs, holdList);
}

// What the module takes is what its settings mean, whatever the file said.
void CheckBounds(const TModuleControl& m) {
    Check(RangeProblem(kDeletePolicyRange, Inside(m).DeletePolicy).empty());
    Check(RangeProblem(kWorkModeRange, Inside(m).WorkMode).empty());
    Check(RangeProblem(kKeepTimeRange, Inside(m).KeepTime).empty());
    Check(RangeProblem(kCopiesRange, Inside(m).Copies).empty());
    Check(FreeSpaceProblem(Inside(m).FreeSpace).empty());
    Check(Inside(m).MaxFiles == 0);
    Check(StorageFolderProblem(Inside(m).StoreDir).empty() &&
          Inside(m).StoreDir.size() <= kMaxTextBytes);
    Check(m.GetJobDir() == Inside(m).StoreDir + "/K");
}

// The storage folder a configuration text would give, as LoadConfig or ImportConfig reads it.
std::string StoreDirOf(const std::string& text, bool imported) {
    const std::string folder = TParams(text).GetItem("StoreDir", 0);
    if (!imported || folder.empty())
        return folder;
    const TSandbox& box = Sandbox();
    return TTwfPaths(box.Program, box.Root + "/xdg/TWF_Data").ExpandMacros(folder);
}

} // namespace

// The first byte chooses how the rest reaches the module: as the bytes of its .set file, as the
// configuration string in a well-formed .set file, or as the text of ImportConfig (as it comes,
// or hex-encoded). Whatever it holds, the module keeps settings that mean something, a damaged
// file is moved aside and reported, and what it then saves loads back to the same settings.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const TSandbox& box = Sandbox();
    box.Clear();
    const int mode = data[0] % 4;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string setFile = box.ConfigFolder + "/K.set";

    std::string configText;
    if (mode == 0) {
        Check(WriteWholeFile(setFile, rest));
        TCompoundFile storage;
        if (storage.OpenRead(setFile))
            configText = storage.ReadCountedText("K").value_or("");
    } else if (mode == 1) {
        TCompoundFile storage;
        Check(storage.Create(setFile));
        Check(storage.WriteCountedText("K", rest));
        configText = rest;
    } else {
        configText = mode == 2 ? HexDecode(rest) : rest;
    }
    // The module makes its job folder wherever the configuration says; here only inside.
    if (!box.Inside(StoreDirOf(configText, mode >= 2)))
        return 0;

    TModuleProcess process;
    process.ProgramFolder = box.Program;
    test::TFakeWindow window;
    TModuleControl module(process, window, &window);
    Inside(module).StoreDir = box.Program + "Storage";
    if (mode >= 2)
        Check(module.ImportConfig("K", mode == 2 ? rest : HexEncode(rest), 0) == 0);
    else
        module.LoadConfig("K");
    CheckBounds(module);
    // A folder the file system cannot make (a name too long) is said in the log.
    Check(DirectoryExists(module.GetJobDir()) ||
          (!window.LogLines.empty() &&
           window.LogLines.back().find(": Cannot make the job folder (") != std::string::npos));
    if (module.GetStatus() == -1) {
        // Reported, and damage is kept beside for the operator, never in the way of a save.
        Check(module.IsPaused());
        Check(module.GetErrorMessage().rfind("Can not load module configuration (", 0) == 0);
        Check(!FileExists(setFile) && FileExists(setFile + ".damaged"));
    }

    module.SaveConfig("K");
    TModuleControl reloaded(process, window, &window);
    reloaded.LoadConfig("K");
    Check(reloaded.GetStatus() == 1);
    CheckBounds(reloaded);
    Check(Settings(reloaded) == Settings(module));
    Check(std::fabs(Inside(reloaded).FreeSpace - Inside(module).FreeSpace) <= 0.00501);
    return 0;
}
