#include "jobs/TWaitJournal.h"

#include "common/CommaText.h"
#include "common/Utils.h"
#include "jobs/IJobHost.h"
#include "jobs/JobNames.h"
#include "jobs/TDoc.h"
#include "platform/System.h"
#include "platform/WholeFile.h"

#include <algorithm>
#include <charconv>

namespace raduvuz {

namespace {

// A journal larger than this is not one the module wrote.
constexpr size_t kMaxJournalBytes = 256u * 1024 * 1024;
// The file is written anew when it has this many lines more than twice the live records.
constexpr size_t kRewriteSlack = 64;

bool KeptAsIs(unsigned char c) {
    return c > 0x20 && c < 0x7F && c != '%' && c != '=';
}

// Values go percent-encoded, so that a line is split at blanks and "=" alone.
std::string Encode(std::string_view text) {
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (KeptAsIs(u)) {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool Decode(std::string_view text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

template <typename T> bool ParseNumber(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && at == end && !text.empty();
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    while (!line.empty()) {
        const size_t blank = line.find(' ');
        if (blank != 0)
            fields.push_back(line.substr(0, blank));
        line.remove_prefix(blank == std::string_view::npos ? line.size() : blank + 1);
    }
    return fields;
}

// One line of the journal; false when it cannot be read.
bool ReadLine(std::string_view line, bool& put, TWaitRecord& record) {
    const std::vector<std::string_view> fields = Fields(line);
    if (fields.empty() || (fields[0] != "put" && fields[0] != "del"))
        return false;
    put = fields[0] == "put";
    record = TWaitRecord{};
    for (size_t i = 1; i < fields.size(); ++i) {
        const size_t equals = fields[i].find('=');
        if (equals == std::string_view::npos)
            return false;
        const std::string_view key = fields[i].substr(0, equals);
        std::string value;
        if (!Decode(fields[i].substr(equals + 1), value))
            return false;
        bool ok = true;
        if (key == "id")
            ok = ParseNumber(value, record.Id);
        else if (key == "job")
            ok = ParseNumber(value, record.JobID);
        else if (key == "doc")
            ok = ParseNumber(value, record.DocID);
        else if (key == "priority")
            ok = ParseNumber(value, record.Priority);
        else if (key == "held") {
            ok = value == "0" || value == "1";
            record.Held = value == "1";
        } else if (key == "dests")
            record.Dests = value;
        else if (key == "devices")
            record.Devices = value;
        else if (key == "name")
            record.Name = value;
        // A key a later version added is passed over.
        if (!ok)
            return false;
    }
    return record.Id > 0 && (!put || (record.JobID > 0 && record.DocID > 0));
}

std::string WriteJobList(const std::vector<std::string>& jobs) {
    std::string text;
    for (const std::string& job : jobs)
        text += (text.empty() ? "" : ", ") + job;
    return text;
}

} // namespace

std::string WaitPutLine(const TWaitRecord& record) {
    return "put id=" + std::to_string(record.Id) + " job=" + std::to_string(record.JobID) +
           " doc=" + std::to_string(record.DocID) + " held=" + (record.Held ? "1" : "0") +
           " priority=" + std::to_string(record.Priority) + " dests=" + Encode(record.Dests) +
           " devices=" + Encode(record.Devices) + " name=" + Encode(record.Name) + "\n";
}

std::string WaitDelLine(uint64_t id) {
    return "del id=" + std::to_string(id) + "\n";
}

TWaitJournalContents ReadWaitJournal(std::string_view text) {
    TWaitJournalContents contents;
    // The records in the order of their first put; a later put replaces one in its place.
    std::map<uint64_t, TWaitRecord> live;
    std::vector<uint64_t> order;
    size_t number = 0;
    while (!text.empty()) {
        ++number;
        const size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            contents.CutShort = true;
            break;
        }
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (number == 1 && line == kWaitJournalFirstLine)
            continue;
        bool put = false;
        TWaitRecord record;
        if (!ReadLine(line, put, record)) {
            contents.DamagedLines.push_back(number);
            continue;
        }
        contents.LastId = std::max(contents.LastId, record.Id);
        if (!put) {
            live.erase(record.Id);
            continue;
        }
        if (live.count(record.Id) == 0)
            order.push_back(record.Id);
        live[record.Id] = record;
    }
    for (const uint64_t id : order) {
        const auto found = live.find(id);
        if (found != live.end()) {
            contents.Records.push_back(found->second);
            live.erase(found);
        }
    }
    return contents;
}

TWaitJournal::TBatch::TBatch(TWaitJournal* journal) : Journal(journal) {
    if (Journal)
        ++Journal->BatchDepth;
}

TWaitJournal::TBatch::~TBatch() {
    if (Journal && --Journal->BatchDepth == 0)
        Journal->Flush();
}

std::string TWaitJournal::Path() const {
    return Host.GetSettings().JobDir + "/" + std::string(kWaitJournalName);
}

TWaitRecord TWaitJournal::RecordOf(const TDoc& job) const {
    TWaitRecord record;
    record.Id = job.JournalId;
    record.JobID = job.JobID;
    record.DocID = job.DocID;
    record.Dests = job.Dests();
    record.Devices = DevicesToJournal(job.Devices, Host);
    record.Held = job.Held();
    record.Priority = job.Priority();
    record.Name = job.Name;
    return record;
}

void TWaitJournal::Add(TDoc& job) {
    if (job.JournalId != 0) {
        Update(job);
        return;
    }
    job.JournalId = ++LastId;
    // Ids only grow: the record goes at the end of the map.
    const TWaitRecord& record = Live.emplace_hint(Live.end(), job.JournalId, RecordOf(job))->second;
    // A reload writes the file whole at its end, from the live records.
    if (!Reloading)
        Write(WaitPutLine(record), JobKey(record.JobID, record.DocID));
}

void TWaitJournal::Update(const TDoc& job) {
    const auto found = Live.find(job.JournalId);
    if (found == Live.end())
        return;
    const TWaitRecord record = RecordOf(job);
    if (found->second == record)
        return;
    found->second = record;
    if (!Reloading)
        Write(WaitPutLine(record), JobKey(record.JobID, record.DocID));
}

void TWaitJournal::Remove(TDoc& job) {
    if (job.JournalId == 0)
        return;
    const uint64_t id = job.JournalId;
    job.JournalId = 0;
    if (Live.erase(id) > 0 && !Reloading)
        Write(WaitDelLine(id), JobKey(job.JobID, job.DocID));
}

bool TWaitJournal::HasSpoolFile(int32_t jobID, int32_t docID) const {
    return std::any_of(Live.begin(), Live.end(), [&](const auto& entry) {
        return entry.second.JobID == jobID && entry.second.DocID == docID;
    });
}

void TWaitJournal::Write(const std::string& line, const std::string& job) {
    Pending += line;
    if (PendingJobSet.insert(job).second)
        PendingJobs.push_back(job);
    ++FileLines;
    if (BatchDepth == 0)
        Flush();
}

void TWaitJournal::Flush() {
    if (Reloading || Pending.empty())
        return;
    if (Host.GetSettings().JobDir.empty()) {
        Pending.clear();
        ForgetPendingJobs();
        return;
    }
    // After a failed write the live records are the truth: the whole file is written again.
    if (WriteFailed || FileLines > 2 * Live.size() + kRewriteSlack) {
        Rewrite();
        return;
    }
    const std::string path = Path();
    std::string bytes;
    if (!FileExists(path))
        bytes = std::string(kWaitJournalFirstLine) + "\n";
    bytes += Pending;
    Pending.clear();
    std::string why;
    if (AppendFlushed(path, bytes, &why, Host.GetDiskWait())) {
        ForgetPendingJobs();
        return;
    }
    Failed(why);
}

void TWaitJournal::Failed(const std::string& why) {
    // The file a reload writes whole is every live record: those are the jobs it names.
    if (PendingJobs.empty()) {
        for (const auto& [id, record] : Live) {
            std::string job = JobKey(record.JobID, record.DocID);
            if (PendingJobSet.insert(job).second)
                PendingJobs.push_back(std::move(job));
        }
    }
    if (!WriteFailed)
        Host.LogFailure("Cannot write the journal of waiting jobs (" + why + "; file " + Path() +
                        "; jobs " + WriteJobList(PendingJobs) +
                        "): after a crash now they would not be sent again as they are; the "
                        "journal is written again whole with the next change");
    WriteFailed = true;
    ForgetPendingJobs();
}

void TWaitJournal::MakeGood() {
    if (WriteFailed && !Reloading)
        Rewrite();
}

void TWaitJournal::ForgetPendingJobs() {
    PendingJobs.clear();
    PendingJobSet.clear();
}

void TWaitJournal::Rewrite() {
    Pending.clear();
    if (Host.GetSettings().JobDir.empty())
        return;
    const std::string path = Path();
    std::string bytes = std::string(kWaitJournalFirstLine) + "\n";
    for (const auto& [id, record] : Live)
        bytes += WaitPutLine(record);
    std::string why;
    if (WriteWholeFile(path, bytes, &why, Host.GetDiskWait())) {
        FileLines = 1 + Live.size();
        if (WriteFailed)
            Host.Log("The journal of waiting jobs is whole again (" + std::to_string(Live.size()) +
                     " waiting copies; file " + path + ")");
        WriteFailed = false;
        ForgetPendingJobs();
        return;
    }
    Failed(why);
}

std::vector<TWaitRecord> TWaitJournal::BeginReload() {
    Live.clear();
    Pending.clear();
    FileLines = 0;
    Reloading = true;
    const std::string path = Path();
    if (Host.GetSettings().JobDir.empty() || !FileExists(path))
        return {};
    std::string text;
    std::string why;
    if (!ReadWholeFile(path, text, kMaxJournalBytes, &why)) {
        Host.LogFailure("Cannot read the journal of waiting jobs (" + why + "; file " + path +
                        "); the jobs it names are not sent again");
        return {};
    }
    TWaitJournalContents contents = ReadWaitJournal(text);
    LastId = std::max(LastId, contents.LastId);
    FileLines = contents.Records.size() + 1;
    if (!contents.DamagedLines.empty()) {
        std::string lines;
        for (const size_t number : contents.DamagedLines)
            lines += (lines.empty() ? "" : ", ") + std::to_string(number);
        Host.LogFailure("The journal of waiting jobs has lines that cannot be read (lines " +
                        lines + "; file " + path + "); they are passed over");
    }
    // Whoever ends the module in the middle of an append leaves the line without its end; the
    // change it held was never acted on.
    if (contents.CutShort)
        Host.Log("The journal of waiting jobs ends in a line cut short (file " + path +
                 "); it is passed over");
    return contents.Records;
}

void TWaitJournal::EndReload() {
    Reloading = false;
    if (Host.GetSettings().JobDir.empty())
        return;
    if (Live.empty() && !FileExists(Path()))
        return;
    Rewrite();
}

std::string DevicesToJournal(const std::string& devices, const IJobHost& host) {
    std::vector<std::string> items;
    for (const std::string& item : ReadCommaText(devices)) {
        const int32_t term = StrToIntDef(item, 0);
        const TTaggedList& keys = host.GetTermKeys();
        const auto key = std::find_if(keys.begin(), keys.end(), [&](const TTaggedString& entry) {
            return entry.Tag == term;
        });
        items.push_back(key != keys.end() && !key->Text.empty() ? key->Text : "#" + item);
    }
    return WriteCommaText(items);
}

std::string DevicesFromJournal(const std::string& devices, const IJobHost& host) {
    std::vector<std::string> items;
    for (const std::string& item : ReadCommaText(devices)) {
        if (!item.empty() && item[0] == '#') {
            items.push_back(item.substr(1));
            continue;
        }
        const TTaggedList& keys = host.GetTermKeys();
        const auto key = std::find_if(keys.begin(), keys.end(), [&](const TTaggedString& entry) {
            return entry.Text == item;
        });
        if (key != keys.end())
            items.push_back(std::to_string(key->Tag));
    }
    return WriteCommaText(items);
}

} // namespace raduvuz
