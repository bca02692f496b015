#include "tools/web/TJobCopy.h"

#include <algorithm>
#include <set>

namespace raduvuz::web {

namespace {

// Removals remembered at least, and at least as many as there are rows.
constexpr size_t kRemovedKept = 4096;

} // namespace

TJobCopy::TJobCopy(uint64_t firstSerial) : Floor(firstSerial), Serial_(firstSerial) {}

void TJobCopy::Count(const TCopyRow& row, int sign) {
    if (row.InProcess) {
        Counts_.InProcess += sign;
        Counts_.Held += row.Held ? sign : 0;
    } else {
        Counts_.Passed += sign;
    }
}

void TJobCopy::Remove(uint32_t id) {
    const auto found = Rows.find(id);
    if (found == Rows.end())
        return;
    if (!Changing) {
        Changing = true;
        ++Serial_;
    }
    Count(found->second.Row, -1);
    Recent.erase(found->second.Recent);
    Rows.erase(found);
    Removed.emplace_back(Serial_, id);
}

bool TJobCopy::Apply(std::vector<TCopyRow> rows, const std::vector<uint32_t>& removed) {
    Changing = false;
    for (uint32_t id : removed)
        Remove(id);
    for (TCopyRow& row : rows) {
        const auto found = Rows.find(row.Id);
        if (found != Rows.end() && found->second.Row.Json == row.Json)
            continue;
        if (!Changing) {
            Changing = true;
            ++Serial_;
        }
        if (found == Rows.end()) {
            Count(row, 1);
            Recent.push_back(row.Id);
            const uint32_t id = row.Id;
            Rows.emplace(id, TEntry{std::move(row), Serial_, std::prev(Recent.end())});
        } else {
            Count(found->second.Row, -1);
            Count(row, 1);
            found->second.Row = std::move(row);
            found->second.Serial = Serial_;
            Recent.splice(Recent.end(), Recent, found->second.Recent);
        }
    }
    Prune();
    const bool changed = Changing;
    Changing = false;
    return changed;
}

bool TJobCopy::Replace(std::vector<TCopyRow> rows) {
    std::set<uint32_t> listed;
    for (const TCopyRow& row : rows)
        listed.insert(row.Id);
    std::vector<uint32_t> gone;
    for (const auto& [id, entry] : Rows) {
        if (!listed.count(id))
            gone.push_back(id);
    }
    return Apply(std::move(rows), gone);
}

void TJobCopy::Prune() {
    const size_t keep = std::max(kRemovedKept, Rows.size());
    while (Removed.size() > keep) {
        Floor = Removed.front().first;
        Removed.pop_front();
    }
}

void TJobCopy::AppendArray(std::string& json, const std::vector<const std::string*>& rows) {
    size_t size = json.size() + 2;
    for (const std::string* row : rows)
        size += row->size() + 1;
    json.reserve(size);
    json += '[';
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i)
            json += ',';
        json += *rows[i];
    }
    json += ']';
}

std::string TJobCopy::ListJson(const std::string& list) const {
    std::vector<const std::string*> rows;
    rows.reserve(Rows.size());
    for (bool process : {true, false}) {
        if (!list.empty() && (list == "process") != process)
            continue;
        for (const auto& [id, entry] : Rows) {
            if (entry.Row.InProcess == process)
                rows.push_back(&entry.Row.Json);
        }
    }
    std::string json = "{\"jobs\":";
    AppendArray(json, rows);
    return json + ",\"serial\":" + std::to_string(Serial_) + "}";
}

std::string TJobCopy::RowsJson(const std::vector<uint32_t>& ids) const {
    std::vector<const std::string*> rows;
    for (uint32_t id : ids) {
        const auto found = Rows.find(id);
        if (found != Rows.end())
            rows.push_back(&found->second.Row.Json);
    }
    std::string json = "{\"jobs\":";
    AppendArray(json, rows);
    return json + ",\"serial\":" + std::to_string(Serial_) + "}";
}

std::string TJobCopy::SinceJson(uint64_t since) const {
    if (since < Floor || since > Serial_) {
        std::string json = ListJson("");
        json.insert(json.size() - 1, ",\"removed\":[],\"full\":true");
        return json;
    }
    std::vector<const std::string*> rows;
    for (auto at = Recent.rbegin(); at != Recent.rend(); ++at) {
        const TEntry& entry = Rows.at(*at);
        if (entry.Serial <= since)
            break;
        rows.push_back(&entry.Row.Json);
    }
    std::reverse(rows.begin(), rows.end());
    std::string json = "{\"jobs\":";
    AppendArray(json, rows);
    json += ",\"removed\":[";
    bool first = true;
    for (auto at = std::lower_bound(Removed.begin(), Removed.end(), since,
                                    [](const std::pair<uint64_t, uint32_t>&entry, uint64_t s) {
                                        return entry.first <= s;
                                    });
         at != Removed.end(); ++at) {
        // A row removed and then listed again is a changed row, not a removed one.
        if (Rows.count(at->second))
            continue;
        json += (first ? "" : ",") + std::to_string(at->second);
        first = false;
    }
    return json + "],\"serial\":" + std::to_string(Serial_) + ",\"full\":false}";
}

} // namespace raduvuz::web
