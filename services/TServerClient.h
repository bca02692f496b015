#pragma once

#include "services/Dispatch.h"

#include <cstdint>
#include <string>

namespace raduvuz {

// How long the module waits for the workflow server's answer to one callback: a server that
// does not answer holds the module at most this long per call (a server that left the bus
// fails the call at once).
inline constexpr int kServerReplyDeadlineMs = 5000;

// Typed callbacks of the workflow server object given to Init. Every call throws
// TDispatchError when the server fails, cannot be reached or does not answer in time. The
// callbacks that answer nothing (ChangeStatus, WriteLog, ShowLabel) are sent without waiting for
// their replies, in order with the calls; they throw only when they cannot be sent.
class TServerClient {
public:
    TServerClient() = default;
    explicit TServerClient(TDispatchPtr object) : Object(std::move(object)) {
        if (Object)
            Object->SetReplyDeadlineMs(kServerReplyDeadlineMs);
    }
    bool Assigned() const { return Object != nullptr; }
    const TDispatchPtr& Dispatch() const { return Object; }

    void ChangeStatus(int32_t module, bool paused, int32_t status);
    void WriteLog(int32_t module, const std::string& line);
    TVariant GetValue(int32_t module, int32_t num);
    // GetValue sent without waiting; its Result() is the value.
    TPendingCallPtr GetValuePosted(int32_t module, int32_t num);
    void SetValue(int32_t module, int32_t num, bool value);
    bool IsJobUse(int32_t module, int32_t docId);
    // A label the server shows already is not sent again; while labels are held back only the
    // last one is kept.
    void ShowLabel(int32_t module, const std::string& text);
    // Holds labels back until the outermost hold ends, which sends the last one: a reload or a
    // Close of thousands of jobs sends one label, not one per job.
    class TLabelHold {
    public:
        explicit TLabelHold(TServerClient& client);
        // A label that cannot be sent any more is dropped: the server has left.
        ~TLabelHold();
        TLabelHold(const TLabelHold&) = delete;
        TLabelHold& operator=(const TLabelHold&) = delete;

    private:
        TServerClient& Client;
    };
    std::string GetConfigKey(int32_t module);
    std::string PtrToKey(int32_t term);
    void CloseMe(int32_t module);
    void ChangeSetup(int32_t module, const std::string& inParams, const std::string& outParams);

private:
    TDispatchPtr Object;
    // The label last sent, with its module number.
    bool LabelShown = false;
    int32_t LabelModule = 0;
    std::string Label;
    int LabelHolds = 0;
    bool LabelHeld = false;
    int32_t HeldModule = 0;
    std::string HeldLabel;
};

} // namespace raduvuz
