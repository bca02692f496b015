#pragma once

#include <string>

namespace raduvuz {

class TfAbout;

// Fills an about box for a program file (empty: the program's own file): product line from the
// registry, build from the file's version, module name and description, and its picture.
void PrepareAbout(TfAbout& form, const std::string& fileName);
// Shows the about box for a program file modally.
void ShowAbout(const std::string& fileName);

} // namespace raduvuz
