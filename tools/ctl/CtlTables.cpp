#include "tools/ctl/CtlTables.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <type_traits>

namespace raduvuz::ctl {

namespace {

// Characters a terminal shows: UTF-8 continuation bytes take no column.
int Columns(const std::string& text) {
    return static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// At most width columns; a longer text ends in an ellipsis.
std::string Fit(const std::string& text, int width) {
    if (Columns(text) <= width)
        return text;
    if (width <= 0)
        return std::string();
    std::string cut;
    int shown = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        const bool starts = (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
        if (starts && ++shown > width - 1)
            break;
        cut += text[at];
    }
    return cut + "\xE2\x80\xA6";
}

std::string Pad(const std::string& text, int width, bool right) {
    const std::string fitted = Fit(text, width);
    const std::string blanks(static_cast<size_t>(std::max(0, width - Columns(fitted))), ' ');
    return right ? blanks + fitted : fitted + blanks;
}

struct TColumn {
    std::string Header;
    bool Right = false;
    // Shares what the others leave; 0: as wide as its widest cell.
    bool Flexible = false;
    int Cap = 0;
};

// Rows of cells under their headers, no wider than width where the flexible columns can give
// way; no line ends in blanks.
std::string Table(const std::vector<TColumn>& columns,
                  const std::vector<std::vector<std::string>>& rows, int width) {
    std::vector<int> widths;
    for (size_t c = 0; c < columns.size(); ++c) {
        int natural = Columns(columns[c].Header);
        for (const auto& row : rows)
            natural = std::max(natural, Columns(row[c]));
        if (columns[c].Cap > 0)
            natural = std::min(natural, std::max(columns[c].Cap, Columns(columns[c].Header)));
        widths.push_back(natural);
    }
    int fixed = static_cast<int>(columns.size()) - 1;
    std::vector<size_t> flexible;
    for (size_t c = 0; c < columns.size(); ++c) {
        if (columns[c].Flexible)
            flexible.push_back(c);
        else
            fixed += widths[c];
    }
    // Water-filling: the narrowest flexible column takes what it needs up to an even share of
    // what is left, and so on; none gets less than its header.
    std::sort(flexible.begin(), flexible.end(),
              [&widths](size_t a, size_t b) { return widths[a] < widths[b]; });
    int room = std::max(width - fixed, 0);
    for (size_t k = 0; k < flexible.size(); ++k) {
        const size_t c = flexible[k];
        const int share = room / static_cast<int>(flexible.size() - k);
        widths[c] = std::max(std::min(widths[c], share), Columns(columns[c].Header));
        room = std::max(room - widths[c], 0);
    }
    std::string text;
    const auto line = [&](const std::vector<std::string>& cells) {
        std::string out;
        for (size_t c = 0; c < columns.size(); ++c) {
            if (c > 0)
                out += ' ';
            out += Pad(cells[c], widths[c], columns[c].Right);
        }
        out.erase(out.find_last_not_of(' ') + 1);
        text += out + "\n";
    };
    std::vector<std::string> headers;
    for (const TColumn& column : columns)
        headers.push_back(column.Header);
    line(headers);
    for (const auto& row : rows)
        line(row);
    return text;
}

bool Moving(const std::string& state) {
    return state == "reading" || state == "transferring" || state == "spooling" ||
           state == "sending";
}

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string JobJson(const TCtlJob& job) {
    std::string out;
    VisitJobRowFields(job, [&out](const char* key, const auto& value) {
        out += (out.empty() ? "{" : ", ") + Json(key) + ": ";
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::string>)
            out += Json(value);
        else
            out += std::to_string(value);
    });
    return out + "}";
}

} // namespace

std::string HumanSize(int64_t bytes) {
    if (bytes < 0)
        return "-";
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    // 1023.95 KiB would round to "1024 KiB": such a value is shown in the next unit.
    while (value >= 1023.5 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 9.95 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
    return text;
}

std::string AgeText(const std::string& created, std::time_t now) {
    std::tm local{};
    const char* end =
        created.empty() ? nullptr : ::strptime(created.c_str(), "%Y-%m-%dT%H:%M:%S", &local);
    if (!end || *end != '\0')
        return "-";
    local.tm_isdst = -1;
    const std::time_t then = std::mktime(&local);
    if (then == static_cast<std::time_t>(-1))
        return "-";
    const int64_t seconds = std::max<int64_t>(0, static_cast<int64_t>(now - then));
    char text[32];
    if (seconds < 60)
        std::snprintf(text, sizeof text, "%" PRId64 "s", seconds);
    else if (seconds < 3600)
        std::snprintf(text, sizeof text, "%" PRId64 "m", seconds / 60);
    else if (seconds < 86400)
        std::snprintf(text, sizeof text, "%" PRId64 "h%02" PRId64 "m", seconds / 3600,
                      seconds % 3600 / 60);
    else
        return created.substr(0, 10);
    return text;
}

std::string SizeOrProgress(const TCtlJob& job) {
    if (job.List == "process" && Moving(job.State)) {
        if (job.Size > 0) {
            const int64_t percent = std::clamp<int64_t>(job.Done * 100 / job.Size, 0, 100);
            return std::to_string(percent) + "%";
        }
        return HumanSize(job.Done);
    }
    // The module's own text of the size, as the console's Size column shows it.
    return job.SizeText.empty() ? HumanSize(job.Size) : job.SizeText;
}

std::string RefusalLines(const std::string& command, const std::vector<uint32_t>& refused,
                         const std::vector<TCtlJob>& jobs) {
    const bool inProcess =
        command == "hold" || command == "release" || command == "abort" || command == "priority";
    const bool either = command == "rename";
    // What the command needs of a row of its own list that it still refused.
    const auto cause = [&command](const TCtlJob& job) -> std::string {
        if (command == "hold" || (command == "rename" && job.List == "process"))
            return job.State == "waiting" ? "the module refused it (see the module's log)"
                                          : "it is " + job.State + ", not waiting to be sent";
        if (command == "release")
            return job.State == "held" ? "the module refused it (see the module's log)"
                                       : "it is " + job.State + ", not held";
        if (command == "delete")
            return "it is still in use: the workflow keeps it, or it is being processed again";
        if (command == "reprocess" || command == "redirect")
            return "its spool file cannot be read (see the module's log)";
        if (command == "rename" || command == "copy")
            return std::string("its spool file was not ") +
                   (command == "rename" ? "rewritten" : "copied") + " (see the module's log)";
        return "the module refused it (see the module's log)";
    };
    std::vector<std::pair<std::string, std::string>> lines;
    for (uint32_t id : refused) {
        const auto row = std::find_if(jobs.begin(), jobs.end(),
                                      [id](const TCtlJob& job) { return job.Id == id; });
        std::string why;
        if (row == jobs.end())
            why = "no job has this id (see \"raduvuz-ctl jobs\")";
        else if (!either && (row->List == "process") != inProcess)
            why = std::string(inProcess ? "a passed job, not one in process"
                                        : "a job in process, not a passed one");
        else
            why = cause(*row);
        const auto same = std::find_if(lines.begin(), lines.end(),
                                       [&why](const auto& line) { return line.second == why; });
        if (same == lines.end())
            lines.emplace_back(std::to_string(id), why);
        else
            same->first += " " + std::to_string(id);
    }
    std::string text;
    for (const auto& [ids, why] : lines)
        text += command + " refused " + ids + ": " + why + "\n";
    return text;
}

std::string StatusText(int32_t status) {
    switch (status) {
    case 1:
        return "idle";
    case 2:
        return "working";
    default:
        return "failed (" + std::to_string(status) + ")";
    }
}

std::string JobTables(const std::vector<TCtlJob>& jobs, TListChoice lists, int width,
                      std::time_t now) {
    const std::vector<TColumn> columns = {{"ID", true},
                                          {"JOB", true},
                                          {"DOC", true},
                                          {"NAME", false, true},
                                          {"COLOUR", false, false, 10},
                                          {"STATE"},
                                          {"SIZE", true},
                                          {"DEST", false, true},
                                          {"PRI", true},
                                          {"AGE"}};
    std::string text;
    for (const std::string list : {"process", "passed"}) {
        const bool inProcess = list == "process";
        if ((lists == TListChoice::Process && !inProcess) ||
            (lists == TListChoice::Passed && inProcess))
            continue;
        std::vector<std::vector<std::string>> rows;
        for (const TCtlJob& job : jobs) {
            if (job.List != list)
                continue;
            rows.push_back({std::to_string(job.Id), std::to_string(job.Job),
                            std::to_string(job.Doc), job.Name, job.Color, job.State,
                            SizeOrProgress(job), job.Destination, std::to_string(job.Priority),
                            AgeText(job.Created, now)});
        }
        if (!text.empty())
            text += "\n";
        const std::string title = inProcess ? "Jobs in process" : "Passed jobs";
        if (rows.empty()) {
            text += title + ": none\n";
            continue;
        }
        text += title + " (" + std::to_string(rows.size()) + ")\n" + Table(columns, rows, width);
    }
    return text;
}

std::string ModuleTable(const std::vector<TCtlModule>& modules, int width) {
    if (modules.empty())
        return "No module on the bus\n";
    const std::vector<TColumn> columns = {{"NUMBER", true},     {"DESCRIPTION", false, true},
                                          {"STATUS"},           {"PAUSED"},
                                          {"IN PROCESS", true}, {"PASSED", true}};
    std::vector<std::vector<std::string>> rows;
    for (const TCtlModule& module : modules) {
        if (!module.Answered) {
            rows.push_back(
                {std::to_string(module.Number), module.Description, "no answer", "-", "-", "-"});
            continue;
        }
        rows.push_back({std::to_string(module.Number),
                        module.Description.empty() ? "-" : module.Description,
                        StatusText(module.Status), module.Paused ? "yes" : "no",
                        std::to_string(module.InProcess), std::to_string(module.Passed)});
    }
    return Table(columns, rows, width);
}

std::string DamagedTable(const std::vector<TCtlDamaged>& files, int width, std::time_t now) {
    if (files.empty())
        return "Damaged spool files: none\n";
    const std::string path = files.front().Path;
    const std::string folder = path.substr(0, path.rfind('/'));
    const std::vector<TColumn> columns = {{"FILE", false, true}, {"SIZE", true}, {"SET ASIDE"}};
    std::vector<std::vector<std::string>> rows;
    for (const TCtlDamaged& file : files)
        rows.push_back({file.File, HumanSize(file.Size), AgeText(file.SetAside, now)});
    return "Damaged spool files (" + std::to_string(files.size()) + ") in " + folder + "\n" +
           Table(columns, rows, width);
}

std::string DamagedJson(const std::vector<TCtlDamaged>& files) {
    std::string out = "[";
    for (size_t i = 0; i < files.size(); ++i) {
        const TCtlDamaged& f = files[i];
        out += (i == 0 ? "\n  " : ",\n  ");
        out += "{\"file\": " + Json(f.File) + ", \"path\": " + Json(f.Path) +
               ", \"size\": " + std::to_string(f.Size) + ", \"setAside\": " + Json(f.SetAside) +
               "}";
    }
    return out + (files.empty() ? "]\n" : "\n]\n");
}

std::string JobsJson(const std::vector<TCtlJob>& jobs) {
    std::string out = "[";
    for (size_t i = 0; i < jobs.size(); ++i)
        out += (i == 0 ? "\n  " : ",\n  ") + JobJson(jobs[i]);
    return out + (jobs.empty() ? "]\n" : "\n]\n");
}

std::string ModulesJson(const std::vector<TCtlModule>& modules) {
    std::string out = "[";
    for (size_t i = 0; i < modules.size(); ++i) {
        const TCtlModule& m = modules[i];
        out += (i == 0 ? "\n  " : ",\n  ");
        out += "{\"number\": " + std::to_string(m.Number) + ", \"busName\": " + Json(m.BusName) +
               ", \"answered\": " + (m.Answered ? "true" : "false");
        if (m.Answered)
            out += ", \"description\": " + Json(m.Description) +
                   ", \"status\": " + std::to_string(m.Status) +
                   ", \"paused\": " + (m.Paused ? "true" : "false") +
                   ", \"inProcess\": " + std::to_string(m.InProcess) +
                   ", \"passed\": " + std::to_string(m.Passed);
        out += "}";
    }
    return out + (modules.empty() ? "]\n" : "\n]\n");
}

} // namespace raduvuz::ctl
