// Compiler messages in the form editors and build logs understand: one line per problem,
// "FILE:LINE:COL: error: MESSAGE" (or "warning:"), the column left out where it is not known.
#pragma once

#include <string>

// The front end's log (lines such as "ERROR: a.cg:3: 'x' : unknown variable", its parse-failure and summary lines)
// rewritten into that form. Only the first error of a line is kept, and the parser's giving up after an error is
// left out: those follow from an error already reported. Columns are
// found in the named file's own text: source for fileName, any other file (an include) is read from disk. Lines
// that carry no location pass unchanged.
std::string CompilerDiagnostics(const std::string& log, const std::string& fileName, const std::string& source);

// One line of the front end's log: "ERROR: FILE:LINE: 'TOKEN' : TEXT", "WARNING: ...", or an unlocated
// "ERROR: TEXT". False for any other line.
struct LogMessage {
    bool error = true;
    bool located = false;
    std::string file;
    int line = 0;
    std::string token;  // the text the message is about, when it names one
    std::string text;
};
bool ParseLogLine(const std::string& line, LogMessage& message);

// The GL driver's listing of a GLSL file, which names the file "0" ("0:3(30): error: ..." or "0(3) : error ..."),
// with the file's name and the line and column in that form.
std::string DriverDiagnostics(const std::string& listing, const std::string& fileName);
