#include "CgUncalledFunctions.h"

#include "Diagnostics.h"
#include "SourceText.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

namespace {

struct Definition {
    std::string name;
    std::size_t begin = 0;  // its first token
    std::size_t end = 0;    // past its closing brace
};

// The file's top-level function definitions, and the identifiers its other top-level text names (global
// initialisers may call functions). Comments, string literals and directives are passed over.
class TopLevel {
public:
    explicit TopLevel(const std::string& text) : text_(text) { Scan(); }

    const std::vector<Definition>& Definitions() const { return definitions_; }
    const std::vector<std::string>& GlobalNames() const { return globalNames_; }

    // The identifiers inside [begin, end).
    std::vector<std::string> Names(std::size_t begin, std::size_t end) const
    {
        std::vector<std::string> names;
        for (std::size_t at = Skip(begin); at < end; at = Skip(at)) {
            std::size_t word = WordEnd(at);
            if (word > at)
                names.push_back(text_.substr(at, word - at));
            at = std::max(word, at + 1);
        }
        return names;
    }

private:
    // The next offset at or after at that is not blank, a comment, a string literal or a directive line.
    std::size_t Skip(std::size_t at) const
    {
        for (;;) {
            at = SkipBlankAndComments(text_, at);
            if (at >= text_.size())
                return text_.size();
            if (text_[at] == '#' && (at == 0 || LineStartsBefore(at))) {
                while (at < text_.size() && text_[at] != '\n')
                    at += text_[at] == '\\' && at + 1 < text_.size() ? 2 : 1;
                continue;
            }
            if (text_[at] == '"') {
                std::size_t close = text_.find('"', at + 1);
                at = close == std::string::npos ? text_.size() : close + 1;
                continue;
            }
            return at;
        }
    }

    bool LineStartsBefore(std::size_t at) const
    {
        std::size_t before = text_.find_last_not_of(" \t", at - 1);
        return before == std::string::npos || text_[before] == '\n';
    }

    std::size_t WordEnd(std::size_t at) const
    {
        if (!IsIdentifierChar(text_[at]) || std::isdigit(static_cast<unsigned char>(text_[at])))
            return at;
        while (at < text_.size() && IsIdentifierChar(text_[at]))
            ++at;
        return at;
    }

    // Past the bracket that closes the one at open; the text's end when none does.
    std::size_t PastClosing(std::size_t open) const
    {
        const char opening = text_[open];
        const char closing = opening == '(' ? ')' : '}';
        int depth = 0;
        for (std::size_t at = open; at < text_.size(); at = Skip(at + 1)) {
            depth += text_[at] == opening ? 1 : text_[at] == closing ? -1 : 0;
            if (depth == 0)
                return at + 1;
        }
        return text_.size();
    }

    // A declaration ends at a semicolon, or at the closing brace of a function body. The names a declaration
    // that is no function definition holds count as used by the program.
    void Scan()
    {
        std::size_t declarationStart = std::string::npos;
        std::vector<std::string> names;  // of the declaration so far
        std::string name;                // of the function it defines, once its parameter list is seen
        bool initialiser = false;
        for (std::size_t at = Skip(0); at < text_.size(); at = Skip(at)) {
            const char c = text_[at];
            if (declarationStart == std::string::npos)
                declarationStart = at;
            std::size_t word = WordEnd(at);
            if (word > at) {
                names.push_back(text_.substr(at, word - at));
                at = word;
            } else if (c == '(' || c == '{') {
                std::size_t end = PastClosing(at);
                if (c == '(' && name.empty() && !initialiser && !names.empty())
                    name = names.back();
                if (c == '{' && !name.empty() && !initialiser) {
                    definitions_.push_back({name, declarationStart, end});
                    declarationStart = std::string::npos;
                    names.clear();
                    name.clear();
                } else {
                    std::vector<std::string> inside = Names(at, end);
                    names.insert(names.end(), inside.begin(), inside.end());
                }
                at = end;
            } else {
                if (c == ';') {
                    globalNames_.insert(globalNames_.end(), names.begin(), names.end());
                    declarationStart = std::string::npos;
                    names.clear();
                    name.clear();
                    initialiser = false;
                }
                initialiser = initialiser || c == '=';
                ++at;
            }
        }
        globalNames_.insert(globalNames_.end(), names.begin(), names.end());
    }

    const std::string& text_;
    std::vector<Definition> definitions_;
    std::vector<std::string> globalNames_;
};

}  // namespace

std::set<std::string> CalledFunctionNames(const std::string& preprocessed, const std::string& entry)
{
    TopLevel file(preprocessed);
    std::map<std::string, std::vector<const Definition*>> byName;
    for (const Definition& definition : file.Definitions())
        byName[definition.name].push_back(&definition);
    std::set<std::string> called;
    std::vector<std::string> pending = file.GlobalNames();
    pending.push_back(entry);
    while (!pending.empty()) {
        std::string name = pending.back();
        pending.pop_back();
        auto found = byName.find(name);
        if (found == byName.end() || !called.insert(name).second)
            continue;
        for (const Definition* definition : found->second) {
            std::vector<std::string> names = file.Names(definition->begin, definition->end);
            pending.insert(pending.end(), names.begin(), names.end());
        }
    }
    return called;
}

std::string FirstErrorFile(const std::string& log)
{
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = std::min(log.find('\n', start), log.size());
        LogMessage message;
        if (ParseLogLine(log.substr(start, end - start), message) && message.error)
            return message.located ? message.file : std::string();
        start = end + 1;
    }
    return std::string();
}

bool UncalledFunctionError(const std::string& log, const std::string& fileName, const std::string& text,
                           const std::set<std::string>& called, std::pair<std::size_t, std::size_t>& span,
                           std::string& warning)
{
    LogMessage first;
    std::size_t start = 0;
    while (start < log.size() && !(first.error && first.located)) {
        std::size_t end = std::min(log.find('\n', start), log.size());
        first = LogMessage();
        if (!ParseLogLine(log.substr(start, end - start), first))
            first.located = false;
        start = end + 1;
    }
    bool syntax = first.text == "Expected" || first.text.find("syntax error") != std::string::npos;
    if (!first.error || !first.located || syntax || first.file != fileName || first.line < 1)
        return false;
    std::size_t lineStart = 0;
    for (int line = 1; line < first.line; ++line) {
        lineStart = text.find('\n', lineStart);
        if (lineStart == std::string::npos)
            return false;
        ++lineStart;
    }
    std::size_t lineEnd = std::min(text.find('\n', lineStart), text.size());
    const TopLevel file(text);
    for (const Definition& definition : file.Definitions()) {
        if (definition.begin > lineEnd || definition.end <= lineStart)
            continue;
        if (called.count(definition.name) != 0)
            return false;
        span = {definition.begin, definition.end};
        warning = "WARNING: " + first.file + ":" + std::to_string(first.line) + ": '" + first.token +
                  "' : " + first.text + " (in " + definition.name + ", which the entry point never calls)\n";
        return true;
    }
    return false;
}

std::string Blanked(const std::string& text, const std::pair<std::size_t, std::size_t>& span)
{
    std::string blanked = text;
    auto directiveAt = [&blanked](std::size_t lineStart) {
        std::size_t first = blanked.find_first_not_of(" \t", lineStart);
        return first < blanked.size() && blanked[first] == '#';
    };
    bool directive = directiveAt(span.first == 0 ? 0 : blanked.rfind('\n', span.first - 1) + 1);
    for (std::size_t at = span.first; at < span.second && at < blanked.size(); ++at) {
        if (blanked[at] == '\n')
            directive = directiveAt(at + 1);
        else if (!directive)
            blanked[at] = ' ';
    }
    return blanked;
}
