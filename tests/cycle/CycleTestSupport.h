#pragma once

#include "common/TParams.h"
#include "control/TModuleControl.h"
#include "jobs/SpoolFile.h"
#include "jobs/TDoc.h"
#include "jobs/TJobListModel.h"
#include "module/ModuleTestSupport.h"
#include "platform/System.h"
#include "platform/TCompoundFile.h"
#include "platform/TFileStream.h"
#include "services/Dispatch.h"
#include "support/FakeWindow.h"
#include "support/ModuleInside.h"
#include "support/RecordingLogSink.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace raduvuz::test {

// The document store of the main computer: RNextFindDoc answers from a queue (-1 once it is
// empty), the questions about a document from the tables; every call is recorded as
// "Method(arg,arg)".
class TScriptedStore : public TScriptedPeer {
public:
    std::deque<int32_t> NextDocs;
    std::map<int32_t, std::string> DDS;
    std::set<int32_t> DocsWaitingFor;
    int32_t OpenedJobID = -1;

    TScriptedStore()
        : TScriptedPeer({"IsMainComputer", "RNextFindDoc", "RGetDocDDS", "IsDocForExists",
                         "ROpenDoc", "RAbortDoc", "RCloseDoc", "RGetBlock", "RCloseBlock",
                         "RWSwitchBlock", "WCreateDoc", "WGetBlock", "WCloseBlock", "WAbortDoc",
                         "WCloseDoc"}) {
        Answers["IsMainComputer"] = TCallResult{true, {}};
        // The answer of each call, made before it is given.
        OnCall = [this](const std::string& method) {
            const std::vector<TVariant>& args = Args.back();
            if (method == "RNextFindDoc") {
                Answers[method] = TCallResult{NextDocs.empty() ? -1 : NextDocs.front(), {}};
                if (!NextDocs.empty())
                    NextDocs.pop_front();
            } else if (method == "RGetDocDDS") {
                Answers[method] = TCallResult{DDS[VariantToInt(args.at(0))], {}};
            } else if (method == "IsDocForExists") {
                Answers[method] =
                    TCallResult{DocsWaitingFor.count(VariantToInt(args.at(0))) > 0, {}};
            } else if (method == "ROpenDoc") {
                Answers[method] = TCallResult{DDS[VariantToInt(args.at(1))], {OpenedJobID}};
            }
        };
    }
};

// A clean folder per test holding the program folder, the data folder and the storage folder,
// and a module that talks to a recording server.
class TModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Root.empty());
        std::filesystem::create_directories(Root + "/prog");
        Process.ProgramFolder = Root + "/prog/";
        Process.LogSink = SystemLog;
        // The workflow server: a key when asked for one, and no job of its own in use.
        Server = MakeServer(::raduvuz::ComputerName(), Root + "/preview");
        Server->Answers["GetConfigKey"] = TCallResult{std::string("FromServer"), {}};
        Server->Answers["IsJobUse"] = TCallResult{false, {}};
        Process.ServerObject = TServerClient(Server);
        Module = std::make_unique<TModuleControl>(Process, Window, &Window);
        Inside(*Module).ModuleNumber = 7;
        Inside(*Module).StoreDir = Root + "/store";
    }

    // The job numbers of the passed list, in list order.
    std::string Rows() const {
        std::string text;
        for (int i = 0; i < Module->Rows().Passed().Count(); ++i)
            text += (i ? " " : "") + Module->Rows().Passed().At(i)->Caption;
        return text;
    }
    // The window's log lines without the time they end with.
    std::vector<std::string> Logged() const {
        std::vector<std::string> lines;
        for (const std::string& line : Window.LogLines)
            lines.push_back(line.substr(0, line.rfind(" at ")));
        return lines;
    }

    bool LogHas(const std::string& text) const {
        return std::any_of(
            Window.LogLines.begin(), Window.LogLines.end(),
            [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

    std::string ConfigFolder() const { return Root + "/xdg/TWF_Data/Config"; }
    std::string SetFile(const std::string& key) const {
        return ConfigFolder() + "/" + key + ".set";
    }

    TTempFolder Folder;
    std::string Root = Folder.Path();
    // Until the end of the test; the module goes first.
    TScopedEnv Registry{"RADUVUZ_REGISTRY", Root + "/registry.ini"};
    TScopedEnv Xdg{"XDG_DATA_HOME", Root + "/xdg"};
    TModuleProcess Process;
    TFakeWindow Window;
    std::shared_ptr<TRecordingLogSink> SystemLog = std::make_shared<TRecordingLogSink>();
    std::shared_ptr<TScriptedPeer> Server;
    std::unique_ptr<TModuleControl> Module;
};

// A current module with a job folder, the configuration key Q and two terminators, a scripted
// store, free space of the test's own, and the spool files the test writes into its job folder.
class TJobFolderTest : public TModuleTest {
protected:
    void SetUp() override {
        TModuleTest::SetUp();
        Process.StoreObject = TStoreClient(Store);
        Process.FreeSpaceKb = [this](const std::string&) { return FreeKb; };
        Process.GoEventName = "/raduvuz-cycle-test-no-event";
        Prepare(*Module);
    }
    void Prepare(TModuleControl& module) {
        Inside(module).Current = true;
        Inside(module).Event = false;
        Inside(module).ConfigKey = "Q";
        Inside(module).JobDir = Root + "/store/Q";
        ForceDirectories(module.GetJobDir());
        ForceDirectories(ConfigFolder());
        Inside(module).TermNames = {{"Proofer", 3}, {"Plate", 4}};
        Inside(module).TermKeys = {{"KP", 3}, {"KL", 4}};
    }

    // A spool file made on 1 January 2024 at noon with one block of 64 bytes (a pattern, so that
    // packing keeps its size); the last block unless the file is cut short.
    void WriteJob(const std::string& name, const std::string& dds, bool whole = true) {
        TFileStream file;
        ASSERT_TRUE(
            file.Open(Module->GetJobDir() + "/" + name, TFileStream::TMode::CreateExclusive));
        ASSERT_TRUE(WriteSpoolHeader(file, dds, Module->GetTermKeys(), 45292.5));
        std::vector<uint8_t> block(64);
        std::iota(block.begin(), block.end(), uint8_t{0});
        ASSERT_TRUE(WriteSpoolBlock(file, block, whole ? 1 : 0));
    }
    // The jobs in process as "job_doc[ held] to dests devices devices", sorted.
    std::vector<std::string> InProcess() const {
        std::vector<std::string> jobs;
        for (const TDoc* job : Module->JobsInProcess())
            jobs.push_back(std::to_string(job->JobID) + "_" + std::to_string(job->DocID) +
                           (job->Held() ? " held" : "") + " to " + job->Dests() + " devices " +
                           job->Devices);
        std::sort(jobs.begin(), jobs.end());
        return jobs;
    }
    // A copy of job_doc named W for device 3, in process and listed.
    TDoc* Waiting(int32_t job, int32_t doc, TJobState state = TJobState::Waiting) {
        TDoc* w = Inside(*Module).Jobs.Add(TDoc::Create(*Module, true, doc, job, "Name=W", state));
        w->Name = "W";
        w->Devices = "3";
        w->AddToList(-1);
        return w;
    }

    std::shared_ptr<TScriptedStore> Store = std::make_shared<TScriptedStore>();
    int64_t FreeKb = 10000000;
};

} // namespace raduvuz::test
