#pragma once

// The one version of the module's programs and of its package: the project version and, when
// the build had git, what git describes of the commit ("1.1.0+g5e9013d", "1.1.0+g5e9013d.dirty").
// Below every layer; only the programs link it, so a new commit relinks them and nothing else.

namespace raduvuz {

const char* ProgramVersion();

// With "--version" among the arguments, prints "PROGRAM VERSION" on standard output and answers
// true; the program then ends with exit code 0.
bool PrintVersionIfAsked(int argc, const char* const* argv, const char* program);

} // namespace raduvuz
