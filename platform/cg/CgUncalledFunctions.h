// Functions of a Cg file that the entry point never calls. A Cg program is its entry function and what that calls;
// a file may hold other programs' functions, written for other profiles or never finished, and an error inside
// one of them does not refuse this program. A syntax error anywhere still does: the whole file must parse.
#pragma once

#include <set>
#include <string>
#include <utility>

// The names of the functions the entry calls, directly or through others, by name (every overload of a called
// name counts as called), plus whatever the file's global declarations name. preprocessed is the whole program
// text, includes and macros expanded.
std::set<std::string> CalledFunctionNames(const std::string& preprocessed, const std::string& entry);

// When the first error of a failed parse's log is not a syntax error and lies inside a function of text (the file
// fileName) whose name is not in called: the offsets [first, second) of that function's definition, and the
// error as a warning line of the log's own form. Otherwise false.
bool UncalledFunctionError(const std::string& log, const std::string& fileName, const std::string& text,
                           const std::set<std::string>& called, std::pair<std::size_t, std::size_t>& span,
                           std::string& warning);

// The file named in the first error of log ("ERROR: FILE:LINE: ..."); empty when there is none.
std::string FirstErrorFile(const std::string& log);

// text with [span.first, span.second) made blank, its line breaks kept so every other line keeps its number, and
// its directive lines kept whole.
std::string Blanked(const std::string& text, const std::pair<std::size_t, std::size_t>& span);
