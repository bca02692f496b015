#include "services/TServerClient.h"
#include "services/TStoreClient.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace raduvuz::test {
namespace {

// Records each call with its arguments and wire types, and answers from a table.
class TRecordingObject : public IDispatchObject {
public:
    std::vector<std::string> Calls;
    std::map<std::string, TCallResult> Answers;
    // Methods whose call fails with this error name.
    std::map<std::string, std::string> Errors;

    using IDispatchObject::Call;
    TCallResult Call(const std::string& method, const std::vector<TVariant>& args,
                     const std::string& signature) override {
        std::string text = method + "[" + signature + "](";
        for (size_t i = 0; i < args.size(); ++i)
            text +=
                (i ? "," : "") + (IsNull(args[i]) ? std::string("Null") : VariantToText(args[i]));
        Calls.push_back(text + ")");
        if (const auto error = Errors.find(method); error != Errors.end())
            throw TDispatchError(error->second, "refused");
        auto it = Answers.find(method);
        return it == Answers.end() ? TCallResult{} : it->second;
    }
    // A send is recorded as a call marked with "!".
    void Send(const std::string& method, const std::vector<TVariant>& args,
              const std::string& signature) override {
        Call("!" + method, args, signature);
    }
};

TEST(ClientsTest, StoreCallsKeepTheContractsOrderAndOutValues) {
    auto object = std::make_shared<TRecordingObject>();
    TStoreClient store(object);
    object->Answers["IsMainComputer"] = {true, {}};
    object->Answers["RNextFindDoc"] = {int32_t{12}, {}};
    object->Answers["ROpenDoc"] = {std::string("Name=a"), {int32_t{77}}};
    object->Answers["RGetBlock"] = {std::string("blk"), {int32_t{100}, int32_t{3}, int32_t{1}}};
    object->Answers["RWSwitchBlock"] = {std::string("sw"), {int32_t{5}, int32_t{6}, int32_t{0}}};
    object->Answers["WCreateDoc"] = {int32_t{-1}, {}};
    object->Answers["WGetBlock"] = {std::string("w"), {int32_t{9}}};
    object->Answers["IsDocForExists"] = {false, {}};
    object->Answers["RGetDocDDS"] = {std::string("Name=b"), {}};

    EXPECT_TRUE(store.IsMainComputer(TNull{}));
    EXPECT_EQ(store.RNextFindDoc(3, 0), 12);
    int32_t jobId = 0;
    EXPECT_EQ(store.ROpenDoc(3, 12, jobId), "Name=a");
    EXPECT_EQ(jobId, 77);
    int32_t size = 0, handle = 0, last = 0;
    EXPECT_EQ(store.RGetBlock(3, 12, size, handle, last), "blk");
    EXPECT_EQ(size, 100);
    EXPECT_EQ(handle, 3);
    EXPECT_EQ(last, 1);
    EXPECT_EQ(store.RWSwitchBlock(3, 12, 40, size, handle, last), "sw");
    EXPECT_EQ(size, 5);
    EXPECT_EQ(last, 0);
    EXPECT_EQ(store.WCreateDoc(3, 77, "4,5", "Name=a"), -1);
    EXPECT_EQ(store.WGetBlock(40, 4096, handle), "w");
    EXPECT_EQ(handle, 9);
    store.RCloseBlock(3, 12, 6);
    store.WCloseBlock(40, 9, 1);
    store.RCloseDoc(3, 12);
    store.RAbortDoc(3, 12);
    store.WCloseDoc(40);
    store.WAbortDoc(40);
    EXPECT_FALSE(store.IsDocForExists(4));
    EXPECT_EQ(store.RGetDocDDS(12), "Name=b");

    EXPECT_EQ(object->Calls,
              (std::vector<std::string>{
                  "IsMainComputer[v](Null)", "RNextFindDoc[ii](3,0)", "ROpenDoc[ii](3,12)",
                  "RGetBlock[ii](3,12)", "RWSwitchBlock[iii](3,12,40)",
                  "WCreateDoc[iiss](3,77,4,5,Name=a)", "WGetBlock[ii](40,4096)",
                  "RCloseBlock[iii](3,12,6)", "WCloseBlock[iii](40,9,1)", "RCloseDoc[ii](3,12)",
                  "RAbortDoc[ii](3,12)", "WCloseDoc[i](40)", "WAbortDoc[i](40)",
                  "IsDocForExists[i](4)", "RGetDocDDS[i](12)"}));

    // Too few out values, or no store at all, fail.
    object->Answers["RGetBlock"] = {std::string("blk"), {int32_t{100}}};
    EXPECT_THROW(store.RGetBlock(1, 2, size, handle, last), TDispatchError);
    EXPECT_THROW(TStoreClient().RCloseDoc(1, 2), TDispatchError);
}

TEST(ClientsTest, CombinedStoreCallsAreOneCallWhereOfferedAndTheSingleCallsElse) {
    const std::vector<std::string> single = {
        "RNextFindDoc[ii](3,0)",     "RGetDocDDS[i](12)",   "RNextFindDoc[ii](3,12)",
        "WCloseBlock[iii](40,9,1)",  "RCloseDoc[ii](3,12)", "WCloseDoc[i](40)",
        "WCloseBlock[iii](41,10,1)", "WCloseDoc[i](41)"};
    for (const bool offered : {true, false}) {
        SCOPED_TRACE(offered ? "offered" : "not offered");
        auto object = std::make_shared<TRecordingObject>();
        object->Answers["RGetDocDDS"] = {std::string("Name=b"), {}};
        if (!offered) {
            object->Errors["RNextFindDocDDS"] = kUnknownMethodError;
            object->Errors["WFinishDoc"] = kUnknownMethodError;
        }
        TStoreClient store(object);
        // Twice: a store without the calls is asked for them only once.
        for (int round = 0; round < 2; ++round) {
            object->Calls.clear();
            object->Answers["RNextFindDocDDS"] = {int32_t{12}, {std::string("Name=b")}};
            object->Answers["RNextFindDoc"] = {int32_t{12}, {}};
            std::string dds;
            EXPECT_EQ(store.RNextFindDocDDS(3, 0, dds), 12);
            EXPECT_EQ(dds, "Name=b");
            // Nothing found: no DDS is asked for.
            object->Answers["RNextFindDocDDS"] = {int32_t{-1}, {std::string()}};
            object->Answers["RNextFindDoc"] = {int32_t{-1}, {}};
            EXPECT_EQ(store.RNextFindDocDDS(3, 12, dds), -1);
            EXPECT_EQ(dds, "");
            store.WFinishDoc(3, 12, 40, 9);
            store.WFinishDoc(3, 0, 41, 10);
            std::vector<std::string> expected = single;
            if (offered)
                expected = {"RNextFindDocDDS[ii](3,0)", "RNextFindDocDDS[ii](3,12)",
                            "WFinishDoc[iiii](3,12,40,9)", "WFinishDoc[iiii](3,0,41,10)"};
            else if (round == 0)
                expected = {"RNextFindDocDDS[ii](3,0)",
                            single[0],
                            single[1],
                            single[2],
                            "WFinishDoc[iiii](3,12,40,9)",
                            single[3],
                            single[4],
                            single[5],
                            single[6],
                            single[7]};
            EXPECT_EQ(object->Calls, expected);
        }
    }
    // Any other failure of a combined call is the call's own: thrown, and nothing done instead.
    auto object = std::make_shared<TRecordingObject>();
    object->Errors["WFinishDoc"] = "RozEza.MemoryMan.Error.UnknownHandle";
    TStoreClient store(object);
    for (int round = 0; round < 2; ++round)
        EXPECT_THROW(store.WFinishDoc(3, 12, 40, 9), TDispatchError);
    EXPECT_EQ(object->Calls, (std::vector<std::string>(2, "WFinishDoc[iiii](3,12,40,9)")));
}

TEST(ClientsTest, ServerCallbacksPassTheModuleNumberFirst) {
    auto object = std::make_shared<TRecordingObject>();
    object->Answers["GetValue"] = {std::string("HOST"), {}};
    object->Answers["IsJobUse"] = {true, {}};
    object->Answers["GetConfigKey"] = {std::string("key"), {}};
    object->Answers["PtrToKey"] = {std::string("t"), {}};
    TServerClient server(object);
    EXPECT_TRUE(server.Assigned());
    server.ChangeStatus(4, true, -3);
    server.WriteLog(4, "line");
    EXPECT_EQ(VariantToText(server.GetValue(0, 2)), "HOST");
    server.SetValue(4, 1010, false);
    EXPECT_TRUE(server.IsJobUse(4, 9));
    server.ShowLabel(4, "2");
    EXPECT_EQ(server.GetConfigKey(4), "key");
    EXPECT_EQ(server.PtrToKey(8), "t");
    server.CloseMe(4);
    server.ChangeSetup(4, "in", "out");
    // The callbacks that answer nothing are sent without waiting; the others are calls.
    EXPECT_EQ(object->Calls, (std::vector<std::string>{
                                 "!ChangeStatus[ibi](4,True,-3)", "!WriteLog[is](4,line)",
                                 "GetValue[ii](0,2)", "SetValue[iib](4,1010,False)",
                                 "IsJobUse[ii](4,9)", "!ShowLabel[is](4,2)", "GetConfigKey[i](4)",
                                 "PtrToKey[i](8)", "CloseMe[i](4)", "ChangeSetup[iss](4,in,out)"}));
    EXPECT_THROW(TServerClient().WriteLog(1, "x"), TDispatchError);
}

TEST(ClientsTest, ALabelTheServerShowsAlreadyIsNotSentAgain) {
    auto object = std::make_shared<TRecordingObject>();
    TServerClient server(object);
    for (const char* text : {"1", "1", "2", "2", "1"})
        server.ShowLabel(4, text);
    server.ShowLabel(5, "1");
    EXPECT_EQ(object->Calls,
              (std::vector<std::string>{"!ShowLabel[is](4,1)", "!ShowLabel[is](4,2)",
                                        "!ShowLabel[is](4,1)", "!ShowLabel[is](5,1)"}));
    // A label that could not be sent is sent again next time.
    TServerClient none;
    EXPECT_THROW(none.ShowLabel(4, "1"), TDispatchError);
    EXPECT_THROW(none.ShowLabel(4, "1"), TDispatchError);
}

TEST(ClientsTest, TheStoresSignalsReachTheListenerAsTheContractNamesThem) {
    auto object = std::make_shared<TInProcessObject>();
    TStoreClient store(object);
    std::vector<std::string> told;
    TListeningPtr listening = store.Listen([&told](const TStoreSignal& s) {
        told.push_back(std::to_string(static_cast<int>(s.Kind)) + ":" + std::to_string(s.Module) +
                       "," + std::to_string(s.Doc) + "," + (s.Aborted ? "aborted" : "-"));
    });
    ASSERT_NE(listening, nullptr);
    object->Emit("DocumentAvailable", {int32_t{3}, int32_t{40}});
    object->Emit("DocumentTaken", {int32_t{12}, int32_t{40}});
    object->Emit("DocumentClosed", {int32_t{40}, true});
    object->Emit("MemoryFreed", {});
    // Arguments the contract does not give are passed over.
    object->Emit("DocumentClosed", {int32_t{40}});
    object->Emit("DocumentAvailable", {std::string("three"), int32_t{1}});
    EXPECT_EQ(told,
              (std::vector<std::string>{"0:3,40,-", "1:12,40,-", "2:0,40,aborted", "3:0,0,-"}));
    listening.reset();
    object->Emit("MemoryFreed", {});
    EXPECT_EQ(told.size(), 4u);
    // A store whose binding has no signals gives nothing to listen to.
    EXPECT_EQ(TStoreClient(std::make_shared<TRecordingObject>()).Listen([](const TStoreSignal&) {}),
              nullptr);
    EXPECT_EQ(TStoreClient().Listen([](const TStoreSignal&) {}), nullptr);
}

} // namespace
} // namespace raduvuz::test
