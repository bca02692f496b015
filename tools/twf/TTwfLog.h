#pragma once

#include <fstream>
#include <string>

namespace raduvuz {

// The workflow log: every line, with its time, to the log file (when one is open) and stdout.
class TTwfLog {
public:
    // False when the file cannot be opened; the log then goes to stdout only.
    bool Open(const std::string& path);
    void Line(const std::string& text);
    bool Quiet = false;

private:
    std::ofstream File;
};

} // namespace raduvuz
