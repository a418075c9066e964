#include "Diagnostics.h"

#include "ShaderCompile.h"
#include "SourceText.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

namespace {

struct Location {
    std::string file;
    int line = 0;
    bool operator<(const Location& other) const { return std::tie(file, line) < std::tie(other.file, other.line); }
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string Trimmed(const std::string& text)
{
    std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
}

bool ParseNumber(const std::string& text, int& number)
{
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return false;
    number = std::stoi(text);
    return true;
}

// "FILE(LINE): error at column COL, HLSL parsing failed.": where the parser stopped.
bool ParseFailure(const std::string& line, Location& where, int& column)
{
    const std::string marker = "): error at column ";
    std::size_t close = line.find(marker);
    std::size_t open = line.rfind('(', close);
    std::size_t comma = line.find(',', close);
    if (close == std::string::npos || open == std::string::npos || comma == std::string::npos ||
        line.find("parsing failed", comma) == std::string::npos)
        return false;
    where.file = line.substr(0, open);
    std::size_t columnAt = close + marker.size();
    return ParseNumber(line.substr(open + 1, close - open - 1), where.line) &&
           ParseNumber(line.substr(columnAt, comma - columnAt), column);
}

// A summary of the counts, which says nothing the lines before it have not said.
bool IsSummary(const LogMessage& message)
{
    return !message.located && message.text.find("compilation errors.") != std::string::npos;
}

// The 1-based column of the first whole occurrence of token in line; 0 when it is not there.
int TokenColumn(const std::string& line, const std::string& token)
{
    if (token.empty())
        return 0;
    bool word = IsIdentifierChar(token.front()) && IsIdentifierChar(token.back());
    for (std::size_t at = line.find(token); at != std::string::npos; at = line.find(token, at + 1)) {
        std::size_t end = at + token.size();
        if (!word ||
            ((at == 0 || !IsIdentifierChar(line[at - 1])) && (end == line.size() || !IsIdentifierChar(line[end]))))
            return static_cast<int>(at) + 1;
    }
    return 0;
}

// The text of each file a message names, read once.
class SourceLines {
public:
    SourceLines(const std::string& fileName, const std::string& source) { files_[fileName] = Lines(source); }

    // Empty when the file cannot be read or is shorter.
    std::string Line(const Location& where)
    {
        auto found = files_.find(where.file);
        if (found == files_.end()) {
            std::string text;
            std::string problem;
            found = files_
                        .emplace(where.file,
                                 ReadShaderFile(where.file, text, problem) ? Lines(text) : std::vector<std::string>())
                        .first;
        }
        const std::vector<std::string>& lines = found->second;
        return where.line >= 1 && static_cast<std::size_t>(where.line) <= lines.size() ? lines[where.line - 1]
                                                                                       : std::string();
    }

private:
    std::map<std::string, std::vector<std::string>> files_;
};

std::string Located(const Location& where, int column, bool error, const std::string& text)
{
    return where.file + ":" + std::to_string(where.line) + (column > 0 ? ":" + std::to_string(column) : "") +
           (error ? ": error: " : ": warning: ") + text + "\n";
}

}  // namespace

bool ParseLogLine(const std::string& line, LogMessage& message)
{
    static const std::pair<const char*, bool> kinds[] = {
        {"ERROR: ", true}, {"INTERNAL ERROR: ", true}, {"UNIMPLEMENTED: ", true}, {"WARNING: ", false}};
    std::string rest;
    for (const auto& [prefix, error] : kinds) {
        if (line.compare(0, std::char_traits<char>::length(prefix), prefix) == 0) {
            rest = line.substr(std::char_traits<char>::length(prefix));
            message.error = error;
            break;
        }
    }
    if (rest.empty())
        return false;
    std::size_t quote = rest.find(": '");
    std::size_t separator = quote == std::string::npos ? std::string::npos : rest.find("' : ", quote + 3);
    std::size_t colon = quote == std::string::npos ? std::string::npos : rest.rfind(':', quote - 1);
    if (separator != std::string::npos && colon != std::string::npos && colon > 0 &&
        ParseNumber(rest.substr(colon + 1, quote - colon - 1), message.line)) {
        message.located = true;
        message.file = rest.substr(0, colon);
        message.token = rest.substr(quote + 3, separator - quote - 3);
        message.text = Trimmed(rest.substr(separator + 4));
        return true;
    }
    message.text = Trimmed(rest);
    return true;
}

std::string CompilerDiagnostics(const std::string& log, const std::string& fileName, const std::string& source)
{
    const std::vector<std::string> lines = Lines(log);
    std::map<Location, int> failureColumns;
    for (const std::string& line : lines) {
        Location where;
        int column = 0;
        if (ParseFailure(line, where, column))
            failureColumns.emplace(where, column);
    }

    SourceLines sources(fileName, source);
    std::set<Location> reported;
    std::string result;
    for (const std::string& line : lines) {
        Location ignored;
        int ignoredColumn = 0;
        LogMessage message;
        if (ParseFailure(line, ignored, ignoredColumn))
            continue;
        if (!ParseLogLine(line, message)) {
            if (!Trimmed(line).empty())
                result += line + "\n";
            continue;
        }
        if (IsSummary(message))
            continue;
        const Location where{message.file, message.line};
        if (!message.located) {
            result += fileName + (message.error ? ": error: " : ": warning: ") + message.text + "\n";
            continue;
        }
        // The parser's "'declaration' : Expected" after another error only says it gave up there, and so does the
        // preprocessor's "missing #endif" when the parse stopped inside a conditional.
        bool gaveUp = (message.token == "declaration" && message.text == "Expected") ||
                      message.text == "missing #endif";
        if (message.error && ((gaveUp && !reported.empty()) || !reported.insert(where).second))
            continue;
        // "'x' : Expected" names what the parser wanted, so the column is where it stopped, not where x is.
        bool expected = message.text == "Expected";
        std::string sourceLine = sources.Line(where);
        int column = expected ? 0 : TokenColumn(sourceLine, message.token);
        // "'assign' : l-value required "x" ...": the operation is not in the text, the name it is about is.
        std::size_t quote = message.text.find('"');
        std::size_t unquote = quote == std::string::npos ? quote : message.text.find('"', quote + 1);
        if (column == 0 && !expected && unquote != std::string::npos)
            column = TokenColumn(sourceLine, message.text.substr(quote + 1, unquote - quote - 1));
        auto failure = failureColumns.find(where);
        if (column == 0 && failure != failureColumns.end() &&
            static_cast<std::size_t>(failure->second) <= sourceLine.size() + 1)
            column = failure->second;
        std::string text = expected                ? "expected '" + message.token + "'"
                           : message.token.empty() ? message.text
                                                   : "'" + message.token + "': " + message.text;
        result += Located(where, column, message.error, text);
    }
    return result;
}

std::string DriverDiagnostics(const std::string& listing, const std::string& fileName)
{
    std::string result;
    for (const std::string& line : Lines(listing)) {
        // Mesa: "0:LINE(COL): error: TEXT".
        std::size_t open = line.find('(');
        std::size_t close = line.find("): ", open);
        Location where{fileName, 0};
        int column = 0;
        if (line.compare(0, 2, "0:") == 0 && close != std::string::npos &&
            ParseNumber(line.substr(2, open - 2), where.line) &&
            ParseNumber(line.substr(open + 1, close - open - 1), column)) {
            std::string rest = line.substr(close + 3);
            for (const char* kind : {"error: ", "warning: "}) {
                if (rest.compare(0, std::char_traits<char>::length(kind), kind) == 0) {
                    result += Located(where, column, kind[0] == 'e',
                                      Trimmed(rest.substr(std::char_traits<char>::length(kind))));
                    rest.clear();
                }
            }
            if (rest.empty())
                continue;
        }
        // Other drivers: "0(LINE) : ..." and the like keep their words, under the file's name.
        bool numbered = line.size() > 2 && line[0] == '0' && (line[1] == ':' || line[1] == '(') &&
                        std::isdigit(static_cast<unsigned char>(line[2]));
        result += (numbered ? fileName + line.substr(1) : line) + "\n";
    }
    return result;
}
