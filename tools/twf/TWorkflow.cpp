#include "tools/twf/TWorkflow.h"

#include "platform/IniFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace raduvuz {

namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string& text) {
    size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    size_t e = text.find_last_not_of(" \t\r\n");
    return text.substr(b, e - b + 1);
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

class TLineError {
public:
    explicit TLineError(int line) : Line(line) {}
    [[noreturn]] void Fail(const std::string& what) const {
        throw TWorkflowError("line " + std::to_string(Line) + ": " + what);
    }
    int Line;
};

int32_t ToInt(const std::string& text, const TLineError& at, const std::string& what) {
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX)
        at.Fail(what + " must be a number, not \"" + text + "\"");
    return static_cast<int32_t>(v);
}

bool ToBool(const std::string& text, const TLineError& at) {
    std::string v = Lower(text);
    if (v == "yes" || v == "true" || v == "1" || v == "on")
        return true;
    if (v == "no" || v == "false" || v == "0" || v == "off")
        return false;
    at.Fail("expected yes or no, not \"" + text + "\"");
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string w;
    while (in >> w)
        words.push_back(w);
    return words;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TWorkflow TWorkflow::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw TWorkflowError("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    fs::path dir = fs::absolute(path).parent_path();
    try {
        return Parse(text.str(), dir.string());
    } catch (const TWorkflowError& e) {
        throw TWorkflowError(path + ": " + e.what());
    }
}

TWorkflow TWorkflow::Parse(const std::string& text, const std::string& baseDir) {
    TWorkflow w;
    w.BaseDir = baseDir;
    auto resolve = [&](const std::string& p) {
        if (p.empty())
            return p;
        fs::path path(p);
        return (path.is_absolute() ? path : fs::path(baseDir) / path).lexically_normal().string();
    };

    enum class TSection { None, Workflow, Module, Sink, Terminator, Input };
    TSection section = TSection::None;
    std::set<int32_t> numbers;
    std::set<int32_t> terminatorNumbers;
    TIniHandlers handlers;
    handlers.Header = [&](const TIniHeader& header) {
        const TLineError at(header.Line);
        if (!header.After.empty())
            at.Fail("a section header ends with ]");
        std::vector<std::string> words = Words(std::string(header.Name));
        if (words.empty())
            at.Fail("empty section name");
        std::string kind = Lower(words[0]);
        if (kind == "workflow" && words.size() == 1) {
            section = TSection::Workflow;
            return;
        }
        if (kind == "input") {
            section = TSection::Input;
            w.Inputs.emplace_back();
            return;
        }
        if (words.size() != 2)
            at.Fail("expected [module N], [sink N], [terminator N], [input] or [workflow]");
        int32_t number = ToInt(words[1], at, "the section number");
        if (kind == "module" || kind == "sink") {
            if (number <= 0)
                at.Fail("module numbers are above 0");
            if (!numbers.insert(number).second)
                at.Fail("module " + std::to_string(number) + " is defined twice");
            if (kind == "module") {
                section = TSection::Module;
                w.Modules.emplace_back();
                w.Modules.back().Number = number;
                w.Modules.back().ConfigKey = "Module" + std::to_string(number);
            } else {
                section = TSection::Sink;
                w.Sinks.emplace_back();
                w.Sinks.back().Number = number;
                w.Sinks.back().Folder = resolve("out/" + std::to_string(number));
            }
        } else if (kind == "terminator") {
            if (!terminatorNumbers.insert(number).second)
                at.Fail("terminator " + std::to_string(number) + " is defined twice");
            section = TSection::Terminator;
            w.Terminators.emplace_back();
            w.Terminators.back().Number = number;
        } else {
            at.Fail("unknown section [" + words[0] + "]");
        }
    };
    handlers.Entry = [&](const TIniEntry& entry) {
        const TLineError at(entry.Line);
        if (!entry.InSection)
            at.Fail("a key before the first section");
        const std::string key = Lower(std::string(entry.Name));
        const std::string value(entry.Value);
        auto unknown = [&] { at.Fail("unknown key \"" + key + "\" here"); };
        switch (section) {
        case TSection::None:
            break;
        case TSection::Workflow:
            if (key == "name")
                w.Name = value;
            else if (key == "timeout")
                w.TimeoutSeconds = ToInt(value, at, "timeout");
            else if (key == "log")
                w.LogFile = resolve(value);
            else if (key == "preview")
                w.Preview = resolve(value);
            else if (key == "main-computer")
                w.MainComputer = value;
            else if (key == "value-1004")
                w.Value1004 = ToInt(value, at, "value-1004");
            else if (key == "bus") {
                if (value != "private" && value != "session")
                    at.Fail("bus is private or session");
                w.PrivateBus = value == "private";
            } else if (key == "store") {
                if (value != "start" && value != "existing")
                    at.Fail("store is start or existing");
                w.StartStore = value == "start";
            } else if (key == "store-program")
                w.StoreProgram = resolve(value);
            else if (key == "store-options")
                w.StoreOptions = Words(value);
            else if (key == "module-program")
                w.ModuleProgram = resolve(value);
            else if (key == "job-use")
                w.JobUse = ToBool(value, at);
            else if (key == "expect")
                w.Expect = ToInt(value, at, "expect");
            else if (key == "backstop") {
                w.BackstopSeconds = ToInt(value, at, "backstop");
                if (w.BackstopSeconds < 0)
                    at.Fail("backstop is 0 or more seconds");
            } else if (key == "store-lost") {
                if (value != "end" && value != "wait")
                    at.Fail("store-lost is end or wait");
                w.WaitForStore = value == "wait";
            } else if (key == "before-close")
                w.BeforeClose = value;
            else
                unknown();
            break;
        case TSection::Module: {
            TModuleDef& m = w.Modules.back();
            if (key == "name")
                m.Name = value;
            else if (key == "description")
                m.Description = value;
            else if (key == "create") {
                if (value != "program" && value != "provider")
                    at.Fail("create is program or provider");
                m.Create = value;
            } else if (key == "program")
                m.Program = resolve(value);
            else if (key == "config-key")
                m.ConfigKey = value;
            else if (key == "computer")
                m.Computer = value;
            else if (key == "log")
                m.StartLog = ToBool(value, at);
            else if (key == "flow") {
                size_t colon = value.find(':');
                if (colon == std::string::npos)
                    at.Fail("a flow entry is DEST: RULE");
                TFlowDef f;
                f.Dest = ToInt(Trim(value.substr(0, colon)), at, "the flow destination");
                if (f.Dest <= 0)
                    at.Fail("the flow destination is a module number above 0");
                f.Rule = Trim(value.substr(colon + 1));
                m.Flows.push_back(std::move(f));
            } else if (key == "value") {
                size_t colon = value.find(':');
                if (colon == std::string::npos)
                    at.Fail("a module value is NUM: VALUE");
                TValueDef v;
                v.Num = ToInt(Trim(value.substr(0, colon)), at, "the value number");
                v.Value = Trim(value.substr(colon + 1));
                m.Values.push_back(std::move(v));
            } else if (key == "before-close") {
                std::vector<std::string> words = Words(value);
                TFinalCallDef c;
                if (!words.empty())
                    c.Method = words[0];
                if (c.Method == "SaveConfig" && words.size() <= 2)
                    c.Arg = words.size() == 2 ? words[1] : std::string();
                else if ((c.Method == "GetValue" || c.Method == "IsJobUse") && words.size() == 2)
                    c.Num = ToInt(words[1], at, "the number");
                else if ((c.Method != "ExportConfig" && c.Method != "Kill") || words.size() != 1)
                    at.Fail("before-close is SaveConfig [KEY], ExportConfig, GetValue NUM, "
                            "IsJobUse JOB or Kill");
                m.FinalCalls.push_back(std::move(c));
            } else
                unknown();
            break;
        }
        case TSection::Sink: {
            TSinkDef& s = w.Sinks.back();
            if (key == "name")
                s.Name = value;
            else if (key == "folder")
                s.Folder = resolve(value);
            else if (key == "computer")
                s.Computer = value;
            else if (key == "paused")
                s.Paused = ToBool(value, at);
            else if (key == "paused-for") {
                s.PausedForSeconds = ToInt(value, at, "paused-for");
                if (s.PausedForSeconds < 0)
                    at.Fail("paused-for is 0 or more seconds");
            } else
                unknown();
            break;
        }
        case TSection::Terminator: {
            TTerminatorDef& t = w.Terminators.back();
            if (key == "name")
                t.Name = value;
            else if (key == "key")
                t.Key = value;
            else
                unknown();
            break;
        }
        case TSection::Input: {
            TInputDef& i = w.Inputs.back();
            if (key == "to")
                i.To = ToInt(value, at, "to");
            else if (key == "block-size") {
                i.BlockSize = ToInt(value, at, "block-size");
                if (i.BlockSize <= 0)
                    at.Fail("block-size is above 0");
            } else if (key == "file")
                i.Files.push_back(resolve(value));
            else if (key == "folder")
                i.Folders.push_back(resolve(value));
            else
                unknown();
            break;
        }
        }
    };
    if (const int line = ReadIni(text, handlers)) {
        const bool header = Trim(std::string(IniLineText(text, line))).starts_with('[');
        TLineError(line).Fail(header ? "a section header ends with ]" : "expected key = value");
    }
    for (const auto& i : w.Inputs)
        if (!numbers.count(i.To))
            throw TWorkflowError("an input goes to module " + std::to_string(i.To) +
                                 ", which no [module] or [sink] section defines");
    return w;
}

std::vector<TFeed> TWorkflow::Feeds() const {
    std::vector<TFeed> feeds;
    auto add = [&](const TInputDef& input, const std::string& path) {
        TFeed f;
        f.Path = path;
        f.To = input.To;
        f.BlockSize = input.BlockSize;
        std::error_code ec;
        if (fs::is_regular_file(path + ".dds", ec)) {
            f.Dds = ReadText(path + ".dds");
            while (!f.Dds.empty() && (f.Dds.back() == '\n' || f.Dds.back() == '\r'))
                f.Dds.pop_back();
        } else {
            std::string name = fs::path(path).filename().string();
            f.Dds = "Name=" + name + ";FileName=" + name;
        }
        feeds.push_back(std::move(f));
    };
    for (const auto& input : Inputs) {
        for (const auto& file : input.Files)
            add(input, file);
        for (const auto& folder : input.Folders) {
            std::vector<std::string> files;
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(folder, ec)) {
                const std::string p = entry.path().string();
                if (entry.is_regular_file() && entry.path().extension() != ".dds" &&
                    fs::is_regular_file(p + ".dds"))
                    files.push_back(p);
            }
            if (ec)
                throw TWorkflowError("cannot list " + folder + ": " + ec.message());
            std::sort(files.begin(), files.end());
            for (const auto& file : files)
                add(input, file);
        }
    }
    return feeds;
}

const TModuleDef* TWorkflow::FindModule(int32_t number) const {
    for (const auto& m : Modules)
        if (m.Number == number)
            return &m;
    return nullptr;
}

const TSinkDef* TWorkflow::FindSink(int32_t number) const {
    for (const auto& s : Sinks)
        if (s.Number == number)
            return &s;
    return nullptr;
}

const TTerminatorDef* TWorkflow::FindTerminator(int32_t number) const {
    for (const auto& t : Terminators)
        if (t.Number == number)
            return &t;
    return nullptr;
}

} // namespace raduvuz
