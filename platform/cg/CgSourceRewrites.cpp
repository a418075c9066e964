#include "CgSourceRewrites.h"

#include "SourceText.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <vector>

namespace {

struct Member {
    std::string type;
    std::vector<long> dims;  // -1 for an unsized dimension
};

using Structs = std::map<std::string, std::vector<Member>>;

// Scalars in a built-in scalar, vector or matrix type ("float", "half3", "float3x4"); 0 for other names.
long BuiltinScalars(const std::string& type)
{
    static const char* const bases[] = {"float", "half", "fixed", "int", "bool", "double"};
    for (const char* base : bases) {
        std::string rest =
            type.substr(0, std::string(base).size()) == base ? type.substr(std::string(base).size()) : "-";
        if (rest.empty())
            return 1;
        if (rest.size() == 1 && rest[0] >= '1' && rest[0] <= '4')
            return rest[0] - '0';
        if (rest.size() == 3 && rest[0] >= '1' && rest[0] <= '4' && rest[1] == 'x' && rest[2] >= '1' && rest[2] <= '4')
            return (rest[0] - '0') * (rest[2] - '0');
    }
    return 0;
}

long Scalars(const std::string& type, const std::vector<long>& dims, const Structs& structs, int depth = 0)
{
    long count = BuiltinScalars(type);
    auto found = structs.find(type);
    if (count == 0 && found != structs.end() && depth < 16) {
        for (const Member& member : found->second) {
            long scalars = Scalars(member.type, member.dims, structs, depth + 1);
            if (scalars <= 0)
                return 0;
            count += scalars;
        }
    }
    for (long dim : dims)
        count = dim > 0 && count < 1000000 ? count * dim : 0;
    return count;
}

// Splits text at the commas outside brackets; the parts keep their text.
std::vector<std::string> SplitTopLevel(const std::string& text, char separator)
{
    std::vector<std::string> parts(1);
    int depth = 0;
    for (char c : text) {
        depth += (c == '(' || c == '[' || c == '{') - (c == ')' || c == ']' || c == '}');
        if (c == separator && depth == 0)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

std::string Trim(const std::string& text)
{
    std::size_t first = text.find_first_not_of(" \t\r\n");
    std::size_t last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// "name[2][3]" into its name and dimensions.
bool ParseDeclarator(std::string declarator, std::string& name, std::vector<long>& dims)
{
    declarator = Trim(declarator.substr(0, declarator.find(':')));
    std::size_t bracket = declarator.find('[');
    name = Trim(declarator.substr(0, bracket));
    while (bracket != std::string::npos) {
        std::size_t close = declarator.find(']', bracket);
        if (close == std::string::npos)
            return false;
        std::string size = Trim(declarator.substr(bracket + 1, close - bracket - 1));
        dims.push_back(size.empty() ? -1 : std::atol(size.c_str()));
        if (!size.empty() && (dims.back() <= 0 || size.find_first_not_of("0123456789") != std::string::npos))
            return false;
        bracket = declarator.find('[', close);
    }
    return !name.empty();
}

// The struct definitions of the text: "struct Name { type a, b[2] : SEMANTIC; ... }".
Structs FindStructs(const std::string& text)
{
    Structs structs;
    std::size_t at = 0;
    while ((at = text.find("struct", at)) != std::string::npos) {
        std::size_t open = text.find('{', at);
        std::size_t close = open == std::string::npos ? open : text.find('}', open);
        bool word =
            (at == 0 || !IsIdentifierChar(text[at - 1])) && at + 6 < text.size() && !IsIdentifierChar(text[at + 6]);
        if (close == std::string::npos)
            break;
        std::string name = Trim(text.substr(at + 6, open - at - 6));
        at += 6;
        if (!word || name.empty() || name.find_first_of(" \t\r\n;(){}") != std::string::npos)
            continue;
        std::vector<Member> members;
        for (const std::string& statement : SplitTopLevel(text.substr(open + 1, close - open - 1), ';')) {
            std::string declaration = Trim(statement);
            for (const char* qualifier : {"uniform ", "const ", "static ", "row_major ", "column_major "})
                while (declaration.compare(0, std::strlen(qualifier), qualifier) == 0)
                    declaration = Trim(declaration.substr(std::strlen(qualifier)));
            if (declaration.empty())
                continue;
            std::size_t space = declaration.find_first_of(" \t\r\n");
            if (space == std::string::npos)
                break;
            std::string type = declaration.substr(0, space);
            for (const std::string& declarator : SplitTopLevel(declaration.substr(space), ',')) {
                Member member{type, {}};
                std::string memberName;
                if (!ParseDeclarator(declarator, memberName, member.dims))
                    break;
                members.push_back(member);
            }
        }
        structs[name] = members;
    }
    return structs;
}

// The nested initialiser of a value of type with dims, taking scalars from values from next on.
std::string Nested(const std::string& type, const std::vector<long>& dims, std::size_t level, const Structs& structs,
                   const std::vector<std::string>& values, std::size_t& next)
{
    if (level < dims.size()) {
        std::string text = "{";
        for (long i = 0; i < dims[level]; ++i)
            text += (i > 0 ? ", " : "") + Nested(type, dims, level + 1, structs, values, next);
        return text + "}";
    }
    long scalars = BuiltinScalars(type);
    if (scalars == 1)
        return values[next++];
    if (scalars > 1) {
        std::string text = type + "(";
        for (long i = 0; i < scalars; ++i)
            text += (i > 0 ? ", " : "") + values[next++];
        return text + ")";
    }
    std::string text = "{";
    const std::vector<Member>& members = structs.at(type);
    for (std::size_t i = 0; i < members.size(); ++i)
        text += (i > 0 ? ", " : "") + Nested(members[i].type, members[i].dims, 0, structs, values, next);
    return text + "}";
}

// The identifier that ends just before end (white space skipped), and where it starts.
std::string WordBefore(const std::string& text, std::size_t end, std::size_t& start)
{
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    start = end;
    while (start > 0 && IsIdentifierChar(text[start - 1]))
        --start;
    return text.substr(start, end - start);
}

// Rewrites "= TYPE[N](a, b)" into "= {a, b}".
std::string ArrayConstructorsAsLists(const std::string& text)
{
    std::string result;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t equals = text.find('=', at);
        if (equals == std::string::npos || equals + 1 >= text.size() || text[equals + 1] == '=' ||
            (equals > 0 && std::string("=!<>+-*/%&|^").find(text[equals - 1]) != std::string::npos)) {
            std::size_t stop = equals == std::string::npos ? text.size() : equals + 1;
            result += text.substr(at, stop - at);
            at = stop;
            continue;
        }
        std::size_t typeStart = SkipBlankAndComments(text, equals + 1);
        std::size_t typeEnd = typeStart;
        while (typeEnd < text.size() && IsIdentifierChar(text[typeEnd]))
            ++typeEnd;
        std::size_t bracket = SkipBlankAndComments(text, typeEnd);
        std::size_t close = bracket < text.size() && text[bracket] == '[' ? text.find(']', bracket) : std::string::npos;
        std::size_t open = close == std::string::npos ? close : SkipBlankAndComments(text, close + 1);
        result += text.substr(at, equals + 1 - at);
        at = equals + 1;
        if (typeEnd == typeStart || open == std::string::npos || open >= text.size() || text[open] != '(')
            continue;
        int depth = 0;
        std::size_t end = open;
        for (; end < text.size(); ++end) {
            depth += (text[end] == '(') - (text[end] == ')');
            if (depth == 0)
                break;
        }
        if (end >= text.size())
            continue;
        result += " {" + text.substr(open + 1, end - open - 1) + "}";
        at = end + 1;
    }
    return result;
}

}  // namespace

std::string NestInitialisers(const std::string& source)
{
    std::string text = ArrayConstructorsAsLists(source);
    Structs structs = FindStructs(text);
    std::string result;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t open = text.find('{', at);
        if (open == std::string::npos)
            break;
        std::size_t equals = open;
        while (equals > 0 && std::isspace(static_cast<unsigned char>(text[equals - 1])))
            --equals;
        // Only after '=' is the closing brace looked for, so that a file of nested blocks costs one pass.
        bool initialiser = equals > 0 && text[equals - 1] == '=';
        std::size_t close = initialiser ? text.find_first_of("{}", open + 1) : std::string::npos;
        initialiser = close != std::string::npos && text[close] == '}';
        std::string replacement;
        if (initialiser) {
            // Walk back over "type name[dims] =".
            std::size_t end = equals - 1;
            std::vector<std::string> dimsText;
            while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1])))
                --end;
            std::size_t declaratorEnd = end;
            while (end > 0 && text[end - 1] == ']') {
                std::size_t bracket = text.rfind('[', end - 1);
                if (bracket == std::string::npos)
                    break;
                end = bracket;
                while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1])))
                    --end;
            }
            std::size_t nameStart = 0;
            std::size_t typeStart = 0;
            std::string name = WordBefore(text, end, nameStart);
            std::string type = WordBefore(text, nameStart, typeStart);
            std::string declaredName;
            std::vector<long> dims;
            std::vector<std::string> values = SplitTopLevel(text.substr(open + 1, close - open - 1), ',');
            for (std::string& value : values)
                value = Trim(value);
            if (!values.empty() && values.back().empty())
                values.pop_back();
            bool parsed = !name.empty() && !type.empty() &&
                          ParseDeclarator(text.substr(nameStart, declaratorEnd - nameStart), declaredName, dims);
            long elementScalars = parsed ? Scalars(type, {}, structs) : 0;
            if (parsed && !dims.empty() && dims[0] < 0 && elementScalars > 0) {
                long inner = elementScalars;
                for (std::size_t i = 1; i < dims.size(); ++i)
                    inner = dims[i] > 0 ? inner * dims[i] : 0;
                if (inner > 0 && static_cast<long>(values.size()) % inner == 0)
                    dims[0] = static_cast<long>(values.size()) / inner;
            }
            // Only aggregates of aggregates need it: scalar arrays, vectors and matrices take flat lists as they are.
            bool aggregateOfAggregates =
                (BuiltinScalars(type) == 0 && elementScalars > 0) || (!dims.empty() && elementScalars > 1);
            if (parsed && aggregateOfAggregates && Scalars(type, dims, structs) == static_cast<long>(values.size())) {
                std::size_t next = 0;
                replacement = Nested(type, dims, 0, structs, values, next);
                // The newlines of the list stay, so that later lines keep their numbers.
                for (std::size_t i = open; i < close; ++i)
                    if (text[i] == '\n')
                        replacement += '\n';
            }
        }
        if (!replacement.empty()) {
            result += text.substr(at, open - at) + replacement;
            at = close + 1;
        } else {
            result += text.substr(at, open + 1 - at);
            at = open + 1;
        }
    }
    return result + text.substr(std::min(at, text.size()));
}

namespace {

// Which parameters of each function defined in the text are out or inout, by function name; overloads share one
// entry, a parameter counting as out when it is out in any of them.
using OutParameters = std::map<std::string, std::vector<bool>>;

OutParameters FindOutParameters(const std::string& text)
{
    OutParameters functions;
    int depth = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        depth += (text[at] == '{') - (text[at] == '}');
        if (depth != 0 || text[at] != '(')
            continue;
        std::size_t nameStart = 0;
        std::string name = WordBefore(text, at, nameStart);
        std::size_t close = at;
        for (int parens = 0; close < text.size(); ++close) {
            parens += (text[close] == '(') - (text[close] == ')');
            if (parens == 0)
                break;
        }
        std::size_t next = close < text.size() ? text.find_first_of("{;", close) : std::string::npos;
        if (name.empty() || next == std::string::npos || text[next] != '{')
            continue;
        std::vector<bool>& outs = functions[name];
        std::vector<std::string> parameters = SplitTopLevel(text.substr(at + 1, close - at - 1), ',');
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            std::string declaration = " " + parameters[i].substr(0, parameters[i].find_first_of(":=")) + " ";
            bool out = false;
            for (const char* word : {"out", "inout"})
                for (std::size_t w = declaration.find(word); w != std::string::npos; w = declaration.find(word, w + 1))
                    out = out || (!IsIdentifierChar(declaration[w - 1]) &&
                                  !IsIdentifierChar(declaration[w + std::strlen(word)]));
            if (outs.size() <= i)
                outs.resize(i + 1, false);
            outs[i] = outs[i] || out;
        }
        at = close;
    }
    return functions;
}

// The end of the member and element accesses that follow an identifier ending at end ("name.xy", "name[i].w").
std::size_t EndOfAccess(const std::string& body, std::size_t end)
{
    for (;;) {
        end = SkipBlankAndComments(body, end);
        if (end < body.size() && body[end] == '.') {
            end = SkipBlankAndComments(body, end + 1);
            while (end < body.size() && IsIdentifierChar(body[end]))
                ++end;
        } else if (end < body.size() && body[end] == '[') {
            for (int depth = 0; end < body.size(); ++end) {
                depth += (body[end] == '[') - (body[end] == ']');
                if (depth == 0)
                    break;
            }
            ++end;
        } else {
            return end;
        }
    }
}

// True when the identifier of size characters at at in body is assigned there: "name =", "name.xy +=",
// "name[i] = ", "name++", "--name".
bool AssignedAt(const std::string& body, std::size_t at, std::size_t size)
{
    std::size_t before = at;
    while (before > 0 && std::isspace(static_cast<unsigned char>(body[before - 1])))
        --before;
    if (before >= 2 && (body.compare(before - 2, 2, "++") == 0 || body.compare(before - 2, 2, "--") == 0))
        return true;
    std::size_t end = EndOfAccess(body, at + size);
    if (end + 1 < body.size() && (body.compare(end, 2, "++") == 0 || body.compare(end, 2, "--") == 0))
        return true;
    // Compound assignments have one or two characters before the '=' ("+=", "<<="); "<=" and ">=" compare.
    std::size_t op = end;
    while (op < body.size() && op - end < 2 && std::string("+-*/%&|^<>").find(body[op]) != std::string::npos)
        ++op;
    bool comparison = op - end == 1 && (body[end] == '<' || body[end] == '>');
    return op < body.size() && body[op] == '=' && (op + 1 >= body.size() || body[op + 1] != '=') && !comparison;
}

// Every identifier that the function bodies of text assign (members and elements count for their variable),
// directly or as a whole argument to an out or inout parameter of one of functions, in one pass that keeps the
// calls it is inside on a stack.
std::set<std::string> AssignedNames(const std::string& text, const OutParameters& functions)
{
    struct Call {
        std::string function;  // empty for brackets that are no call
        std::size_t argument;
    };
    std::vector<Call> calls;
    std::set<std::string> names;
    int depth = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        char c = text[at];
        depth += (c == '{') - (c == '}');
        if (c == '(' || c == '[') {
            std::size_t nameStart = 0;
            calls.push_back({c == '(' ? WordBefore(text, at, nameStart) : std::string(), 0});
        } else if ((c == ')' || c == ']') && !calls.empty()) {
            calls.pop_back();
        } else if (c == ',' && !calls.empty()) {
            ++calls.back().argument;
        }
        if (depth <= 0 || !IsIdentifierChar(c) || std::isdigit(static_cast<unsigned char>(c)))
            continue;
        std::size_t end = at;
        while (end < text.size() && IsIdentifierChar(text[end]))
            ++end;
        std::size_t before = at;
        while (before > 0 && std::isspace(static_cast<unsigned char>(text[before - 1])))
            --before;
        std::string name = text.substr(at, end - at);
        bool assigned = before == 0 || text[before - 1] != '.' ? AssignedAt(text, at, end - at) : false;
        if (!assigned && !calls.empty() && before > 0 && (text[before - 1] == '(' || text[before - 1] == ',')) {
            std::size_t after = EndOfAccess(text, end);
            auto found = functions.find(calls.back().function);
            assigned = after < text.size() && (text[after] == ',' || text[after] == ')') && found != functions.end() &&
                       calls.back().argument < found->second.size() && found->second[calls.back().argument];
        }
        if (assigned)
            names.insert(name);
        at = end - 1;
    }
    return names;
}

bool HoldsSampler(const std::string& type, const Structs& structs, int depth = 0)
{
    if (type.compare(0, 7, "sampler") == 0)
        return true;
    auto found = structs.find(type);
    return found != structs.end() && depth < 16 &&
           std::any_of(found->second.begin(), found->second.end(),
                       [&](const Member& member) { return HoldsSampler(member.type, structs, depth + 1); });
}

}  // namespace

namespace {

// The declarations at the top level of text without static, const or extern, of one name each, that a function
// body assigns: each becomes a uniform renamed with kUniformCopyPrefix and a static of its own name, on the
// declaration's line; copies gets the assignments that fill the statics at the start of the entry point.
std::string RewriteAssignedGlobals(const std::string& text, const Structs& structs, const OutParameters& functions,
                                   std::string& copies)
{
    struct Edit {
        std::size_t nameAt, end;
        std::string name, type;
    };
    std::vector<Edit> edits;
    const std::set<std::string> assigned = AssignedNames(text, functions);
    int depth = 0;
    std::vector<bool> initialiserBraces;
    std::size_t start = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        char c = text[at];
        if (c == '{') {
            std::size_t before = at;
            while (before > 0 && std::isspace(static_cast<unsigned char>(text[before - 1])))
                --before;
            initialiserBraces.push_back(before > 0 && text[before - 1] == '=');
            ++depth;
        } else if (c == '}' && depth > 0) {
            --depth;
            bool initialiser = initialiserBraces.back();
            initialiserBraces.pop_back();
            if (depth == 0 && !initialiser)
                start = at + 1;
        } else if (c == ';' && depth == 0) {
            std::string statement = text.substr(start, at - start);
            std::size_t declarationEnd = std::min(statement.find('='), statement.find(':'));
            std::string declaration = statement.substr(0, declarationEnd);
            std::size_t nameStart = 0;
            std::size_t typeStart = 0;
            std::size_t declaratorEnd = declaration.find('[');
            std::string name = WordBefore(declaration, std::min(declaratorEnd, declaration.size()), nameStart);
            std::string type = WordBefore(declaration, nameStart, typeStart);
            bool plain = declaration.find_first_of("(),#") == std::string::npos;
            for (const char* word : {"static", "const", "extern", "typedef", "struct", "shared"}) {
                std::string padded = " " + declaration + " ";
                for (std::size_t w = padded.find(word); plain && w != std::string::npos; w = padded.find(word, w + 1))
                    plain = IsIdentifierChar(padded[w - 1]) || IsIdentifierChar(padded[w + std::strlen(word)]);
            }
            if (plain && !name.empty() && !type.empty() && type.compare(0, 7, "sampler") != 0 &&
                !(structs.count(type) != 0 && HoldsSampler(type, structs)) && assigned.count(name) != 0)
                edits.push_back({start + nameStart, at + 1, name, type});
            start = at + 1;
        }
    }
    std::string result = text;
    for (auto edit = edits.rbegin(); edit != edits.rend(); ++edit) {
        std::size_t dimsAt = edit->nameAt + edit->name.size();
        std::string dims = text.substr(dimsAt, edit->end - 1 - dimsAt);
        dims = dims.substr(0, std::min(dims.find('='), dims.find(':')));
        result.insert(edit->end, " static " + edit->type + " " + edit->name + Trim(dims) + ";");
        result.insert(edit->nameAt, kUniformCopyPrefix);
        copies = " " + edit->name + " = " + kUniformCopyPrefix + edit->name + ";" + copies;
    }
    return result;
}

bool IsWordAt(const std::string& text, std::size_t at, const std::string& word);
std::size_t FunctionEnd(const std::string& text, std::size_t open);
std::string WordAt(const std::string& text, std::size_t at);
void BlankOut(std::string& text, std::size_t from, std::size_t to);

const std::string varyingPrefix = "cgVarying_";

// The definition of struct type in text, renamed newName, without its sampler members (whose names go into
// samplers), on one line; empty when text has no such definition.
std::string WithoutSamplers(const std::string& text, const std::string& type, const std::string& newName,
                            std::set<std::string>& samplers)
{
    for (std::size_t at = text.find("struct"); at != std::string::npos; at = text.find("struct", at + 1)) {
        std::size_t nameAt = SkipBlankAndComments(text, at + 6);
        std::size_t open = nameAt < text.size() ? SkipBlankAndComments(text, nameAt + type.size()) : text.size();
        if (!IsWordAt(text, at, "struct") || !IsWordAt(text, nameAt, type) || open >= text.size() || text[open] != '{')
            continue;
        std::size_t close = text.find('}', open);
        if (close == std::string::npos)
            return std::string();
        std::string members;
        for (const std::string& statement : SplitTopLevel(text.substr(open + 1, close - open - 1), ';')) {
            std::string member = Trim(statement);
            std::size_t typeAt = IsWordAt(member, 0, "uniform") ? SkipBlankAndComments(member, 7) : 0;
            if (member.empty())
                continue;
            if (member.compare(typeAt, 7, "sampler") != 0) {
                members += member + "; ";
                continue;
            }
            std::size_t space = member.find_first_of(" \t\r\n", typeAt);
            std::string declarators = space == std::string::npos ? std::string() : member.substr(space);
            for (const std::string& declarator : SplitTopLevel(declarators, ','))
                samplers.insert(Trim(declarator.substr(0, declarator.find_first_of(":["))));
        }
        for (char& c : members)
            c = c == '\n' || c == '\r' ? ' ' : c;
        return "struct " + newName + " { " + members + "};";
    }
    return std::string();
}

// body with every "name.member" of a member that is not among samplers read from renamed instead.
std::string VaryingMembers(const std::string& body, const std::string& name, const std::string& renamed,
                           const std::set<std::string>& samplers)
{
    std::string result;
    std::size_t copied = 0;
    for (std::size_t at = body.find(name); at != std::string::npos; at = body.find(name, at + 1)) {
        std::size_t dot = SkipBlankAndComments(body, at + name.size());
        if (!IsWordAt(body, at, name) || dot >= body.size() || body[dot] != '.' || (at > 0 && body[at - 1] == '.'))
            continue;
        std::size_t memberAt = SkipBlankAndComments(body, dot + 1);
        if (samplers.count(WordAt(body, memberAt)) != 0)
            continue;
        result += body.substr(copied, at - copied) + renamed;
        copied = at + name.size();
    }
    return result + body.substr(copied);
}

// Calls visit(name, open) for each function definition at the top level of text, in order, open being its
// parameter list's parenthesis. visit may change characters of text but not its length.
template <typename Visit>
void ForEachFunctionDefinition(const std::string& text, Visit visit)
{
    int depth = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        depth += (text[at] == '{') - (text[at] == '}');
        if (depth != 0 || text[at] != '(')
            continue;
        std::size_t nameStart = 0;
        const std::string function = WordBefore(text, at, nameStart);
        const std::size_t end = FunctionEnd(text, at);
        if (function.empty() || end == std::string::npos)
            continue;
        visit(function, at);
        at = end - 1;
    }
}

// The word uniform blanked out of the parameter lists of the functions other than entry: only an entry point's
// parameters are uniforms, and a function that assigns such a parameter assigns its own copy.
std::string OtherFunctionsWithoutUniform(const std::string& source, const std::string& entry)
{
    static const std::string uniform = "uniform";
    std::string text = source;
    ForEachFunctionDefinition(text, [&](const std::string& function, std::size_t open) {
        std::size_t close = text.find_first_of("{", open);
        if (function != entry)
            for (std::size_t w = text.find(uniform, open); w < close; w = text.find(uniform, w + 1))
                if (IsWordAt(text, w, uniform))
                    text.replace(w, uniform.size(), uniform.size(), ' ');
    });
    return text;
}

}  // namespace

std::string RewriteEntryParameters(const std::string& file, const std::string& entry, const std::string& included)
{
    const std::string original = OtherFunctionsWithoutUniform(file, entry);
    const OutParameters functions = FindOutParameters(original);
    std::string globalCopies;
    const std::string source = RewriteAssignedGlobals(original, FindStructs(original), functions, globalCopies);
    // The definition of entry at the top level: "entry (params) [: SEMANTIC] {".
    int depth = 0;
    for (std::size_t at = 0; at < source.size(); ++at) {
        std::size_t skipped = SkipBlankAndComments(source, at);
        if (skipped != at) {
            at = skipped - 1;
            continue;
        }
        char c = source[at];
        depth += (c == '{') - (c == '}');
        if (depth != 0 || source.compare(at, entry.size(), entry) != 0 ||
            (at > 0 && IsIdentifierChar(source[at - 1])) ||
            (at + entry.size() < source.size() && IsIdentifierChar(source[at + entry.size()])))
            continue;
        std::size_t open = SkipBlankAndComments(source, at + entry.size());
        if (open >= source.size() || source[open] != '(')
            continue;
        int parens = 0;
        std::size_t close = open;
        for (; close < source.size(); ++close) {
            parens += (source[close] == '(') - (source[close] == ')');
            if (parens == 0)
                break;
        }
        std::size_t body = close < source.size() ? source.find_first_of("{;", close) : std::string::npos;
        if (body == std::string::npos || source[body] == ';')
            continue;
        std::size_t bodyEnd = body;
        for (int braces = 0; bodyEnd < source.size(); ++bodyEnd) {
            braces += (source[bodyEnd] == '{') - (source[bodyEnd] == '}');
            if (braces == 0)
                break;
        }
        const std::set<std::string> assigned = AssignedNames(source.substr(body, bodyEnd - body), functions);

        Structs structs = FindStructs(included);
        for (auto& [name, members] : FindStructs(source))
            structs[name] = members;
        std::string parameters;
        std::string copies = globalCopies;
        std::string globals;
        bool parametersRewritten = false;
        std::vector<std::string> varyings;  // struct parameters whose samplers went to a global
        std::set<std::string> samplerMembers;
        std::vector<std::string> list = SplitTopLevel(source.substr(open + 1, close - open - 1), ',');
        for (std::size_t i = 0; i < list.size(); ++i) {
            std::string parameter = list[i];
            std::string declaration = parameter.substr(0, parameter.find_first_of(":="));
            std::vector<std::string> words;
            std::size_t w = 0;
            while (w < declaration.size()) {
                while (w < declaration.size() && !IsIdentifierChar(declaration[w]))
                    ++w;
                std::size_t start = w;
                while (w < declaration.size() && IsIdentifierChar(declaration[w]))
                    ++w;
                if (w > start)
                    words.push_back(declaration.substr(start, w - start));
            }
            std::string name;
            std::vector<long> dims;
            std::size_t nameAt = declaration.rfind(words.empty() ? std::string() : words.back());
            auto has = [&words](const char* word) {
                return std::find(words.begin(), words.end(), word) != words.end();
            };
            bool uniform = has("uniform");
            bool out = has("out") || has("inout");
            bool parsed = words.size() >= 2 && ParseDeclarator(declaration.substr(nameAt), name, dims);
            std::string type = parsed ? words[words.size() - 2] : std::string();
            bool sampler = type.compare(0, 7, "sampler") == 0;
            // "uniform const": the front end would take the parameter for a varying input.
            if (uniform && has("const")) {
                for (std::size_t w = parameter.find("const"); w != std::string::npos;
                     w = parameter.find("const", w + 1))
                    if (IsWordAt(parameter, w, "const")) {
                        BlankOut(parameter, w, w + 5);
                        BlankOut(declaration, w, w + 5);
                    }
                parametersRewritten = true;
            }
            // A sampler is a uniform whether or not it says so.
            if (parsed && sampler && !uniform && !out) {
                std::size_t typeAt = nameAt;
                WordBefore(parameter, nameAt, typeAt);
                parameter.insert(typeAt, "uniform ");
                declaration.insert(typeAt, "uniform ");
                nameAt += 8;
                uniform = true;
                parametersRewritten = true;
            }
            if (parsed && uniform && structs.count(type) != 0 && HoldsSampler(type, structs)) {
                globals += "uniform " + Trim(declaration.substr(declaration.rfind(type))) + "; ";
                parameters +=
                    std::string(static_cast<std::size_t>(std::count(parameter.begin(), parameter.end(), '\n')), '\n');
                continue;
            }
            // A varying struct holding samplers: its samplers are uniforms, the rest stays varying. The parameter
            // becomes a global uniform of its name, beside a varying of a struct without the samplers whose
            // members the body reads instead.
            std::string varyingStruct =
                parsed && !uniform && !out && structs.count(type) != 0 && HoldsSampler(type, structs)
                    ? WithoutSamplers(included + "\n" + source, type, varyingPrefix + type, samplerMembers)
                    : std::string();
            if (!varyingStruct.empty()) {
                globals += varyingStruct + " uniform " + type + " " + name + "; ";
                parameter.replace(nameAt, name.size(), varyingPrefix + name);
                std::size_t typeAt = 0;
                WordBefore(parameter, nameAt, typeAt);
                parameter.replace(typeAt, type.size(), varyingPrefix + type);
                varyings.push_back(name);
            }
            if (parsed && !out && !sampler && assigned.count(name) != 0) {
                std::string suffix = Trim(declaration.substr(nameAt + name.size()));
                parameter.replace(nameAt, name.size(), kUniformCopyPrefix + name);
                copies += " " + type + " " + name + suffix + " = " + kUniformCopyPrefix + name + ";";
            }
            parameters += (parameters.find_first_not_of(" \t\r\n") == std::string::npos ? "" : ",") + parameter;
        }
        if (copies.empty() && globals.empty() && !parametersRewritten)
            return original;
        std::string bodyRest = source.substr(body + 1);
        for (const std::string& name : varyings)
            bodyRest = VaryingMembers(bodyRest, name, varyingPrefix + name, samplerMembers);
        // The globals go at the start of the line where the definition's return type stands.
        std::size_t typeStart = 0;
        WordBefore(source, at, typeStart);
        std::size_t lineStart = source.rfind('\n', typeStart);
        lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
        return source.substr(0, lineStart) + globals + source.substr(lineStart, open + 1 - lineStart) + parameters +
               source.substr(close, body + 1 - close) + copies + bodyRest;
    }
    return original;
}

namespace {

// GL's built-in matrix for a state path without its "state.matrix." ("mvp", "modelview[0].inverse",
// "texture[2].invtrans"); empty when GL has none. '#' in a built-in takes the modifier's suffix.
std::string StateMatrix(const std::string& path)
{
    static const std::vector<std::pair<std::string, std::string>> matrices = [] {
        std::vector<std::pair<std::string, std::string>> list = {{"mvp", "gl_ModelViewProjectionMatrix#"},
                                                                 {"modelview", "gl_ModelViewMatrix#"},
                                                                 {"modelview[0]", "gl_ModelViewMatrix#"},
                                                                 {"projection", "gl_ProjectionMatrix#"},
                                                                 {"texture", "gl_TextureMatrix#[0]"}};
        for (int unit = 0; unit < 8; ++unit)
            list.push_back(
                {"texture[" + std::to_string(unit) + "]", "gl_TextureMatrix#[" + std::to_string(unit) + "]"});
        return list;
    }();
    static const std::pair<const char*, const char*> modifiers[] = {
        {"", ""}, {".inverse", "Inverse"}, {".transpose", "Transpose"}, {".invtrans", "InverseTranspose"}};
    for (const auto& [name, builtin] : matrices)
        for (const auto& [modifier, suffix] : modifiers)
            if (path == name + modifier) {
                std::string expression = builtin;
                expression.replace(expression.find('#'), 1, suffix);
                return expression;
            }
    return std::string();
}

}  // namespace

std::string BindStateMatrices(const std::string& source, std::map<std::string, std::string>& stateMatrices)
{
    static const std::string prefix = "state.matrix.";
    std::string result = source;
    for (std::size_t at = result.find(prefix); at != std::string::npos; at = result.find(prefix, at + 1)) {
        std::size_t colon = at;
        while (colon > 0 && std::isspace(static_cast<unsigned char>(result[colon - 1])))
            --colon;
        if (colon == 0 || result[colon - 1] != ':')
            continue;
        std::size_t end = at + prefix.size();
        while (end < result.size() && (IsIdentifierChar(result[end]) || std::strchr(".[]", result[end]) != nullptr))
            ++end;
        std::string matrix = StateMatrix(result.substr(at + prefix.size(), end - at - prefix.size()));
        std::size_t nameEnd = colon - 1;
        while (nameEnd > 0 && std::isspace(static_cast<unsigned char>(result[nameEnd - 1])))
            --nameEnd;
        std::size_t nameStart = nameEnd;
        while (nameStart > 0 && IsIdentifierChar(result[nameStart - 1]))
            --nameStart;
        if (matrix.empty() || nameStart == nameEnd)
            continue;
        stateMatrices[result.substr(nameStart, nameEnd - nameStart)] = matrix;
        result.replace(colon - 1, end - (colon - 1), end - (colon - 1), ' ');
    }
    return result;
}

namespace {

// True when text gives name as the first argument of a lookup whose word starts with prefix ("tex1D" matches
// tex1D, tex1Dproj, tex1Dlod, ...).
bool LookedUpAs(const std::string& text, const std::string& name, const std::string& prefix)
{
    for (std::size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
        if (at > 0 && IsIdentifierChar(text[at - 1]))
            continue;
        std::size_t end = at + prefix.size();
        while (end < text.size() && IsIdentifierChar(text[end]))
            ++end;
        end = SkipBlankAndComments(text, end);
        if (end >= text.size() || text[end] != '(')
            continue;
        end = SkipBlankAndComments(text, end + 1);
        if (text.compare(end, name.size(), name) == 0 &&
            (end + name.size() >= text.size() || !IsIdentifierChar(text[end + name.size()])))
            return true;
    }
    return false;
}

}  // namespace

std::string TypeGenericSamplers(const std::string& source)
{
    static const std::string generic = "sampler";
    static const std::pair<const char*, const char*> kinds[] = {{"tex1D", "1D"}, {"tex3D", "3D"}, {"texCUBE", "CUBE"}};
    std::string result;
    std::size_t copied = 0;
    for (std::size_t at = source.find(generic); at != std::string::npos; at = source.find(generic, at + 1)) {
        std::size_t end = at + generic.size();
        if ((at > 0 && IsIdentifierChar(source[at - 1])) || (end < source.size() && IsIdentifierChar(source[end])))
            continue;
        std::size_t nameStart = SkipBlankAndComments(source, end);
        std::size_t nameEnd = nameStart;
        while (nameEnd < source.size() && IsIdentifierChar(source[nameEnd]))
            ++nameEnd;
        if (nameEnd == nameStart)
            continue;
        const std::string name = source.substr(nameStart, nameEnd - nameStart);
        for (const auto& [prefix, kind] : kinds)
            if (LookedUpAs(source, name, prefix)) {
                result += source.substr(copied, end - copied) + kind;
                copied = end;
                break;
            }
    }
    return result + source.substr(copied);
}

std::string BlankComments(const std::string& source)
{
    std::string result = source;
    for (std::size_t at = 0; at < result.size();) {
        bool line = result.compare(at, 2, "//") == 0;
        if (!line && result.compare(at, 2, "/*") != 0) {
            ++at;
            continue;
        }
        std::size_t end = line ? result.find('\n', at) : result.find("*/", at + 2);
        end = end == std::string::npos ? result.size() : end + (line ? 0 : 2);
        for (; at < end; ++at)
            if (result[at] != '\n')
                result[at] = ' ';
    }
    return result;
}

namespace {

bool IsWordAt(const std::string& text, std::size_t at, const std::string& word)
{
    return text.compare(at, word.size(), word) == 0 && (at == 0 || !IsIdentifierChar(text[at - 1])) &&
           (at + word.size() >= text.size() || !IsIdentifierChar(text[at + word.size()]));
}

// The identifier that starts at at, if any.
std::string WordAt(const std::string& text, std::size_t at)
{
    std::size_t end = at;
    while (end < text.size() && IsIdentifierChar(text[end]))
        ++end;
    return text.substr(at, end - at);
}

// Profiles whose programs a function qualified by their name is meant for, best first: a function of the first
// one the file names for the stage replaces its other definitions.
const std::vector<std::string> vertexProfiles = {"glslv",  "gp5vp",  "gp4vp",  "vp40", "vs_3_0", "vp30",
                                                 "vs_2_x", "vs_2_0", "arbvp1", "vp20", "vs_1_1"};
const std::vector<std::string> fragmentProfiles = {"glslf",  "gp5fp",  "gp4fp", "fp40",   "ps_3_0", "fp30",  "ps_2_x",
                                                   "ps_2_0", "arbfp1", "fp20",  "ps_1_3", "ps_1_2", "ps_1_1"};
const std::vector<std::string> otherProfiles = {"glslg",  "gp4gp",  "gp5gp",  "gp5tcp", "gp5tep", "vs_4_0",
                                                "ps_4_0", "gs_4_0", "vs_5_0", "ps_5_0", "gs_5_0"};

// The rank of word among the stage's profiles; -1 for a profile of another stage, -2 for a word that is none.
int ProfileRank(const std::string& word, bool vertexStage)
{
    const std::vector<std::string>& own = vertexStage ? vertexProfiles : fragmentProfiles;
    auto found = std::find(own.begin(), own.end(), word);
    if (found != own.end())
        return static_cast<int>(found - own.begin());
    for (const std::vector<std::string>* others : {&fragmentProfiles, &vertexProfiles, &otherProfiles})
        if (others != &own && std::find(others->begin(), others->end(), word) != others->end())
            return -1;
    return -2;
}

// The end of the body of the function whose parameter list opens at open; npos for a prototype or no function.
std::size_t FunctionEnd(const std::string& text, std::size_t open)
{
    if (open >= text.size() || text[open] != '(')
        return std::string::npos;
    std::size_t close = open;
    for (int parens = 0; close < text.size(); ++close) {
        parens += (text[close] == '(') - (text[close] == ')');
        if (parens == 0)
            break;
    }
    std::size_t body = close < text.size() ? text.find_first_of("{;", close) : std::string::npos;
    if (body == std::string::npos || text[body] == ';')
        return std::string::npos;
    std::size_t end = body;
    for (int braces = 0; end < text.size(); ++end) {
        braces += (text[end] == '{') - (text[end] == '}');
        if (braces == 0)
            return end + 1;
    }
    return std::string::npos;
}

void BlankOut(std::string& text, std::size_t from, std::size_t to)
{
    for (std::size_t i = from; i < to && i < text.size(); ++i)
        if (text[i] != '\n')
            text[i] = ' ';
}

// The size of the array that the source declares as name ("name[8]"); 0 when none is found.
long DeclaredSize(const std::string& text, const std::string& name)
{
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        if (!IsWordAt(text, at, name))
            continue;
        std::size_t bracket = SkipBlankAndComments(text, at + name.size());
        std::size_t close = bracket < text.size() && text[bracket] == '[' ? text.find(']', bracket) : std::string::npos;
        if (close == std::string::npos)
            continue;
        std::string size = Trim(text.substr(bracket + 1, close - bracket - 1));
        if (!size.empty() && size.size() < 7 && size.find_first_not_of("0123456789") == std::string::npos)
            return std::atol(size.c_str());
    }
    return 0;
}

// An unsized array parameter ("float2 p[]") takes the size of the array given it by the first call that gives
// one declared with a size; a call with another size is then the front end's to report.
void SizeArrayParameters(std::string& text)
{
    struct Unsized {
        std::size_t brackets;  // the position of "[]"
        std::string function;
        std::size_t index;
    };
    std::vector<Unsized> unsized;
    ForEachFunctionDefinition(text, [&](const std::string& function, std::size_t open) {
        std::size_t close = text.find(')', open);
        std::size_t parameterStart = open + 1;
        std::size_t index = 0;
        for (std::size_t i = open + 1, parens = 0; i <= close && i < text.size(); ++i) {
            parens += (text[i] == '(') - (text[i] == ')');
            if ((text[i] == ',' && parens == 0) || i == close) {
                std::size_t brackets = text.find("[]", parameterStart);
                if (brackets < i)
                    unsized.push_back({brackets, function, index});
                ++index;
                parameterStart = i + 1;
            }
        }
    });
    for (auto u = unsized.rbegin(); u != unsized.rend(); ++u) {
        long size = 0;
        for (std::size_t at = text.find(u->function); at != std::string::npos && size == 0;
             at = text.find(u->function, at + 1)) {
            std::size_t open = SkipBlankAndComments(text, at + u->function.size());
            if (!IsWordAt(text, at, u->function) || open >= text.size() || text[open] != '(' ||
                FunctionEnd(text, open) != std::string::npos)
                continue;
            std::size_t close = open;
            for (int parens = 0; close < text.size(); ++close) {
                parens += (text[close] == '(') - (text[close] == ')');
                if (parens == 0)
                    break;
            }
            std::vector<std::string> arguments = SplitTopLevel(text.substr(open + 1, close - open - 1), ',');
            if (u->index < arguments.size())
                size = DeclaredSize(text, Trim(arguments[u->index]));
        }
        if (size > 0)
            text.insert(u->brackets + 1, std::to_string(size));
    }
}

}  // namespace

std::string RewriteDeclarations(const std::string& source, bool vertexStage)
{
    std::string text = source;
    const Structs structs = FindStructs(text);
    auto isType = [&structs](const std::string& word) {
        return BuiltinScalars(word) > 0 || structs.count(word) != 0 || word.compare(0, 7, "sampler") == 0;
    };
    struct Qualified {
        std::size_t at, end;  // the profile word, and the end of the function's body
        std::string function;
        int rank;
    };
    std::vector<Qualified> qualified;
    std::set<std::string> definedProfiles;
    for (std::size_t at = text.find("#"); at != std::string::npos; at = text.find("#", at + 1)) {
        std::size_t directive = SkipBlankAndComments(text, at + 1);
        if (IsWordAt(text, directive, "define"))
            definedProfiles.insert(WordAt(text, SkipBlankAndComments(text, directive + 6)));
    }
    int depth = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        char c = text[at];
        depth += (c == '{') - (c == '}');
        if (!IsIdentifierChar(c) || (at > 0 && IsIdentifierChar(text[at - 1])))
            continue;
        const std::string word = WordAt(text, at);
        const std::size_t next = SkipBlankAndComments(text, at + word.size());
        // Each rewrite keeps the characters' count, so that every position found stays valid.
        if (isType(word) && next < text.size()) {
            // "float4 out name" -> "out float4 name".
            for (const char* qualifier : {"inout", "out", "in"}) {
                if (!IsWordAt(text, next, qualifier))
                    continue;
                std::string between = text.substr(at + word.size(), next - at - word.size());
                text.replace(at, next + std::strlen(qualifier) - at, qualifier + between + word);
                break;
            }
            // "float2[16] name" -> "float2 name[16]", "float2[] name" -> "float2 name[]".
            std::size_t close = text[next] == '[' ? text.find(']', next) : std::string::npos;
            std::size_t nameAt = close == std::string::npos ? close : SkipBlankAndComments(text, close + 1);
            std::string name = nameAt < text.size() ? WordAt(text, nameAt) : std::string();
            if (!name.empty() && !isType(name) && name.find_first_not_of("0123456789") != std::string::npos) {
                std::string dims = text.substr(next, close + 1 - next);
                std::string gap = text.substr(close + 1, nameAt - close - 1);
                text.replace(next, nameAt + name.size() - next, (gap.empty() ? "" : gap) + name + dims);
            }
        }
        // A function qualified by a profile: "ps_3_0 float4 f(...) { ... }".
        // A profile's name that the file defines as a macro is whatever the macro makes it.
        int rank = depth == 0 ? ProfileRank(word, vertexStage) : -2;
        if (rank >= -1 && definedProfiles.count(word) != 0)
            rank = -2;
        if (rank >= -1) {
            std::size_t nameAt = SkipBlankAndComments(text, next + WordAt(text, next).size());
            std::string function = nameAt < text.size() ? WordAt(text, nameAt) : std::string();
            std::size_t end = FunctionEnd(text, SkipBlankAndComments(text, nameAt + function.size()));
            if (!function.empty() && end != std::string::npos)
                qualified.push_back({at, end, function, rank});
        }
        at += word.size() - 1;
    }
    SizeArrayParameters(text);
    // "uniform" on a struct's member: the front end would make every local of the struct read-only.
    for (std::size_t at = text.find("struct"); at != std::string::npos; at = text.find("struct", at + 1)) {
        std::size_t open = text.find_first_of("{;", at);
        std::size_t close = open != std::string::npos && text[open] == '{' ? text.find('}', open) : std::string::npos;
        if (!IsWordAt(text, at, "struct") || close == std::string::npos)
            continue;
        for (std::size_t w = text.find("uniform", open); w < close; w = text.find("uniform", w + 1))
            if (IsWordAt(text, w, "uniform"))
                BlankOut(text, w, w + 7);
    }
    if (qualified.empty())
        return text;
    // The best qualified definition of each function for the stage stays, without its profile; every other
    // qualified one goes, and so do the unqualified ones of a function that keeps a qualified one.
    std::map<std::string, int> best;
    for (const Qualified& q : qualified)
        if (q.rank >= 0 && (best.count(q.function) == 0 || q.rank < best[q.function]))
            best[q.function] = q.rank;
    // A function that only other stages' profiles define, and no unqualified definition either, keeps its first
    // definition: a function of the file that this stage never calls may still name it.
    for (Qualified& q : qualified) {
        if (q.rank >= 0 || best.count(q.function) != 0)
            continue;
        bool unqualified = false;
        for (std::size_t at = text.find(q.function); at != std::string::npos && !unqualified;
             at = text.find(q.function, at + 1)) {
            std::size_t typeStart = 0;
            std::size_t profileStart = 0;
            std::string type = WordBefore(text, at, typeStart);
            unqualified = IsWordAt(text, at, q.function) && !type.empty() &&
                          FunctionEnd(text, SkipBlankAndComments(text, at + q.function.size())) != std::string::npos &&
                          ProfileRank(WordBefore(text, typeStart, profileStart), vertexStage) == -2;
        }
        if (!unqualified)
            best[q.function] = q.rank = static_cast<int>(vertexProfiles.size() + fragmentProfiles.size());
    }
    for (const Qualified& q : qualified) {
        auto kept = best.find(q.function);
        BlankOut(text, q.at, kept != best.end() && kept->second == q.rank ? q.at + WordAt(text, q.at).size() : q.end);
    }
    for (const auto& entry : best) {
        const std::string& function = entry.first;
        depth = 0;
        for (std::size_t at = 0; at < text.size(); ++at) {
            depth += (text[at] == '{') - (text[at] == '}');
            if (depth != 0 || !IsWordAt(text, at, function))
                continue;
            std::size_t typeStart = 0;
            std::size_t end = FunctionEnd(text, SkipBlankAndComments(text, at + function.size()));
            std::string type = WordBefore(text, at, typeStart);
            std::size_t profileStart = 0;
            std::string profile = WordBefore(text, typeStart, profileStart);
            bool kept = std::any_of(qualified.begin(), qualified.end(), [&](const Qualified& q) {
                return q.at <= typeStart && typeStart < q.end && best[q.function] == q.rank;
            });
            if (end == std::string::npos || type.empty() || kept || ProfileRank(profile, vertexStage) != -2)
                continue;
            BlankOut(text, typeStart, end);
            at = end - 1;
        }
    }
    return text;
}
